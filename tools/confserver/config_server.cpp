#include "config_server.h"
#include "log_text.h"
#include "net_address.h"

#include <cstdlib>

HttpLimits ConfigServer::DefaultLimits() {
    HttpLimits limits;
    limits.maxBody = 16 * 1024;
    limits.workers = 4; // handlers only look up a file; the sending is asynchronous
    return limits;
}

namespace {

HttpLimits WithProxies(HttpLimits limits, const std::vector<std::string>& proxies) {
    limits.unlimitedAddresses.insert(limits.unlimitedAddresses.end(), proxies.begin(),
                                     proxies.end());
    return limits;
}

} // namespace

ConfigServer::ConfigServer(Settings settings)
    : settings_(std::move(settings)),
      log_(settings_.log ? std::make_unique<LogWriter>(settings_.log) : nullptr),
      listener_(
          WithProxies(settings_.limits, settings_.proxies),
          [this](const HttpRequest& req, HttpResponse& res) { Handle(req, res); },
          [this](const HttpRequest& req, const HttpResponse& res) { LogRequest(req, res); }) {}

void ConfigServer::Handle(const HttpRequest& req, HttpResponse& res) {
    if (req.method != "GET" && req.method != "HEAD") {
        res.status = 404;
        return;
    }
    if (req.path == settings_.documentPath) {
        res.SetContent(document_, "application/json; charset=GBK");
        return;
    }
    if (!signature_.empty() && req.path == settings_.documentPath + ".minisig") {
        res.SetContent(signature_, "text/plain; charset=utf-8");
        return;
    }
    const std::string& prefix = settings_.filesPrefix;
    if (settings_.files && req.path.rfind(prefix, 0) == 0) {
        ServeFile(req, req.path.substr(prefix.size()), res);
        return;
    }
    res.status = 404;
}

void ConfigServer::ServeFile(const HttpRequest& req, const std::string& relative,
                             HttpResponse& res) {
    FileStore::Lookup found = settings_.files->Resolve(relative);
    if (found.status == FileStore::Status::Forbidden) {
        res.status = 403;
        return;
    }
    std::error_code ec;
    const std::uint64_t size =
        found.status == FileStore::Status::Found ? std::filesystem::file_size(found.file, ec) : 0;
    if (found.status != FileStore::Status::Found || ec) {
        res.status = 404;
        return;
    }
    // Streamed from the file while it is sent: an installer is never held in memory whole. A
    // file that shrinks meanwhile ends the connection early rather than deliver a wrong body.
    res.file = found.file.string();
    res.fileOffset = 0;
    res.fileLength = size;
    res.SetHeader("Content-Type", "application/octet-stream");
    res.SetHeader("Accept-Ranges", "bytes");
    // No validators are sent, so an If-Range can never match: such a request gets it all.
    const std::string range = req.Header("Range");
    std::uint64_t first = 0, length = 0;
    bool satisfiable = true;
    if (range.empty() || req.HasHeader("If-Range") ||
        !ParseByteRange(range, size, first, length, satisfiable))
        return;
    if (!satisfiable) {
        res.file.clear();
        res.status = 416;
        res.SetHeader("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    res.status = 206;
    res.fileOffset = first;
    res.fileLength = length;
    res.SetHeader("Content-Range", "bytes " + std::to_string(first) + "-" +
                                       std::to_string(first + length - 1) + "/" +
                                       std::to_string(size));
}

bool ParseByteRange(const std::string& header, std::uint64_t size, std::uint64_t& first,
                    std::uint64_t& length, bool& satisfiable) {
    const std::string unit = "bytes=";
    if (header.compare(0, unit.size(), unit) != 0)
        return false;
    const std::string range = header.substr(unit.size());
    const size_t dash = range.find('-');
    if (dash == std::string::npos || range.find(',') != std::string::npos)
        return false;
    const std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    auto number = [](const std::string& text, std::uint64_t& value) {
        if (text.empty() || text.size() > 19 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::strtoull(text.c_str(), nullptr, 10);
        return true;
    };
    std::uint64_t x = 0, y = 0;
    satisfiable = true;
    if (a.empty()) { // the last y bytes
        if (!number(b, y))
            return false;
        if (y == 0 || size == 0) {
            satisfiable = false;
            return true;
        }
        length = std::min(y, size);
        first = size - length;
        return true;
    }
    if (!number(a, x) || (!b.empty() && (!number(b, y) || y < x)))
        return false;
    if (x >= size) {
        satisfiable = false;
        return true;
    }
    const std::uint64_t last = b.empty() ? size - 1 : std::min(y, size - 1);
    first = x;
    length = last - x + 1;
    return true;
}

void ConfigServer::LogRequest(const HttpRequest& req, const HttpResponse& res) {
    if (!log_)
        return;
    const std::string client =
        ClientAddress(req.remoteAddr, req.Header("X-Real-IP"), settings_.proxies);
    log_->Write(PrintableForLog(client, 64, true) + " " + PrintableForLog(req.method, 16, true) +
                " " + PrintablePath(req.path) + " " + std::to_string(res.status) + " " +
                std::to_string(res.BodyLength()) + " bytes");
}

std::string PrintablePath(const std::string& path) {
    return PrintableForLog(path, 0, false);
}
