// The listener on its own, with handlers of the test's: clients that reset right after their
// request, a stop while a handler still works, and the log writer against a log that takes
// nothing. Built on its own so that it also runs under
// ThreadSanitizer (scripts/test-sanitizers).
#include "http_listener.h"
#include "log_writer.h"
#include "raw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <poll.h>
#include <sstream>
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
        for (auto until = Clock::now() + patience; Clock::now() < until;)
            if (listener_->OpenConnections() == count)
                return true;
            else
                std::this_thread::sleep_for(10ms);
        return false;
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

// A handler slower than a second (an upload that waits for its group's commit) gets its answer
// out when the stop comes meanwhile; past the grace, its connection is cut, and none is left
// once Stop has returned.
TEST_F(ListenerTest, AStopWaitsForAHandlerWithinItsGraceAndLeavesNoConnection) {
    for (const auto grace : {10000ms, 300ms}) {
        SCOPED_TRACE(grace.count());
        HttpLimits limits;
        limits.stopGrace = grace;
        std::atomic<bool> handling{false};
        Start(
            [&handling](const HttpRequest&, HttpResponse& res) {
                handling = true;
                std::this_thread::sleep_for(1500ms);
                res.SetContent("committed\n", "text/plain");
            },
            limits);
        RawClient client;
        ASSERT_TRUE(client.Connect(port_));
        client.Send("POST /x HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}");
        for (int i = 0; i < 200 && !handling; ++i)
            std::this_thread::sleep_for(5ms);
        Stop();
        EXPECT_EQ(listener_->OpenConnections(), 0);
        const std::string answer = client.ReadUntilClose(1s);
        EXPECT_EQ(answer.find("committed") != std::string::npos, grace > 1500ms) << answer;
        listener_.reset();
    }
}

// A log that takes nothing costs lines, not the writer's time; read again, it has whole lines
// and, in their place, how many were dropped.
TEST(LogWriterTest, LinesThatDoNotFitAreCountedInTheirPlace) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* out = ::fdopen(fds[1], "w");
    auto writer = std::make_unique<LogWriter>(out, 16 * 1024);
    const auto start = Clock::now();
    for (int i = 0; i < 5000; ++i) // 500 KB: eight times the pipe
        writer->Write(std::string(99, 'x'));
    writer->Write("last");
    EXPECT_LT(Clock::now() - start, 1s);
    std::string text;
    char buffer[65536];
    for (auto end = Clock::now() + 3s;
         text.find("last\n") == std::string::npos && Clock::now() < end;)
        if (pollfd p{fds[0], POLLIN, 0}; ::poll(&p, 1, 50) > 0)
            text.append(buffer, static_cast<std::size_t>(
                                    std::max<ssize_t>(0, ::read(fds[0], buffer, sizeof buffer))));
    ASSERT_GE(text.size(), 5u);
    // Every line either written whole or counted.
    int whole = 0, dropped = 0, other = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line == std::string(99, 'x'))
            ++whole;
        else if (line.rfind('(', 0) == 0 && line.find(" log lines dropped") != std::string::npos)
            dropped += std::atoi(line.c_str() + 1);
        else
            other += line != "last";
    EXPECT_EQ(whole + dropped, 5000);
    EXPECT_GT(dropped, 1000);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(text.substr(text.size() - 5), "last\n");
    writer.reset();
    std::fclose(out);
    ::close(fds[0]);
}

} // namespace
