// The operator's steps for a signed document, through the built quelda-confserver: fill the
// hashes, export, sign the exported document with minisign, check it, serve it byte for byte.
#include "child_process.h"
#include "confserver_paths.h"
#include "file_bytes.h"
#include "minisign_keys.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SignedDocumentTool : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("confserver-signed-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The example document, with its hashes filled in or not, exported into `name`; the
    // exported document's path.
    fs::path Export(const std::string& name, bool hashes) {
        std::string document = kExamples + "/server-config.json";
        if (hashes) {
            const ProcessResult filled =
                RunProcess({Server(), "--fill-sha256", "--files", kExamples + "/installers",
                            "--output", (dir_ / "filled.json").string(), document});
            EXPECT_EQ(filled.exitCode, 0) << filled.err;
            EXPECT_TRUE(Contains(filled.err, "sign the exported document again")) << filled.err;
            document = (dir_ / "filled.json").string();
        }
        const ProcessResult exported =
            RunProcess({Server(), "--export", (dir_ / name).string(), "--base-url",
                        "http://127.0.0.1:1", "--files", kExamples + "/installers", document});
        EXPECT_EQ(exported.exitCode, 0) << exported.err;
        return dir_ / name / "envcheck" / "config.json";
    }

    ProcessResult Check(const fs::path& document, const testnet::MinisignKeys& key) {
        return RunProcess(
            {Server(), "--check", "--doc-key", key.publicFile().string(), document.string()});
    }

    fs::path dir_;
};

TEST_F(SignedDocumentTool, CheckListsWhatTheToolWouldRefuse) {
    const testnet::MinisignKeys key(dir_ / "keys", "operator");
    const testnet::MinisignKeys other(dir_ / "keys", "other");
    const std::string comment = "serial=5 expires=" + testnet::UtcFromNow(86400);
    const fs::path document = Export("export", true);

    const ProcessResult unsignedCheck = Check(document, key);
    EXPECT_EQ(unsignedCheck.exitCode, 2);
    EXPECT_TRUE(Contains(unsignedCheck.err, document.string() + ".minisig: missing"))
        << unsignedCheck.err;

    key.SignFile(document, comment);
    const ProcessResult good = Check(document, key);
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.out, document.string() + ": valid, signed by key " + key.KeyId() +
                            ", serial 5, expires " + comment.substr(comment.find('=', 9) + 1) +
                            "\n");
    EXPECT_FALSE(Contains(good.err, "warning")) << good.err;

    // An installer without its size is still valid, with a warning.
    auto filled = nlohmann::ordered_json::parse(ReadFile((dir_ / "filled.json").string()));
    filled["hebei"]["tool"].erase("size");
    std::ofstream(dir_ / "unsized.json") << filled.dump(2);
    const ProcessResult unsizedExport = RunProcess(
        {Server(), "--export", (dir_ / "unsized").string(), "--base-url", "http://127.0.0.1:1",
         "--files", kExamples + "/installers", (dir_ / "unsized.json").string()});
    ASSERT_EQ(unsizedExport.exitCode, 0) << unsizedExport.err;
    const fs::path unsized = dir_ / "unsized" / "envcheck" / "config.json";
    key.SignFile(unsized, comment);
    const ProcessResult unsizedCheck = Check(unsized, key);
    EXPECT_EQ(unsizedCheck.exitCode, 0) << unsizedCheck.err;
    EXPECT_TRUE(Contains(unsizedCheck.err, "warning: hebei.tool: no size")) << unsizedCheck.err;
    EXPECT_EQ(std::count(unsizedCheck.err.begin(), unsizedCheck.err.end(), '\n'), 1)
        << unsizedCheck.err;

    const ProcessResult wrongKey = Check(document, other);
    EXPECT_EQ(wrongKey.exitCode, 2);
    EXPECT_TRUE(Contains(wrongKey.err, "unknown key " + key.KeyId())) << wrongKey.err;

    // Exporting again replaces the document: the old signature goes with it.
    const ProcessResult again =
        RunProcess({Server(), "--export", (dir_ / "export").string(), "--base-url",
                    "http://127.0.0.1:1", kExamples + "/server-config.json"});
    EXPECT_TRUE(Contains(again.err, "removed")) << again.err;
    EXPECT_FALSE(fs::exists(document.string() + ".minisig"));

    // Signed, but without the hashes: every installer entry is listed.
    const fs::path bare = Export("bare", false);
    key.SignFile(bare, comment);
    const ProcessResult noHashes = Check(bare, key);
    EXPECT_EQ(noHashes.exitCode, 2);
    for (const char* entry :
         {"shanxi.framework: no sha256", "hebei.tool: no sha256", "neimeng.driver[1]: no sha256"})
        EXPECT_TRUE(Contains(noHashes.err, entry)) << entry << "\n" << noHashes.err;
    EXPECT_TRUE(Contains(noHashes.err, "11 problem(s)")) << noHashes.err;

    // A comment without an expiry.
    key.SignFile(document, "serial=5");
    const ProcessResult noExpiry = Check(document, key);
    EXPECT_EQ(noExpiry.exitCode, 2);
    EXPECT_TRUE(Contains(noExpiry.err, "no expires=")) << noExpiry.err;
}

TEST_F(SignedDocumentTool, SignedServerServesTheExportByteForByte) {
    const testnet::MinisignKeys key(dir_ / "keys", "operator");
    const testnet::MinisignKeys other(dir_ / "keys", "other");
    const fs::path document = Export("export", true);
    key.SignFile(document, "serial=5 expires=" + testnet::UtcFromNow(86400));

    Child server({Server(), "--port", "0", "--signed", "--doc-key", key.publicFile().string(),
                  "--files", kExamples + "/installers", document.string()});
    const int port = StartedPort(server);
    ASSERT_GT(port, 0) << server.Err();
    httplib::Client client("127.0.0.1", port);
    const auto body = client.Get("/envcheck/config.json");
    const auto signature = client.Get("/envcheck/config.json.minisig");
    ASSERT_TRUE(body && signature);
    EXPECT_EQ(body->status, 200);
    EXPECT_EQ(body->body, ReadFile(document));
    EXPECT_EQ(signature->status, 200);
    EXPECT_EQ(signature->body, ReadFile(document.string() + ".minisig"));
    EXPECT_EQ(client.Get("/files/shanxi/QueldaBidTool_setup.exe")->status, 200);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(10s), 0);

    // A document that does not verify is not served; nor one without its signature.
    const ProcessResult refused = RunProcess({Server(), "--port", "0", "--signed", "--doc-key",
                                              other.publicFile().string(), document.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(Contains(refused.err, "not serving")) << refused.err;
    fs::remove(document.string() + ".minisig");
    const ProcessResult missing =
        RunProcess({Server(), "--port", "0", "--signed", document.string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.err, ".minisig")) << missing.err;
}

} // namespace
