#pragma once

#include <cstdint>
#include <string>

// What a full (status 200) response allows for resuming its body after a broken
// connection: a Range request with If-Range, so that a changed file comes back whole.
struct ResumePoint {
    bool acceptsRanges = false;
    std::string validator; // a strong ETag, else Last-Modified; empty: cannot resume
    std::uint64_t total = 0;
    bool totalKnown = false;

    bool CanResume() const { return acceptsRanges && !validator.empty(); }
};

ResumePoint ReadResumePoint(const std::string& acceptRanges, const std::string& etag,
                            const std::string& lastModified, const std::string& contentLength);

// "bytes <first>-<last>/<total>" of a 206 response; false when it is not of that form.
bool ParseContentRange(const std::string& value, std::uint64_t& first, std::uint64_t& total);
