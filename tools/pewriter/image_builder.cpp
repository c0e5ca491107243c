// The PE file around the version resource: DOS header, PE signature, COFF header,
// optional header (PE32 or PE32+), one section, and the resource directory tree
// RT_VERSION (16) / id 1 / language 0x0409 -> data entry -> VS_VERSIONINFO.
#include "byte_writer.h"
#include "pewriter.h"

#include <string>

namespace pewriter {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kHeadersSize = 0x200;
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kPeHeaderOffset = 0x80;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kNumberOfDirectories = 16;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kLangEnUs = 0x0409;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// A directory with one id entry pointing at `target` (offset within the section).
void Directory(ByteWriter& w, uint16_t id, uint32_t target) {
    w.U32(0); // Characteristics
    w.U32(0); // TimeDateStamp
    w.U16(0); // MajorVersion
    w.U16(0); // MinorVersion
    w.U16(0); // NumberOfNamedEntries
    w.U16(1); // NumberOfIdEntries
    w.U32(id);
    w.U32(target);
}

std::vector<uint8_t> ResourceSection(const std::vector<uint8_t>& versionInfo) {
    // Three directories of 24 bytes each, then the 16-byte data entry, then the data.
    constexpr uint32_t kTypeDir = 0, kNameDir = 24, kLangDir = 48, kDataEntry = 72, kData = 88;
    ByteWriter w;
    Directory(w, kRtVersion, kSubdirectoryFlag | kNameDir);
    Directory(w, 1, kSubdirectoryFlag | kLangDir);
    Directory(w, kLangEnUs, kDataEntry);
    static_assert(kTypeDir == 0, "the type directory is the section's root");
    w.U32(kSectionRva + kData); // OffsetToData is an RVA
    w.U32(static_cast<uint32_t>(versionInfo.size()));
    w.U32(0); // CodePage
    w.U32(0); // Reserved
    w.Bytes(versionInfo);
    return w.Take();
}

void DosHeader(ByteWriter& w) {
    w.U16(0x5A4D); // "MZ"
    w.U16(0x90);   // e_cblp
    w.U16(3);      // e_cp
    w.U16(0);      // e_crlc
    w.U16(4);      // e_cparhdr
    w.U16(0);      // e_minalloc
    w.U16(0xFFFF); // e_maxalloc
    w.U16(0);      // e_ss
    w.U16(0xB8);   // e_sp
    w.U16(0);      // e_csum
    w.U16(0);      // e_ip
    w.U16(0);      // e_cs
    w.U16(0x40);   // e_lfarlc
    w.U16(0);      // e_ovno
    w.PadTo(0x3C);
    w.U32(kPeHeaderOffset); // e_lfanew
    // The usual real-mode stub: print a message and exit.
    const uint8_t stub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                            0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    for (uint8_t b : stub)
        w.U8(b);
    for (char c : std::string("This program cannot be run in DOS mode.\r\r\n$"))
        w.U8(static_cast<uint8_t>(c));
    w.PadTo(kPeHeaderOffset);
}

// The PE checksum: 16-bit one's-complement style sum with carries folded, plus the length.
uint32_t Checksum(const std::vector<uint8_t>& file, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2)
            continue;
        uint32_t word = file[i];
        if (i + 1 < file.size())
            word |= uint32_t{file[i + 1]} << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

} // namespace

