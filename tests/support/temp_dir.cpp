#include "support/temp_dir.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace qm::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qmtest.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int Run(const std::string& command) {
  int status = std::system(command.c_str());
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  ::pclose(p);
  return out;
}

std::string MissingTools(std::initializer_list<const char*> tools) {
  std::string missing;
  for (const char* t : tools)
    if (Run(std::string("command -v ") + t + " >/dev/null 2>&1") != 0)
      missing += (missing.empty() ? "" : " ") + std::string(t);
  return missing;
}

bool HaveTools(std::initializer_list<const char*> tools) { return MissingTools(tools).empty(); }

std::string FixturePath(const std::string& name) { return std::string(QM_FIXTURES_DIR) + "/" + name; }

namespace {
constexpr char kPlantedBytes[] = "precious";
}

bool PlantOutsideFile(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (!std::filesystem::create_directories(folder, ec)) return false;
  {
    std::ofstream out(path, std::ios::binary);
    if (!(out << kPlantedBytes)) return false;
  }
  return ::chmod(path.c_str(), 0444) == 0;
}

std::string OutsideFileChanges(const std::string& path) {
  std::string changes;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (bytes.str() != kPlantedBytes) changes += "bytes now \"" + bytes.str() + "\"; ";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    changes += "no longer there; ";
  } else if ((st.st_mode & 07777) != 0444) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
    changes += std::string("mode now ") + mode + "; ";
  }
  const std::filesystem::path file(path);
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path(), ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  if (names != std::vector<std::string>{file.filename()}) {
    changes += "its folder holds";
    for (const std::string& n : names) changes += " " + n;
  }
  return changes;
}

}  // namespace qm::test
