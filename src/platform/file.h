#pragma once
// Positioned file and device access. Reads and writes loop until the whole
// request is done, the end of the file is reached, or the system reports an
// error; callers get the byte count actually transferred.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

class File {
 public:
  // The create modes never follow a link in the file's place (the open fails
  // with ELOOP): the program runs with rights a planted link could borrow.
  // CreateNew also fails when anything exists there (for temporary names).
  enum class Mode { Read, ReadWrite, CreateTruncate, DeviceWriteExclusive, CreateNew };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens path; false (and errno kept in lastError()) when it cannot.
  bool open(const std::string& path, Mode mode);
  void close();
  // Closes and reports whether the system accepted it: delayed write errors
  // of a written file show up here. False when nothing was open.
  bool closeChecked();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int lastError() const { return lastError_; }

  // Bytes read; less than n at the end of the file; -1 on an error before
  // anything was read. A later error after some bytes returns what was read.
  int64_t readAt(void* buf, size_t n, uint64_t offset);
  // Bytes written; -1 when nothing could be written.
  int64_t writeAt(const void* buf, size_t n, uint64_t offset);
  // Size of a regular file, or of a block device (BLKGETSIZE64); -1 on error.
  int64_t size() const;
  bool sync();

 private:
  int fd_ = -1;
  int lastError_ = 0;
};

}  // namespace qm
