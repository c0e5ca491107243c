#pragma once

#include <cstddef>
#include <string>

// A file opened for reading and shared with readers only: while it is open nobody can
// write, rename or delete it, so what is read through it is what its path names when the
// file is started (on Linux the stand-in starts the held file itself). Closed on
// destruction.
class HeldFile {
  public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // The path is in the local code page. False when the file cannot be opened, also when
    // another process has it open for writing.
    bool Open(const std::string& ansiPath);
    // The next bytes from the file; `got` is 0 at its end. False on a read error.
    bool Read(char* buffer, std::size_t size, std::size_t& got);
    bool IsOpen() const { return handle_ != nullptr; }
    void Close();

    // The path it was opened by (local code page) and its Windows handle, for the checks
    // that must read exactly the held file (see installer_signature.h).
    const std::string& Path() const { return path_; }
    void* NativeHandle() const { return handle_; }

  private:
    void* handle_ = nullptr;
    std::string path_;
};
