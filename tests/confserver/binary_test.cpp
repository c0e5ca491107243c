// The built quelda-confserver, run as a child process the way administrators and scripts do.
#include "child_process.h"
#include "confserver_paths.h"
#include "file_bytes.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class BinaryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("confserver-bin-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "files" / "hebei");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const fs::path& rel, const std::string& content) {
        std::ofstream(dir_ / rel, std::ios::binary) << content;
        return (dir_ / rel).string();
    }
    // The example document with its installers on another server, except the hebei tool's.
    std::string DocumentWithToolUrl(const std::string& url) {
        nlohmann::ordered_json doc =
            nlohmann::ordered_json::parse(ReadFile(kExamples + "/server-config.json"));
        Elsewhere(doc);
        doc["hebei"]["tool"]["url"] = url;
        return Write("doc.json", doc.dump(2));
    }
    static void Elsewhere(nlohmann::ordered_json& v) {
        if (v.is_string() && v.get<std::string>().rfind("{{BASE}}", 0) == 0)
            v = "http://mirror.example" + v.get<std::string>().substr(8);
        else if (v.is_structured())
            for (auto& item : v)
                Elsewhere(item);
    }

    fs::path dir_;
};

TEST_F(BinaryTest, CheckExitsZeroForTheExampleAndTwoWithOneLinePerProblem) {
    ProcessResult ok = RunProcess({Server(), "--check", kExamples + "/server-config.json"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("valid"), std::string::npos);

    nlohmann::ordered_json doc =
        nlohmann::ordered_json::parse(ReadFile(kExamples + "/server-config.json"));
    doc["shanxi"]["driver"][1]["url"] = "ftp://cdn.example/skf.exe";
    doc.erase("neimeng");
    std::string file = Write("bad.json", doc.dump());
    ProcessResult bad = RunProcess({Server(), "--check", file});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find(file + ": shanxi.driver[1].url: must start with http://"),
              std::string::npos)
        << bad.err;
    EXPECT_NE(bad.err.find(file + ": neimeng: region is missing\n"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");

    // Valid, with a warning for the installer nothing protects; https needs none.
    nlohmann::ordered_json plain =
        nlohmann::ordered_json::parse(ReadFile(kExamples + "/server-config.json"));
    plain["shanxi"]["tool"]["url"] = "http://10.0.0.5/files/tool.exe";
    plain["shanxi"]["tool"].erase("sha256");
    plain["hebei"]["tool"]["url"] = "https://bid.example/files/tool.exe";
    const std::string plainFile = Write("plain.json", plain.dump());
    ProcessResult warned = RunProcess({Server(), "--check", plainFile});
    EXPECT_EQ(warned.exitCode, 0) << warned.err;
    EXPECT_NE(warned.err.find(plainFile + ": warning: shanxi.tool.url: plain http:// without "
                                          "sha256"),
              std::string::npos)
        << warned.err;
    EXPECT_EQ(warned.err.find("hebei.tool.url"), std::string::npos) << warned.err;

    ProcessResult broken = RunProcess({Server(), "--check", Write("broken.json", "{")});
    EXPECT_EQ(broken.exitCode, 2);
    ProcessResult usage = RunProcess({Server(), "--port", "x", file});
    EXPECT_EQ(usage.exitCode, 2);
}

TEST_F(BinaryTest, RefusesToServeAnInvalidDocument) {
    std::string file = DocumentWithToolUrl("http://10.0.0.5");
    Child child({Server(), "--port", "0", file});
    std::string line;
    EXPECT_FALSE(child.ReadLine(line, 5s)) << line;
    EXPECT_EQ(child.Wait(5s), 2);
    EXPECT_NE(child.Err().find("hebei.tool.url: must have a path"), std::string::npos)
        << child.Err();
}

TEST_F(BinaryTest, ServesOnAChosenPortWithTheBaseFilledInAndStopsOnSignals) {
    Write("files/hebei/tool.exe", "installer bytes");
    std::string file = DocumentWithToolUrl("{{BASE}}/files/hebei/tool.exe");
    for (int sig : {SIGTERM, SIGINT}) {
        Child child({Server(), "--port", "0", "--files", (dir_ / "files").string(), file});
        int port = StartedPort(child);
        ASSERT_GT(port, 0) << child.Err();

        httplib::Client client("127.0.0.1", port);
        auto doc = client.Get("/envcheck/config.json");
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->status, 200);
        std::string base = "http://127.0.0.1:" + std::to_string(port);
        EXPECT_NE(doc->body.find("\"" + base + "/files/hebei/tool.exe\""), std::string::npos);
        EXPECT_EQ(doc->body.find("{{BASE}}"), std::string::npos);

        auto tool = client.Get("/files/hebei/tool.exe");
        ASSERT_TRUE(tool);
        EXPECT_EQ(tool->body, "installer bytes");

        child.Signal(sig);
        EXPECT_EQ(child.Wait(10s), 0) << "signal " << sig << "\n" << child.Err();
        EXPECT_NE(child.Err().find("GET /files/hebei/tool.exe 200 15 bytes\n"), std::string::npos)
            << child.Err();
    }
}

TEST_F(BinaryTest, BaseUrlOptionAndDocumentPathOption) {
    std::string file = DocumentWithToolUrl("{{BASE}}/files/hebei/tool.exe");
    Child child({Server(), "--port", "0", "--path", "/cfg/doc.json", "--base-url",
                 "http://192.0.2.10:9000", file});
    int port = StartedPort(child);
    ASSERT_GT(port, 0) << child.Err();
    httplib::Client client("127.0.0.1", port);
    auto doc = client.Get("/cfg/doc.json");
    ASSERT_TRUE(doc);
    EXPECT_NE(doc->body.find("\"http://192.0.2.10:9000/files/hebei/tool.exe\""), std::string::npos);
    auto old = client.Get("/envcheck/config.json");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->status, 404);
    // The tool's file is not in any served folder: the server says so but still starts.
    EXPECT_NE(child.Err().find("warning: hebei.tool.url"), std::string::npos) << child.Err();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(10s), 0);
}

