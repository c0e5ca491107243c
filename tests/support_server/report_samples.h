#pragma once

#include <nlohmann/json.hpp>
#include <random>
#include <string>

// A report of the tool's shape: hebei, the tool and the CA driver at old versions.
nlohmann::json SampleReport();

// SampleReport with 16 CA version facts whose file names, expected and found versions are
// fresh random strings (within the limits): what a flood of made-up names sends.
nlohmann::json RandomNameReport(std::mt19937& random);

// Posts `body` to /reports on 127.0.0.1:port; the status, and the code on 201.
struct UploadResult {
    int status = 0;
    std::string code;
    std::string body;
    std::string retryAfter;
};
UploadResult Upload(int port, const std::string& body, const std::string& realIp = "");
