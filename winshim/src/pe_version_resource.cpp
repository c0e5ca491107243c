// The walk: DOS header -> e_lfanew -> "PE\0\0" -> COFF header -> optional header (PE32 or
// PE32+) -> data directory 2 -> section table (RVA to file offset) -> resource directory
// type 16 -> name (id 1, VS_VERSION_INFO, only) -> language (as the resource loader picks
// it) -> data entry -> data.
// Every read goes through ByteSource::Read, which refuses anything past the file; offsets
// are 64-bit so no sum of 32-bit fields can wrap. The tree is walked exactly three levels
// deep, so a directory pointing at itself cannot loop.
#include "pe_version_resource.h"
#include "pe_format.h"

#include <winshim/windows.h>

#include <algorithm>
#include <optional>

namespace winshim {

namespace {

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVsVersionInfoId = 1;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kMaxVersionBlock = 0xFFFF; // wLength is 16 bits
constexpr size_t kSectionHeaderSize = 40;

struct Section {
    uint64_t virtualAddress;
    uint64_t virtualSize;
    uint64_t rawSize;
    uint64_t rawPointer;
};

// File bytes [offset, offset + available) that back an RVA.
struct Mapped {
    uint64_t offset;
    uint64_t available;
};

class PeImage {
  public:
    explicit PeImage(const ByteSource& src) : src_(src) {}

    unsigned long Load(uint64_t& resourceRva) {
        uint8_t dos[64];
        if (!src_.Read(0, sizeof dos, dos) || U16(dos) != kDosMagic)
            return ERROR_BAD_FORMAT;
        const uint64_t peOffset = U32(dos + 0x3C);
        uint8_t coff[24];
        if (!src_.Read(peOffset, sizeof coff, coff) || U32(coff) != kPeSignature)
            return ERROR_BAD_FORMAT;
        const uint16_t sectionCount = U16(coff + 6);
        const uint16_t optionalSize = U16(coff + 20);
        const uint64_t optionalOffset = peOffset + sizeof coff;

        uint8_t magic[2];
        if (optionalSize < 2 || !src_.Read(optionalOffset, 2, magic))
            return ERROR_BAD_FORMAT;
        uint64_t countField, directories;
        if (U16(magic) == kPe32Magic) {
            countField = 92;
            directories = 96;
        } else if (U16(magic) == kPe32PlusMagic) {
            countField = 108;
            directories = 112;
        } else {
            return ERROR_BAD_FORMAT;
        }
        uint8_t headersSize[4];
        if (optionalSize < 64 || !src_.Read(optionalOffset + 60, 4, headersSize))
            return ERROR_BAD_FORMAT;
        headersSize_ = U32(headersSize);

        uint8_t count[4], entry[8];
        const uint64_t entryOffset = directories + 8 * kResourceDirectory;
        if (optionalSize < entryOffset + 8 || !src_.Read(optionalOffset + countField, 4, count) ||
            U32(count) <= kResourceDirectory || !src_.Read(optionalOffset + entryOffset, 8, entry))
            return ERROR_RESOURCE_DATA_NOT_FOUND;
        resourceRva = U32(entry);
        if (resourceRva == 0 || U32(entry + 4) == 0)
            return ERROR_RESOURCE_DATA_NOT_FOUND;

        std::vector<uint8_t> table(size_t{sectionCount} * kSectionHeaderSize);
        if (!src_.Read(optionalOffset + optionalSize, table.size(), table.data()))
            return ERROR_BAD_FORMAT;
        for (size_t i = 0; i < sectionCount; ++i) {
            const uint8_t* h = table.data() + i * kSectionHeaderSize;
            sections_.push_back({U32(h + 12), U32(h + 8), U32(h + 16), U32(h + 20)});
        }
        return ERROR_SUCCESS;
    }

    // The file bytes behind an RVA, limited to what the section holds in the file.
    std::optional<Mapped> Map(uint64_t rva) const {
        for (const Section& s : sections_) {
            const uint64_t span = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
                continue;
            const uint64_t delta = rva - s.virtualAddress;
            if (delta >= s.rawSize)
                return std::nullopt; // zero-filled memory, not in the file
            return Mapped{s.rawPointer + delta, s.rawSize - delta};
        }
        if (rva < headersSize_)
            return Mapped{rva, headersSize_ - rva};
        return std::nullopt;
    }

