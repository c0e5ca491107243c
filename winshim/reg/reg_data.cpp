#include "reg_data.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quelda_reg {

using winshim::reg::Bytes;

namespace {

struct TypeEntry {
    const char* name;
    uint32_t type;
    bool addable;
};

constexpr TypeEntry kTypes[] = {
    {"REG_NONE", 0, true},
    {"REG_SZ", 1, true},
    {"REG_EXPAND_SZ", 2, true},
    {"REG_BINARY", 3, true},
    {"REG_DWORD", 4, true},
    {"REG_DWORD_LITTLE_ENDIAN", 4, true},
    {"REG_DWORD_BIG_ENDIAN", 5, true},
    {"REG_LINK", 6, false},
    {"REG_MULTI_SZ", 7, true},
    {"REG_RESOURCE_LIST", 8, false},
    {"REG_FULL_RESOURCE_DESCRIPTOR", 9, false},
    {"REG_RESOURCE_REQUIREMENTS_LIST", 10, false},
    {"REG_QWORD", 11, true},
    {"REG_QWORD_LITTLE_ENDIAN", 11, true},
};

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Decimal or 0x hex, no sign, within max.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    for (char c : digits)
        if (hex ? !std::isxdigit(static_cast<unsigned char>(c))
                : !std::isdigit(static_cast<unsigned char>(c)))
            return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (errno == ERANGE || *end != '\0' || v > max)
        return false;
    *out = v;
    return true;
}

void AppendText(const std::string& utf8, Bytes* data) {
    Bytes b = winshim::reg::Utf8ToUtf16Le(utf8);
    data->insert(data->end(), b.begin(), b.end());
    data->push_back(0);
    data->push_back(0);
}

std::string Hex(const Bytes& data) {
    std::string out;
    char buf[4];
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

} // namespace

std::string TypeName(uint32_t type) {
    for (const TypeEntry& t : kTypes)
        if (t.type == type)
            return t.name;
    char buf[24];
    std::snprintf(buf, sizeof buf, "REG_0x%X", type);
    return buf;
}

bool TypeFromName(const std::string& name, uint32_t* type) {
    std::string upper = Upper(name);
    for (const TypeEntry& t : kTypes)
        if (t.addable && upper == t.name) {
            *type = t.type;
            return true;
        }
    return false;
}

bool DataFromText(uint32_t type, const std::string& text, char separator, Bytes* data,
                  std::string* error) {
    data->clear();
    switch (type) {
    case 1:
    case 2:
        AppendText(text, data);
        return true;
    case 7: {
        std::string sep = separator ? std::string(1, separator) : std::string("\\0");
        size_t pos = 0;
        while (!text.empty()) {
            size_t next = text.find(sep, pos);
            std::string item = text.substr(pos, next == std::string::npos ? next : next - pos);
            if (item.empty() && next != std::string::npos) {
                *error = "ERROR: Invalid syntax: REG_MULTI_SZ data holds an empty string.";
                return false;
            }
            if (!item.empty())
                AppendText(item, data);
            if (next == std::string::npos)
                break;
            pos = next + sep.size();
        }
        data->push_back(0); // the empty string that ends the list
        data->push_back(0);
        return true;
    }
    case 4:
    case 5:
    case 11: {
        uint64_t v = 0;
        if (!text.empty() && !ParseNumber(text, type == 11 ? UINT64_MAX : UINT32_MAX, &v)) {
            *error = "ERROR: Invalid syntax. Specify valid numeric value.";
            return false;
        }
        size_t n = type == 11 ? 8 : 4;
        for (size_t i = 0; i < n; ++i)
            data->push_back(static_cast<uint8_t>(v >> (8 * (type == 5 ? n - 1 - i : i))));
        return true;
    }
    default: {
        if (text.size() % 2 != 0) {
            *error = "ERROR: Invalid syntax. Specify valid hexadecimal value.";
            return false;
        }
        for (size_t i = 0; i < text.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                *error = "ERROR: Invalid syntax. Specify valid hexadecimal value.";
                return false;
            }
            data->push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        }
        return true;
    }
    }
}

std::string DisplayData(const winshim::reg::RegValue& value) {
    const Bytes& d = value.data;
    switch (value.type) {
    case 1:
    case 2: {
        std::string text = winshim::reg::Utf16LeToUtf8(d);
        return text.substr(0, text.find('\0'));
    }
    case 7: {
        std::string text = winshim::reg::Utf16LeToUtf8(d);
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        std::string out;
        for (char c : text)
            out += c == '\0' ? std::string("\\0") : std::string(1, c);
        return out;
    }
    case 4:
    case 5:
    case 11: {
        size_t n = value.type == 11 ? 8 : 4;
        if (d.size() != n)
            return Hex(d);
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i)
            v |= static_cast<uint64_t>(d[i]) << (8 * (value.type == 5 ? n - 1 - i : i));
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
        return buf;
    }
    default:
        return Hex(d);
    }
}

} // namespace quelda_reg
