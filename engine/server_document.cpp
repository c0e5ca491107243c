#include "engine/server_document.h"

#include "engine/request_deadline.h"
#include "probes/textconv.h"

#include <httplib.h>

#include <stdexcept>

namespace {

struct TooDeep : std::runtime_error {
    TooDeep() : std::runtime_error("too deep") {}
};

} // namespace

int FetchServerDocument(const ServerAddress& address, const std::string& path,
                        std::chrono::milliseconds deadline, std::string& body, std::string& why,
                        DocumentAnswer* answer) {
    body.clear();
    why.clear();
    httplib::Client client(address.host, address.port);
    client.set_connection_timeout(3, 0);
    client.set_read_timeout(3, 0);
    bool tooLarge = false;
    int status = 0;
    bool ok = false;
    bool late = false;
    {
        RequestDeadline watch(client, deadline);
        auto response = client.Get(
            path.c_str(),
            [&](const httplib::Response& r) {
                status = r.status;
                return r.status == 200; // no body otherwise
            },
            [&](const char* data, std::size_t length) {
                if (length > kMaxDocumentBytes - body.size()) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, length);
                return true;
            });
        ok = response && response->status == 200;
        late = watch.passed();
        if (answer) {
            answer->status = status;
            answer->error = status ? std::string() : httplib::to_string(response.error());
        }
    }
    if (tooLarge) {
        why = "the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes";
        body.clear();
        return -2;
    }
    if (late) {
        why = "no complete answer within " + std::to_string(deadline.count()) + " ms";
        body.clear();
        return -1;
    }
    if (!ok) {
        body.clear();
        return -1;
    }
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
