#pragma once
// Shared by the fuzz targets that need files: one private folder per process
// under the temporary folder, removed when the process exits, and the image
// presented as disk 0 the way the tests present theirs.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/device_map.h"
#include "platform/file.h"

namespace qm::fuzz {

// The folder, made on first use; name is a short tag for the target.
inline const std::string& ScratchDir(const char* name) {
  static const std::string dir = [name] {
    std::string pattern = std::string("/tmp/qm-fuzz-") + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  // Registered after dir is made, so it runs before dir is destroyed.
  static const bool cleanup = std::atexit([] { std::filesystem::remove_all(dir); }) == 0;
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

}  // namespace qm::fuzz
