#include "common/log/diaglog.h"
#include "common/log/program_log.h"
#include "probes/log_folder.h"
#include "probes/native_path.h"
#include "scoped_work_dir.h"
#include "temp_machine.h"

#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <spdlog/spdlog.h>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

fs::path TodaysFile(const fs::path& workDir) {
    return workDir / "logs" / ("queldatool_" + Today() + ".txt");
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file split at CRLF; a bare LF anywhere fails the test.
std::vector<std::string> CrlfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CRLF";
    for (const auto& line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    return lines;
}

struct LineFields {
    std::string source;
    int line = 0;
    std::string thread;
    std::string message;
};

LineFields Parse(const std::string& line) {
    static const std::regex pattern(R"(^\[\d\d:\d\d:\d\d [+-]\d\d:\d\d\] \[source ([^\]]*)\] )"
                                    R"(\[line (\d+)\] \[thread (\d+)\] (.*)$)");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, pattern)) << line;
    if (m.empty()) {
        return {};
    }
    return {m[1], std::stoi(m[2]), m[3], m[4]};
}

class DiagLogTest : public ::testing::Test {
  protected:
    void TearDown() override { spdlog::drop(" "); }
    ScopedWorkDir work;
};

TEST_F(DiagLogTest, CreatesTheFolderAndTodaysFileWithAFilledPattern) {
    ASSERT_FALSE(fs::exists(work.dir() / "logs"));
    auto logger = CreateDiagLogger(work.dir().string());
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name(), " ");
    EXPECT_EQ(spdlog::get(" "), logger);

    const int line = __LINE__ + 1;
    SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "needInstall {} ", "x.exe");

    // Flushed by the time the call returns: no wait, no explicit flush.
    const auto lines = CrlfLines(ReadAll(TodaysFile(work.dir())));
    ASSERT_EQ(lines.size(), 1u);
    const LineFields f = Parse(lines[0]);
    EXPECT_EQ(f.source, "diaglog_test.cpp");
    EXPECT_EQ(f.line, line);
    EXPECT_EQ(f.message, "needInstall x.exe ");
}

TEST_F(DiagLogTest, SecondRunAppendsToTheSameFile) {
    SPDLOG_LOGGER_CALL(CreateDiagLogger(work.dir().string()), spdlog::level::err, "first {}", 1);
    SPDLOG_LOGGER_CALL(CreateDiagLogger(work.dir().string()), spdlog::level::err, "second {}", 2);

    const auto lines = CrlfLines(ReadAll(TodaysFile(work.dir())));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Parse(lines[0]).message, "first 1");
    EXPECT_EQ(Parse(lines[1]).message, "second 2");
}

TEST_F(DiagLogTest, AnotherThreadWritesItsOwnThreadId) {
    auto logger = CreateDiagLogger(work.dir().string());
    SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "from {}", "ui");
    std::thread worker(
        [logger] { SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "from {}", "w"); });
    worker.join();

    const auto lines = CrlfLines(ReadAll(TodaysFile(work.dir())));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(Parse(lines[0]).thread, Parse(lines[1]).thread);
}

TEST_F(DiagLogTest, AnEarlierHolderKeepsWritingToItsOwnFile) {
    ScopedWorkDir other;
    auto first = CreateDiagLogger(work.dir().string());
    auto second = CreateDiagLogger(other.dir().string());
    EXPECT_EQ(spdlog::get(" "), second) << "the newest set-up holds the name";

    SPDLOG_LOGGER_CALL(first, spdlog::level::err, "to first");
    SPDLOG_LOGGER_CALL(second, spdlog::level::err, "to second");
    EXPECT_EQ(Parse(CrlfLines(ReadAll(TodaysFile(work.dir()))).at(0)).message, "to first");
    EXPECT_EQ(Parse(CrlfLines(ReadAll(TodaysFile(other.dir()))).at(0)).message, "to second");
}

TEST_F(DiagLogTest, NoFileMeansALoggerWithoutSinks) {
    // "logs" exists as a regular file, so the folder cannot be made (even for root).
    std::ofstream(work.dir() / "logs") << "not a folder";
    std::shared_ptr<spdlog::logger> logger;
    ASSERT_NO_THROW(logger = CreateDiagLogger(work.dir().string()));
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name(), " ");
    EXPECT_TRUE(logger->sinks().empty());
    EXPECT_NO_THROW(SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "dropped {}", 1));

    // Once the obstacle is gone a new set-up writes again.
    fs::remove(work.dir() / "logs");
    auto recovered = CreateDiagLogger(work.dir().string());
    SPDLOG_LOGGER_CALL(recovered, spdlog::level::err, "kept {}", 2);
    EXPECT_EQ(Parse(CrlfLines(ReadAll(TodaysFile(work.dir()))).at(0)).message, "kept 2");
}

// The program's log says in its first line where it is and why: the working folder's logs,
// or the shared folder when logs cannot be made there.
TEST_F(DiagLogTest, TheProgramsFirstLineNamesItsFolder) {
    TempMachine machine; // where C:\ProgramData is
    const fs::path blocked = work.dir() / "只读";
    fs::create_directories(blocked);
    std::ofstream(blocked / "logs") << "a file where the folder belongs";
    const fs::path shared = fs::u8path(ToNativePath(kSharedLogFolder));
    struct Case {
        fs::path startedIn;
        fs::path file;
        std::string firstLine;
    };
    const Case cases[] = {
        {work.dir(), TodaysFile(work.dir()),
         "log folder " + (work.dir() / "logs").u8string() + " (the working folder's logs)"},
        {blocked, shared / ("queldatool_" + Today() + ".txt"),
         "log folder " + shared.u8string() + " (the working folder " + blocked.u8string() +
             " cannot be written)"},
    };
    for (const auto& c : cases) {
        auto logger = CreateProgramLogger(c.startedIn.u8string());
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "then {}", 1);
        logger->flush();
        const auto lines = CrlfLines(ReadAll(c.file));
        ASSERT_EQ(lines.size(), 2u) << c.file;
        EXPECT_EQ(Parse(lines[0]).source, "program_log.cpp");
        EXPECT_EQ(Parse(lines[0]).message, c.firstLine);
        EXPECT_EQ(Parse(lines[1]).message, "then 1");
        spdlog::drop(" ");
    }
}

} // namespace
