// --report FILE: a FIFO is written in place, a symbolic link's target is written, a regular
// file is replaced whole.
#include "app/report_file.h"
#include "file_bytes.h"
#include "scoped_work_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(ReportFile, WhatIsNotARegularFileIsWrittenWhereItIsAndARegularFileIsReplacedWhole) {
    ScopedWorkDir work;
    const fs::path dir = work.dir();

    // Both ends of the FIFO held here: the writer never waits, and a FIFO that was
    // replaced shows as nothing to read rather than a hang.
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(WriteReportFile(fifo.string(), "through the pipe"));
    char buffer[64] = {};
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));

    // Relative links, to a file and to one not there yet: the links stay, the targets change.
    std::ofstream(dir / "target.json") << "old";
    fs::create_symlink("target.json", dir / "link.json");
    fs::create_symlink("new.json", dir / "dangling.json");
    for (const char* link : {"link.json", "dangling.json"}) {
        EXPECT_TRUE(WriteReportFile((dir / link).string(), link)) << link;
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    }
    EXPECT_EQ(ReadFile(dir / "target.json"), "link.json");
    EXPECT_EQ(ReadFile(dir / "new.json"), "dangling.json");

    // Replaced, not rewritten in place: another name of the old file keeps the old bytes.
    std::ofstream(dir / "plain.json") << "old";
    fs::create_hard_link(dir / "plain.json", dir / "old.json");
    EXPECT_TRUE(WriteReportFile((dir / "plain.json").string(), "new"));
    EXPECT_EQ(ReadFile(dir / "plain.json"), "new");
    EXPECT_EQ(ReadFile(dir / "old.json"), "old");
}

} // namespace
