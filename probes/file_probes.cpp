#include "file_probes.h"

#include "native_path.h"
#include "textconv.h"

#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <vector>

namespace fs = std::filesystem;

namespace {
// The time zone offset of China Standard Time, which the document's times are written in.
const __time64_t kCstOffset = 28800;
// Longest URL Internet Explorer accepts. std::regex matches recursively, one stack frame
// per character, so an unbounded URL from the server could overflow a thread's stack.

void ReportException(const char* where, const std::exception& e) {
    std::fputs(where, stderr);
    std::fputs(": ", stderr);
    std::fputs(e.what(), stderr);
    std::fputs("\n", stderr);
}

// Directory + "//" + file name, in GBK for the ANSI file functions. The directory is taken
// as it is: no separator is removed.
std::string ProbePath(const fs::path& dir, const std::string& fileNameUtf8) {
    return Utf8ToGbk(dir.u8string() + "//" + fileNameUtf8);
}

// The file-system path the C runtime opens for an ANSI (GBK) path.
fs::path AnsiToFsPath(const std::string& gbkPath) {
    return fs::u8path(ToNativePath(GbkToUtf8(gbkPath)));
}

std::string VersionText(const VS_FIXEDFILEINFO& info) {
    return std::to_string(HIWORD(info.dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info.dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info.dwFileVersionLS));
}
} // namespace

int GetFileVersionTime(const fs::path& dir, const std::string& fileNameUtf8, __time64_t& fileTime,
                       std::string& version, FileMinute* lastWriteUtc) {
    try {
        const std::string path = ProbePath(dir, fileNameUtf8);

        WIN32_FIND_DATAA found;
        std::memset(&found, 0, sizeof found);
        HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return -1;
        // The UTC fields are read as local time on purpose: on a UTC+8 machine this gives the
        // same value as ParseDateTime of the document's text for the same minute.
        SYSTEMTIME st;
        std::memset(&st, 0, sizeof st);
        FileTimeToSystemTime(&found.ftLastWriteTime, &st);
        FindClose(search);
        if (lastWriteUtc)
            *lastWriteUtc = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
        struct tm fields;
        std::memset(&fields, 0, sizeof fields);
        fields.tm_year = st.wYear - 1900;
        fields.tm_mon = st.wMonth - 1;
        fields.tm_mday = st.wDay;
        fields.tm_hour = st.wHour;
        fields.tm_min = st.wMinute;
        fields.tm_sec = 0;
        fields.tm_isdst = -1;
        fileTime = _mktime64(&fields);

        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        if (size == 0)
            return -2;
        std::vector<BYTE> block(size);
        LPVOID fixed = nullptr;
        UINT fixedLen = 0;
        if (GetFileVersionInfoA(path.c_str(), 0, size, block.data()) &&
            VerQueryValueW(block.data(), L"\\", &fixed, &fixedLen) && fixed != nullptr &&
            fixedLen >= sizeof(VS_FIXEDFILEINFO))
            version = VersionText(*static_cast<const VS_FIXEDFILEINFO*>(fixed));
        return 1;
    } catch (const std::exception& e) {
        ReportException("GetFileVersionTime", e);
        return 1;
    }
}

int GetAppConfigVersion(const fs::path& dir, const std::string& fileNameUtf8,
                        std::string& version) {
    try {
        const fs::path file = AnsiToFsPath(ProbePath(dir, fileNameUtf8));
        std::error_code ec;
        if (!fs::exists(file, ec))
            return -1;
        pugi::xml_document doc;
        if (!doc.load_file(file.c_str(), pugi::parse_default, pugi::encoding_auto))
            return -1;
        pugi::xml_node settings = doc.child("configuration").child("appSettings");
        for (pugi::xml_node entry : settings.children()) {
            if (std::strcmp(entry.attribute("key").value(), "Version") == 0) {
                version = entry.attribute("value").value();
                return 1;
            }
        }
        return -2;
    } catch (const std::exception& e) {
        ReportException("GetAppConfigVersion", e);
        return -2;
    }
}

__time64_t ParseDateTime(const std::string& text) {
    long long year = 0, month = 0, day = 0, hour = 0, minute = 0;
    std::sscanf(text.c_str(), "%lld-%lld-%lld %lld:%lld", &year, &month, &day, &hour, &minute);
    // Fields beyond any date are read as unparsable text is (year 0, before the range of
    // _mktime64), before they reach int arithmetic. Smaller overflows (month 13, minute
    // 75) stay for _mktime64 to normalise.
    const auto within = [](long long v) { return v >= 0 && v <= 9999; };
    if (!within(year) || !within(month) || !within(day) || !within(hour) || !within(minute))
        year = month = day = hour = minute = 0;
    struct tm fields;
    std::memset(&fields, 0, sizeof fields);
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_sec = 0;
    fields.tm_isdst = 0;
    return _mktime64(&fields) - kCstOffset;
}

// The whole URL must match "http://([^/]+)(/?.*)" (ECMAScript: "." stops at CR and LF).
// Matched by hand, in one pass: std::regex backtracks recursively, one stack frame per
// character, and a long URL would overflow a worker thread's stack.
void SplitHttpUrl(const std::string& url, std::string& host, std::string& path) {
    static const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return;
    const size_t hostBegin = scheme.size();
    const size_t slash = url.find('/', hostBegin);
    const size_t hostEnd = slash == std::string::npos ? url.size() : slash;
    if (hostEnd == hostBegin)
        return;
    // The host takes every character up to the first slash, line breaks included; what
    // follows it must be free of them.
    if (url.find_first_of("\r\n", hostEnd) != std::string::npos)
        return;
    host = url.substr(hostBegin, hostEnd - hostBegin);
    path = url.substr(hostEnd);
}
