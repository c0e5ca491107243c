#include "reg_write.h"

#include <cstdio>

namespace winshim::reg {

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The text of a REG_SZ that can be written quoted: one NUL terminator at the end, no other
// NUL, valid UTF-16, no line breaks.
bool QuotableText(const Bytes& data, std::string* text) {
    size_t n = data.size();
    if (n < 2 || n % 2 != 0 || data[n - 1] != 0 || data[n - 2] != 0)
        return false;
    Bytes body(data.begin(), data.end() - 2);
    if (!Utf16LeToUtf8Strict(body, text))
        return false;
    return text->find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

std::string HexData(const std::string& prefix, const Bytes& data) {
    std::string out = prefix;
    size_t column = prefix.size();
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
        column += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

void AppendKey(const RegKey& key, std::string* out) {
    *out += "[" + key.path + "]\n";
    for (const RegValue& v : key.values)
        *out += ValueLine(v) + "\n";
    *out += "\n";
}

const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";

// UTF-8 text with "\n" line ends -> the file's bytes.
std::string Encoded(const std::string& text) {
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    const Bytes utf16 = Utf8ToUtf16Le(crlf);
    std::string out = "\xFF\xFE";
    out.append(utf16.begin(), utf16.end());
    return out;
}

} // namespace

std::string ValueLine(const RegValue& value) {
    std::string name = value.name.empty() ? "@" : "\"" + Escaped(value.name) + "\"";
    std::string text;
    if (value.type == 1 && QuotableText(value.data, &text))
        return name + "=\"" + Escaped(text) + "\"";
    if (value.type == 4 && value.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                            (value.data[2] << 16) |
                                            (static_cast<uint32_t>(value.data[3]) << 24)));
        return name + "=" + buf;
    }
    if (value.type == 3)
        return HexData(name + "=hex:", value.data);
    char kind[24];
    std::snprintf(kind, sizeof kind, "=hex(%x):", static_cast<unsigned>(value.type));
    return HexData(name + kind, value.data);
}

std::string SerializeRegistry(const RegModel& model) {
    std::string out = kHeader;
    for (const RegKey* key : model.TreeOrder())
        AppendKey(*key, &out);
    return Encoded(out);
}

std::string SerializeSubtree(const RegModel& model, const std::string& path) {
    std::string out = kHeader;
    if (!model.Find(path))
        out += "[" + path + "]\n\n";
    for (const RegKey* key : model.TreeOrder(path))
        AppendKey(*key, &out);
    return Encoded(out);
}

} // namespace winshim::reg
