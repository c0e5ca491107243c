#pragma once

#include "document.h"
#include "document_validation.h"
#include "file_store.h"

#include <string>
#include <vector>

// Which installer URLs the server itself serves: those beginning with the placeholder or with
// the base URL, followed by the files prefix.
struct ServedUrls {
    std::string placeholder;
    std::string baseUrl; // may be empty
    std::string filesPrefix;

    // The decoded path below the files prefix when url is served from the files folder.
    bool RelativeFile(const std::string& url, std::string& relative) const;
};

// Every installer URL of the three regions (framework, tool, each driver entry), then the
// tool's own release packages (envcheck.msi, envcheck.zip), with the JSON path of the object
// holding it. Members of the wrong type are skipped.
struct UrlSlot {
    std::string path; // e.g. "hebei.driver[1]"
    Document* holder; // the object with the "url" member
};
std::vector<UrlSlot> InstallerUrls(Document& doc);

struct FillReport {
    int filled = 0;                // sha256 members written
    std::vector<Problem> problems; // served URLs whose file is missing or unreadable
};

// Sets "sha256" and "size" beside every URL that the server serves from store to the digest
// and the length of that file. The document is changed only when no problem is found.
FillReport FillSha256(Document& doc, const FileStore& store, const ServedUrls& served);
