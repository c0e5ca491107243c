#pragma once

#include <cstdint>
#include <string>

// What a full (status 200) response allows for resuming its body after a broken
// connection: a Range request with If-Range, so that a changed file comes back whole.
struct ResumePoint {
    bool acceptsRanges = false;
    std::string validator; // a strong ETag, else Last-Modified; empty: cannot resume
    // The whole size: the response's Content-Length, else the total of its own
    // Content-Range; when neither gives it, the total of the first accepted 206.
    std::uint64_t total = 0;
    bool totalKnown = false;

    bool CanResume() const { return acceptsRanges && !validator.empty(); }
};

ResumePoint ReadResumePoint(const std::string& acceptRanges, const std::string& etag,
                            const std::string& lastModified, const std::string& contentLength,
                            const std::string& contentRange);

// "bytes <first>-<last>/<total>"; false when it is not of that form.
bool ParseContentRange(const std::string& value, std::uint64_t& first, std::uint64_t& last,
                       std::uint64_t& total);

// Whether the Content-Range of a 206 answer to "Range: bytes=<received>-" completes the
// body: it starts at `received`, ends at the last byte and its total is the known one (or
// becomes it when none is known yet). Anything else must not be spliced to the file.
bool ResumeCompletesBody(const std::string& contentRange, std::uint64_t received,
                         ResumePoint& point);
