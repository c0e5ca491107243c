// The VS_VERSIONINFO tree: nested blocks of {wLength, wValueLength, wType, key, value,
// children}, every key, value and child starting on a 32-bit boundary.
#include "byte_writer.h"
#include "pewriter.h"

#include <cstdlib>

namespace pewriter {

namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoStrucVersion = 0x00010000;
constexpr uint32_t kVosNtWindows32 = 0x00040004;
constexpr uint32_t kVftDll = 2;
constexpr uint16_t kTypeBinary = 0;
constexpr uint16_t kTypeText = 1;

struct Block {
    std::u16string key;
    uint16_t type = kTypeText;
    std::vector<uint8_t> value;
    uint16_t valueLength = 0; // bytes for binary values, UTF-16 units for text
    std::vector<Block> children;
};

// UTF-8 to UTF-16; bytes that do not form a character are dropped.
std::u16string ToUtf16(const std::string& utf8) {
    std::u16string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = -1;
        if (lead < 0x80)
            extra = 0;
        else if ((lead >> 5) == 6)
            extra = 1;
        else if ((lead >> 4) == 14)
            extra = 2;
        else if ((lead >> 3) == 30)
            extra = 3;
        if (extra < 0 || i + extra >= utf8.size()) {
            ++i;
            continue;
        }
        uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        i += ok ? extra + 1 : 1;
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
            continue;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

Block TextBlock(const std::string& key, const std::string& text) {
    Block b;
    b.key = ToUtf16(key);
    const std::u16string value = ToUtf16(text) + u'\0';
    ByteWriter w;
    for (char16_t c : value)
        w.U16(c);
    b.value = w.Take();
    b.valueLength = static_cast<uint16_t>(value.size());
    return b;
}

uint32_t High(const FourPartVersion& v) {
    return (uint32_t{v[0]} << 16) | v[1];
}
uint32_t Low(const FourPartVersion& v) {
    return (uint32_t{v[2]} << 16) | v[3];
}

std::vector<uint8_t> FixedFileInfo(const VersionResource& version) {
    ByteWriter w;
    w.U32(kFixedInfoSignature);
    w.U32(kFixedInfoStrucVersion);
    w.U32(High(version.fileVersion));
    w.U32(Low(version.fileVersion));
    w.U32(High(version.productVersion));
    w.U32(Low(version.productVersion));
    w.U32(0x3F); // dwFileFlagsMask
    w.U32(0);    // dwFileFlags
    w.U32(kVosNtWindows32);
    w.U32(kVftDll);
    w.U32(0); // dwFileSubtype
    w.U32(0); // dwFileDateMS
    w.U32(0); // dwFileDateLS
    return w.Take();
}

void Serialize(const Block& block, ByteWriter& w) {
    const size_t start = w.Size();
    w.U16(0); // wLength, patched below
    w.U16(block.valueLength);
    w.U16(block.type);
    for (char16_t c : block.key)
        w.U16(c);
    w.U16(0);
    w.Align(4);
    w.Bytes(block.value);
    for (const Block& child : block.children) {
        w.Align(4);
        Serialize(child, w);
    }
    w.PatchU16(start, static_cast<uint16_t>(w.Size() - start));
}

} // namespace

std::vector<uint8_t> BuildVersionInfo(const VersionResource& version) {
    Block root;
    root.key = u"VS_VERSION_INFO";
    root.type = kTypeBinary;
    root.value = FixedFileInfo(version);
    root.valueLength = static_cast<uint16_t>(root.value.size());

    Block table;
    table.key = u"040904B0";
    for (const auto& [key, text] : version.strings)
        table.children.push_back(TextBlock(key, text));
    Block stringInfo;
    stringInfo.key = u"StringFileInfo";
    stringInfo.children.push_back(std::move(table));

    Block translation;
    translation.key = u"Translation";
    translation.type = kTypeBinary;
    ByteWriter t;
    t.U16(0x0409); // US English
    t.U16(1200);   // UTF-16
    translation.value = t.Take();
    translation.valueLength = 4;
    Block varInfo;
    varInfo.key = u"VarFileInfo";
    varInfo.children.push_back(std::move(translation));

    if (!version.strings.empty())
        root.children.push_back(std::move(stringInfo));
    root.children.push_back(std::move(varInfo));

    ByteWriter w;
    Serialize(root, w);
    return w.Take();
}

bool ParseVersion(const std::string& text, FourPartVersion& out) {
    FourPartVersion v{};
    size_t pos = 0;
    for (size_t part = 0; part < 4; ++part) {
        size_t digits = 0;
        unsigned long value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 6) {
            value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF)
            return false;
        v[part] = static_cast<uint16_t>(value);
        if (part < 3) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
    }
    if (pos != text.size())
        return false;
    out = v;
    return true;
}

std::string FormatVersion(const FourPartVersion& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
}

VersionResource MakeVersionResource(const FourPartVersion& v) {
    VersionResource r;
    r.fileVersion = v;
    r.productVersion = v;
    r.strings = {{"FileVersion", FormatVersion(v)}, {"ProductVersion", FormatVersion(v)}};
    return r;
}

} // namespace pewriter
