#include "iemode_site_list.h"

#include "admin_folder.h"
#include "native_path.h"

#include "common/text/ascii.h"
#include "common/text/host_syntax.h"

#include <pugixml.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

const char kSiteListPath[] = "C:\\ProgramData\\Quelda\\iemode-sites.xml";
const char kSiteListUrl[] = "file:///C:/ProgramData/Quelda/iemode-sites.xml";

namespace {

// Host and port (0 when none is written) of a site entry; false for an entry that is not
// a host with an optional valid port.
bool SplitSite(const std::string& site, std::string& host, int& port) {
    const std::string::size_type colon = site.find(':');
    host = ascii::Lower(site.substr(0, colon));
    port = colon == std::string::npos ? 0 : PortNumber(site.substr(colon + 1));
    return IsHostName(host) && (colon == std::string::npos || port != 0);
}

std::string SiteListText(int version, const std::vector<std::string>& hosts) {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "utf-8";
    pugi::xml_node root = doc.append_child("site-list");
    root.append_attribute("version") = version;
    for (const std::string& host : hosts) {
        pugi::xml_node site = root.append_child("site");
        site.append_attribute("url") = host.c_str();
        site.append_child("compat-mode").text() = "Default";
        pugi::xml_node openIn = site.append_child("open-in");
        openIn.append_attribute("allow-redirect") = "true";
        openIn.text() = "IE11";
    }
    std::ostringstream text;
    doc.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    return text.str();
}

bool ReadWhole(const fs::path& file, std::string& text) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

// An address such as 10.1.2.3: every label is digits. It names one computer only, so it is
// never a parent domain.
bool IsAddressLike(const std::string& host) {
    return host.find_first_not_of("0123456789.") == std::string::npos;
}

// Where a part file may go beside `windowsPath`: a name that is free or holds a regular
// file, which is removed. A folder or link under the first name (made before the folder was
// secured) is removed with what it holds; when that fails, the next name is tried, so the
// list can always be written.
bool FreePartPath(const std::string& windowsPath, std::string& partPath) {
    for (int n = 0; n < 8; ++n) {
        partPath = windowsPath + (n == 0 ? std::string() : "." + std::to_string(n)) + ".part";
        const fs::path part = fs::u8path(ToNativePath(partPath));
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(part, ec);
        if (status.type() == fs::file_type::not_found)
            return true;
        if (fs::is_directory(status))
            fs::remove_all(part, ec);
        else
            fs::remove(part, ec);
        if (!ec && !fs::exists(fs::symlink_status(part, ec)))
            return true;
    }
    return false;
}

} // namespace

bool ReadSiteList(const std::string& windowsPath, SiteList& list) {
    try {
        pugi::xml_document doc;
        const fs::path file = fs::u8path(ToNativePath(windowsPath));
        if (!doc.load_file(file.c_str(), pugi::parse_default, pugi::encoding_auto))
            return false;
        pugi::xml_node root = doc.child("site-list");
        const std::string version = root.attribute("version").value();
        if (!root || version.empty() || version.size() > 9 ||
            version.find_first_not_of("0123456789") != std::string::npos)
            return false;
        list.version = std::stoi(version);
        list.hosts.clear();
        for (pugi::xml_node site : root.children("site"))
            list.hosts.push_back(site.attribute("url").value());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool HostListed(const std::vector<std::string>& hosts, const std::string& host) {
    for (const std::string& entry : hosts)
        if (ascii::EqualIgnoringCase(entry, host))
            return true;
    return false;
}

bool SiteListHolds(const SiteList& list, const std::vector<std::string>& required) {
    for (const std::string& host : required)
        if (!HostListed(list.hosts, host))
            return false;
    return true;
}

int WriteSiteList(const std::string& windowsPath, const std::vector<std::string>& hosts) {
    try {
        // Before anything in it is read or trusted: a folder a user made first is theirs.
        const int secured = MakeAdminOnlyFolder(windowsPath.substr(0, windowsPath.rfind('\\')));
        if (secured < 0)
            return secured;
        const fs::path file = fs::u8path(ToNativePath(windowsPath));
        SiteList current;
        const bool exists = ReadSiteList(windowsPath, current);
        std::string old;
        const bool unchanged =
            exists && ReadWhole(file, old) && old == SiteListText(current.version, hosts);
        const std::string text =
            unchanged ? old : SiteListText(exists ? current.version + 1 : 1, hosts);

        // Written anew even when unchanged: a file left from before the folder was secured
        // may be one others can change (or a link), and the rename replaces its name rather
        // than writing through it. The new file is made here, where only administrators can
        // create files, and is protected before it takes the list's name.
        // Never written through: what is there (a link, perhaps) must go first.
        std::string partPath;
        if (!FreePartPath(windowsPath, partPath))
            return -1;
        const fs::path part = fs::u8path(ToNativePath(partPath));
        std::error_code ec;
        {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.flush();
            if (!out) {
                out.close();
                fs::remove(part, ec);
                return -1;
            }
        }
        if (MakeAdminOnlyFile(partPath) < 0) {
            fs::remove(part, ec);
            return -1;
        }
        fs::rename(part, file, ec);
        if (ec) {
            fs::remove(part, ec);
            return -1;
        }
        return unchanged ? 0 : 1;
    } catch (const std::exception&) {
        return -1;
    }
}

bool SiteListTrusted(const std::string& windowsPath) {
    return AdminOwned(windowsPath.substr(0, windowsPath.rfind('\\'))) && AdminOwned(windowsPath);
}

bool PageHostListed(const std::string& url, const std::vector<std::string>& listed) {
    std::string rest;
    int defaultPort = 0;
    const std::string lower = ascii::Lower(url);
    if (lower.compare(0, 7, "http://") == 0) {
        rest = url.substr(7);
        defaultPort = 80;
    } else if (lower.compare(0, 8, "https://") == 0) {
        rest = url.substr(8);
        defaultPort = 443;
    } else {
        return false;
    }
    // Browsers end the authority at any of these, a backslash included.
    const std::string authority = rest.substr(0, rest.find_first_of("/\\?#"));
    const std::string::size_type colon = authority.find(':');
    const std::string host = ascii::Lower(authority.substr(0, colon));
    if (!IsHostName(host))
        return false;
    int port = defaultPort;
    if (colon != std::string::npos) {
        port = PortNumber(authority.substr(colon + 1));
        if (port == 0)
            return false;
    }
    for (const std::string& entry : listed) {
        std::string listedHost;
        int listedPort = 0;
        if (!SplitSite(entry, listedHost, listedPort))
            continue;
        const bool sameHost = host == listedHost;
        // Only a domain of two labels or more has sub-domains here: never an address, never
        // a top-level domain.
        const bool parent = listedHost.find('.') != std::string::npos && !IsAddressLike(listedHost);
        const bool subDomain =
            parent && host.size() > listedHost.size() &&
            host.compare(host.size() - listedHost.size(), listedHost.size(), listedHost) == 0 &&
            host[host.size() - listedHost.size() - 1] == '.';
        if ((sameHost || subDomain) && (listedPort == 0 || listedPort == port))
            return true;
    }
    return false;
}
