#pragma once

#include "document.h"

#include <string>
#include <vector>

// One fault of the document: where (a JSON path such as "hebei.driver[1].url") and what.
struct Problem {
    std::string path;
    std::string message;
    std::string Text() const { return path + ": " + message; }
};

// Checks the document against what the tool reads from it: the three regions, their
// framework, tool and driver members, the optional support.reportUrl (where reports are
// uploaded), and the form of every value. URLs may begin with
// placeholder (replaced by the server's base URL when served). Returns every problem found,
// in document order; empty when the document is valid.
std::vector<Problem> ValidateDocument(const Document& doc, const std::string& placeholder);

// Installer URLs over plain http:// without a sha256 beside them: valid, but nothing
// protects what the tool downloads and runs. One warning each, in document order.
std::vector<Problem> UnprotectedInstallerUrls(Document& doc);

// Single-value checks; each returns an empty text when the value is acceptable, otherwise
// what is wrong with it.
std::string CheckRegistryPath(const std::string& path);
std::string CheckInstallerUrl(const std::string& url, const std::string& placeholder);
std::string CheckFileVersion(const std::string& version);
std::string CheckModifyTime(const std::string& dateTime);
std::string CheckSha256Text(const std::string& digest);

// Installers of a signed document that name no size: their download is bounded only by the
// tool's general limit. One warning each, in document order.
std::vector<Problem> UnboundedInstallers(Document& doc);

// The regions' installers that name no silentArgs: the repair without a window starts them
// with no arguments, and then waits for their first dialog. One warning each.
std::vector<Problem> InstallersWithoutSilentArgs(Document& doc);
