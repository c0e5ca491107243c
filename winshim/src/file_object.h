// An open file behind a file handle.
//
// Windows keeps a file that is open without FILE_SHARE_WRITE and FILE_SHARE_DELETE from
// being written, renamed or deleted by anyone else, so that its path keeps naming the
// same bytes until the handle is closed. POSIX has no such share modes: here another
// process may still rename, delete or replace the path. What the holder relies on is kept
// instead by starting the held file itself: ShellExecuteExA of a held path runs the file
// behind the handle (through /proc/self/fd), so what was read through the handle is what
// runs, whatever the path names by then. Writing into the held file itself needs write
// permission on it, which a downloaded file gives nobody but its owner.
#pragma once

#include "machine_handles.h"

#include <memory>
#include <string>

namespace winshim {

class FileObject : public HandleObject {
  public:
    FileObject(int fd, std::string nativePath, bool holdsPath);
    ~FileObject() override;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    int fd() const { return fd_; }
    const std::string& nativePath() const { return nativePath_; }
    bool holdsPath() const { return holdsPath_; }

  private:
    int fd_;
    std::string nativePath_;
    bool holdsPath_;
};

// The open file that holds this path (opened by exactly this name), or null.
std::shared_ptr<FileObject> FileHoldingPath(const std::string& nativePath);

} // namespace winshim
