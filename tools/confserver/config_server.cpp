#include "config_server.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

ConfigServer::ConfigServer(Settings settings)
    : settings_(std::move(settings)), server_(std::make_unique<httplib::Server>()) {
    server_->Get(".*",
                 [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    // Address reuse lets a restarted server bind at once; port sharing (the library's default)
    // would let a second server take half of the connections on the same port.
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        LogRequest(req, res);
    });
}

int ConfigServer::Bind(const std::string& address, int port) {
    if (port == 0)
        return server_->bind_to_any_port(address);
    return server_->bind_to_port(address, port) ? port : -1;
}

bool ConfigServer::Listen() {
    listening_ = true;
    bool ok = stopRequested_ ? true : server_->listen_after_bind();
    listening_ = false;
    return ok;
}

void ConfigServer::Stop() {
    // The library's stop is lost when it comes before the listen loop has started, so it is
    // repeated until Listen has returned.
    stopRequested_ = true;
    while (listening_) {
        server_->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ConfigServer::Handle(const httplib::Request& req, httplib::Response& res) {
    if (req.path == settings_.documentPath) {
        res.set_content(document_, "application/json; charset=GBK");
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
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ' ') {
            out += "%";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
