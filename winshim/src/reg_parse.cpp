#include "reg_parse.h"

#include <cctype>
#include <cstring>

namespace winshim::reg {

namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() - pos < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[pos + i])) != prefix[i])
            return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses 1..maxDigits hex digits forming the whole of text.
bool ParseHexNumber(const std::string& text, size_t maxDigits, uint32_t* out) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

// ---- decoding the file into lines of UTF-8 ----

struct Decoded {
    std::vector<std::string> lines;
    std::vector<int> badLines; // lines that are not valid text in the file's encoding
    bool codePage = false;     // 8-bit text: string data in hex is in the code page too
    int utf8Line = 0;          // a code page file whose text is UTF-8: its first such line
};

void StripCr(std::string* line) {
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
}

Decoded DecodeUtf16(const std::string& bytes, size_t start, bool bigEndian) {
    Decoded d;
    Bytes line;
    auto flush = [&](bool last) {
        std::string text;
        if (!Utf16LeToUtf8Strict(line, &text))
            d.badLines.push_back(static_cast<int>(d.lines.size()) + 1);
        StripCr(&text);
        if (!last || !text.empty() || !line.empty())
            d.lines.push_back(text);
        line.clear();
    };
    size_t i = start;
    for (; i + 1 < bytes.size(); i += 2) {
        uint8_t lo = static_cast<uint8_t>(bytes[bigEndian ? i + 1 : i]);
        uint8_t hi = static_cast<uint8_t>(bytes[bigEndian ? i : i + 1]);
        if (lo == '\n' && hi == 0) {
            flush(false);
            continue;
        }
        line.push_back(lo);
        line.push_back(hi);
    }
    if (i < bytes.size())
        line.push_back(static_cast<uint8_t>(bytes[i])); // odd length: an invalid last line
    flush(true);
    return d;
}

std::vector<std::string> SplitLines(const std::string& bytes, size_t start) {
    std::vector<std::string> lines;
    size_t pos = start;
    while (pos <= bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        size_t end = nl == std::string::npos ? bytes.size() : nl;
        std::string line = bytes.substr(pos, end - pos);
        StripCr(&line);
        lines.push_back(line);
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
    }
    return lines;
}

// The machine's registry file as this program wrote it before: UTF-8, REGEDIT4 in ANSI.
Decoded DecodeUtf8(const std::string& bytes, size_t start) {
    Decoded d;
    d.lines = SplitLines(bytes, start);
    bool regedit4 = false;
    for (const std::string& l : d.lines)
        if (!Trim(l).empty()) {
            regedit4 = Trim(l) == kHeader4;
            break;
        }
    for (size_t i = 0; i < d.lines.size(); ++i) {
        if (IsValidUtf8(d.lines[i]))
            continue;
        if (regedit4) // REGEDIT4 files are written in the ANSI code page
            d.lines[i] = Cp936ToUtf8(d.lines[i]);
        else
            d.badLines.push_back(static_cast<int>(i) + 1);
    }
    d.codePage = regedit4;
    return d;
}

bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A file without a byte-order mark, as Windows reads it: in the ANSI code page.
Decoded DecodeCodePage(const std::string& bytes) {
    Decoded d;
    d.lines = SplitLines(bytes, 0);
    d.codePage = true;
    if (!IsAscii(bytes) && IsValidUtf8(bytes))
        for (size_t i = 0; i < d.lines.size() && d.utf8Line == 0; ++i)
            if (!IsAscii(d.lines[i]))
                d.utf8Line = static_cast<int>(i) + 1;
    for (std::string& line : d.lines)
        line = Cp936ToUtf8(line);
    return d;
}

Decoded DecodeImport(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return DecodeUtf16(bytes, 2, false);
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF')
        return DecodeUtf16(bytes, 2, true);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        Decoded d;
        d.lines = SplitLines(bytes, 3);
        for (size_t i = 0; i < d.lines.size(); ++i)
            if (!IsValidUtf8(d.lines[i]))
                d.badLines.push_back(static_cast<int>(i) + 1);
        return d;
    }
    return DecodeCodePage(bytes);
}

Decoded Decode(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return DecodeUtf16(bytes, 2, false);
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF')
        return DecodeUtf16(bytes, 2, true);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return DecodeUtf8(bytes, 3);
    return DecodeUtf8(bytes, 0);
}

// ---- the lines ----

class Parser {
  public:
    Parser(const Decoded& decoded, std::vector<RegOp>* ops, ParseError* error,
           std::vector<ParseError>* warnings)
        : lines_(decoded.lines), ops_(ops), error_(error), warnings_(warnings),
          codePage_(decoded.codePage) {
        for (int line : decoded.badLines)
            badLines_.push_back(static_cast<size_t>(line - 1));
    }

