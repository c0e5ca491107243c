#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The Enterprise Mode site list (schema v.2) through which Edge opens the portal in its IE
// mode: one <site url="host"> per host, without a scheme (one entry covers http and https),
// a port written as "host:8080".

extern const char kSiteListPath[]; // C:\ProgramData\Quelda\iemode-sites.xml
extern const char kSiteListUrl[];  // the same file as the policy names it

struct SiteList {
    int version = 0;
    std::vector<std::string> hosts; // as written in the file
};

// What a site list may hold, and how many hosts a document may add to it, is said in
// common/text/host_syntax.h.

// Reads a site list file (a Windows path). False when the file is missing or is not a site
// list of schema v.2.
bool ReadSiteList(const std::string& windowsPath, SiteList& list);

// Whether every one of `required` is in `list` (host names compared without regard to case).
// Whether `hosts` names `host`, the case of letters aside.
bool HostListed(const std::vector<std::string>& hosts, const std::string& host);

bool SiteListHolds(const SiteList& list, const std::vector<std::string>& required);

// Writes `hosts` as the site list at `windowsPath`, in a folder first made one that only
// administrators can change (see admin_folder.h). A new content gets the next version
// number (Edge re-reads a list only when its version changes). The file is written whole
// beside the target and then renamed into place, so a reader never sees half a list.
// 1 written, 0 the content was already there, -1 the folder or the file could not be
// written, -2 the folder could not be secured (nothing written).
int WriteSiteList(const std::string& windowsPath, const std::vector<std::string>& hosts);

// Whether the site list's folder and file are owned by Administrators, SYSTEM or this account (see
// AdminOwned): only then may what it names be trusted.
bool SiteListTrusted(const std::string& windowsPath);

// Whether a page may open through the site list: its host (of an http:// or https:// URL)
// is one of `listed` or a sub-domain of one of at least two labels that is not an address
// (10.1.2.3 matches itself only), without regard to case, and its port equals a listed
// port when the entry has one. A URL with user information, or a host with any
// character outside letters, digits, '-' and '.', is never allowed.
bool PageHostListed(const std::string& url, const std::vector<std::string>& listed);
