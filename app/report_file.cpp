#include "app/report_file.h"

#include <QFile>
#include <QSaveFile>

#ifdef _WIN32
#include <algorithm>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// NUL, CON, a named pipe: anything CreateFile opens that is not a file on a disk. Returns
// false when `name` is no such thing; `written` says whether the report arrived.
bool WriteToDevice(const QString& name, const std::string& body, bool& written) {
    const HANDLE handle =
        CreateFileW(name.toStdWString().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    written = true;
    for (std::size_t done = 0; done < body.size();) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(body.size() - done, 1 << 20));
        if (!WriteFile(handle, body.data() + done, chunk, &n, nullptr) || n == 0) {
            written = false;
            break;
        }
        done += n;
    }
    CloseHandle(handle);
    return true;
}
#else
bool WriteToDevice(const QString& name, const std::string& body, bool& written) {
    const QByteArray path = QFile::encodeName(name);
    struct stat status;
    if (::stat(path.constData(), &status) != 0 || S_ISREG(status.st_mode) ||
        S_ISDIR(status.st_mode))
        return false;
    // A FIFO waits here for its reader, as a shell redirection does.
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    written = fd >= 0;
    for (std::size_t done = 0; written && done < body.size();) {
        const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    return true;
}
#endif

} // namespace

bool WriteReportFile(const std::string& target, const std::string& body) {
    const QString name = QFile::decodeName(target.c_str());
    bool written = false;
    if (WriteToDevice(name, body, written))
        return written;
    // QSaveFile follows a symbolic link and replaces its target, the link staying.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(body.data(), static_cast<qint64>(body.size()));
    return file.commit();
}
