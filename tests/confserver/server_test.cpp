#include "config_server.h"
#include "document.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace {

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("confserver-http-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "files" / "hebei");
        Write(dir_ / "secret.txt", "outside the files folder");
        Write(dir_ / "files" / "hebei" / "tool.exe", "#!/bin/sh\nexit 0\n");

        log_ = std::tmpfile();
        ConfigServer::Settings settings;
        settings.files.emplace();
        std::string error;
        ASSERT_TRUE(settings.files->Open((dir_ / "files").string(), error)) << error;
        settings.log = log_;
        server_ = std::make_unique<ConfigServer>(std::move(settings));
        port_ = server_->Bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);

        Document doc = Document::parse(
            R"({"hebei":{"framework":{"path":"计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\河北"}}})");
        std::string body;
        ASSERT_TRUE(EncodeDocumentGbk(doc, body, error)) << error;
        server_->SetDocument(body);
        thread_ = std::thread([this] { server_->Listen(); });
        for (int i = 0; i < 400 && !server_->IsRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_url_encode(false);
    }

    void TearDown() override {
        if (server_)
            server_->Stop();
        if (thread_.joinable())
            thread_.join();
        if (log_)
            std::fclose(log_);
        fs::remove_all(dir_);
    }

    static void Write(const fs::path& p, const std::string& content) {
        std::ofstream(p, std::ios::binary) << content;
    }

    int Status(const std::string& path) {
        auto res = client_->Get(path.c_str());
        return res ? res->status : -1;
    }

    // The line is written after the response has gone out, so it may come a moment later.
    std::string LogWith(const std::string& expected) {
        std::string log;
        for (int i = 0; i < 200; ++i) {
            log = Log();
            if (log.find(expected) != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return log;
    }

    std::string Log() {
        std::fflush(log_);
        std::rewind(log_);
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0)
            text.append(buf, n);
        return text;
    }

    fs::path dir_;
    std::FILE* log_ = nullptr;
    std::unique_ptr<ConfigServer> server_;
    int port_ = 0;
    std::thread thread_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(ServerTest, ServesTheDocumentAsGbkJson) {
    auto res = client_->Get("/envcheck/config.json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=GBK");
    // 计算机 and 河北 (BA D3 B1 B1) in GBK.
    EXPECT_NE(res->body.find("\xBC\xC6\xCB\xE3\xBB\xFA"), std::string::npos);
    EXPECT_NE(res->body.find("\xBA\xD3\xB1\xB1"), std::string::npos);
    EXPECT_EQ(res->body.find("计算机"), std::string::npos);
    std::string line =
        "GET /envcheck/config.json 200 " + std::to_string(res->body.size()) + " bytes\n";
    EXPECT_NE(LogWith(line).find(line), std::string::npos) << Log();
}

TEST_F(ServerTest, StreamsALargeFileWithItsExactLengthAndContent) {
    std::string content(5 * 1024 * 1024 + 17, '\0');
    std::mt19937 gen(7);
    for (char& c : content)
        c = static_cast<char>(gen());
    Write(dir_ / "files" / "hebei" / "big setup.exe", content);

    auto res = client_->Get("/files/hebei/big%20setup.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(content.size()));
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(res->body == content) << "body differs, " << res->body.size() << " bytes";
    std::string line =
        "GET /files/hebei/big%20setup.exe 200 " + std::to_string(content.size()) + " bytes";
    EXPECT_NE(LogWith(line).find(line), std::string::npos) << Log();

    auto range = client_->Get("/files/hebei/big%20setup.exe", {{"Range", "bytes=100-199"}});
    ASSERT_TRUE(range);
    EXPECT_EQ(range->status, 206);
    EXPECT_EQ(range->body, content.substr(100, 100));
}

TEST_F(ServerTest, RefusesPathsThatLeaveTheFilesFolder) {
    fs::create_symlink(dir_ / "secret.txt", dir_ / "files" / "hebei" / "escape.exe");
    fs::create_symlink(dir_, dir_ / "files" / "up");
    for (const char* path :
         {"/files/../secret.txt", "/files/%2e%2e/secret.txt", "/files/hebei/../../secret.txt",
          "/files/..%2fsecret.txt", "/files/..%5csecret.txt", "/files/hebei/escape.exe",
          "/files/up/secret.txt"}) {
        int status = Status(path);
        EXPECT_TRUE(status == 403 || status == 404) << path << " gave " << status;
    }
    EXPECT_EQ(Status("/files/%2e%2e/secret.txt"), 403);
    EXPECT_EQ(Log().find("outside"), std::string::npos);
}

TEST_F(ServerTest, ServesLinksThatStayInsideTheFolder) {
    fs::create_directories(dir_ / "files" / "shanxi");
    fs::create_symlink("../hebei/tool.exe", dir_ / "files" / "shanxi" / "tool.exe");
    auto res = client_->Get("/files/shanxi/tool.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "#!/bin/sh\nexit 0\n");
}

TEST_F(ServerTest, AnswersNotFoundForEverythingElse) {
    for (const char* path :
         {"/", "/envcheck/config.json/x", "/envcheck/", "/files/", "/files/hebei", "/files/hebei/",
          "/files/hebei/missing.exe", "/filesx/hebei/tool.exe", "/secret.txt"})
        EXPECT_EQ(Status(path), 404) << path;
}

TEST_F(ServerTest, LogsOneSafeLinePerRequest) {
    Status("/files/x%0aGET%20/forged%20200");
    const std::string line = "GET /files/x%0AGET%20/forged%20200 404 0 bytes\n";
    std::string log = LogWith(line);
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(ConfigServerStop, BeforeListenMakesListenReturnAtOnce) {
    ConfigServer::Settings settings;
    settings.log = nullptr;
    ConfigServer server(std::move(settings));
    ASSERT_GT(server.Bind("127.0.0.1", 0), 0);
    server.Stop();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(server.Listen());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
