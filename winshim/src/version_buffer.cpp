#include "version_buffer.h"
#include "pe_format.h"

#include <winshim/windows.h>

#include <cstring>

namespace winshim {

namespace {

constexpr uint32_t kTrailerMagic = 0x56535751; // "QWSV"
constexpr size_t kTrailerHeader = 12;
constexpr size_t kTrailerEntry = 12;
constexpr size_t kNodeHeader = 6;
constexpr uint16_t kTypeText = 1;
constexpr size_t kFixedInfoSize = sizeof(VS_FIXEDFILEINFO);

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t Align4(size_t v) {
    return (v + 3) & ~size_t{3};
}

// One node of the block: {wLength, wValueLength, wType, key, pad, value, pad, children}.
struct Node {
    size_t start = 0;
    size_t end = 0; // start + wLength, within the limit
    uint16_t type = 0;
    std::u16string key;
    size_t valueOffset = 0;
    size_t valueBytes = 0;
    size_t childrenOffset = 0;
};

bool ParseNode(const uint8_t* b, size_t start, size_t limit, Node& node) {
    if (start > limit || limit - start < kNodeHeader)
        return false;
    const size_t length = U16(b + start);
    if (length < kNodeHeader || length > limit - start)
        return false;
    node.start = start;
    node.end = start + length;
    const uint16_t valueLength = U16(b + start + 2);
    node.type = U16(b + start + 4);
    node.key.clear();
    size_t p = start + kNodeHeader;
    for (;;) {
        if (p + 2 > node.end)
            return false; // key without terminator
        const char16_t c = U16(b + p);
        p += 2;
        if (c == 0)
            break;
        node.key.push_back(c);
    }
    node.valueOffset = std::min(Align4(p), node.end);
    const size_t declared = node.type == kTypeText ? size_t{valueLength} * 2 : valueLength;
    node.valueBytes = std::min(declared, node.end - node.valueOffset);
    node.childrenOffset = std::min(Align4(node.valueOffset + node.valueBytes), node.end);
    return true;
}

// Calls f(child) for each well-formed child of node, in order.
template <typename F> void ForEachChild(const uint8_t* b, const Node& node, F f) {
    size_t at = node.childrenOffset;
    Node child;
    while (ParseNode(b, at, node.end, child)) {
        if (!f(child))
            return;
        at = Align4(child.end);
    }
}

char32_t FoldAscii(char32_t c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

bool KeyEquals(const std::u16string& key, const std::wstring& name) {
    if (key.size() != name.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i)
        if (FoldAscii(key[i]) != FoldAscii(static_cast<char32_t>(name[i])))
            return false;
    return true;
}

// UTF-16 code units -> WCHARs (code points); an unpaired surrogate is kept as it is.
std::wstring WideFromUtf16(const uint8_t* p, size_t units) {
    std::wstring out;
    for (size_t i = 0; i < units; ++i) {
        char32_t c = U16(p + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const char32_t low = U16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// Every text value of the tree, in document order. Iterative: a hostile block can nest
// thousands of levels deep within its 64 KiB.
std::vector<std::pair<size_t, std::wstring>> CollectTexts(const uint8_t* b, const Node& root) {
    std::vector<std::pair<size_t, std::wstring>> texts;
    std::vector<Node> pending{root};
    while (!pending.empty()) {
        const Node node = pending.back();
        pending.pop_back();
        if (node.type == kTypeText && node.valueBytes >= 2) {
            std::wstring text = WideFromUtf16(b + node.valueOffset, node.valueBytes / 2);
            const size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos)
                text.resize(nul);
            texts.emplace_back(node.valueOffset, std::move(text));
        }
        std::vector<Node> children;
        ForEachChild(b, node, [&](const Node& child) {
            children.push_back(child);
            return true;
        });
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return texts;
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

} // namespace

std::vector<uint8_t> BuildVersionBuffer(const std::vector<uint8_t>& block) {
    std::vector<std::pair<size_t, std::wstring>> texts;
    Node root;
    if (ParseNode(block.data(), 0, block.size(), root))
        texts = CollectTexts(block.data(), root);

    const size_t trailer = Align4(block.size());
    size_t copies = trailer + kTrailerHeader + texts.size() * kTrailerEntry;
    std::vector<uint8_t> out(copies);
    std::memcpy(out.data(), block.data(), block.size());
    Put32(out, trailer, kTrailerMagic);
    Put32(out, trailer + 8, static_cast<uint32_t>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::wstring& text = texts[i].second;
        const size_t entry = trailer + kTrailerHeader + i * kTrailerEntry;
        Put32(out, entry, static_cast<uint32_t>(texts[i].first));
        Put32(out, entry + 4, static_cast<uint32_t>(copies));
        Put32(out, entry + 8, static_cast<uint32_t>(text.size() + 1));
        out.resize(copies + (text.size() + 1) * sizeof(wchar_t), 0);
        std::memcpy(out.data() + copies, text.data(), text.size() * sizeof(wchar_t));
        copies = out.size();
    }
    Put32(out, trailer + 4, static_cast<uint32_t>(out.size()));
    return out;
}

bool CopyVersionBuffer(const std::vector<uint8_t>& buffer, uint8_t* out, size_t capacity) {
    if (capacity >= buffer.size()) {
        std::memcpy(out, buffer.data(), buffer.size());
        return true;
    }
    // Cut the block so that an empty trailer still fits behind it.
    if (capacity < kNodeHeader + kTrailerHeader)
        return false;
    const size_t blockLength =
        std::min<size_t>(U16(buffer.data()), (capacity - kTrailerHeader) & ~size_t{3});
    std::vector<uint8_t> cut(buffer.begin(), buffer.begin() + blockLength);
    cut[0] = static_cast<uint8_t>(blockLength);
    cut[1] = static_cast<uint8_t>(blockLength >> 8);
    cut.resize(Align4(blockLength) + kTrailerHeader, 0);
    Put32(cut, Align4(blockLength), kTrailerMagic);
    Put32(cut, Align4(blockLength) + 4, static_cast<uint32_t>(cut.size()));
    std::memcpy(out, cut.data(), cut.size());
    return true;
}

size_t VersionBufferSize(const uint8_t* buffer) {
    const size_t trailer = Align4(U16(buffer));
    if (U32(buffer + trailer) != kTrailerMagic)
        return U16(buffer);
    return U32(buffer + trailer + 4);
}

bool QueryVersionBuffer(const uint8_t* buffer, size_t size, const std::wstring& subBlock,
                        size_t& valueOffset, unsigned& valueLength, bool* isText) {
    Node node;
    if (size < kNodeHeader || !ParseNode(buffer, 0, std::min<size_t>(size, U16(buffer)), node))
        return false;
    const std::vector<std::wstring> parts = SplitPath(subBlock);
    for (const std::wstring& part : parts) {
        bool found = false;
        ForEachChild(buffer, node, [&](const Node& child) {
            found = KeyEquals(child.key, part);
            if (found)
                node = child;
            return !found;
        });
        if (!found)
            return false;
    }

    if (parts.empty()) {
        if (node.valueBytes < kFixedInfoSize || U32(buffer + node.valueOffset) != VS_FFI_SIGNATURE)
            return false;
        valueOffset = node.valueOffset;
        valueLength = kFixedInfoSize;
        if (isText)
            *isText = false;
        return true;
    }
    if (node.valueBytes == 0)
        return false;
    if (isText)
        *isText = node.type == kTypeText;
    if (node.type != kTypeText) {
        valueOffset = node.valueOffset;
        valueLength = static_cast<unsigned>(node.valueBytes);
        return true;
    }
    // A text value: hand out its WCHAR copy from the trailer.
    const size_t trailer = Align4(U16(buffer));
    if (trailer > size || size - trailer < kTrailerHeader || U32(buffer + trailer) != kTrailerMagic)
        return false;
    const size_t count = U32(buffer + trailer + 8);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = trailer + kTrailerHeader + i * kTrailerEntry;
        if (entry > size || size - entry < kTrailerEntry)
            return false;
        if (U32(buffer + entry) != node.valueOffset)
            continue;
        const size_t copy = U32(buffer + entry + 4);
        const size_t chars = U32(buffer + entry + 8);
        if (copy % sizeof(wchar_t) != 0 || copy > size || chars == 0 ||
            (size - copy) / sizeof(wchar_t) < chars)
            return false;
        valueOffset = copy;
        valueLength = static_cast<unsigned>(chars);
        return true;
    }
    return false;
}

} // namespace winshim
