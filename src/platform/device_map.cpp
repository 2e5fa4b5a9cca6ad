#include "platform/device_map.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qm {

namespace {

std::vector<std::string> SplitColon(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string part;
  while (std::getline(ss, part, ':'))
    if (!part.empty()) out.push_back(part);
  return out;
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\t')) line.pop_back();
  return line;
}

bool StartsWith(const std::string& s, std::string_view p) { return s.compare(0, p.size(), p) == 0; }

// Whole disks only: partitions have their own entries under the disk in
// sysfs but not in /sys/block; virtual devices that are not disks are left out.
bool IsDiskName(const std::string& sysfsRoot, const std::string& name) {
  static const char* kPrefixes[] = {"sd", "nvme", "vd", "xvd", "mmcblk", "hd"};
  // eMMC boot and replay-protected areas are not disks of their own.
  if (StartsWith(name, "mmcblk") && (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
    return false;
  for (const char* p : kPrefixes) {
    if (StartsWith(name, p)) {
      if (StartsWith(name, "nvme") && name.find('n', 4) == std::string::npos) return false;
      return true;
    }
  }
  if (StartsWith(name, "loop")) {
    // A loop device counts only while it has a backing file.
    return !ReadLine(sysfsRoot + "/" + name + "/loop/backing_file").empty();
  }
  return false;
}

std::string Unoctal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      int v = 0;
      bool ok = true;
      for (int k = 1; k <= 3; ++k) {
        char c = s[i + k];
        if (c < '0' || c > '7') ok = false;
        v = v * 8 + (c - '0');
      }
      if (ok) {
        out += static_cast<char>(v);
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// Device-name order with numbers compared as numbers: sda2 before sda10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t i2 = i, j2 = j;
      while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2]))) ++i2;
      while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2]))) ++j2;
      const std::string na = a.substr(i, i2 - i), nb = b.substr(j, j2 - j);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

DeviceMap& DeviceMap::Instance() {
  static DeviceMap map;
  return map;
}

DiskInfo DeviceMap::Probe(const std::string& path) {
  DiskInfo d;
  d.path = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return d;
  if (S_ISREG(st.st_mode)) {
    d.isFile = true;
    d.sizeBytes = static_cast<uint64_t>(st.st_size);
    d.sectorSize = 512;
    return d;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return d;
  uint64_t bytes = 0;
  int ssz = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) d.sizeBytes = bytes;
  if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz > 0) d.sectorSize = static_cast<uint32_t>(ssz);
  ::close(fd);
  return d;
}

int DeviceMap::ReadAccessError(const std::string& path) {
  // Non-blocking, so that a path that is no disk cannot hold the caller.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == 0 ? EIO : errno;
  ::close(fd);
  return 0;
}

void DeviceMap::Refresh(const std::string& sysfsRoot, const std::string& mountinfo, const std::string& devRoot) {
  std::lock_guard lock(mutex_);
  RefreshLocked(sysfsRoot, mountinfo, devRoot);
}

void DeviceMap::RefreshLocked(const std::string& sysfsRoot, const std::string& mountinfo,
                              const std::string& devRoot) {
  loaded_ = true;
  // Numbers unique in the process, so a map made again at the same address
  // never matches an answer kept for an earlier one.
  static std::atomic<uint64_t> refreshes{0};
  generation_.store(refreshes.fetch_add(1) + 1, std::memory_order_release);
  disks_.clear();
  volumes_.clear();

  if (const char* env = std::getenv("QUILLMOREN_DISKS")) {
    for (const auto& p : SplitColon(env)) disks_.push_back(Probe(p));
  } else if (DIR* dir = ::opendir(sysfsRoot.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      if (IsDiskName(sysfsRoot, n)) names.push_back(n);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      DiskInfo d;
      d.path = devRoot + "/" + n;
      const std::string base = sysfsRoot + "/" + n;
      // sysfs gives the size in 512-byte units whatever the sector size.
      d.sizeBytes = std::strtoull(ReadLine(base + "/size").c_str(), nullptr, 10) * 512ull;
      auto lbs = std::strtoul(ReadLine(base + "/queue/logical_block_size").c_str(), nullptr, 10);
      d.sectorSize = lbs ? static_cast<uint32_t>(lbs) : 512;
      d.model = ReadLine(base + "/device/model");
      d.removable = ReadLine(base + "/removable") == "1";
      disks_.push_back(d);
    }
  }

  if (const char* env = std::getenv("QUILLMOREN_VOLUMES")) {
    char letter = 'C';
    for (const auto& p : SplitColon(env)) {
      if (letter > 'Z') break;
      volumes_.push_back({letter++, p, ""});
    }
  } else {
    std::ifstream in(mountinfo);
    std::string line;
    std::vector<VolumeInfo> found;
    while (std::getline(in, line)) {
      // id parent major:minor root mountpoint options ... - fstype source superopts
      std::istringstream ss(line);
      std::string id, parent, majmin, root, mountPoint;
      ss >> id >> parent >> majmin >> root >> mountPoint;
      auto dash = line.find(" - ");
      if (dash == std::string::npos) continue;
      std::istringstream tail(line.substr(dash + 3));
      std::string fstype, source;
      tail >> fstype >> source;
      if (!StartsWith(source, "/dev/")) continue;
      source = Unoctal(source);
      if (std::any_of(found.begin(), found.end(), [&](const VolumeInfo& v) { return v.path == source; })) continue;
      found.push_back({0, source, Unoctal(mountPoint)});
    }
    std::sort(found.begin(), found.end(),
              [](const VolumeInfo& a, const VolumeInfo& b) { return NaturalLess(a.path, b.path); });
    char letter = 'C';
    for (auto& v : found) {
      if (letter > 'Z') break;
      v.letter = letter++;
      volumes_.push_back(v);
    }
  }
}

std::vector<DiskInfo> DeviceMap::Disks() {
  std::lock_guard lock(mutex_);
  if (!loaded_) RefreshLocked("/sys/block", "/proc/self/mountinfo", "/dev");
  return disks_;
}

std::vector<VolumeInfo> DeviceMap::Volumes() {
  std::lock_guard lock(mutex_);
  if (!loaded_) RefreshLocked("/sys/block", "/proc/self/mountinfo", "/dev");
  return volumes_;
}

std::string DeviceMap::Resolve(std::string_view devicePath) {
  // Every sector read resolves its path: the last answer of this thread
  // stands until the lists are read again.
  struct Memo {
    const DeviceMap* map = nullptr;
    uint64_t generation = 0;
    std::string input, output;
  };
  thread_local Memo memo;
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  if (memo.map == this && memo.generation == generation && memo.input == devicePath) return memo.output;
  std::string output = ResolveNow(devicePath);
  memo = {this, generation, std::string(devicePath), output};
  return output;
}

std::string DeviceMap::ResolveNow(std::string_view devicePath) {
  std::string s(devicePath);
  auto lower = s;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::string kDrive = "\\\\.\\physicaldrive";
  if (StartsWith(lower, kDrive)) {
    auto rest = s.substr(kDrive.size());
    if (rest.empty() || !std::all_of(rest.begin(), rest.end(), ::isdigit)) return {};
    auto disks = Disks();
    size_t n = std::strtoul(rest.c_str(), nullptr, 10);
    return n < disks.size() ? disks[n].path : std::string();
  }
  if (lower.size() == 6 && StartsWith(lower, "\\\\.\\") && lower[5] == ':') {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(s[4])));
    for (const auto& v : Volumes())
      if (v.letter == letter) return v.path;
    return {};
  }
  return s;
}

}  // namespace qm
