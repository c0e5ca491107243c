#include "config_server.h"
#include "log_text.h"

#include <fstream>
#include <memory>

ConfigServer::ConfigServer(Settings settings) : settings_(std::move(settings)) {
    httplib::Server& server = listener_.Server();
    server.Get(".*",
               [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    // Address reuse lets a restarted server bind at once; port sharing (the library's default)
    // would let a second server take half of the connections on the same port.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        LogRequest(req, res);
    });
}

void ConfigServer::Handle(const httplib::Request& req, httplib::Response& res) {
    if (req.path == settings_.documentPath) {
        res.set_content(document_, "application/json; charset=GBK");
        return;
    }
    if (!signature_.empty() && req.path == settings_.documentPath + ".minisig") {
        res.set_content(signature_, "text/plain; charset=utf-8");
        return;
    }
    const std::string& prefix = settings_.filesPrefix;
    if (settings_.files && req.path.rfind(prefix, 0) == 0) {
        ServeFile(req.path.substr(prefix.size()), res);
        return;
    }
    res.status = 404;
}

void ConfigServer::ServeFile(const std::string& relative, httplib::Response& res) {
    FileStore::Lookup found = settings_.files->Resolve(relative);
    if (found.status == FileStore::Status::Forbidden) {
        res.status = 403;
        return;
    }
    auto in = std::make_shared<std::ifstream>(found.file, std::ios::binary);
    std::error_code ec;
    auto size =
        found.status == FileStore::Status::Found ? std::filesystem::file_size(found.file, ec) : 0;
    if (found.status != FileStore::Status::Found || ec || !*in) {
        res.status = 404;
        return;
    }
    // Streamed in chunks: an installer is never held in memory whole. A file that shrinks while
    // it is sent ends the connection early rather than delivering a wrong body.
    res.set_content_provider(
        static_cast<size_t>(size), "application/octet-stream",
        [in](size_t offset, size_t length, httplib::DataSink& sink) {
            char buffer[64 * 1024];
            in->clear();
            in->seekg(static_cast<std::streamoff>(offset));
            in->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
            std::streamsize got = in->gcount();
            if (got <= 0)
                return false;
            return sink.write(buffer, static_cast<size_t>(got));
        });
}

void ConfigServer::LogRequest(const httplib::Request& req, const httplib::Response& res) {
    if (!settings_.log)
        return;
    size_t bytes = res.body.size();
    if (res.body.empty() && res.content_length_ > 0)
        bytes = res.content_length_;
    std::lock_guard<std::mutex> lock(logMutex_);
    std::fprintf(settings_.log, "%s %s %d %zu bytes\n", req.method.c_str(),
                 PrintablePath(req.path).c_str(), res.status, bytes);
    std::fflush(settings_.log);
}

std::string PrintablePath(const std::string& path) {
    return PrintableForLog(path, 0, false);
}
