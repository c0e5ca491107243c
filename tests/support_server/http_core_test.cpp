// The listener on its own, with handlers of the test's: clients that reset right after their
// request, a stop while a handler still works, a stop with connections left open, and the log
// writer against a log that takes nothing. Built on its own so that it also runs under
// ThreadSanitizer (scripts/test-sanitizers).
#include "http_listener.h"
#include "log_writer.h"
#include "raw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class ListenerTest : public ::testing::Test {
  protected:
    void TearDown() override { Stop(); }
    void Start(HttpListener::Handler handler, HttpLimits limits = HttpLimits{}) {
        listener_ = std::make_unique<HttpListener>(limits, std::move(handler));
        port_ = listener_->Bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { listener_->Listen(); });
        for (int i = 0; i < 400 && !listener_->IsRunning(); ++i)
            std::this_thread::sleep_for(5ms);
    }
    void Stop() {
        if (listener_)
            listener_->Stop();
        if (thread_.joinable())
            thread_.join();
    }
    int Get(const std::string& from = "127.0.0.1") {
        RawClient client;
        if (!client.Connect(port_, from) ||
            !client.Send("GET /x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))
            return 0;
        return StatusOf(client.ReadUntilClose(2s));
    }
    bool OpenFallsTo(int count, std::chrono::milliseconds patience) {
        for (auto until = Clock::now() + patience; Clock::now() < until;) {
            if (listener_->OpenConnections() == count)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return listener_->OpenConnections() == count;
    }

    std::unique_ptr<HttpListener> listener_;
    std::thread thread_;
    int port_ = 0;
};

void Answer(const HttpRequest&, HttpResponse& res) {
    res.SetContent("answer\n", "text/plain");
}

// Every connection ends on the I/O thread, whichever thread held it last; ThreadSanitizer
// reports it otherwise.
TEST_F(ListenerTest, ClientsThatResetRightAfterTheirRequestLeaveItsCountsWhole) {
    HttpLimits limits;
    limits.maxPerAddress = 64;
    limits.maxPerNetwork = 1000;
    Start(Answer, limits);
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t)
        clients.emplace_back([this, t] {
            const std::string from = "127.0.4." + std::to_string(t + 1);
            for (int i = 0; i < 150; ++i) {
                RawClient client;
                if (!client.Connect(port_, from))
                    continue;
                client.Send("GET /x HTTP/1.1\r\nHost: x\r\n\r\n");
                if (i % 3 == 0)
                    std::this_thread::yield(); // some resets come while the handler runs
                client.Reset();
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_TRUE(OpenFallsTo(0, 3s)) << listener_->OpenConnections() << " still open";
    EXPECT_EQ(Get("127.0.4.1"), 200);
    EXPECT_EQ(Get("127.0.4.2"), 200);
}

// A handler slower than a second (an upload that waits for its group's commit) still gets its
// answer out when the stop comes meanwhile.
TEST_F(ListenerTest, AStopWaitsForAHandlerThatTakesLongerThanASecond) {
    std::atomic<bool> handling{false};
    Start([&handling](const HttpRequest&, HttpResponse& res) {
        handling = true;
        std::this_thread::sleep_for(1800ms);
        res.SetContent("committed\n", "text/plain");
    });
    RawClient client;
    ASSERT_TRUE(client.Connect(port_));
    client.Send("POST /x HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}");
    for (int i = 0; i < 200 && !handling; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(handling);
    const auto start = Clock::now();
    Stop();
    EXPECT_LT(Clock::now() - start, 5s);
    const std::string answer = client.ReadUntilClose(1s);
    EXPECT_EQ(StatusOf(answer), 200) << answer;
    EXPECT_NE(answer.find("committed"), std::string::npos) << answer;
}

// When Stop returns, no connection is left: each was closed and released while the listener
// still had everything its ending touches.
TEST_F(ListenerTest, NoConnectionOutlivesTheStop) {
    HttpLimits limits;
    limits.stopGrace = 300ms;
    Start(Answer, limits);
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(clients.back()->Connect(port_));
    }
    clients[0]->Send("GET /x HTTP/1.1\r\nHost: x\r\n");     // a request half sent
    clients[1]->Send("GET /x HTTP/1.1\r\nHost: x\r\n\r\n"); // kept alive after its answer
    EXPECT_EQ(StatusOf(clients[1]->ReadSome(2s)), 200);
    ASSERT_TRUE(OpenFallsTo(6, 2s));
    Stop();
    EXPECT_EQ(listener_->OpenConnections(), 0);
    for (auto& c : clients)
        EXPECT_TRUE(c->ClosedWithin(1s));
    listener_.reset();
}

std::string ReadFor(int fd, std::chrono::milliseconds patience, const std::string& until) {
    std::string text;
    char buffer[65536];
    for (auto end = Clock::now() + patience; Clock::now() < end;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (text.find(until) != std::string::npos)
            break;
    }
    return text;
}

TEST(LogWriterTest, ALogThatTakesNothingCostsLinesNotTime) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* out = ::fdopen(fds[1], "w");
    ASSERT_NE(out, nullptr);
    auto writer = std::make_unique<LogWriter>(out, 16 * 1024);
    const std::string line(99, 'x');
    const auto start = Clock::now();
    for (int i = 0; i < 5000; ++i) // 500 KB: eight times the pipe
        writer->Write(line);
    EXPECT_LT(Clock::now() - start, 1s);

    // Read at last: whole lines, then the count of those that did not fit.
    const std::string text = ReadFor(fds[0], 3s, "log lines dropped");
    EXPECT_EQ(text.substr(0, 100), line + "\n");
    const std::size_t note = text.find("log lines dropped");
    ASSERT_NE(note, std::string::npos) << text.size() << " bytes";
    const std::size_t open = text.rfind('(', note);
    ASSERT_NE(open, std::string::npos);
    const int dropped = std::atoi(text.c_str() + open + 1);
    EXPECT_GT(dropped, 3000);
    EXPECT_LT(dropped, 5000);

    // Ended while nobody reads: it gives up after a second instead of waiting for good.
    for (int i = 0; i < 2000; ++i)
        writer->Write(line);
    std::this_thread::sleep_for(200ms);
    const auto ending = Clock::now();
    writer.reset();
    EXPECT_LT(Clock::now() - ending, 3s);
    std::fclose(out);
    ::close(fds[0]);
}

} // namespace
