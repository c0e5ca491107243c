#include "atomic_write.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool WriteFileAtomically(const std::string& file, const std::string& content, std::string& error) {
    std::filesystem::path target(file);
    // Through a symbolic link, the file it names is replaced, not the link.
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec))
        target = std::filesystem::canonical(target, ec);
    std::filesystem::path dir = target.parent_path().empty() ? "." : target.parent_path();
    std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    int fd = mkstemp(name.data());
    if (fd < 0) {
        error = "cannot create a temporary file beside " + file + ": " + std::strerror(errno);
        return false;
    }
    auto fail = [&](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        close(fd);
        unlink(name.data());
        return false;
    };

    const std::string path = target.string();
    struct stat st;
    mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (fchmod(fd, mode) != 0)
        return fail("cannot set the permissions of the temporary file");
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail("cannot write " + std::string(name.data()));
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0)
        return fail("cannot flush " + std::string(name.data()));
    if (close(fd) != 0) {
        error = "cannot close " + std::string(name.data()) + ": " + std::strerror(errno);
        unlink(name.data());
        return false;
    }
    if (rename(name.data(), path.c_str()) != 0) {
        error = "cannot replace " + file + ": " + std::strerror(errno);
        unlink(name.data());
        return false;
    }
    return true;
}
