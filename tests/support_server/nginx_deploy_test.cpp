// The deployment as docs/support-desk.md describes it: Debian's nginx with the repository's
// configuration (tools/support/deploy/nginx-quelda-support.conf) in front of the built
// quelda-support, on loopback, with a certificate made here by openssl. Uploads go over
// HTTPS through nginx, the staff read them back through nginx, and the address recorded is
// the one nginx saw.
#include "child_process.h"
#include "file_bytes.h"
#include "raw_client.h"
#include "report_samples.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Replaces every `from` in `text`; the test fails when the configuration no longer says it.
void Replace(std::string& text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << "the configuration no longer has: " << from;
    for (; at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class NginxDeployTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access("/usr/sbin/nginx", X_OK) != 0 || ::access("/usr/bin/curl", X_OK) != 0 ||
            ::access("/usr/bin/openssl", X_OK) != 0)
            GTEST_SKIP() << "nginx, curl or openssl missing (scripts/setup installs them)";
        dir_ = fs::temp_directory_path() / ("nginx-deploy-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "logs");
    }
    void TearDown() override {
        if (nginx_) { // the master ends its worker on SIGTERM
            nginx_->Signal(SIGTERM);
            nginx_->Wait(5s);
        }
        nginx_.reset();
        support_.reset();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    ProcessResult Curl(std::vector<std::string> args) {
        std::vector<std::string> argv = {"/usr/bin/curl",
                                         "-sS",
                                         "--max-time",
                                         "10",
                                         "--cacert",
                                         (dir_ / "cert.pem").string(),
                                         "--resolve",
                                         "support.example.cn:" + std::to_string(https_) +
                                             ":127.0.0.1",
                                         "-w",
                                         "\n%{http_code}"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProcess(argv);
    }
    std::string Https(const std::string& path) const {
        return "https://support.example.cn:" + std::to_string(https_) + path;
    }
    static int CurlStatus(const ProcessResult& r) {
        const size_t nl = r.out.rfind('\n');
        return nl == std::string::npos ? -1 : std::atoi(r.out.c_str() + nl + 1);
    }

    fs::path dir_;
    int https_ = 0, http_ = 0;
    std::unique_ptr<Child> support_, nginx_;
};

TEST_F(NginxDeployTest, UploadOverHttpsAndReadBackWithTheAddressNginxSaw) {
    ProcessResult cert =
        RunProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                    "/CN=support.example.cn", "-addext", "subjectAltName=DNS:support.example.cn",
                    "-keyout", (dir_ / "key.pem").string(), "-out", (dir_ / "cert.pem").string()});
    ASSERT_EQ(cert.exitCode, 0) << cert.err;

    support_ = std::make_unique<Child>(std::vector<std::string>{
        (BinDir() / "quelda-support").string(), "--port", "0", "--behind-proxy", "--db",
        (dir_ / "s.sqlite").string(), "--token-file", (dir_ / "token").string()});
    const int port = StartedPort(*support_);
    ASSERT_GT(port, 0) << support_->Err();
    const std::string token = ReadFile(dir_ / "token").substr(0, 48);

    https_ = FreePort();
    http_ = FreePort();
    std::string site =
        ReadFile(fs::path(QUELDA_SOURCE_DIR) / "tools/support/deploy/nginx-quelda-support.conf");
    Replace(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(http_) + ";");
    Replace(site, "listen 443 ssl;", "listen 127.0.0.1:" + std::to_string(https_) + " ssl;");
    Replace(site, "/etc/ssl/certs/support.example.cn.pem", (dir_ / "cert.pem").string());
    Replace(site, "/etc/ssl/private/support.example.cn.key", (dir_ / "key.pem").string());
    Replace(site, "server 127.0.0.1:8090;", "server 127.0.0.1:" + std::to_string(port) + ";");
    std::ofstream(dir_ / "site.conf") << site;
    const std::string p = dir_.string();
    std::ofstream(dir_ / "nginx.conf")
        << (::geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\n"
        << "error_log " << p << "/logs/error.log;\npid " << p << "/nginx.pid;\n"
        << "events { worker_connections 256; }\nhttp {\n"
        << "  access_log " << p << "/logs/access.log;\n"
        << "  client_body_temp_path " << p << "/body;\n  proxy_temp_path " << p << "/proxy;\n"
        << "  fastcgi_temp_path " << p << "/fastcgi;\n  uwsgi_temp_path " << p << "/uwsgi;\n"
        << "  scgi_temp_path " << p << "/scgi;\n"
        << "  include " << p << "/site.conf;\n}\n";
    nginx_ = std::make_unique<Child>(std::vector<std::string>{
        "/usr/sbin/nginx", "-p", p + "/", "-c", p + "/nginx.conf", "-g", "daemon off;"});
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        RawClient probe;
        up = probe.Connect(https_);
        if (!up)
            std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(up) << ReadFile(dir_ / "logs/error.log");

    // The upload over HTTPS, from 127.0.0.2.
    std::ofstream(dir_ / "report.json") << SampleReport().dump();
    ProcessResult upload =
        Curl({"--interface", "127.0.0.2", "-H", "Content-Type: application/json; charset=utf-8",
              "--data-binary", "@" + (dir_ / "report.json").string(), Https("/envcheck/reports")});
    ASSERT_EQ(CurlStatus(upload), 201) << upload.out << upload.err;
    const size_t at = upload.out.find("{\"code\":\"");
    ASSERT_NE(at, std::string::npos) << upload.out;
    const std::string code = upload.out.substr(at + 9, 8);

    // Read back through nginx with the staff token: the address is the one nginx saw.
    ProcessResult page =
        Curl({"-H", "Authorization: Bearer " + token, Https("/support/r/" + code)});
    ASSERT_EQ(CurlStatus(page), 200) << page.out << page.err;
    EXPECT_NE(page.out.find("<th>上传地址</th><td class=\"value\">127.0.0.2</td>"),
              std::string::npos)
        << page.out;
    EXPECT_NE(ReadFile(dir_ / "logs/access.log").find("127.0.0.2 - - "), std::string::npos);
    EXPECT_NE(support_->Err().find("127.0.0.2 POST /envcheck/reports 201"), std::string::npos)
        << support_->Err();

    // The session cookie is marked Secure on the way out.
    ProcessResult login = Curl({"-i", "--data", "token=" + token, Https("/support/login")});
    EXPECT_EQ(CurlStatus(login), 303) << login.out;
    EXPECT_NE(login.out.find("HttpOnly; SameSite=Strict; Secure"), std::string::npos) << login.out;

    // client_max_body_size: nginx refuses a 300 KiB upload itself.
    std::ofstream(dir_ / "big.json") << std::string(300 * 1024, ' ');
    ProcessResult big =
        Curl({"--data-binary", "@" + (dir_ / "big.json").string(), Https("/envcheck/reports")});
    EXPECT_EQ(CurlStatus(big), 413) << big.out;

    // Plain HTTP: the pages move to HTTPS.
    ProcessResult plain =
        RunProcess({"/usr/bin/curl", "-sS", "-o", "/dev/null", "-w", "%{http_code} %{redirect_url}",
                    "http://127.0.0.1:" + std::to_string(http_) + "/support/"});
    EXPECT_EQ(plain.out.rfind("301 https://", 0), 0u) << plain.out;

    // A body that trickles in, a byte every 9 s: each read comes within client_body_timeout,
    // and yet the upload ends within quelda-support's 10 s for a whole request, well within
    // 30 s; nginx passes the body on as it comes instead of buffering it for ever.
    struct Trickle {
        std::thread thread;
        int bytes = 0;
        bool closed = false;
        std::chrono::steady_clock::duration took{};
        ~Trickle() {
            if (thread.joinable())
                thread.join();
        }
    } trickle;
    trickle.thread = std::thread([this, &trickle] {
        RawClient client;
        if (!client.Connect(http_, "127.0.0.5") ||
            !client.Send("POST /envcheck/reports HTTP/1.1\r\nHost: support.example.cn\r\n"
                         "Content-Length: 1000\r\n\r\n"))
            return;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < 40s && client.Send("{")) {
            ++trickle.bytes;
            if (client.ClosedWithin(9s))
                break;
        }
        trickle.closed = client.closedByPeer();
        trickle.took = std::chrono::steady_clock::now() - start;
    });

    // limit_conn: eight uploads in progress from one address, the ninth is refused at once.
    const std::string partial = "POST /envcheck/reports HTTP/1.1\r\nHost: support.example.cn\r\n"
                                "Content-Length: 1000\r\n\r\n{\"version\":";
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 8; ++i) {
        held.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(held.back()->Connect(http_, "127.0.0.3"));
        held.back()->Send(partial);
    }
    std::this_thread::sleep_for(300ms);
    RawClient ninth;
    ASSERT_TRUE(ninth.Connect(http_, "127.0.0.3"));
    ninth.Send(partial);
    EXPECT_EQ(StatusOf(ninth.ReadSome(2s)), 429);
    RawClient other; // another address is not held back
    ASSERT_TRUE(other.Connect(http_, "127.0.0.4"));
    other.Send(partial);
    EXPECT_EQ(other.ReadSome(300ms), "");

    // The held uploads end when their bodies stop coming (client_body_timeout, or the
    // server's deadline for a whole request: both 10 s).
    for (auto& c : held)
        EXPECT_TRUE(c->ClosedWithin(15s));
    EXPECT_NE(ReadFile(dir_ / "logs/access.log").find("\"POST /envcheck/reports HTTP/1.1\" 408"),
              std::string::npos)
        << ReadFile(dir_ / "logs/access.log");

    trickle.thread.join();
    EXPECT_TRUE(trickle.closed);
    EXPECT_GE(trickle.bytes, 2) << "the trickle outlived one pause between reads";
    EXPECT_LT(trickle.took, 30s);
}

} // namespace
