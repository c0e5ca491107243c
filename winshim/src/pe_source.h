// Random-access bytes of a PE file: a file on disk (read piecewise, never whole) or a
// buffer in memory. Every read is checked against the size; nothing reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace winshim {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies len bytes at offset into out; false (and nothing read) when out of range.
    bool Read(uint64_t offset, size_t len, void* out) const {
        if (offset > Size() || len > Size() - offset)
            return false;
        return ReadAt(offset, len, out);
    }

  protected:
    virtual bool ReadAt(uint64_t offset, size_t len, void* out) const = 0;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }

  protected:
    bool ReadAt(uint64_t offset, size_t len, void* out) const override;

  private:
    const uint8_t* data_;
    size_t size_;
};

class FileSource : public ByteSource {
  public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens a regular file for reading; on failure returns the Windows error code.
    unsigned long Open(const std::string& nativePath);
    // Reads the regular file behind an open descriptor, through a duplicate of it (the
    // caller keeps its own).
    unsigned long OpenDescriptor(int fd);
    uint64_t Size() const override { return size_; }

  protected:
    bool ReadAt(uint64_t offset, size_t len, void* out) const override;

  private:
    unsigned long TakeSize();

    int fd_ = -1;
    uint64_t size_ = 0;
};

} // namespace winshim
