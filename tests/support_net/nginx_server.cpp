// POSIX only: the web server side of the tests runs on Linux.
#ifndef _WIN32
#include "nginx_server.h"

#include "test_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace testnet {

namespace {
bool Answers(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

fs::path NginxProgram() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
        if (::access(p, X_OK) == 0)
            return p;
    return {};
}
} // namespace

NginxServer::~NginxServer() {
    Stop();
}

int NginxServer::FreePort() {
    return TestServer::UnusedPort();
}

bool NginxServer::Start(const fs::path& root, const fs::path& prefix, int port, std::string& error,
                        const NginxTls* tls) {
    const fs::path program = NginxProgram();
    if (program.empty()) {
        error = "no nginx program (scripts/setup installs nginx-light)";
        return false;
    }
    fs::create_directories(prefix / "logs");
    const fs::path conf = prefix / "nginx.conf";
    {
        std::ofstream out(conf);
        // As root the workers would otherwise run as nobody, who may not read the folder.
        if (::geteuid() == 0)
            out << "user root;\n";
        out << "worker_processes 1;\n"
            << "error_log " << (prefix / "logs" / "error.log").string() << ";\n"
            << "pid " << (prefix / "nginx.pid").string() << ";\n"
            << "events { worker_connections 64; }\n"
            << "http {\n"
            << "  access_log off;\n"
            << "  sendfile on;\n"
            << "  default_type application/octet-stream;\n"
            << "  server {\n"
            << "    listen 127.0.0.1:" << port << (tls ? " ssl" : "") << ";\n";
        if (tls)
            out << "    ssl_certificate " << fs::absolute(tls->certificate).string() << ";\n"
                << "    ssl_certificate_key " << fs::absolute(tls->key).string() << ";\n"
                << "    ssl_protocols TLSv1.2 TLSv1.3;\n";
        out << "    root " << fs::absolute(root).string() << ";\n"
            << "  }\n"
            << "}\n";
    }
    const std::string prefixArg = prefix.string() + "/";
    std::vector<std::string> args = {program.string(), "-p", prefixArg,    "-c",
                                     conf.string(),    "-g", "daemon off;"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        error = "nginx could not be started";
        return false;
    }
    pid_ = pid;
    port_ = port;
    for (int i = 0; i < 500; ++i) {
        if (Answers(port))
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream log(prefix / "logs" / "error.log");
            error = "nginx ended: " + std::string(std::istreambuf_iterator<char>(log), {});
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = "nginx does not answer on port " + std::to_string(port);
    Stop();
    return false;
}

void NginxServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM); // fast shutdown; the master ends its worker
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

} // namespace testnet
#endif
