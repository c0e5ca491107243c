#include "engine/download/download.h"

#include "engine/download/download_limits.h"
#include "engine/download/download_resume.h"
#include "engine/download/part_files.h"
#include "engine/engine_log.h"
#include "engine/install_paths.h"
#include "engine/server_address.h"
#include "engine/transport/transport.h"

#include "common/text/ascii.h"

#include "probes/disk_space.h"
#include "probes/held_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
void Discard(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
}

std::string Sha256OfHeld(HeldFile& file) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        std::size_t got = 0;
        if (!file.Read(buffer.data(), buffer.size(), got))
            return std::string();
        if (got == 0)
            break;
        hash.addData(buffer.data(), static_cast<int>(got));
    }
    return hash.result().toHex().toStdString();
}

// Fails a transfer whose rate stays below the limit for the limit's time: the rate is
// sampled at least every second, and the time below the limit runs from the first slow
// sample until a sample at or above the limit.
class SpeedWatch {
  public:
    explicit SpeedWatch(const DownloadLimits& limits)
        : limit_(limits.lowSpeedBytesPerSecond), span_(limits.lowSpeedTime),
          sample_(std::min<Clock::duration>(std::chrono::seconds(1), limits.lowSpeedTime / 4)) {}

    void Start(std::uint64_t received) {
        sampleTime_ = Clock::now();
        sampleBytes_ = received;
        slowSince_.reset();
    }
    // False once the transfer is too slow.
    bool Update(std::uint64_t received) {
        if (limit_ == 0)
            return true;
        const Clock::time_point now = Clock::now();
        const auto elapsed = now - sampleTime_;
        if (elapsed < sample_)
            return true;
        const double seconds = std::chrono::duration<double>(elapsed).count();
        const bool slow = static_cast<double>(received - sampleBytes_) < limit_ * seconds;
        if (!slow)
            slowSince_.reset();
        else if (!slowSince_)
            slowSince_ = sampleTime_;
        sampleTime_ = now;
        sampleBytes_ = received;
        return !(slowSince_ && now - *slowSince_ >= span_);
    }

  private:
    double limit_;
    Clock::duration span_;
    Clock::duration sample_;
    Clock::time_point sampleTime_;
    std::uint64_t sampleBytes_ = 0;
    std::optional<Clock::time_point> slowSince_;
};

// Restart: a resumed answer that cannot complete the file; it starts over from byte 0.
enum class Attempt { Complete, Retry, Restart, Failed };

// One download into its ".part" file, over as many requests as the limits allow.
class Transfer {
  public:
    Transfer(const fs::path& target, const DownloadLimits& limits, const FetchHooks& hooks)
        : target_(target), part_(NewPartFile(target)), limits_(limits), hooks_(hooks),
          speed_(limits) {
        bounds.limit = hooks.maxBytes != 0 ? hooks.maxBytes : limits.installerMaxBytes;
        bounds.limitFromDocument = hooks.maxBytes != 0;
    }
    ~Transfer() {
        out_.reset();
        if (!kept_)
            Discard(part_);
        ForgetPartFile(part_);
    }

    Attempt Run(Transport& transport, const ServerAddress& address, const std::string& path,
                std::string& why);
    // Closes the file; false when what was written did not all reach it.
    bool Finish() {
        if (!out_)
            return true;
        out_->close();
        const bool ok = !out_->fail();
        out_.reset();
        return ok;
    }
    // Drops what arrived, so that the next request asks for the whole body.
    void Restart() {
        out_.reset();
        Discard(part_);
        received_ = 0;
        resume_ = ResumePoint();
    }
    // Gives the file the target's name; false (and the file gone) when that fails.
    bool Keep() {
        std::error_code ec;
        fs::rename(part_, target_, ec);
        kept_ = !ec;
        return kept_;
    }

