#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_), lastError_(other.lastError_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    lastError_ = other.lastError_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::open(const std::string& path, Mode mode) {
  close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
    case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    // O_EXCL on a block device fails when it is mounted or held open exclusively.
    case Mode::DeviceWriteExclusive: flags |= O_WRONLY | O_EXCL; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  lastError_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::closeChecked() {
  if (fd_ < 0) return false;
  const int r = ::close(fd_);
  fd_ = -1;
  if (r != 0) lastError_ = errno;
  return r == 0;
}

namespace {

// Moves n bytes at offset through one positioned call (pread or pwrite),
// again after a short transfer or an interrupt. What was moved; -1 when an
// error came before anything was. A transfer of 0 bytes ends it (end of file).
template <typename Byte, typename Call>
int64_t TransferAt(int fd, Byte* p, size_t n, uint64_t offset, int& lastError, Call call) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = call(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

int64_t File::readAt(void* buf, size_t n, uint64_t offset) {
  if (fd_ < 0) return -1;
  return TransferAt(fd_, static_cast<unsigned char*>(buf), n, offset, lastError_, ::pread);
}

int64_t File::writeAt(const void* buf, size_t n, uint64_t offset) {
  if (fd_ < 0) return -1;
  return TransferAt(fd_, static_cast<const unsigned char*>(buf), n, offset, lastError_, ::pwrite);
}

int64_t File::size() const {
  if (fd_ < 0) return -1;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return -1;
    return static_cast<int64_t>(bytes);
  }
  return static_cast<int64_t>(st.st_size);
}

bool File::sync() {
  if (fd_ < 0) return false;
  if (::fsync(fd_) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

}  // namespace qm
