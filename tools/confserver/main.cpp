// quelda-confserver: the configuration server that administrators run for the environment
// check tool, and that the demo and the end-to-end test start.

#include "atomic_write.h"
#include "config_server.h"
#include "document.h"
#include "document_validation.h"
#include "option_args.h"
#include "options.h"
#include "serve_until_signal.h"
#include "sha256_fill.h"

#include <csignal>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitInvalid = 2;

void PrintProblems(const std::string& file, const std::vector<Problem>& problems) {
    for (const Problem& p : problems)
        std::fprintf(stderr, "%s: %s\n", file.c_str(), p.Text().c_str());
}

int FillDigests(const ServerOptions& options, Document& doc, const FileStore& store) {
    ServedUrls served{kBasePlaceholder, options.baseUrl, options.filesPrefix};
    FillReport report = FillSha256(doc, store, served);
    if (!report.problems.empty()) {
        PrintProblems(options.documentFile, report.problems);
        std::fprintf(stderr, "nothing written\n");
        return kExitFailure;
    }
    std::string target = options.outputFile.empty() ? options.documentFile : options.outputFile;
    std::string error;
    if (!WriteFileAtomically(target, DumpDocument(doc), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    std::fprintf(stderr, "%d sha256 member(s) written to %s\n", report.filled, target.c_str());
    return 0;
}

// Warns about installer URLs that this server should serve but has no file for.
void WarnMissingFiles(const ServerOptions& options, Document doc, const FileStore* store) {
    ServedUrls served{kBasePlaceholder, options.baseUrl, options.filesPrefix};
    for (const UrlSlot& slot : InstallerUrls(doc)) {
        std::string relative;
        if (!served.RelativeFile((*slot.holder)["url"].get<std::string>(), relative))
            continue;
        if (!store)
            std::fprintf(stderr, "warning: %s.url: no --files folder is served\n",
                         slot.path.c_str());
        else if (store->Resolve(relative).status != FileStore::Status::Found)
            std::fprintf(stderr, "warning: %s.url: no file %s to serve\n", slot.path.c_str(),
                         (store->root() / relative).string().c_str());
    }
}

// The document and the installer files as a static web server serves them from `dir`.
int Export(const ServerOptions& options, Document doc, const std::optional<FileStore>& store) {
    WarnMissingFiles(options, doc, store ? &*store : nullptr);
    ReplacePlaceholder(doc, kBasePlaceholder, options.baseUrl);
    std::string body, error;
    if (!EncodeDocumentGbk(doc, body, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitInvalid;
    }
    const fs::path root = options.exportDir;
    const fs::path document = root / options.documentPath.substr(1);
    std::error_code ec;
    fs::create_directories(document.parent_path(), ec);
    if (ec || !WriteFileAtomically(document.string(), body, error)) {
        std::fprintf(stderr, "%s\n", ec ? ec.message().c_str() : error.c_str());
        return kExitFailure;
    }
    int copied = 0;
    if (store) {
        const fs::path files = root / options.filesPrefix.substr(1);
        for (fs::recursive_directory_iterator it(store->root(), ec), end; !ec && it != end;
             it.increment(ec)) {
            if (!it->is_regular_file())
                continue;
            const fs::path to = files / it->path().lexically_relative(store->root());
            fs::create_directories(to.parent_path(), ec);
            if (!ec)
                fs::copy_file(it->path(), to, fs::copy_options::overwrite_existing, ec);
            if (ec)
                break;
            ++copied;
        }
        if (ec) {
            std::fprintf(stderr, "%s\n", ec.message().c_str());
            return kExitFailure;
        }
    }
    std::fprintf(stderr, "document and %d file(s) written to %s\n", copied, root.c_str());
    return 0;
}

int Serve(const ServerOptions& options, Document doc, std::optional<FileStore> store) {
    WarnMissingFiles(options, doc, store ? &*store : nullptr);

    // SIGINT and SIGTERM are taken by one thread with sigwait; every other thread, including
    // the server's workers, inherits the blocked mask.
    const sigset_t signals = BlockStopSignals();

    ConfigServer::Settings settings;
    settings.documentPath = options.documentPath;
    settings.filesPrefix = options.filesPrefix;
    settings.files = std::move(store);
    ConfigServer server(std::move(settings));

    int port = server.Bind(options.address, options.port);
    if (port < 0) {
        std::fprintf(stderr, "cannot listen on %s:%d\n", options.address.c_str(), options.port);
        return kExitFailure;
    }
    std::string listening = "http://" + HostForUrl(options.address) + ":" + std::to_string(port);
    std::string base = options.baseUrl.empty() ? listening : options.baseUrl;
    if (options.baseUrl.empty() && (options.address == "0.0.0.0" || options.address == "::"))
        std::fprintf(stderr,
                     "warning: %s becomes %s in the document; pass --base-url with an address "
                     "that clients can reach\n",
                     kBasePlaceholder, base.c_str());
    ReplacePlaceholder(doc, kBasePlaceholder, base);
    std::string body, error;
    if (!EncodeDocumentGbk(doc, body, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitInvalid;
    }
    server.SetDocument(std::move(body));

    return ServeUntilSignal(
        signals, listening, [&server] { return server.Listen(); }, [&server] { server.Stop(); });
}

} // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    const int early = ReadCommandLine(argc, argv, options, ParseOptions, UsageText);
    if (early >= 0)
        return early;

    std::string error;
    Document doc;
    if (!LoadDocument(options.documentFile, doc, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitInvalid;
    }
    std::vector<Problem> problems = ValidateDocument(doc, kBasePlaceholder);
    if (!problems.empty()) {
        PrintProblems(options.documentFile, problems);
        std::fprintf(stderr, "%s: %zu problem(s); not valid\n", options.documentFile.c_str(),
                     problems.size());
        return kExitInvalid;
    }
    if (options.checkOnly) {
        for (const Problem& warning : UnprotectedInstallerUrls(doc))
            std::fprintf(stderr, "%s: warning: %s\n", options.documentFile.c_str(),
                         warning.Text().c_str());
        std::printf("%s: valid\n", options.documentFile.c_str());
        return 0;
    }

    std::optional<FileStore> store;
    if (!options.filesDir.empty()) {
        store.emplace();
        if (!store->Open(options.filesDir, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitFailure;
        }
    }
    if (options.fillSha256)
        return FillDigests(options, doc, *store);
    if (!options.exportDir.empty())
        return Export(options, std::move(doc), store);
    return Serve(options, std::move(doc), std::move(store));
}