    std::uint64_t received() const { return received_; }
    bool sawResponse() const { return sawResponse_; }
    std::exception_ptr folderError;
    bool openFailed = false;
    bool writeFailed = false;
    int lastStatus = 0;
    TransportFailure lastFailure; // of the last attempt that failed in the transport
    FetchBounds bounds;
    bool tooLarge = false;
    bool noDiskSpace = false;

  private:
    bool OnResponse(const TransportResponse& response);
    bool RoomFor(std::uint64_t length);
    bool OnData(const char* data, std::size_t length);
    bool OpenPart();

    fs::path target_;
    fs::path part_;
    DownloadLimits limits_;
    const FetchHooks& hooks_;
    SpeedWatch speed_;
    std::vector<char> buffer_ = std::vector<char>(1 << 20);
    std::unique_ptr<std::ofstream> out_;
    std::uint64_t received_ = 0;
    ResumePoint resume_;
    bool resuming_ = false;
    bool partial_ = false;    // this attempt's answer is an accepted 206
    std::string resumeFault_; // why the resumed answer cannot be spliced to the file
    bool sawResponse_ = false;
    bool kept_ = false;
    bool badResponse_ = false;
    bool tooSlow_ = false;
};

bool Transfer::OpenPart() {
    out_.reset();
    // The client hands over the body in pieces; a large file buffer saves most of the
    // write calls.
    auto out = std::make_unique<std::ofstream>();
    out->rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    out->open(part_, std::ios::binary | std::ios::trunc);
    if (!*out)
        return false;
    out_ = std::move(out);
    return true;
}

bool Transfer::OnResponse(const TransportResponse& response) {
    lastStatus = response.status;
    if (resuming_ && response.status != 200) {
        const std::string range = response.Header("Content-Range");
        if (response.status == 206) {
            partial_ = ResumeCompletesBody(range, received_, resume_);
            if (partial_)
                return true;
            resumeFault_ = "206 with Content-Range '" + range + "'";
        } else if (response.status == 416 || response.status >= 500) {
            resumeFault_ = "status " + std::to_string(response.status);
        } else {
            badResponse_ = true;
        }
        return false;
    }
    if (response.status != 200) {
        badResponse_ = true;
        return false;
    }
    // The whole body (again, when the file changed since the first response).
    if (!sawResponse_) {
        try {
            fs::create_directories(target_.parent_path());
        } catch (...) {
            folderError = std::current_exception();
            return false;
        }
        RemoveStalePartFiles(target_.parent_path());
    }
    sawResponse_ = true;
    if (!OpenPart()) {
        openFailed = true;
        return false;
    }
    received_ = 0;
    speed_.Start(0);
    resume_ = ReadResumePoint(response.Header("Accept-Ranges"), response.Header("ETag"),
                              response.Header("Last-Modified"), response.Header("Content-Length"),
                              response.Header("Content-Range"));
    if (resume_.totalKnown && resume_.total > bounds.limit) {
        ENGINE_LOG(hooks_.logger, "download refused: {} bytes announced, the limit is {}",
                   resume_.total, bounds.limit);
        tooLarge = true;
        return false;
    }
    return RoomFor(std::max(resume_.totalKnown ? resume_.total : 0,
                            bounds.limitFromDocument ? bounds.limit : 0));
}

// Whether the drive can take `length` bytes and the margin; a drive whose free space cannot
// be read is not refused (the write would fail on its own).
bool Transfer::RoomFor(std::uint64_t length) {
    std::uint64_t freeBytes = 0;
    if (hooks_.spaceFolder.empty() || !FreeBytesForCaller(hooks_.spaceFolder, freeBytes))
        return true;
    const std::uint64_t needed = length + limits_.diskMargin;
    if (freeBytes >= needed)
        return true;
    bounds.neededBytes = needed;
    bounds.freeBytes = freeBytes;
    ENGINE_LOG(hooks_.logger, "download refused: {} needs {} bytes free, {} are",
               hooks_.spaceFolder, needed, freeBytes);
    noDiskSpace = true;
    return false;
}

