#pragma once

// The form of a host as an Enterprise Mode site list holds it ("portal.example.cn" or
// "portal.example.cn:8080"): one definition for the program, which writes and reads the list,
// and for the configuration server, which checks a document's hosts before serving it.

#include <cstddef>
#include <string>

// Most hosts a server document may add to the list (per region, beside the portal).
inline constexpr std::size_t kMaxSiteHosts = 32;

// A host name: labels of letters, digits and '-' joined by single dots, at most 253
// characters.
bool IsHostName(const std::string& host);

// 1-65535 written in decimal without a sign; 0 otherwise.
int PortNumber(const std::string& digits);

// Empty when `host` is a host name of at least two labels or "host:port" (port 1-65535)
// that a site list may hold; otherwise what is wrong with it. No scheme, path, wildcard,
// blank or single label ("cn") is accepted.
std::string SiteHostProblem(const std::string& host);
