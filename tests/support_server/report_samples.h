#pragma once

#include <nlohmann/json.hpp>
#include <string>

// A report of the tool's shape: hebei, the tool and the CA driver at old versions.
nlohmann::json SampleReport();

// Posts `body` to /reports on 127.0.0.1:port; the status, and the code on 201.
struct UploadResult {
    int status = 0;
    std::string code;
    std::string body;
    std::string retryAfter;
};
UploadResult Upload(int port, const std::string& body, const std::string& realIp = "");