    bool Run() {
        size_t i = 0;
        while (i < lines_.size() && Trim(lines_[i]).empty())
            ++i;
        if (i == lines_.size())
            return true; // an empty file is an empty registry
        std::string header = Trim(lines_[i]);
        if (header != kHeader4 && header != kHeader5)
            return Fail(i, "not a registry file: the first line must be \"" +
                               std::string(kHeader5) + "\" or \"" + kHeader4 + "\"");
        for (++i; i < lines_.size(); ++i) {
            std::string t = Trim(lines_[i]);
            if (t.empty() || t[0] == ';')
                continue;
            if (IsBadLine(i)) {
                if (!Skip(i, "the line is not valid text in the file's encoding"))
                    return false;
            } else if (t[0] == '[') {
                if (!KeyLine(i, t))
                    return false;
            } else if (t[0] == '"' || t[0] == '@') {
                if (!ValueLine(&i, t))
                    return false;
            } else if (!Skip(i, "unexpected text: " + t.substr(0, 40))) {
                return false;
            }
        }
        return true;
    }

  private:
    bool Fail(size_t index, const std::string& message) {
        error_->line = static_cast<int>(index) + 1;
        error_->message = message;
        return false;
    }

    // A line that does not parse: fatal for the machine's file; skipped with a warning
    // on import (returns true then).
    bool Skip(size_t index, const std::string& message) {
        if (!warnings_)
            return Fail(index, message);
        warnings_->push_back({static_cast<int>(index) + 1, message});
        return true;
    }

    bool IsBadLine(size_t index) const {
        for (size_t bad : badLines_)
            if (bad == index)
                return true;
        return false;
    }

    // A key line that is skipped on import skips the values under it too, as regedit
    // cannot open the key to write them.
    bool SkipKey(size_t i, const std::string& message) {
        currentKey_.clear();
        inDeletedKey_ = true;
        return Skip(i, message + " (its values are skipped too)");
    }

    bool KeyLine(size_t i, const std::string& t) {
        // Text after the closing bracket is ignored, as regedit does.
        size_t close = t.rfind(']');
        if (close == std::string::npos || (!warnings_ && close != t.size() - 1))
            return SkipKey(i, "a key line must end with ']'");
        std::string inner = t.substr(1, close - 1);
        bool remove = !inner.empty() && inner[0] == '-';
        if (remove)
            inner.erase(0, 1);
        std::string path;
        if (!NormalizeKeyPath(inner, &path))
            return SkipKey(i, "not a valid key name: " + inner.substr(0, 80));
        if (remove && IsRootPath(path))
            return SkipKey(i, "a root key cannot be deleted: " + path);
        if (warnings_ && !remove && !IsCreatablePath(path))
            return SkipKey(i, "HKEY_USERS holds only the loaded user hives: " + path);
        RegOp op;
        op.kind = remove ? RegOpKind::DeleteKey : RegOpKind::CreateKey;
        op.key = path;
        ops_->push_back(op);
        currentKey_ = remove ? std::string() : path;
        inDeletedKey_ = remove;
        return true;
    }

