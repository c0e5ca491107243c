// quelda-support: receives the tool's check reports and serves them to the support staff.

#include "access.h"
#include "html.h"
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

int AddStaff(ReportStore& store, const std::string& name) {
    if (name == "admin") {
        std::fprintf(stderr, "admin is the account of the token file; choose another name\n");
        return kExitFailure;
    }
    const std::string token = NewStaffToken();
    std::string error;
    if (token.empty() || !store.AddStaff(name, TokenHash(token), error)) {
        std::fprintf(stderr, "%s: no account made: %s\n", name.c_str(),
                     error.find("UNIQUE") != std::string::npos
                         ? "the name has an account already (--remove-staff it first)"
                     : error.empty() ? "no random token"
                                     : error.c_str());
        return kExitFailure;
    }
    std::fprintf(stderr,
                 "the token of %s follows; it is shown this once (only its SHA-256 is "
                 "kept). Hand it over, then clear the screen.\n",
                 name.c_str());
    std::printf("%s\n", token.c_str());
    return 0;
}

int RemoveStaff(ReportStore& store, const std::string& name) {
    bool removed = false;
    std::string error;
    if (!store.RemoveStaff(name, removed, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    if (!removed) {
        std::fprintf(stderr, "no account named %s\n", name.c_str());
        return kExitFailure;
    }
    std::fprintf(stderr, "%s removed; their sessions end at their next request\n", name.c_str());
    return 0;
}

int ListStaff(ReportStore& store, const std::string& tokenFile) {
    std::vector<StaffAccount> accounts;
    std::string error;
    if (!store.ListStaff(accounts, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    struct stat st {};
    if (stat(tokenFile.c_str(), &st) == 0)
        std::printf("admin\t(the token file %s)\n", tokenFile.c_str());
    for (const StaffAccount& a : accounts)
        std::printf("%s\tsince %s\n", a.name.c_str(), ChinaTime(a.created).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    SupportOptions options;
    const int early = ReadCommandLine(argc, argv, options, ParseOptions, UsageText);
    if (early >= 0)
        return early;
    std::string error;

    ReportStore store;
    if (options.command != SupportOptions::Command::Serve) {
        if (!store.Open(options.dbFile, error, ReportStore::Use::Command)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitFailure;
        }
        if (options.command == SupportOptions::Command::AddStaff)
            return AddStaff(store, options.staffName);
        if (options.command == SupportOptions::Command::RemoveStaff)
            return RemoveStaff(store, options.staffName);
        return ListStaff(store, options.tokenFile);
    }

    std::string token;
    bool created = false;
    if (!LoadOrCreateToken(options.tokenFile, token, created, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    struct stat st {};
    // The token itself stays in its file (mode 0600): standard error goes to the journal,
    // which other accounts may read.
    if (created)
        std::fprintf(stderr, "new access token for the support pages in %s (mode 0600)\n",
                     options.tokenFile.c_str());
    else if (stat(options.tokenFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        std::fprintf(stderr, "warning: %s can be read by other users (chmod 600 it)\n",
                     options.tokenFile.c_str());

    if (!store.Open(options.dbFile, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }

    // SIGINT and SIGTERM are taken by one thread with sigwait; every other thread inherits
    // the blocked mask.
    const sigset_t signals = BlockStopSignals();

    UploadWriter writer(store, options.keepDays, stderr, std::int64_t{options.maxDbMiB} << 20);
    SupportServer::Settings settings;
    settings.token = token;
    settings.proxies = options.proxies;
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
