#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using HttpFields = std::vector<std::pair<std::string, std::string>>;

// A whole request as the listener read it: within its limits, body included.
struct HttpRequest {
    std::string method; // "GET"; "-" when the request line could not be read
    std::string target; // as sent: path and query
    std::string path;   // percent-decoded
    std::string query;  // after '?', still encoded
    HttpFields headers;
    std::string body;
    std::string remoteAddr; // the peer; IPv4-mapped IPv6 addresses in their IPv4 form

    // The first header of that name (any case); empty when there is none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // A parameter of the query string, decoded ('+' as a space).
    std::string QueryParam(const std::string& name) const;
    // A field of an application/x-www-form-urlencoded body, decoded.
    std::string FormParam(const std::string& name) const;
};

// The answer. The body is either `body` or, when `file` is set, the bytes
// [fileOffset, fileOffset + fileLength) of that file, read while they are sent.
struct HttpResponse {
    int status = 200;
    HttpFields headers;
    std::string body;
    std::string file;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileLength = 0;

    // Replaces a header of that name, or adds it.
    void SetHeader(const std::string& name, const std::string& value);
    std::string Header(const std::string& name) const;
    void SetContent(std::string content, const std::string& contentType);
    std::uint64_t BodyLength() const { return file.empty() ? body.size() : fileLength; }
};

// %XX sequences decoded; with `plusAsSpace` also '+' (query strings and forms).
std::string DecodeUrl(const std::string& text, bool plusAsSpace);
// The value of `name` in "a=1&b=2" (decoded), empty when absent.
std::string UrlParam(const std::string& encoded, const std::string& name);
