#include "support/temp_dir.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>

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

}  // namespace qm::test
