#include "file_store.h"

namespace fs = std::filesystem;

bool FileStore::Open(const std::string& root, std::string& error) {
    std::error_code ec;
    fs::path canonical = fs::canonical(fs::u8path(root), ec);
    if (ec || !fs::is_directory(canonical, ec)) {
        error = "the files folder " + root + " is not a directory";
        return false;
    }
    root_ = canonical;
    return true;
}

FileStore::Lookup FileStore::Resolve(const std::string& relativePath) const {
    if (relativePath.find('\\') != std::string::npos ||
        relativePath.find('\0') != std::string::npos)
        return {Status::Forbidden, {}};

    fs::path candidate = root_;
    bool any = false;
    size_t start = 0;
    while (start <= relativePath.size()) {
        size_t end = relativePath.find('/', start);
        if (end == std::string::npos)
            end = relativePath.size();
        std::string part = relativePath.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {Status::Forbidden, {}};
        candidate /= fs::u8path(part);
        any = true;
    }
    if (!any)
        return {Status::NotFound, {}};

    std::error_code ec;
    fs::path real = fs::canonical(candidate, ec);
    if (ec)
        return {Status::NotFound, {}};
    // A symbolic link inside the folder may point anywhere; only targets inside it are served.
    auto rel = real.lexically_relative(root_);
    if (rel.empty() || *rel.begin() == "..")
        return {Status::Forbidden, {}};
    if (!fs::is_regular_file(real, ec))
        return {Status::NotFound, {}};
    return {Status::Found, real};
}
