#pragma once

#include <exception>
#include <filesystem>
#include <string>

enum class FetchResult {
    Saved,            // the whole body arrived with status 200 and is at the target
    RequestFailed,    // no response, a status other than 200, an early end or an empty body
    FolderFailed,     // status 200, but the target's folder could not be created
    OpenFailed,       // the file could not be created in the target's folder
    WriteFailed,      // writing, closing or renaming the file failed
    ChecksumMismatch, // the body arrived but its SHA-256 is not the expected one
};

// The download step of the installers: GET http://<host><path> and stream the body into
// a temporary file beside `target` (its folder is created when the response is 200). The
// file takes the target's name only when everything succeeded; otherwise nothing is left
// behind. `expectedSha256` (hex, any case) is checked when not empty. `host` is what
// SplitHttpUrl gives: a host with an optional ":port". The file system's exception from
// creating the folder is stored in `folderError` with FolderFailed, so that the caller can
// report the arrived response before raising it; without `folderError` it is passed on.
FetchResult FetchInstaller(const std::string& host, const std::string& path,
                           const std::filesystem::path& target, const std::string& expectedSha256,
                           std::exception_ptr* folderError = nullptr);

// Lower-case hex SHA-256 of a file, read in pieces; empty when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);
