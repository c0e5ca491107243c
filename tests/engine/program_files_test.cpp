// Putting a release's files over the program's folder: all of them, or none.
#include "engine/update/program_files.h"

#include "file_bytes.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(ProgramFiles, AFailureHalfwayPutsEveryFileBack) {
    TempMachine machine;
    const fs::path release = machine.dir() / "release";
    const fs::path program = machine.dir() / "program";
    fs::create_directories(release / "image");
    fs::create_directories(program);
    std::ofstream(release / "a.dll") << "new a";
    std::ofstream(release / "b.dll") << "new b";
    std::ofstream(release / "image" / "logo.png") << "logo";
    std::ofstream(program / "a.dll") << "old a";
    std::ofstream(program / "image") << "a file where the release has a folder";

    std::string why;
    EXPECT_FALSE(ReplaceProgramFiles(release, {"a.dll", "b.dll", "image/logo.png"}, program, why));
    EXPECT_NE(why.find("image/logo.png"), std::string::npos) << why;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(program))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.dll", "image"}));
    EXPECT_EQ(ReadFile(program / "a.dll"), "old a");

    fs::remove(program / "image");
    ASSERT_TRUE(ReplaceProgramFiles(release, {"a.dll", "b.dll", "image/logo.png"}, program, why))
        << why;
    EXPECT_EQ(ReadFile(program / "a.dll"), "new a");
    EXPECT_EQ(ReadFile(program / "image" / "logo.png"), "logo");
    EXPECT_EQ(ReadFile(program / "a.dll.old-1"), "old a");
}

} // namespace
