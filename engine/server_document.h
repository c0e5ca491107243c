#pragma once

#include "engine/server_address.h"
#include "engine/transport/transport.h"

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

// Real documents are a few KB and nest five levels; anything far beyond is refused before
// it can exhaust memory or a thread's stack.
inline constexpr std::size_t kMaxDocumentBytes = 4 * 1024 * 1024;
inline constexpr int kMaxDocumentDepth = 64;
// The whole fetch, from connecting to the last byte, within this time.
inline constexpr std::chrono::milliseconds kDocumentDeadline{10000};

// One small file fetched whole: the document, or what travels beside it.
struct FetchedBytes {
    int status = 0;           // the HTTP status, 0 without an answer
    std::string body;         // with status 200 only, and only when it arrived whole
    TransportFailure failure; // why no whole answer arrived; None for an answer of any status
    bool tooLarge = false;    // the body grew beyond the limit (the transfer is cut there)
};

// GET of `path` with the 3 s connect and read time-outs, all within `deadline`, a body of
// at most `maxBytes`. True only for status 200 with the whole body: as long as its
// Content-Length or chunked to its end (never a body that the closing connection ends).
bool FetchSmallFile(const ServerAddress& address, const std::string& path, std::size_t maxBytes,
                    std::chrono::milliseconds deadline, FetchedBytes& out);
// The same for a URL "http(s)://host[:port]/path"; BadRequest for any other text.
bool FetchSmallFile(const std::string& url, std::size_t maxBytes,
                    std::chrono::milliseconds deadline, FetchedBytes& out);

// The server document: 1 with the body for status 200; -1 for no response, another status
// or a deadline that passed; -2 for a body larger than kMaxDocumentBytes. `why` says what
// failed, for the log (in English); empty for an answer with another status. `answer`,
// when given, receives the HTTP status (0 without a response), what failed in the words of
// the row's record (empty when an answer arrived whole), and the transport's failure.
struct DocumentAnswer {
    int status = 0;
    std::string error;
    TransportFailure failure;
};
int FetchServerDocument(const ServerAddress& address, const std::string& path,
                        std::chrono::milliseconds deadline, std::string& body, std::string& why,
                        DocumentAnswer* answer = nullptr);

// Parses the body (GBK) into `doc`: 1, or -2 for text that is not JSON or nests deeper than
// kMaxDocumentDepth. `why` names the depth limit when that was the cause.
int ParseServerDocument(const std::string& gbkBody, nlohmann::json& doc, std::string& why);
