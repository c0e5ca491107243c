// The server document as a hostile server could send it: nested without end, huge, or
// trickled a byte at a time.
#include "engine_fixture.h"

#include "engine/server_document.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace enginetest;
using Strings = std::vector<std::string>;

namespace {

// A JSON object whose innermost array is `levels` containers deep.
std::string Nested(int levels) {
    return "{\"a\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
}

const std::string kRefusedDepth = "server document not used: the document nests deeper "
                                  "than 64 levels";
const std::string kRefusedSize = "server document not used: the document is larger than "
                                 "4194304 bytes";

struct LimitCase {
    const char* name;
    std::string body;
    int expected;   // the network row's code
    Strings logged; // what the check logs of a refused document
};

class DocumentLimits : public EngineTest {
  protected:
    void ExpectResults(const std::vector<LimitCase>& cases) {
        std::size_t seen = 0;
        for (const LimitCase& c : cases) {
            server.ServeBytes(kDocPath, c.body, 200, "application/json");
            EXPECT_EQ(Run(0).Values("CheckNetSig"), std::vector<int>{c.expected}) << c.name;
            const Strings all = Messages();
            // A usable document goes on to the checks, which may log of their own.
            if (c.expected < 0) {
                EXPECT_EQ(Strings(all.begin() + static_cast<long>(seen), all.end()), c.logged)
                    << c.name;
            }
            seen = all.size();
        }
    }
};

TEST_F(DocumentLimits, DepthBeyondTheLimitIsUnusable) {
    ExpectResults({
        {"64 levels", Nested(64), 1, {}},
        {"65 levels", Nested(65), -2, {kRefusedDepth}},
        {"20000 levels", Nested(20000), -2, {kRefusedDepth}},
    });
}

TEST_F(DocumentLimits, SizeBeyondTheLimitIsUnusable) {
    std::string largest = Nested(5);
    largest.resize(kMaxDocumentBytes, ' '); // blanks after the value are allowed
    ExpectResults({
        {"4 MB", largest, 1, {}},
        {"4 MB and one byte", largest + " ", -2, {kRefusedSize}},
    });
}

// Answers every connection with `head` at once, then trickles `tail` one byte per 200 ms.
class TrickleServer {
  public:
    TrickleServer(std::string head, std::string tail)
        : head_(std::move(head)), tail_(std::move(tail)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TrickleServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

  private:
    void Serve() {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_) {
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                continue;
            ::send(client, head_.data(), head_.size(), MSG_NOSIGNAL);
            for (std::size_t i = 0; i < tail_.size() && !stop_; ++i) {
                if (::send(client, &tail_[i], 1, MSG_NOSIGNAL) != 1)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            ::close(client);
        }
    }

    std::string head_, tail_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(DocumentDeadline, TrickleFailsLikeAnUnreachableServer) {
    const std::string body = std::string(3000, ' ') + "{}";
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                "Content-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n";
    const std::pair<std::string, std::string> trickles[] = {
        {"", headers + body}, // the status line and headers already
        {headers, body},      // only the body
    };
    for (const auto& [head, tail] : trickles) {
        TrickleServer trickle(head, tail);
        std::string received = "old", why;
        const auto start = std::chrono::steady_clock::now();
        const int res = FetchServerDocument(ServerAddress{"127.0.0.1", trickle.port()}, "/doc",
                                            std::chrono::milliseconds(1000), received, why);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(res, -1) << head.size();
        EXPECT_EQ(received, "");
        EXPECT_EQ(why, "no complete answer within 1000 ms");
        EXPECT_LT(elapsed, std::chrono::milliseconds(2500)) << head.size();
    }
}

} // namespace
