// quelda-support: receives the tool's check reports and serves them to the support staff.

#include "access.h"
#include "option_args.h"
#include "options.h"
#include "report_store.h"
#include "serve_until_signal.h"
#include "support_server.h"
#include "upload_writer.h"

#include <csignal>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr int kExitFailure = 1;

} // namespace

int main(int argc, char** argv) {
    SupportOptions options;
    const int early = ReadCommandLine(argc, argv, options, ParseOptions, UsageText);
    if (early >= 0)
        return early;
    std::string error;

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
    const sigset_t signals = BlockStopSignals();

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
    return ServeUntilSignal(
        signals, "http://" + HostForUrl(options.address) + ":" + std::to_string(port),
        [&server] { return server.Listen(); }, [&server] { server.Stop(); });
}