std::vector<uint8_t> BuildImage(const ImageSpec& imageSpec) {
    const bool pe32plus = imageSpec.machine == Machine::Amd64;
    const bool hasResources = imageSpec.version.has_value();

    std::vector<uint8_t> sectionData;
    if (hasResources)
        sectionData = ResourceSection(BuildVersionInfo(*imageSpec.version));
    else
        sectionData.assign(16, 0); // a small data section, no resource directory
    const auto virtualSize = static_cast<uint32_t>(sectionData.size());
    const uint32_t rawSize = AlignUp(virtualSize, kFileAlignment);
    const uint32_t imageSize = kSectionRva + AlignUp(virtualSize, kSectionAlignment);
    const uint16_t optionalHeaderSize = pe32plus ? 240 : 224;

    ByteWriter w;
    DosHeader(w);

    w.U32(0x00004550); // "PE\0\0"
    // COFF file header
    w.U16(pe32plus ? 0x8664 : 0x014C);
    w.U16(1); // NumberOfSections
    w.U32(0); // TimeDateStamp: 0 keeps the output reproducible
    w.U32(0); // PointerToSymbolTable
    w.U32(0); // NumberOfSymbols
    w.U16(optionalHeaderSize);
    uint16_t characteristics = 0x0002;             // EXECUTABLE_IMAGE
    characteristics |= pe32plus ? 0x0020 : 0x0100; // LARGE_ADDRESS_AWARE : 32BIT_MACHINE
    if (imageSpec.dll)
        characteristics |= 0x2000;
    w.U16(characteristics);

    // Optional header
    w.U16(pe32plus ? 0x020B : 0x010B);
    w.U8(14);           // MajorLinkerVersion
    w.U8(0);            // MinorLinkerVersion
    w.U32(0);           // SizeOfCode
    w.U32(rawSize);     // SizeOfInitializedData
    w.U32(0);           // SizeOfUninitializedData
    w.U32(0);           // AddressOfEntryPoint: none, nothing runs
    w.U32(kSectionRva); // BaseOfCode
    if (!pe32plus)
        w.U32(kSectionRva); // BaseOfData
    const uint64_t imageBase =
        pe32plus ? 0x180000000ull : (imageSpec.dll ? 0x10000000u : 0x400000u);
    if (pe32plus)
        w.U64(imageBase);
    else
        w.U32(static_cast<uint32_t>(imageBase));
    w.U32(kSectionAlignment);
    w.U32(kFileAlignment);
    // Windows XP (5.1) for i386, Windows Server 2003 x64 (5.2) for x64
    const uint16_t minorSystemVersion = pe32plus ? 2 : 1;
    w.U16(5); // MajorOperatingSystemVersion
    w.U16(minorSystemVersion);
    w.U16(0); // MajorImageVersion
    w.U16(0); // MinorImageVersion
    w.U16(5); // MajorSubsystemVersion
    w.U16(minorSystemVersion);
    w.U32(0); // Win32VersionValue
    w.U32(imageSize);
    w.U32(kHeadersSize);
    const size_t checksumOffset = w.Size();
    w.U32(0);      // CheckSum, patched below
    w.U16(2);      // Subsystem: WINDOWS_GUI
    w.U16(0x0100); // DllCharacteristics: NX_COMPAT
    if (pe32plus) {
        w.U64(0x100000); // SizeOfStackReserve
        w.U64(0x1000);   // SizeOfStackCommit
        w.U64(0x100000); // SizeOfHeapReserve
        w.U64(0x1000);   // SizeOfHeapCommit
    } else {
        w.U32(0x100000);
        w.U32(0x1000);
        w.U32(0x100000);
        w.U32(0x1000);
    }
    w.U32(0); // LoaderFlags
    w.U32(kNumberOfDirectories);
    for (uint32_t i = 0; i < kNumberOfDirectories; ++i) {
        const bool resources = hasResources && i == kResourceDirectoryIndex;
        w.U32(resources ? kSectionRva : 0);
        w.U32(resources ? virtualSize : 0);
    }

    // Section table
    std::string name = hasResources ? ".rsrc" : ".rdata";
    name.resize(8, '\0');
    for (char c : name)
        w.U8(static_cast<uint8_t>(c));
    w.U32(virtualSize);
    w.U32(kSectionRva);
    w.U32(rawSize);
    w.U32(kHeadersSize); // PointerToRawData
    w.U32(0);            // PointerToRelocations
    w.U32(0);            // PointerToLinenumbers
    w.U16(0);            // NumberOfRelocations
    w.U16(0);            // NumberOfLinenumbers
    w.U32(0x40000040);   // INITIALIZED_DATA | MEM_READ

    w.PadTo(kHeadersSize);
    w.Bytes(sectionData);
    w.PadTo(kHeadersSize + rawSize);

    w.PatchU32(checksumOffset, Checksum(w.Data(), checksumOffset));
    return w.Take();
}

} // namespace pewriter
