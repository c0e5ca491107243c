#include "pe_source.h"

#include "machine_ansi.h"

#include <winshim/windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winshim {

bool MemorySource::ReadAt(uint64_t offset, size_t len, void* out) const {
    if (len)
        std::memcpy(out, data_ + offset, len);
    return true;
}

FileSource::~FileSource() {
    if (fd_ >= 0)
        close(fd_);
}

unsigned long FileSource::Open(const std::string& nativePath) {
    // O_NONBLOCK: a FIFO or device must not stall the caller; regular reads ignore it.
    fd_ = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        return errno == ENOENT ? MissingPathError(nativePath) : WindowsErrorFromErrno(errno);
    return TakeSize();
}

unsigned long FileSource::OpenDescriptor(int fd) {
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0)
        return WindowsErrorFromErrno(errno);
    return TakeSize();
}

unsigned long FileSource::TakeSize() {
    struct stat st;
    if (fstat(fd_, &st) != 0)
        return WindowsErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return ERROR_ACCESS_DENIED; // as Windows refuses to open a folder as a file
    if (!S_ISREG(st.st_mode))
        return ERROR_BAD_FORMAT;
    size_ = static_cast<uint64_t>(st.st_size);
    return ERROR_SUCCESS;
}

bool FileSource::ReadAt(uint64_t offset, size_t len, void* out) const {
    auto* p = static_cast<char*>(out);
    while (len > 0) {
        const ssize_t n = pread(fd_, p, len, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // an error, or the file shrank under us
        p += n;
        offset += static_cast<uint64_t>(n);
        len -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace winshim
