#include "alert_link.h"

#include "probes/iemode_site_list.h"

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Case-insensitive ASCII prefix test.
bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size())
            return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

std::wstring ArgumentsOf(const std::wstring& commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const std::size_t close = commandLine.find(L'"', 1);
        i = close == std::wstring::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !IsBlank(commandLine[i]))
            ++i;
    }
    while (i < commandLine.size() && IsBlank(commandLine[i]))
        ++i;
    return commandLine.substr(i);
}

bool PageOfAlertLink(const std::wstring& arguments, std::wstring& page) {
    std::wstring link = arguments;
    while (!link.empty() && IsBlank(link.back()))
        link.pop_back();
    // The registered command passes "%1": one pair of quotes around the whole link. Any
    // other quote means the link itself held one.
    if (link.size() >= 2 && link.front() == L'"' && link.back() == L'"')
        link = link.substr(1, link.size() - 2);
    for (wchar_t c : link)
        if (c < 0x20 || c > 0x7e || c == L'"')
            return false;
    const std::wstring::size_type kScheme = 6; // "alert:"
    if (!StartsWith(link, L"alert:"))
        return false;
    std::wstring url = link.substr(kScheme);
    const bool http = StartsWith(url, L"http://") && url.size() > 7;
    const bool https = StartsWith(url, L"https://") && url.size() > 8;
    if (!http && !https)
        return false;
    page = url;
    return true;
}

std::wstring QuoteArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            // Backslashes before a quote are doubled, and the quote escaped.
            if (c == L'"')
                quoted.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        quoted.push_back(c);
    }
    // Backslashes before the closing quote are doubled.
    quoted.append(backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

bool AllowedPageOf(const std::wstring& commandLine, const std::vector<std::string>& hosts,
                   std::wstring& page) {
    std::wstring candidate;
    if (!PageOfAlertLink(ArgumentsOf(commandLine), candidate))
        return false;
    // Printable ASCII only, so each character is one byte.
    const std::string narrow(candidate.begin(), candidate.end());
    if (!PageHostListed(narrow, hosts))
        return false;
    page = candidate;
    return true;
}
