#include "platform/file.h"

#include <cerrno>
#include <filesystem>
#include <string_view>
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
    case Mode::ReadFile: flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  lastError_ = fd_ < 0 ? errno : 0;
  if (fd_ >= 0 && mode == Mode::ReadFile) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd_, F_SETFL, O_RDONLY) != 0) {
      close();
      lastError_ = EINVAL;
    }
  }
  return fd_ >= 0;
}

namespace {

// One descriptor, closed when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  void reset(int f) {
    if (fd >= 0) ::close(fd);
    fd = f;
  }
};

// path below root, without leading slashes; false when path is not below it.
bool Below(const std::string& root, const std::string& path, std::string_view* below) {
  std::string_view r(root), p(path);
  while (r.size() > 1 && r.back() == '/') r.remove_suffix(1);
  // A relative path lies below the working folder.
  if (r == "." && !p.empty() && p.front() != '/' && p.substr(0, 2) != "./") {
    *below = p;
    return true;
  }
  if (r.empty() || p.substr(0, r.size()) != r) return false;
  p.remove_prefix(r.size());
  if (!p.empty() && p.front() != '/' && r != "/") return false;
  while (!p.empty() && p.front() == '/') p.remove_prefix(1);
  *below = p;
  return true;
}

// Opens the next folder level below dir, never through a link; makes it
// first when make is set and it is missing. -1 with errno set.
int OpenLevel(int dir, const std::string& name, bool make) {
  if (name == "." || name == "..") {
    errno = ELOOP;
    return -1;
  }
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && make) {
    if (::mkdirat(dir, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    fd = ::openat(dir, name.c_str(), kFlags);
  }
  if (fd < 0 && errno == ENOTDIR) {
    // A link to a folder fails as "not a folder" on some kernels: say what it is.
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
  }
  return fd;
}

// The folder of the levels of below (all of them, or all but the last when
// leaf is set, which is then returned in *leaf), walked from root. -1 with
// errno set.
int OpenLevels(const std::string& root, const std::string& path, bool make, std::string* leaf) {
  std::string_view below;
  if (!Below(root, path, &below)) {
    errno = EXDEV;
    return -1;
  }
  std::string_view r(root);
  while (r.size() > 1 && r.back() == '/') r.remove_suffix(1);
  Fd dir(::open(std::string(r).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0 && errno == ENOENT && make) {
    // The target itself is the user's: made as named.
    std::error_code ec;
    std::filesystem::create_directories(std::string(r), ec);
    dir.reset(::open(std::string(r).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (dir.fd < 0) return -1;
  std::string last;
  while (!below.empty()) {
    const size_t slash = below.find('/');
    const std::string name(below.substr(0, slash));
    below = slash == std::string_view::npos ? std::string_view() : below.substr(slash + 1);
    while (!below.empty() && below.front() == '/') below.remove_prefix(1);
    if (leaf && below.empty()) {
      last = name;
      break;
    }
    const int next = OpenLevel(dir.fd, name, make);
    if (next < 0) return -1;
    dir.reset(next);
  }
  if (leaf) {
    if (last.empty() || last == "." || last == "..") {
      errno = last.empty() ? EISDIR : ELOOP;
      return -1;
    }
    *leaf = last;
  }
  const int fd = dir.fd;
  dir.fd = -1;
  return fd;
}

}  // namespace

std::string FolderOfPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int CreateFoldersBelow(const std::string& root, const std::string& path) {
  const int fd = OpenLevels(root, path, true, nullptr);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

bool File::create(const std::string& root, const std::string& path, Create how) {
  close();
  std::string name;
  Fd dir(OpenLevels(root, path, false, &name));
  if (dir.fd < 0) {
    lastError_ = errno;
    return false;
  }
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir.fd, name.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
  if (fd < 0 && errno == EEXIST && how == Create::Replace) {
    // Never blocks on a FIFO and never truncates before the checks.
    fd = ::openat(dir.fd, name.c_str(), kFlags | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd >= 0) {
      int refusal = 0;
      if (::fstat(fd, &st) != 0) refusal = errno;
      else if (!S_ISREG(st.st_mode)) refusal = EINVAL;
      // A second name of the file may live outside the target.
      else if (st.st_nlink != 1) refusal = ELOOP;
      else if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) refusal = errno;
      if (refusal) {
        ::close(fd);
        fd = -1;
        errno = refusal;
      }
    }
  }
  fd_ = fd;
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