    // A quoted string starting at s[*pos] == '"'; on success *pos is after the closing quote.
    static bool Quoted(const std::string& s, size_t* pos, std::string* out) {
        out->clear();
        for (size_t i = *pos + 1; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"') {
                *pos = i + 1;
                return true;
            }
            if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
                c = s[++i];
            out->push_back(c);
        }
        return false;
    }

    bool ValueLine(size_t* index, const std::string& t) {
        size_t start = *index;
        RegOp op;
        size_t pos = 0;
        if (t[0] == '@') {
            pos = 1;
        } else if (!Quoted(t, &pos, &op.value.name)) {
            return Skip(start, "the value name has no closing quote");
        }
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t'))
            ++pos;
        if (pos >= t.size() || t[pos] != '=')
            return Skip(start, "expected '=' after the value name");
        std::string data = Trim(t.substr(pos + 1));
        std::string problem;
        if (!ValueData(index, data, &op, &problem))
            return problem.empty() ? false : Skip(start, problem);
        if (inDeletedKey_)
            return true; // values under a deleted key are ignored, as regedit does
        if (currentKey_.empty())
            return Skip(start, "a value must follow a key line");
        op.key = currentKey_;
        ops_->push_back(op);
        return true;
    }

    // Text after the data that regedit ignores: blanks, then a ';' comment.
    static bool OnlyComment(const std::string& rest) {
        std::string t = Trim(rest);
        return t.empty() || t[0] == ';';
    }

    static std::string WithoutComment(const std::string& data) {
        return Trim(data.substr(0, data.find(';')));
    }

    // False with *problem set when the data is not valid (the value line is then skipped or
    // fails the file); false with *problem empty never happens.
    bool ValueData(size_t* index, std::string data, RegOp* op, std::string* problem) {
        if (data == "-") {
            op->kind = RegOpKind::DeleteValue;
            return true;
        }
        op->kind = RegOpKind::SetValue;
        if (!data.empty() && data[0] == '"') {
            size_t pos = 0;
            std::string text;
            if (!Quoted(data, &pos, &text))
                return Problem(problem, "the string has no closing quote");
            if (!OnlyComment(data.substr(pos)))
                return Problem(problem, "unexpected text after the string");
            op->value.type = 1; // REG_SZ
            op->value.data = Utf8ToUtf16Le(text);
            op->value.data.push_back(0);
            op->value.data.push_back(0);
            return true;
        }
        if (StartsWithNoCase(data, 0, "dword:")) {
            uint32_t v = 0;
            if (!ParseHexNumber(WithoutComment(data.substr(6)), 8, &v))
                return Problem(problem, "a dword needs 1 to 8 hex digits");
            op->value.type = 4; // REG_DWORD
            op->value.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
            return true;
        }
        if (!StartsWithNoCase(data, 0, "hex"))
            return Problem(problem, "unknown value type: " + data.substr(0, 20));
        size_t colon = data.find(':');
        if (colon == std::string::npos)
            return Problem(problem, "unknown value type: " + data.substr(0, 20));
        std::string kind = data.substr(3, colon - 3);
        uint32_t type = 3; // REG_BINARY
        if (!kind.empty()) {
            if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
                !ParseHexNumber(kind.substr(1, kind.size() - 2), 8, &type))
                return Problem(problem, "unknown value type: " + data.substr(0, colon + 1));
        }
        std::string list = WithoutComment(data.substr(colon + 1));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (*index + 1 >= lines_.size())
                return Problem(problem, "the value continues past the end of the file");
            list += WithoutComment(lines_[++*index]);
        }
        Bytes bytes;
        if (!HexList(list, &bytes))
            return Problem(problem, "hex data must be bytes of two hex digits separated by commas");
        if (type == 1 || type == 2 || type == 7)
            StringData(&bytes);
        op->value.type = type;
        op->value.data = bytes;
        return true;
    }

    static bool Problem(std::string* problem, const std::string& message) {
        *problem = message;
        return false;
    }

    // String data given as hex. In a code page file the bytes are code page text, which
    // Windows converts to UTF-16. On import, like regedit, a missing terminator is added.
    void StringData(Bytes* bytes) const {
        if (bytes->empty())
            return;
        if (codePage_) {
            if (warnings_ && bytes->back() != 0)
                bytes->push_back(0);
            *bytes = Utf8ToUtf16Le(Cp936ToUtf8(std::string(bytes->begin(), bytes->end())));
        } else if (warnings_ && bytes->size() % 2 == 0 &&
                   ((*bytes)[bytes->size() - 1] != 0 || (*bytes)[bytes->size() - 2] != 0)) {
            bytes->push_back(0);
            bytes->push_back(0);
        }
    }

    static bool HexList(const std::string& list, Bytes* out) {
        if (Trim(list).empty())
            return true;
        size_t pos = 0;
        while (true) {
            size_t comma = list.find(',', pos);
            std::string token = Trim(
                list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
            uint32_t v = 0;
            if (!ParseHexNumber(token, 2, &v))
                return false;
            out->push_back(static_cast<uint8_t>(v));
            if (comma == std::string::npos)
                return true;
            pos = comma + 1;
        }
    }

    const std::vector<std::string>& lines_;
    std::vector<RegOp>* ops_;
    ParseError* error_;
    std::vector<ParseError>* warnings_; // null: every fault fails the file
    bool codePage_;
    std::vector<size_t> badLines_;
    std::string currentKey_;
    bool inDeletedKey_ = false;
};

} // namespace

bool ParseRegText(const std::string& bytes, std::vector<RegOp>* ops, ParseError* error) {
    ops->clear();
    ParseError local;
    return Parser(Decode(bytes), ops, error ? error : &local, nullptr).Run();
}

bool ParseImportText(const std::string& bytes, std::vector<RegOp>* ops, ParseError* error,
                     std::vector<ParseError>* warnings) {
    ops->clear();
    warnings->clear();
    Decoded d = DecodeImport(bytes);
    ParseError local;
    if (!Parser(d, ops, error ? error : &local, warnings).Run())
        return false;
    if (d.utf8Line > 0)
        warnings->insert(warnings->begin(),
                         {d.utf8Line, "the file has no byte-order mark, so its text is read in "
                                      "code page 936 as Windows reads it, but it looks like "
                                      "UTF-8: names and strings come out garbled (save the "
                                      "file as UTF-16 or in code page 936)"});
    return true;
}

void ApplyRegOps(const std::vector<RegOp>& ops, RegModel* model) {
    for (const RegOp& op : ops) {
        switch (op.kind) {
        case RegOpKind::CreateKey:
            model->Ensure(op.key);
            break;
        case RegOpKind::DeleteKey:
            model->DeleteTree(op.key);
            break;
        case RegOpKind::SetValue:
            model->Ensure(op.key).SetValue(op.value);
            break;
        case RegOpKind::DeleteValue:
            if (RegKey* k = model->Find(op.key))
                k->DeleteValue(op.value.name);
            break;
        }
    }
}

bool LoadRegText(const std::string& bytes, RegModel* model, ParseError* error) {
    std::vector<RegOp> ops;
    if (!ParseRegText(bytes, &ops, error))
        return false;
    *model = RegModel();
    ApplyRegOps(ops, model);
    return true;
}

} // namespace winshim::reg
