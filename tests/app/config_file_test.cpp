#include "app/configfile.h"
#include "scoped_work_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>

namespace {

struct ConfigCase {
    const char* name;
    std::optional<std::string> file; // nullopt: no config.json at all
    bool read;                       // ReadConfig's result
    const char* stdoutPrefix;        // "" when nothing may be printed
    const char* title;
    const char* ipPort;
    const char* url;
    int width;
    int high;
};

const char kFull[] = R"({"mainCfg": {"topTitle": "T", "ipPort": "127.0.0.1:8080",)"
                     R"( "url": "/c.json", "width": 800, "high": 600}})";

const ConfigCase kCases[] = {
    {"Missing", std::nullopt, false, "", "", "", "", 960, 720},
    {"AllFive", kFull, true, "", "T", "127.0.0.1:8080", "/c.json", 800, 600},
    {"TrailingTextIgnored", std::string(kFull) + " trailing } garbage {", true, "", "T",
     "127.0.0.1:8080", "/c.json", 800, 600},
    {"OtherMembersIgnored",
     R"({"x": 1, "mainCfg": {"y": [], "topTitle": "检测工具", "ipPort": "h", "url": "/u",)"
     R"( "width": 1, "high": 2}})",
     true, "", "检测工具", "h", "/u", 1, 2},
    {"FractionTruncatedTowardZero",
     R"({"mainCfg": {"topTitle": "", "ipPort": "", "url": "", "width": 1000.9, "high": -5.7}})",
     true, "", "", "", "", 1000, -5},
    {"BooleanAsNumber",
     R"({"mainCfg": {"topTitle": "", "ipPort": "", "url": "", "width": true, "high": false}})",
     true, "", "", "", "", 1, 0},
    {"WidthAsStringStopsThere",
     R"({"mainCfg": {"topTitle": "T", "ipPort": "h:1", "url": "/u", "width": "1000",)"
     R"( "high": 600}})",
     true, "json parse error:", "T", "h:1", "/u", 960, 720},
    {"WrongTypeInTheMiddle",
     R"({"mainCfg": {"topTitle": "T", "ipPort": 8080, "url": "/u", "width": 1, "high": 2}})", true,
     "json parse error:", "T", "", "", 960, 720},
    {"NullIsWrongType",
     R"({"mainCfg": {"topTitle": null, "ipPort": "h", "url": "/u", "width": 1, "high": 2}})", true,
     "json parse error:", "", "", "", 960, 720},
    {"RootNotObject", "[1, 2, 3]", true, "json parse error:", "", "", "", 960, 720},
    {"MainCfgNotObject", R"({"mainCfg": "x"})", true, "json parse error:", "", "", "", 960, 720},
    {"MainCfgAbsent", R"({"other": {}})", true, "json parse error:", "", "", "", 960, 720},
    {"AbsentMemberSkipped",
     R"({"mainCfg": {"topTitle": "T", "ipPort": "h", "width": 1024, "high": 768}})", true,
     "json parse error:", "T", "h", "", 1024, 768},
    {"WidthOutOfIntRange",
     R"({"mainCfg": {"topTitle": "T", "ipPort": "h", "url": "/u", "width": 1e12, "high": 2}})",
     true, "json parse error:", "T", "h", "/u", 960, 720},
    {"HugeUnsignedWidth",
     R"({"mainCfg": {"topTitle": "T", "ipPort": "h", "url": "/u", "width": 4294967296,)"
     R"( "high": 2}})",
     true, "json parse error:", "T", "h", "/u", 960, 720},
    {"SyntaxError", R"({"mainCfg": {"topTitle": "T")", false, "config read error : ", "", "", "",
     960, 720},
    {"CommentsRejected", "// title\n" + std::string(kFull), false, "config read error : ", "", "",
     "", 960, 720},
    {"EmptyFile", "", false, "config read error : ", "", "", "", 960, 720},
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ReadConfigTest, FillsWhatItCanAndReportsTheRest) {
    const ConfigCase& c = GetParam();
    ScopedWorkDir work;
    if (c.file) {
        std::ofstream(work.dir() / "config.json", std::ios::binary) << *c.file;
    }

    MainConfig cfg;
    ::testing::internal::CaptureStdout();
    const bool read = ReadConfig(cfg);
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(read, c.read);
    if (*c.stdoutPrefix == '\0') {
        EXPECT_EQ(out, "");
    } else {
        EXPECT_EQ(out.rfind(c.stdoutPrefix, 0), 0u) << out;
        EXPECT_GT(out.size(), std::string(c.stdoutPrefix).size()) << "message text missing";
        EXPECT_EQ(out.find('\n'), std::string::npos) << "the messages have no line end";
    }
    EXPECT_EQ(cfg.topTitle, QString::fromUtf8(c.title));
    EXPECT_EQ(cfg.ipPort, c.ipPort);
    EXPECT_EQ(cfg.url, c.url);
    EXPECT_EQ(cfg.width, c.width);
    EXPECT_EQ(cfg.high, c.high);
}

INSTANTIATE_TEST_SUITE_P(ConfigJson, ReadConfigTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadConfig, LooksInTheCurrentDirectoryOnly) {
    ScopedWorkDir outer;
    std::ofstream(outer.dir() / "config.json") << kFull;
    std::filesystem::create_directory(outer.dir() / "inner");
    std::filesystem::current_path(outer.dir() / "inner");

    MainConfig cfg;
    EXPECT_FALSE(ReadConfig(cfg));
    EXPECT_EQ(cfg.width, 960);
}

TEST(ParseMainCfg, ReportsWhetherAllFiveWereRead) {
    MainConfig cfg;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(ParseMainCfg(nlohmann::json::parse(kFull), cfg));
    EXPECT_FALSE(ParseMainCfg(nlohmann::json::parse(R"({"mainCfg": {"topTitle": "x"}})"), cfg));
    ::testing::internal::GetCapturedStdout();
    // The second document replaced only the member it had.
    EXPECT_EQ(cfg.topTitle, "x");
    EXPECT_EQ(cfg.ipPort, "127.0.0.1:8080");
    EXPECT_EQ(cfg.width, 800);
}

// The document keys are read even where another member is broken, and only as texts.
TEST(ParseMainCfg, DocKeys) {
    struct Case {
        const char* mainCfg;
        std::vector<std::string> keys;
        bool reported;
    };
    const Case cases[] = {
        {R"({"docKeys": ["RWQa", "RWQb"], "width": "wide"})", {"RWQa", "RWQb"}, false},
        {R"({"docKeys": []})", {}, false},
        {R"({"docKeys": "RWQa"})", {}, true},
        {R"({"docKeys": ["RWQa", 3]})", {}, true},
        {R"({})", {}, false},
    };
    for (const Case& c : cases) {
        MainConfig cfg;
        cfg.docKeys = {"left over"};
        ::testing::internal::CaptureStdout();
        ParseMainCfg(nlohmann::json::parse(std::string(R"({"mainCfg": )") + c.mainCfg + "}"), cfg);
        const std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(cfg.docKeys, c.keys) << c.mainCfg;
        EXPECT_EQ(printed.find("docKeys") != std::string::npos, c.reported)
            << c.mainCfg << ": " << printed;
    }
}

} // namespace
