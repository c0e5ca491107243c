// A fresh store in a folder of its own for each test, and quelda-support's server on it in
// this process (127.0.0.1, a port the system picks), listening on a thread until the test
// ends.
#pragma once

#include "support_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

class SupportServerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("support-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "support.sqlite").string();
        std::string error;
        ASSERT_TRUE(store_.Open(file_, error)) << error;
    }
    void TearDown() override {
        if (thread_.joinable()) {
            server_->Stop();
            thread_.join();
        }
        server_.reset();
        writer_.reset();
        if (log_)
            std::fclose(log_);
        std::filesystem::remove_all(dir_);
    }
    // `log`: the server's and the writer's log, a temporary file that Log() reads back.
    void StartWith(const SupportServer::Settings& settings, int keepDays, bool log = false,
                   std::int64_t quota = 0) {
        SupportServer::Settings with = settings;
        if (log) {
            log_ = std::tmpfile();
            with.log = log_;
        }
        writer_ = std::make_unique<UploadWriter>(store_, keepDays, log_, quota);
        server_ = std::make_unique<SupportServer>(with, store_, *writer_);
        port_ = server_->Bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->Listen(); });
    }
    std::string Log() {
        std::string text;
        if (!log_)
            return text;
        std::fflush(log_);
        std::rewind(log_);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0)
            text.append(buf, n);
        return text;
    }

    std::filesystem::path dir_;
    std::string file_;
    std::FILE* log_ = nullptr;
    ReportStore store_;
    std::unique_ptr<UploadWriter> writer_;
    std::unique_ptr<SupportServer> server_;
    std::thread thread_;
    int port_ = 0;
};
