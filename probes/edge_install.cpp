#include "edge_install.h"

#include "file_probes.h"
#include "registry.h"
#include "textconv.h"

#include <exception>

const char kEdgeAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\msedge.exe";

EdgeInstall ReadEdgeInstall() {
    EdgeInstall edge;
    try {
        std::string registered;
        if (RegGetStrValue(HKEY_LOCAL_MACHINE, kEdgeAppPathsKey, "", registered) < 0)
            return edge;
        std::string path = GbkToUtf8(registered);
        if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
            path = path.substr(1, path.size() - 2);
        const std::string::size_type slash = path.find_last_of("\\/");
        if (path.empty() || slash == std::string::npos || slash + 1 == path.size())
            return edge;
        edge.path = path;
        __time64_t fileTime = 0;
        const int rc = GetFileVersionTime(std::filesystem::u8path(path.substr(0, slash)),
                                          path.substr(slash + 1), fileTime, edge.version);
        // A program without a version resource (-2) is still Edge's program.
        edge.found = rc >= 0 || rc == -2;
    } catch (const std::exception&) {
        edge.found = false;
    }
    return edge;
}
