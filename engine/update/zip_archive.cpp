#include "engine/update/zip_archive.h"

#include <zlib.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Little-endian fields of the ZIP headers (APPNOTE 4.3.7, 4.3.12, 4.3.16).
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;

std::uint32_t Read16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t Read32(const unsigned char* p) {
    return Read16(p) | Read16(p + 2) << 16;
}

struct Entry {
    std::string name;
    std::uint32_t flags = 0, method = 0, crc = 0, packed = 0, size = 0, localOffset = 0;
};

bool SafeName(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find(':') != std::string::npos ||
        name.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

class Archive {
  public:
    explicit Archive(const fs::path& file) : in_(file, std::ios::binary) {}

    bool Read(std::uint64_t offset, std::size_t length, std::vector<unsigned char>& out) {
        out.resize(length);
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
        return in_.gcount() == static_cast<std::streamsize>(length);
    }
    std::uint64_t Size() {
        in_.clear();
        in_.seekg(0, std::ios::end);
        return static_cast<std::uint64_t>(in_.tellg());
    }
    bool ok() const { return static_cast<bool>(in_); }

    // The central directory's entries.
    bool Entries(std::vector<Entry>& entries, std::string& why) {
        const std::uint64_t size = Size();
        if (size < kEndSize) {
            why = "not a zip archive";
            return false;
        }
        // The end record is the last 22 bytes, unless a comment (at most 64 KiB) follows it.
        const std::uint64_t tail = std::min<std::uint64_t>(size, kEndSize + 0xffff);
        std::vector<unsigned char> end;
        if (!Read(size - tail, static_cast<std::size_t>(tail), end)) {
            why = "cannot be read";
            return false;
        }
        std::size_t at = end.size() - kEndSize + 1;
        do {
            --at;
            if (Read32(&end[at]) == kEndSignature)
                break;
        } while (at > 0);
        if (Read32(&end[at]) != kEndSignature) {
            why = "not a zip archive (no end of its directory)";
            return false;
        }
        const std::uint32_t count = Read16(&end[at + 10]);
        const std::uint32_t directorySize = Read32(&end[at + 12]);
        const std::uint32_t directoryOffset = Read32(&end[at + 16]);
        if (count == 0xffff || directoryOffset == 0xffffffff) {
            why = "a ZIP64 archive";
            return false;
        }
        if (count > kZipMaxEntries) {
            why = "more than " + std::to_string(kZipMaxEntries) + " entries";
            return false;
        }
        std::vector<unsigned char> directory;
        if (std::uint64_t{directoryOffset} + directorySize > size ||
            !Read(directoryOffset, directorySize, directory)) {
            why = "its directory lies outside the file";
            return false;
        }
        std::size_t p = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (p + kCentralSize > directory.size() || Read32(&directory[p]) != kCentralSignature) {
                why = "its directory is damaged";
                return false;
            }
            const unsigned char* h = &directory[p];
            Entry e;
            e.flags = Read16(h + 8);
            e.method = Read16(h + 10);
            e.crc = Read32(h + 16);
            e.packed = Read32(h + 20);
            e.size = Read32(h + 24);
            const std::size_t nameLength = Read16(h + 28);
            const std::size_t skip = nameLength + Read16(h + 30) + Read16(h + 32);
            e.localOffset = Read32(h + 42);
            if (p + kCentralSize + skip > directory.size()) {
                why = "its directory is damaged";
                return false;
            }
            e.name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
            entries.push_back(e);
            p += kCentralSize + skip;
        }
        return true;
    }

  private:
    std::ifstream in_;
};

bool Inflate(const std::vector<unsigned char>& packed, std::uint32_t size,
             std::vector<unsigned char>& out) {
    out.resize(size);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) // raw deflate: no zlib header in a zip
        return false;
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    const bool whole = result == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return whole;
}

} // namespace

bool ExtractZip(const fs::path& archivePath, const fs::path& destination,
                std::vector<fs::path>& files, std::string& why) {
    files.clear();
    Archive archive(archivePath);
    if (!archive.ok()) {
        why = "cannot be opened";
        return false;
    }
    std::vector<Entry> entries;
    if (!archive.Entries(entries, why))
        return false;
    std::uint64_t total = 0;
    for (const Entry& e : entries) {
        const std::string place = "entry \"" + e.name + "\": ";
        if (!SafeName(e.name)) {
            why = place + "its name leaves the folder";
            return false;
        }
        if (e.name.back() == '/') {
            std::error_code ec;
            fs::create_directories(destination / fs::u8path(e.name), ec);
            if (ec) {
                why = place + ec.message();
                return false;
            }
            continue;
        }
        if (e.flags & 1) {
            why = place + "encrypted";
            return false;
        }
        if (e.method != 0 && e.method != 8) {
            why = place + "compression method " + std::to_string(e.method);
            return false;
        }
        if (e.size == 0xffffffff || e.packed == 0xffffffff) {
            why = place + "a ZIP64 entry";
            return false;
        }
        total += e.size;
        if (total > kZipMaxBytes) {
            why = "more than " + std::to_string(kZipMaxBytes >> 20) + " MB unpacked";
            return false;
        }
        std::vector<unsigned char> local, packed, data;
        if (!archive.Read(e.localOffset, kLocalSize, local) ||
            Read32(local.data()) != kLocalSignature) {
            why = place + "its local header is damaged";
            return false;
        }
        const std::uint64_t dataAt =
            std::uint64_t{e.localOffset} + kLocalSize + Read16(&local[26]) + Read16(&local[28]);
        if (!archive.Read(dataAt, e.packed, packed)) {
            why = place + "its data lies outside the file";
            return false;
        }
        if (e.method == 0) {
            if (e.packed != e.size) {
                why = place + "its lengths disagree";
                return false;
            }
            data = std::move(packed);
        } else if (!Inflate(packed, e.size, data)) {
            why = place + "its data do not inflate to its length";
            return false;
        }
        const uLong crc = crc32(0L, data.data(), static_cast<uInt>(data.size()));
        if (crc != e.crc) {
            why = place + "CRC-32 mismatch";
            return false;
        }
        const fs::path relative = fs::u8path(e.name).lexically_normal(); // "./a" is "a"
        const fs::path target = destination / relative;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        out.close();
        if (ec || !out) {
            why = place + "cannot be written to " + target.u8string();
            return false;
        }
        files.push_back(relative);
    }
    return true;
}
