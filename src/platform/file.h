#pragma once
// Positioned file and device access. Reads and writes loop until the whole
// request is done, the end of the file is reached, or the system reports an
// error; callers get the byte count actually transferred.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// --- Creating below a target folder ---
// Every writer (copy-out, carving, imaging, scan log, preview) makes its
// folders and files through CreateFoldersBelow and File::create. The target
// folder (root) is taken as the user named it; below it each level is opened
// one component at a time without following links, so a link planted
// anywhere below the root is never gone through. A link in the way, a "." or
// ".." level, or anything that is not a folder where a folder is needed
// fails with ELOOP (ENOTDIR for a plain file standing for a folder). A path
// that does not start with root fails with EXDEV.
//
// How a file is created: New only where nothing exists (temporary names);
// Replace also takes over an existing regular file of this name with one
// link, emptied, and never changes its mode: one the user cannot write stays
// so and the create fails with EACCES.
enum class Create { New, Replace };

// The folder a path names its file in: "." without a '/', "/" for a file
// at the top.
std::string FolderOfPath(const std::string& path);

// Makes the root (when missing) and every missing folder of path below it.
// 0 when path is a folder at the end, else the errno.
int CreateFoldersBelow(const std::string& root, const std::string& path);

class File {
 public:
  // The create modes never follow a link in the file's place (the open fails
  // with ELOOP): the program runs with rights a planted link could borrow.
  // CreateNew also fails when anything exists there (for temporary names).
  // ReadFile reads a regular file only: it never waits on a FIFO (a plain
  // read open would block until a writer comes) and fails with EINVAL on
  // anything else.
  enum class Mode { Read, ReadWrite, CreateTruncate, DeviceWriteExclusive, CreateNew, ReadFile };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens path; false (and errno kept in lastError()) when it cannot.
  bool open(const std::string& path, Mode mode);
  // Creates path (below root, whose folders must exist) for reading and
  // writing; false with lastError() set when it cannot (see Create above).
  bool create(const std::string& root, const std::string& path, Create how);
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
