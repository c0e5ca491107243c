#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <spdlog/logger.h>

class HeldFile;
struct TransportFailure;

enum class FetchResult {
    Saved,            // the whole body arrived with status 200 and is at the target
    RequestFailed,    // no response, a status other than 200, an early end or an empty body
    FolderFailed,     // status 200, but the target's folder could not be created
    OpenFailed,       // the file could not be created in the target's folder
    WriteFailed,      // writing, closing or renaming the file failed
    ChecksumMismatch, // the body arrived but its SHA-256 is not the expected one
    TooLarge,         // its announced length or its bytes passed the limit (FetchHooks)
    NoDiskSpace,      // the folder's drive has less free space than the download needs
};

// The bounds a download met, for the words of its outcome.
struct FetchBounds {
    std::uint64_t limit = 0;        // the byte limit it had
    bool limitFromDocument = false; // the entry's `size`, not the general limit
    std::uint64_t neededBytes = 0;  // with NoDiskSpace: the length plus the margin
    std::uint64_t freeBytes = 0;    // with NoDiskSpace: what the drive had free
};

// What a caller may get from a download beside its result.
struct FetchHooks {
    // The file system's exception from creating the folder, with FolderFailed, so that
    // the caller can report the arrived response before raising it; without it the
    // exception is passed on.
    std::exception_ptr* folderError = nullptr;
    // With Saved: the target, open and held (see HeldFile) from before its SHA-256 was
    // checked, for starting exactly the checked file.
    HeldFile* installer = nullptr;
    // Bytes of the body at the target so far and its whole size (0 when not announced),
    // after every piece that arrives.
    std::function<void(std::uint64_t received, std::uint64_t total)> progress;
    // The HTTP status of the last response, 0 when none arrived.
    int* httpStatus = nullptr;
    // Where retries and time-outs are logged.
    std::shared_ptr<spdlog::logger> logger;
    // A signed document must name every installer's hash: with this set, an empty expected
    // SHA-256 is refused before any request (ChecksumMismatch, with the status
    // kRefusedWithoutSha256).
    bool requireSha256 = false;
    // With RequestFailed: what failed in the transport on the last attempt (certificate,
    // proxy, a truncated answer, ...); None when an answer of the wrong kind came.
    TransportFailure* failure = nullptr;
    // The most bytes the body may have: the entry's `size` when it names one, else 0 for the
    // general limit (DownloadLimits::installerMaxBytes). An answer announcing more, or
    // sending more, fails as TooLarge; nothing past the limit is written.
    std::uint64_t maxBytes = 0;
    // The Windows folder (UTF-8) whose drive the file goes to: before the body is written,
    // its free space must hold the announced length (or maxBytes from the document) plus
    // DownloadLimits::diskMargin, else NoDiskSpace. Empty: not checked.
    std::string spaceFolder;
    // Filled with the bounds the download met.
    FetchBounds* bounds = nullptr;
};

// The "HTTP status" of an installer refused because its entry names no sha256.
inline constexpr int kRefusedWithoutSha256 = -1;

// The download step of the installers: GET of `url` ("http(s)://host[:port]/path") and
// stream the body into a temporary file beside `target` (its folder is created when the
// response is 200). Only a whole body counts: as long as its Content-Length, or chunked to
// its last chunk; one that the closing connection ends is a failed transfer. A connection
// error, a time-out or a cut body is retried (see DownloadLimits), resuming with a Range
// request when the first response allows it; a certificate, TLS or proxy failure is not.
// A resumed answer that would not complete the file exactly (see ResumeCompletesBody, and a
// 416 or 5xx) discards it and starts over from byte 0 within the same retries. The complete
// file takes the target's name, is then opened and held, and checked against
// `expectedSha256` (hex, any case) when that is not empty; a file that fails is removed,
// and nothing else is left behind.
FetchResult FetchInstaller(const std::string& url, const std::filesystem::path& target,
                           const std::string& expectedSha256, const FetchHooks& hooks);
FetchResult FetchInstaller(const std::string& url, const std::filesystem::path& target,
                           const std::string& expectedSha256,
                           std::exception_ptr* folderError = nullptr);
// Lower-case hex SHA-256 of a file, read in pieces; empty when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);
