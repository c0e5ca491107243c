#include "http_message.h"

#include "common/text/ascii.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const std::string* Find(const HttpFields& fields, const std::string& name) {
    for (const auto& [key, value] : fields)
        if (ascii::EqualIgnoringCase(key, name))
            return &value;
    return nullptr;
}

} // namespace

std::string DecodeUrl(const std::string& text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += plusAsSpace && c == '+' ? ' ' : c;
    }
    return out;
}

std::string UrlParam(const std::string& encoded, const std::string& name) {
    size_t pos = 0;
    while (pos <= encoded.size()) {
        size_t end = encoded.find('&', pos);
        if (end == std::string::npos)
            end = encoded.size();
        const std::string pair = encoded.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (DecodeUrl(pair.substr(0, eq), true) == name)
            return eq == std::string::npos ? std::string() : DecodeUrl(pair.substr(eq + 1), true);
        pos = end + 1;
    }
    return {};
}

std::string HttpRequest::Header(const std::string& name) const {
    const std::string* value = Find(headers, name);
    return value ? *value : std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const {
    return Find(headers, name) != nullptr;
}

std::string HttpRequest::QueryParam(const std::string& name) const {
    return UrlParam(query, name);
}

std::string HttpRequest::FormParam(const std::string& name) const {
    const std::string type = Header("Content-Type");
    if (type.compare(0, 33, "application/x-www-form-urlencoded") != 0)
        return {};
    return UrlParam(body, name);
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
    for (auto& [key, old] : headers)
        if (ascii::EqualIgnoringCase(key, name)) {
            old = value;
            return;
        }
    headers.emplace_back(name, value);
}

std::string HttpResponse::Header(const std::string& name) const {
    const std::string* value = Find(headers, name);
    return value ? *value : std::string();
}

void HttpResponse::SetContent(std::string content, const std::string& contentType) {
    body = std::move(content);
    file.clear();
    SetHeader("Content-Type", contentType);
}