    const ByteSource& source() const { return src_; }

  private:
    const ByteSource& src_;
    uint64_t headersSize_ = 0;
    std::vector<Section> sections_;
};

struct DirectoryEntry {
    uint32_t name;
    uint32_t target;
};

// Reads the resource directory at `offset` (relative to the resource section) within the
// mapped region.
bool ReadDirectory(const ByteSource& src, const Mapped& region, uint64_t offset,
                   std::vector<DirectoryEntry>& entries) {
    uint8_t header[16];
    if (offset + sizeof header > region.available ||
        !src.Read(region.offset + offset, sizeof header, header))
        return false;
    const size_t count = size_t{U16(header + 12)} + U16(header + 14);
    const uint64_t bytes = uint64_t{count} * 8;
    if (offset + sizeof header + bytes > region.available)
        return false;
    std::vector<uint8_t> raw(bytes);
    if (!src.Read(region.offset + offset + sizeof header, raw.size(), raw.data()))
        return false;
    entries.clear();
    for (size_t i = 0; i < count; ++i)
        entries.push_back({U32(raw.data() + 8 * i), U32(raw.data() + 8 * i + 4)});
    return true;
}

const DirectoryEntry* FindId(const std::vector<DirectoryEntry>& entries, uint32_t id) {
    for (const DirectoryEntry& e : entries)
        if (!(e.name & kHighBit) && e.name == id)
            return &e;
    return nullptr;
}

// The language FindResource takes for a neutral request on a Chinese (PRC) Windows: the user
// interface language, its primary language, language neutral, English (US), then the first.
// (Wine tries neutral before the interface language.)
const DirectoryEntry& PickLanguage(const std::vector<DirectoryEntry>& entries) {
    for (uint32_t lang : {0x0804u, 0x0004u, 0x0000u, 0x0409u})
        if (const DirectoryEntry* e = FindId(entries, lang))
            return *e;
    return entries.front();
}

} // namespace

unsigned long ReadVersionResource(const ByteSource& image, std::vector<uint8_t>& block) {
    PeImage pe(image);
    uint64_t resourceRva = 0;
    if (const unsigned long error = pe.Load(resourceRva))
        return error;
    const std::optional<Mapped> resources = pe.Map(resourceRva);
    if (!resources)
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    std::vector<DirectoryEntry> entries;
    if (!ReadDirectory(image, *resources, 0, entries))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const DirectoryEntry* type = FindId(entries, kRtVersion);
    if (!type)
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!(type->target & kHighBit))
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    if (!ReadDirectory(image, *resources, type->target & ~kHighBit, entries) || entries.empty())
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const DirectoryEntry* name = FindId(entries, kVsVersionInfoId);
    if (!name)
        return ERROR_RESOURCE_NAME_NOT_FOUND; // a version resource of another id is not read
    if (!(name->target & kHighBit))
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    if (!ReadDirectory(image, *resources, name->target & ~kHighBit, entries) || entries.empty())
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const DirectoryEntry language = PickLanguage(entries);
    if (language.target & kHighBit)
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    uint8_t dataEntry[16];
    if (uint64_t{language.target} + sizeof dataEntry > resources->available ||
        !image.Read(resources->offset + language.target, sizeof dataEntry, dataEntry))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const std::optional<Mapped> data = pe.Map(U32(dataEntry));
    const uint64_t declared = std::min<uint64_t>(U32(dataEntry + 4), kMaxVersionBlock);
    if (!data || declared < 6 || declared > data->available)
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    std::vector<uint8_t> bytes(declared);
    if (!image.Read(data->offset, bytes.size(), bytes.data()))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    // The block claims its own length; it may not claim more than the resource holds.
    const size_t length = std::min<size_t>(U16(bytes.data()), bytes.size());
    if (length < 6)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    bytes.resize(length);
    bytes[0] = static_cast<uint8_t>(length);
    bytes[1] = static_cast<uint8_t>(length >> 8);
    block = std::move(bytes);
    return ERROR_SUCCESS;
}

} // namespace winshim
