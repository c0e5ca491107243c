#pragma once

#include "engine/server_address.h"

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

// GET of the document with the 3 s connect and read time-outs and an overall deadline.
// 1 with the body for status 200; -1 for no response, another status or a deadline that
// passed; -2 for a body larger than kMaxDocumentBytes (the transfer is cut there).
// `why` says what failed, for the log; empty for a plain network failure. `answer`, when
// given, receives the HTTP status (0 without a response) and the transport error's name.
struct DocumentAnswer {
    int status = 0;
    std::string error;
};
int FetchServerDocument(const ServerAddress& address, const std::string& path,
                        std::chrono::milliseconds deadline, std::string& body, std::string& why,
                        DocumentAnswer* answer = nullptr);

// Parses the body (GBK) into `doc`: 1, or -2 for text that is not JSON or nests deeper than
// kMaxDocumentDepth. `why` names the depth limit when that was the cause.
int ParseServerDocument(const std::string& gbkBody, nlohmann::json& doc, std::string& why);
