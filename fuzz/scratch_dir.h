#pragma once
// Shared by the fuzz targets that need files: one private folder per process
// under the temporary folder, removed when the process exits (and by the next
// run of the target when the process died), and the image presented as disk
// 0 the way the tests present theirs.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/device_map.h"
#include "platform/file.h"

namespace qm::fuzz {

// Folders of this target left by processes that died without exiting (a
// crash or a time-out ends the process without its exit handlers).
inline void RemoveOrphanedScratchDirs(const std::string& root, const std::string& prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
    const std::string leaf = entry.path().filename().string();
    if (leaf.rfind(prefix, 0) != 0) continue;
    const std::string rest = leaf.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
  }
}

// Where the folders go: memory (/dev/shm) when there is one, since the
// targets make and remove files at every input, else TMPDIR or /tmp.
inline std::string ScratchRoot() {
  if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// The folder (ROOT/qm-fuzz-NAME-PID-XXXXXX), made on first use; name is a
// short tag for the target.
inline const std::string& ScratchDir(const char* name) {
  static const std::string dir = [name] {
    const std::string root = ScratchRoot();
    const std::string prefix = std::string("qm-fuzz-") + name + "-";
    RemoveOrphanedScratchDirs(root, prefix);
    std::string pattern = root + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  // Registered after dir is made, so it runs before dir is destroyed.
  static const bool cleanup = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }) == 0;
  (void)cleanup;
  return dir;
}

// Writes bytes as the whole file at path; false when that fails.
inline bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  File f;
  if (!f.open(path, File::Mode::CreateTruncate)) return false;
  return size == 0 || f.writeAt(data, size, 0) == static_cast<int64_t>(size);
}

// Makes path the only disk (and no volume) the program sees.
inline void PresentAsDisk(const std::string& path) {
  ::setenv("QUILLMOREN_DISKS", path.c_str(), 1);
  ::setenv("QUILLMOREN_VOLUMES", "", 1);
  DeviceMap::Instance().Refresh();
}

// An empty disk file in the scratch folder `name`, presented as the only
// disk; its path. Targets write their volume into it per input.
inline std::string PresentEmptyDisk(const char* name, const char* file = "volume.img") {
  std::string path = ScratchDir(name) + "/" + file;
  WriteWholeFile(path, nullptr, 0);
  PresentAsDisk(path);
  return path;
}

}  // namespace qm::fuzz