bool Transfer::OnData(const char* data, std::size_t length) {
    if (DownloadsAborted())
        return false;
    if (length > bounds.limit - received_) {
        ENGINE_LOG(hooks_.logger, "download stopped: the body passes the limit of {} bytes",
                   bounds.limit);
        tooLarge = true;
        return false;
    }
    out_->write(data, static_cast<std::streamsize>(length));
    if (!*out_) {
        writeFailed = true;
        return false;
    }
    received_ += length;
    if (resume_.totalKnown && received_ > resume_.total) {
        if (partial_)
            resumeFault_ = "body beyond its total " + std::to_string(resume_.total);
        else
            badResponse_ = true;
        return false;
    }
    if (hooks_.progress)
        hooks_.progress(received_, resume_.totalKnown ? resume_.total : 0);
    if (!speed_.Update(received_)) {
        tooSlow_ = true;
        return false;
    }
    return true;
}

// Whether a failure of the transport is worth another request: the network's, not the
// certificate's, TLS's or the proxy's refusal, which the next request would meet again.
bool Retryable(TransportError error) {
    switch (error) {
    case TransportError::Resolve:
    case TransportError::Connect:
    case TransportError::Timeout:
    case TransportError::Truncated:
    case TransportError::Protocol:
    case TransportError::ProxyUnreachable:
        return true;
    default:
        return false;
    }
}

Attempt Transfer::Run(Transport& transport, const ServerAddress& address, const std::string& path,
                      std::string& why) {
    resuming_ = received_ > 0 && resume_.CanResume();
    TransportRequest request;
    request.https = address.https;
    request.host = address.host;
    request.port = address.port;
    request.path = path;
    request.connectTimeout = limits_.connectTimeout;
    request.readTimeout = limits_.readTimeout;
    if (resuming_) {
        request.headers.emplace_back("Range", "bytes=" + std::to_string(received_) + "-");
        request.headers.emplace_back("If-Range", resume_.validator);
    }
    badResponse_ = false;
    resumeFault_.clear();
    partial_ = false;
    tooSlow_ = false;
    speed_.Start(received_);
    TransportFailure failure;
    lastFailure = TransportFailure();
    const bool whole = transport.Send(
        request, [&](const TransportResponse& response) { return OnResponse(response); },
        [&](const char* data, std::size_t length) { return OnData(data, length); }, failure);
    if (out_ && !out_->flush())
        writeFailed = true;
    if (!whole && failure.error != TransportError::Cancelled)
        lastFailure = failure;

    if (folderError || openFailed || writeFailed || badResponse_ || tooLarge || noDiskSpace ||
        DownloadsAborted())
        return Attempt::Failed;
    if (whole && partial_ && received_ != resume_.total)
        resumeFault_ = "resumed body ended at byte " + std::to_string(received_) + " of " +
                       std::to_string(resume_.total);
    if (!resumeFault_.empty()) {
        why = "resume refused, from byte 0: " + resumeFault_;
        return Attempt::Restart;
    }
    if (whole) {
        if (received_ == 0 || (resume_.totalKnown && received_ != resume_.total))
            return Attempt::Failed;
        return Attempt::Complete;
    }
    if (tooSlow_) {
        why = "below " + std::to_string(limits_.lowSpeedBytesPerSecond) + " B/s for " +
              std::to_string(limits_.lowSpeedTime.count()) + " ms";
        return Attempt::Retry;
    }
    why = failure.detail;
    return Retryable(failure.error) ? Attempt::Retry : Attempt::Failed;
}
} // namespace

std::string Sha256OfFile(const fs::path& file) {
#ifdef _WIN32
    QFile in(QString::fromStdWString(file.wstring()));
#else
    QFile in(QString::fromStdString(file.u8string()));
#endif
    if (!in.open(QIODevice::ReadOnly))
        return std::string();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&in))
        return std::string();
    return hash.result().toHex().toStdString();
}

