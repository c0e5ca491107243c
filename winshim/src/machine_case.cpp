#include "machine_case.h"

#include "files_match.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <vector>

namespace winshim {

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> SameNameEntries(const std::string& dir, const std::string& name) {
    std::vector<std::string> found;
    DIR* d = opendir(dir.empty() ? "/" : dir.c_str());
    if (!d)
        return found;
    while (const dirent* e = readdir(d))
        if (SameFileName(e->d_name, name))
            found.emplace_back(e->d_name);
    closedir(d);
    std::sort(found.begin(), found.end());
    return found;
}

// Says once per folder and name which of several same-named entries is used.
void NoteAmbiguity(const std::string& dir, const std::string& name,
                   const std::vector<std::string>& found) {
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> guard(mutex);
    if (!said.insert(dir + "/" + name).second)
        return;
    std::string list;
    for (const std::string& f : found)
        list += (list.empty() ? "" : ", ") + f;
    std::fprintf(stderr,
                 "winshim: \"%s\" in %s matches %zu names that differ only in case (%s); "
                 "\"%s\" is used\n",
                 name.c_str(), dir.c_str(), found.size(), list.c_str(), found.front().c_str());
}

} // namespace

std::string ResolveCase(const std::string& base, const std::string& rest) {
    std::string path = base + rest;
    if (rest.empty() || Exists(path))
        return path;
    path = base;
    bool resolving = true;
    size_t pos = 0;
    for (bool first = true;; first = false) {
        size_t next = rest.find('/', pos);
        const std::string name = rest.substr(pos, next == std::string::npos ? next : next - pos);
        const std::string dir = path;
        if (!first)
            path += '/';
        if (name.empty() || name == "." || name == ".." || !resolving || Exists(path + name)) {
            path += name;
        } else if (const auto found = SameNameEntries(dir.empty() ? "/" : dir, name);
                   found.empty()) {
            resolving = false; // nothing below a missing folder can match either
            path += name;
        } else {
            if (found.size() > 1)
                NoteAmbiguity(dir, name, found);
            path += found.front();
        }
        if (next == std::string::npos)
            return path;
        pos = next + 1;
    }
}

} // namespace winshim
