#include "engines/drive_free_bytes.h"

#include <sys/statvfs.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace qm {

uint64_t GetDriveFreeBytes(std::string_view path) {
  if (path.empty()) return 0;
  namespace fs = std::filesystem;
  fs::path p{std::string(path)};
  std::error_code ec;
  // Walk up to the first part that exists: a target file is usually about
  // to be created in a folder that may not exist yet either.
  while (!p.empty() && !fs::exists(p, ec)) {
    fs::path parent = p.parent_path();
    if (parent == p) break;
    p = std::move(parent);
  }
  if (p.empty()) p = ".";
  struct statvfs st {};
  if (::statvfs(p.c_str(), &st) != 0) return 0;
  // All free blocks, as the program runs with the rights to use the
  // reserved ones too.
  return static_cast<uint64_t>(st.f_bfree) * static_cast<uint64_t>(st.f_frsize);
}

}  // namespace qm
