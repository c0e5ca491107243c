// The PE version reader over arbitrary bytes: the resource walk, the info buffer built from
// the block, and the sub-block queries a caller makes. Must never crash or read out of
// bounds; any answer is fine.
#include "pe_source.h"
#include "pe_version_resource.h"
#include "version_buffer.h"

#include <winshim/windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void Query(const std::vector<uint8_t>& buffer) {
    static const wchar_t* const kSubBlocks[] = {
        L"\\", L"\\VarFileInfo\\Translation", L"\\StringFileInfo\\040904B0\\FileVersion",
        L"\\StringFileInfo\\040904b0\\ProductVersion", L"\\StringFileInfo"};
    for (const wchar_t* subBlock : kSubBlocks) {
        size_t offset = 0;
        unsigned length = 0;
        bool text = false;
        if (!winshim::QueryVersionBuffer(buffer.data(), buffer.size(), subBlock, offset, length,
                                         &text))
            continue;
        // Touch what was handed out: at() throws, and so crashes the fuzzer, past the end.
        const size_t bytes = text ? size_t{length} * sizeof(wchar_t) : length;
        volatile uint8_t sink = 0;
        for (size_t i = 0; i < bytes; ++i)
            sink = sink ^ buffer.at(offset + i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winshim::MemorySource image(data, size);
    std::vector<uint8_t> block;
    if (winshim::ReadVersionResource(image, block) == ERROR_SUCCESS) {
        const std::vector<uint8_t> buffer = winshim::BuildVersionBuffer(block);
        Query(buffer);
        if (buffer.size() > 20) {
            std::vector<uint8_t> small(buffer.size() / 2);
            if (winshim::CopyVersionBuffer(buffer, small.data(), small.size()))
                Query(std::vector<uint8_t>(
                    small.begin(),
                    small.begin() + static_cast<long>(std::min(
                                        small.size(), winshim::VersionBufferSize(small.data())))));
        }
    }
    // The input as a version block itself, as a caller's buffer would hold it.
    if (size >= 6 && size <= 0xFFFF) {
        std::vector<uint8_t> raw(data, data + size);
        raw[0] = static_cast<uint8_t>(size);
        raw[1] = static_cast<uint8_t>(size >> 8);
        Query(winshim::BuildVersionBuffer(raw));
    }
    return 0;
}
