// quelda-support: receives the tool's check reports and serves them to the support staff.

#include "access.h"
#include "option_args.h"
#include "options.h"
#include "report_store.h"
#include "support_server.h"
#include "upload_writer.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr int kExitFailure = 1;

std::string HostForUrl(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

} // namespace

int main(int argc, char** argv) {
    SupportOptions options;
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool parsed = ParseOptions(args, options, error);
    const int early = CommandLineExit(parsed, options.help, error, UsageText(argv[0]));
    if (early >= 0)
        return early;

    std::string token;
    bool created = false;
    if (!LoadOrCreateToken(options.tokenFile, token, created, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    struct stat st {};
    if (created)
        std::fprintf(stderr, "new access token for the support pages (saved in %s): %s\n",
                     options.tokenFile.c_str(), token.c_str());
    else if (stat(options.tokenFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        std::fprintf(stderr, "warning: %s can be read by other users (chmod 600 it)\n",
                     options.tokenFile.c_str());

    ReportStore store;
    if (!store.Open(options.dbFile, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }

    // SIGINT and SIGTERM are taken by one thread with sigwait; every other thread inherits
    // the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    UploadWriter writer(store, options.keepDays, stderr);
    SupportServer::Settings settings;
    settings.token = token;
    settings.behindProxy = options.behindProxy;
    SupportServer server(settings, store, writer);
    int port = server.Bind(options.address, options.port);
    if (port < 0) {
        std::fprintf(stderr, "cannot listen on %s:%d\n", options.address.c_str(), options.port);
        return kExitFailure;
    }
    std::thread stopper([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        server.Stop();
    });

    std::printf("listening on http://%s:%d\n", HostForUrl(options.address).c_str(), port);
    std::fflush(stdout);
    bool ok = server.Listen();

    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (!ok) {
        std::fprintf(stderr, "the server stopped with an error\n");
        return kExitFailure;
    }
    std::fprintf(stderr, "stopped\n");
    return 0;
}
