#include "engine/server_document.h"

#include "probes/textconv.h"

#include <stdexcept>

namespace {

struct TooDeep : std::runtime_error {
    TooDeep() : std::runtime_error("too deep") {}
};

} // namespace

bool FetchSmallFile(const ServerAddress& address, const std::string& path, std::size_t maxBytes,
                    std::chrono::milliseconds deadline, FetchedBytes& out) {
    out = FetchedBytes();
    TransportRequest request;
    request.https = address.https;
    request.host = address.host;
    request.port = address.port;
    request.path = path;
    request.connectTimeout = std::chrono::milliseconds(3000);
    request.readTimeout = std::chrono::milliseconds(3000);
    request.deadline = deadline;
    const bool whole = MakeTransport()->Send(
        request,
        [&](const TransportResponse& response) {
            out.status = response.status;
            return response.status == 200; // no body otherwise
        },
        [&](const char* data, std::size_t length) {
            if (length > maxBytes - out.body.size()) {
                out.tooLarge = true;
                return false;
            }
            out.body.append(data, length);
            return true;
        },
        out.failure);
    // An answer with another status is an answer: what failed is its status.
    if (out.failure.error == TransportError::Cancelled && !out.tooLarge)
        out.failure = TransportFailure();
    if (!whole || out.status != 200) {
        out.body.clear();
        return false;
    }
    return true;
}

bool FetchSmallFile(const std::string& url, std::size_t maxBytes,
                    std::chrono::milliseconds deadline, FetchedBytes& out) {
    ServerAddress address;
    std::string path;
    if (!ParseServerUrl(url, address, path)) {
        out = FetchedBytes();
        out.failure.error = TransportError::BadRequest;
        out.failure.detail = "not an http:// or https:// URL with a host";
        return false;
    }
    return FetchSmallFile(address, path, maxBytes, deadline, out);
}

int FetchServerDocument(const ServerAddress& address, const std::string& path,
                        std::chrono::milliseconds deadline, std::string& body, std::string& why,
                        DocumentAnswer* answer) {
    body.clear();
    why.clear();
    FetchedBytes fetched;
    const bool ok = FetchSmallFile(address, path, kMaxDocumentBytes, deadline, fetched);
    if (answer) {
        answer->status = fetched.failure.error == TransportError::None ? fetched.status : 0;
        answer->failure = fetched.tooLarge ? TransportFailure() : fetched.failure;
        answer->error = DescribeTransportFailure(answer->failure);
    }
    if (fetched.tooLarge) {
        why = "the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes";
        return -2;
    }
    if (!ok) {
        why =
            fetched.failure.error == TransportError::None ? std::string() : fetched.failure.detail;
        return -1;
    }
    body = std::move(fetched.body);
    return 1;
}

int ParseServerDocument(const std::string& gbkBody, nlohmann::json& doc, std::string& why) {
    why.clear();
    // Called before each value is added; the depth of a container start is the number of
    // containers around it.
    const auto refuseDeep = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
        if ((event == nlohmann::json::parse_event_t::object_start ||
             event == nlohmann::json::parse_event_t::array_start) &&
            depth >= kMaxDocumentDepth)
            throw TooDeep();
        return true;
    };
    try {
        doc = nlohmann::json::parse(GbkToUtf8(gbkBody), refuseDeep);
        return 1;
    } catch (const TooDeep&) {
        why = "the document nests deeper than " + std::to_string(kMaxDocumentDepth) + " levels";
    } catch (const std::exception&) {
    }
    doc = nlohmann::json();
    return -2;
}
