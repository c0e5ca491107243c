#ifndef _WIN32
#include "tinyproxy_server.h"

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

extern char** environ;

namespace fs = std::filesystem;

namespace testnet {

bool LoopbackPortAnswers(int port) {
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

TinyproxyServer::~TinyproxyServer() {
    Stop();
}

bool TinyproxyServer::Start(const fs::path& prefix, const Options& options, std::string& error) {
    const char* program = "/usr/bin/tinyproxy";
    if (::access(program, X_OK) != 0) {
        error = "no tinyproxy program (scripts/setup installs tinyproxy)";
        return false;
    }
    fs::create_directories(prefix);
    const int port = TestServer::UnusedPort();
    log_ = prefix / "tinyproxy.log";
    const fs::path conf = prefix / "tinyproxy.conf";
    {
        std::ofstream out(conf);
        if (::geteuid() == 0)
            out << "User root\nGroup root\n";
        out << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 16\n"
            << "Allow 127.0.0.1\nLogFile \"" << log_.string() << "\"\nLogLevel Info\n"
            << "PidFile \"" << (prefix / "tinyproxy.pid").string() << "\"\n"
            << "DisableViaHeader Yes\n";
        for (int p : options.connectPorts)
            out << "ConnectPort " << p << "\n";
        if (!options.user.empty())
            out << "BasicAuth " << options.user << " " << options.password << "\n";
    }
    std::vector<std::string> args = {program, "-d", "-c", conf.string()};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        error = "tinyproxy could not be started";
        return false;
    }
    pid_ = pid;
    port_ = port;
    for (int i = 0; i < 500; ++i) {
        if (LoopbackPortAnswers(port))
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "tinyproxy ended: " + Log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = "tinyproxy does not answer on port " + std::to_string(port);
    Stop();
    return false;
}

void TinyproxyServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string TinyproxyServer::Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace testnet
#endif