FetchResult FetchInstaller(const std::string& url, const fs::path& target,
                           const std::string& expectedSha256, std::exception_ptr* folderError) {
    FetchHooks hooks;
    hooks.folderError = folderError;
    return FetchInstaller(url, target, expectedSha256, hooks);
}

FetchResult FetchInstaller(const std::string& url, const fs::path& target,
                           const std::string& expectedSha256, const FetchHooks& hooks) {
    if (hooks.httpStatus)
        *hooks.httpStatus = 0;
    if (hooks.requireSha256 && expectedSha256.empty()) {
        ENGINE_LOG(hooks.logger, "installer {} not downloaded: the signed document names no sha256",
                   url);
        if (hooks.httpStatus)
            *hooks.httpStatus = kRefusedWithoutSha256;
        return FetchResult::ChecksumMismatch;
    }
    if (hooks.failure)
        *hooks.failure = TransportFailure();
    ServerAddress address;
    std::string path;
    if (!ParseServerUrl(url, address, path)) {
        if (hooks.failure) {
            hooks.failure->error = TransportError::BadRequest;
            hooks.failure->detail = "not an http:// or https:// URL";
        }
        return FetchResult::RequestFailed;
    }

    const DownloadLimits limits = CurrentDownloadLimits();
    const std::unique_ptr<Transport> transport = MakeTransport();

    Transfer transfer(target, limits, hooks);
    Attempt attempt = Attempt::Failed;
    for (int round = 0;; ++round) {
        std::string why;
        attempt = transfer.Run(*transport, address, path, why);
        if (attempt == Attempt::Restart)
            transfer.Restart();
        else if (attempt != Attempt::Retry)
            break;
        if (round >= limits.retries) {
            ENGINE_LOG(hooks.logger, "download failed after {} attempts: {} ", round + 1, why);
            break;
        }
        ENGINE_LOG(hooks.logger, "download retry {}/{} at byte {}: {} ", round + 1, limits.retries,
                   transfer.received(), why);
        std::this_thread::sleep_for(limits.retryDelay);
    }
    const bool closed = transfer.Finish();
    if (hooks.httpStatus)
        *hooks.httpStatus = transfer.lastStatus;
    if (hooks.bounds)
        *hooks.bounds = transfer.bounds;
    if (transfer.tooLarge)
        return FetchResult::TooLarge;
    if (transfer.noDiskSpace)
        return FetchResult::NoDiskSpace;
    if (attempt != Attempt::Complete && transfer.lastFailure.error != TransportError::None) {
        if (hooks.failure)
            *hooks.failure = transfer.lastFailure;
        ENGINE_LOG(hooks.logger, "download from {} failed: {} ({})", ServerUrlText(address, path),
                   DescribeTransportFailure(transfer.lastFailure), transfer.lastFailure.detail);
    }
    if (transfer.folderError) {
        if (!hooks.folderError)
            std::rethrow_exception(transfer.folderError);
        *hooks.folderError = transfer.folderError;
        return FetchResult::FolderFailed;
    }
    if (transfer.openFailed)
        return FetchResult::OpenFailed;
    if (transfer.writeFailed || (transfer.sawResponse() && !closed))
        return FetchResult::WriteFailed;
    if (attempt != Attempt::Complete)
        return FetchResult::RequestFailed;
    if (!transfer.Keep())
        return FetchResult::WriteFailed;

    // From here until the caller has started it, the file is held so that the checked
    // bytes are the ones that run.
    HeldFile local;
    HeldFile& held = hooks.installer ? *hooks.installer : local;
    if (!held.Open(LocalPathText(target))) {
        Discard(target);
        return FetchResult::WriteFailed;
    }
    if (!expectedSha256.empty() && !ascii::EqualIgnoringCase(Sha256OfHeld(held), expectedSha256)) {
        held.Close();
        Discard(target);
        return FetchResult::ChecksumMismatch;
    }
    return FetchResult::Saved;
}
