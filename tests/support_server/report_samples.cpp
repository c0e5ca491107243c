#include "report_samples.h"

#include "engine/report/report_shape.h"

#include <httplib.h>

nlohmann::json SampleReport() {
    using nlohmann::json;
    auto fact = [](const char* name, json entry, const char* where, const char* expected,
                   const char* found, bool ok) {
        return json{{"name", name},   {"entry", entry}, {"where", where}, {"expected", expected},
                    {"found", found}, {"ok", ok},       {"note", ""}};
    };
    auto row = [](const char* item, int code, const char* text, json facts) {
        return json{
            {"item", item}, {"code", code}, {"text", text}, {"facts", facts}, {"install", nullptr}};
    };
    return {
        {"version", 1},
        {"time", "2024-05-06T09:41:07+08:00"},
        {"toolVersion", "1.0"},
        {"region", "hebei"},
        {"server", "10.1.2.3:8080"},
        {"document", "/envcheck/config.json"},
        {"exitCode", 1},
        {"rows",
         json::array({row("network", 1, "连接服务器成功",
                          json::array({fact("response", nullptr,
                                            "http://10.1.2.3:8080/envcheck/config.json", "HTTP 200",
                                            "HTTP 200", true)})),
                      row("dotnet", 1, ".net framework 4.0已安装", json::array()),
                      row("ie", 1, "IE浏览器配置检测正常", json::array()),
                      row("tool", -4, "投标工具安装版本不正确",
                          json::array({fact("version", nullptr, "C:\\Quelda\\QueldaBid.exe.config",
                                            "3.2.1.0", "3.1.0.0", false)})),
                      row("ca", -4, "CA驱动版本不正确",
                          json::array({fact("version", 0, "C:\\CA\\QdCaDriver.dll", "2.1.0.8",
                                            "2.1.0.7", false)}))})}};
}

nlohmann::json RandomNameReport(std::mt19937& random) {
    auto text = [&random](size_t length) {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789.";
        std::string s;
        for (size_t i = 0; i < length; ++i)
            s += kLetters[random() % (sizeof kLetters - 1)];
        return s;
    };
    nlohmann::json report = SampleReport();
    nlohmann::json& facts = report["rows"][kCaRow]["facts"];
    facts = nlohmann::json::array();
    for (int v = 0; v < 16; ++v)
        facts.push_back({{"name", "version"},
                         {"entry", v},
                         {"where", "C:\\CA\\" + text(24) + ".dll"},
                         {"expected", text(16)},
                         {"found", text(16)},
                         {"ok", false},
                         {"note", ""}});
    return report;
}

UploadResult Upload(int port, const std::string& body, const std::string& realIp) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    httplib::Headers headers;
    if (!realIp.empty())
        headers.emplace("X-Real-IP", realIp);
    UploadResult result;
    auto res = client.Post("/reports", headers, body, "application/json; charset=utf-8");
    if (!res)
        return result;
    result.status = res->status;
    result.body = res->body;
    result.retryAfter = res->get_header_value("Retry-After");
    if (res->status == 201) {
        auto answer = nlohmann::json::parse(res->body, nullptr, false);
        if (answer.is_object() && answer["code"].is_string())
            result.code = answer["code"].get<std::string>();
    }
    return result;
}