TEST_F(BinaryTest, PortInUseIsARunTimeFailure) {
    std::string file = Write("doc.json", ReadFile(kExamples + "/server-config.json"));
    Child first({Server(), "--port", "0", file});
    int port = StartedPort(first);
    ASSERT_GT(port, 0);
    ProcessResult second = RunProcess({Server(), "--port", std::to_string(port), file});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10s), 0);
}

TEST_F(BinaryTest, FillSha256WritesTheDigestOfEachServedFile) {
    Write("files/hebei/tool.exe", "abc");
    std::string file = DocumentWithToolUrl("{{BASE}}/files/hebei/tool.exe");
    std::string original = ReadFile(file);
    std::string files = (dir_ / "files").string();
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

    // Into another file: the document itself stays as it was.
    std::string out = (dir_ / "filled.json").string();
    ProcessResult toOutput =
        RunProcess({Server(), "--fill-sha256", "--files", files, "--output", out, file});
    EXPECT_EQ(toOutput.exitCode, 0) << toOutput.err;
    EXPECT_EQ(ReadFile(file), original);
    auto filled = nlohmann::ordered_json::parse(ReadFile(out));
    EXPECT_EQ(filled["hebei"]["tool"]["sha256"], abc);
    EXPECT_EQ(filled["hebei"]["tool"]["size"], 3);
    EXPECT_FALSE(filled["shanxi"]["tool"].contains("sha256")) << "not served from --files";
    EXPECT_EQ(filled.begin().key(), "shanxi") << "member order kept";
    EXPECT_EQ(
        filled["hebei"]["framework"]["path"],
        "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full");

    // In place, through the base URL form as well.
    std::string absolute = DocumentWithToolUrl("http://10.0.0.5:8080/files/hebei/tool.exe");
    ProcessResult inPlace = RunProcess({Server(), "--fill-sha256", "--files", files, "--base-url",
                                        "http://10.0.0.5:8080", absolute});
    EXPECT_EQ(inPlace.exitCode, 0) << inPlace.err;
    EXPECT_EQ(nlohmann::json::parse(ReadFile(absolute))["hebei"]["tool"]["sha256"], abc);
}

TEST_F(BinaryTest, FillSha256WritesNothingWhenAServedFileIsMissing) {
    Write("files/hebei/tool.exe", "abc");
    nlohmann::ordered_json doc =
        nlohmann::ordered_json::parse(ReadFile(kExamples + "/server-config.json"));
    Elsewhere(doc);
    doc["hebei"]["tool"]["url"] = "{{BASE}}/files/hebei/tool.exe";
    doc["neimeng"]["tool"]["url"] = "{{BASE}}/files/neimeng/gone.exe";
    std::string file = Write("doc.json", doc.dump(2));
    std::string original = ReadFile(file);
    ProcessResult result =
        RunProcess({Server(), "--fill-sha256", "--files", (dir_ / "files").string(), file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("neimeng.tool.url: no file"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(file), original);
}

} // namespace

namespace {

// An export holds what the server would serve: no link out of the files folder, no dotfile.
TEST_F(BinaryTest, ExportLeavesOutLinksOutOfTheFilesFolderAndDotfiles) {
    fs::create_directories(dir_ / "outside");
    fs::create_directories(dir_ / "files" / ".git");
    Write("files/hebei/tool.exe", "tool");
    Write("outside/secret.txt", "secret");
    Write("files/.git/config", "git");
    Write("files/.htaccess", "deny");
    fs::create_symlink(dir_ / "outside" / "secret.txt", dir_ / "files" / "hebei" / "a.exe");
    fs::create_symlink(dir_ / "files" / "hebei" / "tool.exe", dir_ / "files" / "inside.exe");
    const std::string file = DocumentWithToolUrl("{{BASE}}/files/hebei/tool.exe");
    const fs::path out = dir_ / "export";
    const ProcessResult exported =
        RunProcess({Server(), "--export", out.string(), "--base-url", "http://10.0.0.5:8080",
                    "--files", (dir_ / "files").string(), file});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(ReadFile(out / "files" / "hebei" / "tool.exe"), "tool");
    EXPECT_EQ(ReadFile(out / "files" / "inside.exe"), "tool") << "a link inside is served";
    EXPECT_FALSE(fs::exists(out / "files" / "hebei" / "a.exe"));
    EXPECT_FALSE(fs::exists(out / "files" / ".git"));
    EXPECT_FALSE(fs::exists(out / "files" / ".htaccess"));
    for (const char* said : {"not exported: hebei/a.exe (a link that leads outside the files "
                             "folder)",
                             "not exported: .git (a dotfile)", "not exported: .htaccess"})
        EXPECT_NE(exported.err.find(said), std::string::npos) << said << "\n" << exported.err;
    EXPECT_NE(exported.err.find("document and 2 file(s)"), std::string::npos) << exported.err;
}

} // namespace
