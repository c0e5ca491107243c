// A fresh store in a folder of its own for each test, and quelda-support's server on it in
// this process (127.0.0.1, a port the system picks), listening on a thread until the test
// ends.
#pragma once

#include "support_server.h"

#include <gtest/gtest.h>

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
        std::string error;
        ASSERT_TRUE(store_.Open((dir_ / "support.sqlite").string(), error)) << error;
    }
    void TearDown() override {
        if (thread_.joinable()) {
            server_->Stop();
            thread_.join();
        }
        server_.reset();
        writer_.reset();
        std::filesystem::remove_all(dir_);
    }
    void StartWith(const SupportServer::Settings& settings, int keepDays) {
        writer_ = std::make_unique<UploadWriter>(store_, keepDays, nullptr);
        server_ = std::make_unique<SupportServer>(settings, store_, *writer_);
        port_ = server_->Bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->Listen(); });
    }

    std::filesystem::path dir_;
    ReportStore store_;
    std::unique_ptr<UploadWriter> writer_;
    std::unique_ptr<SupportServer> server_;
    std::thread thread_;
    int port_ = 0;
};
