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
#include "signed_document.h"

#include "engine/trust/trusted_comment.h"

#include <chrono>
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
    if (report.filled > 0)
        std::fprintf(stderr, "the document changed: where it is signed, --export it and sign the "
                             "exported document again (minisign -S) with a higher serial\n");
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
// Copies what the server would serve from the files folder: no dotfile or dot-folder (".git",
// ".htaccess"), and a link only where it leads inside the folder, as the server itself
// decides (its content is copied). What is left out is said, one line each.
bool ExportFiles(const FileStore& store, const fs::path& files, int& copied) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(store.root(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path relative = it->path().lexically_relative(store.root());
        std::error_code typeEc;
        if (it->path().filename().string().rfind('.', 0) == 0) {
            std::fprintf(stderr, "not exported: %s (a dotfile)\n", relative.c_str());
            if (it->is_directory(typeEc))
                it.disable_recursion_pending();
            continue;
        }
        fs::path from = it->path();
        if (it->is_symlink(typeEc)) {
            const FileStore::Lookup found = store.Resolve(relative.generic_string());
            if (found.status != FileStore::Status::Found) {
                std::fprintf(stderr, "not exported: %s (a link that %s)\n", relative.c_str(),
                             found.status == FileStore::Status::Forbidden
                                 ? "leads outside the files folder"
                                 : "leads to no file");
                continue;
            }
            from = found.file;
        } else if (!it->is_regular_file(typeEc)) {
            continue;
        }
        const fs::path to = files / relative;
        fs::create_directories(to.parent_path(), ec);
        if (!ec)
            fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        if (ec)
            break;
        ++copied;
    }
    if (ec)
        std::fprintf(stderr, "%s\n", ec.message().c_str());
    return !ec;
}

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
    if (store && !ExportFiles(*store, root / options.filesPrefix.substr(1), copied))
        return kExitFailure;
    std::fprintf(stderr, "document and %d file(s) written to %s\n", copied, root.c_str());
    // A signature beside the document is of the one this export replaced.
    const fs::path signature = document.string() + ".minisig";
    if (fs::exists(signature, ec) && fs::remove(signature, ec))
        std::fprintf(stderr, "removed %s: it signed the document this export replaced\n",
                     signature.c_str());
    std::fprintf(stderr,
                 "to sign it: minisign -S -m %s -t \"serial=N expires=YYYY-MM-DDTHH:MM:SSZ\"\n",
                 document.c_str());
    return 0;
}

long long UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// --check --doc-key: the exported document and its signature as the tool will check them.
int CheckSigned(const ServerOptions& options, const std::string& bytes, Document& doc) {
    std::vector<MinisignPublicKey> keys;
    std::string error;
    if (!LoadDocKeys(options.docKeyFiles, keys, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitInvalid;
    }
    SignatureVerdict verdict;
    const std::vector<std::string> problems =
        SignedDocumentProblems(options.documentFile, bytes, doc, keys, UnixNow(), verdict);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    if (!problems.empty()) {
        std::fprintf(stderr, "%s: %zu problem(s); the tool will not use it\n",
                     options.documentFile.c_str(), problems.size());
        return kExitInvalid;
    }
    for (const Problem& warning : UnboundedInstallers(doc))
        std::fprintf(stderr, "%s: warning: %s\n", options.documentFile.c_str(),
                     warning.Text().c_str());
    for (const Problem& warning : InstallersWithoutSilentArgs(doc))
        std::fprintf(stderr, "%s: warning: %s\n", options.documentFile.c_str(),
                     warning.Text().c_str());
    std::printf("%s: valid, %s\n", options.documentFile.c_str(), SignatureLogText(verdict).c_str());
    return 0;
}

// --signed: the signature beside the document, verified first where keys are given.
int LoadSignature(const ServerOptions& options, const std::string& bytes, const Document& doc,
                  std::string& signature) {
    std::string error;
    if (!ReadFileBytes(options.documentFile + ".minisig", signature, error)) {
        std::fprintf(stderr, "%s (--signed serves the document with its signature)\n",
                     error.c_str());
        return kExitInvalid;
    }
    if (options.docKeyFiles.empty())
        return 0;
    std::vector<MinisignPublicKey> keys;
    if (!LoadDocKeys(options.docKeyFiles, keys, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitInvalid;
    }
    SignatureVerdict verdict;
    for (const std::string& problem :
         SignedDocumentProblems(options.documentFile, bytes, doc, keys, UnixNow(), verdict))
        std::fprintf(stderr, "%s: %s\n",
                     verdict.outcome == SignatureOutcome::Accepted ? "warning" : "error",
                     problem.c_str());
    if (verdict.outcome != SignatureOutcome::Accepted) {
        std::fprintf(stderr, "not serving a document that does not verify\n");
        return kExitInvalid;
    }
    return 0;
}

// `signedBody`: the document's bytes as exported and its signature, served as they are.
int Serve(const ServerOptions& options, Document doc, std::optional<FileStore> store,
          const std::pair<std::string, std::string>* signedBody) {
    WarnMissingFiles(options, doc, store ? &*store : nullptr);

    // SIGINT and SIGTERM are taken by one thread with sigwait; every other thread, including
    // the server's workers, inherits the blocked mask.
    const sigset_t signals = BlockStopSignals();

    ConfigServer::Settings settings;
    settings.documentPath = options.documentPath;
    settings.filesPrefix = options.filesPrefix;
    settings.files = std::move(store);
    settings.proxies = options.proxies;
    ConfigServer server(std::move(settings));

    int port = server.Bind(options.address, options.port);
    if (port < 0) {
        std::fprintf(stderr, "cannot listen on %s:%d\n", options.address.c_str(), options.port);
        return kExitFailure;
    }
    std::string listening = "http://" + HostForUrl(options.address) + ":" + std::to_string(port);
    std::string base = options.baseUrl.empty() ? listening : options.baseUrl;
    if (!signedBody && options.baseUrl.empty() &&
        (options.address == "0.0.0.0" || options.address == "::"))
        std::fprintf(stderr,
                     "warning: %s becomes %s in the document; pass --base-url with an address "
                     "that clients can reach\n",
                     kBasePlaceholder, base.c_str());
    if (signedBody) {
        server.SetDocument(signedBody->first);
        server.SetSignature(signedBody->second);
    } else {
        ReplacePlaceholder(doc, kBasePlaceholder, base);
        std::string body, error;
        if (!EncodeDocumentGbk(doc, body, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitInvalid;
        }
        server.SetDocument(std::move(body));
    }

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
    // A signed document is read as served (GBK bytes), the form its signature covers.
    const bool asServed = options.signedDocument || !options.docKeyFiles.empty();
    std::string bytes;
    if (asServed ? !ReadFileBytes(options.documentFile, bytes, error) ||
                       !ParseServedDocument(bytes, doc, error)
                 : !LoadDocument(options.documentFile, doc, error)) {
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
    if (options.checkOnly && asServed)
        return CheckSigned(options, bytes, doc);
    if (options.checkOnly) {
        for (const std::vector<Problem>& warnings :
             {UnprotectedInstallerUrls(doc), InstallersWithoutSilentArgs(doc)})
            for (const Problem& warning : warnings)
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
    if (options.signedDocument) {
        std::pair<std::string, std::string> signedBody{bytes, std::string()};
        if (const int failed = LoadSignature(options, bytes, doc, signedBody.second))
            return failed;
        return Serve(options, std::move(doc), std::move(store), &signedBody);
    }
    return Serve(options, std::move(doc), std::move(store), nullptr);
}
