#include "engine/download/download_resume.h"

#include <cctype>
#include <cstdint>

namespace {
bool ParseCount(const std::string& text, std::size_t& pos, std::uint64_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        const unsigned digit = static_cast<unsigned>(text[pos] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++pos;
    }
    return pos > start;
}
} // namespace

ResumePoint ReadResumePoint(const std::string& acceptRanges, const std::string& etag,
                            const std::string& lastModified, const std::string& contentLength,
                            const std::string& contentRange) {
    ResumePoint point;
    point.acceptsRanges = acceptRanges == "bytes";
    // If-Range compares strongly: a weak ETag cannot name the bytes.
    if (!etag.empty() && etag.compare(0, 2, "W/") != 0)
        point.validator = etag;
    else
        point.validator = lastModified;
    std::size_t pos = 0;
    point.totalKnown = ParseCount(contentLength, pos, point.total) && pos == contentLength.size();
    std::uint64_t first = 0, last = 0;
    if (!point.totalKnown)
        point.totalKnown = ParseContentRange(contentRange, first, last, point.total);
    return point;
}

bool ParseContentRange(const std::string& value, std::uint64_t& first, std::uint64_t& last,
                       std::uint64_t& total) {
    const std::string unit = "bytes ";
    if (value.compare(0, unit.size(), unit) != 0)
        return false;
    std::size_t pos = unit.size();
    if (!ParseCount(value, pos, first) || pos >= value.size() || value[pos++] != '-' ||
        !ParseCount(value, pos, last) || pos >= value.size() || value[pos++] != '/' ||
        !ParseCount(value, pos, total) || pos != value.size())
        return false;
    return first <= last && last < total;
}

bool ResumeCompletesBody(const std::string& contentRange, std::uint64_t received,
                         ResumePoint& point) {
    std::uint64_t first = 0, last = 0, total = 0;
    if (!ParseContentRange(contentRange, first, last, total) || first != received ||
        last != total - 1 || (point.totalKnown && total != point.total))
        return false;
    point.total = total;
    point.totalKnown = true;
    return true;
}
