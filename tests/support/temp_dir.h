#pragma once
// A private temporary folder removed with everything in it at scope end,
// and a runner for the fixture tools.
#include <string>

namespace qm::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; returns its exit status (-1 when it could not run).
int Run(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string Capture(const std::string& command);
// True when every named program is on PATH.
bool HaveTools(std::initializer_list<const char*> tools);
// The named programs that are not on PATH, separated by spaces; empty when
// every one is there.
std::string MissingTools(std::initializer_list<const char*> tools);
// Path of a file under tests/fixtures.
std::string FixturePath(const std::string& name);

// A read-only file of known bytes alone in a fresh folder (path's parent),
// for the tests that plant links from a target toward it. False when it
// could not be made.
bool PlantOutsideFile(const std::string& path);
// What became of the file PlantOutsideFile made and of its folder: empty
// when its bytes, its mode and the folder's one entry are as planted.
std::string OutsideFileChanges(const std::string& path);

}  // namespace qm::test

// Fails the running test when a program it needs is not on PATH: without its
// oracle or its fixture maker a test proves nothing, so it must not pass.
#define QM_REQUIRE_TOOLS(...)                                                                 \
  do {                                                                                        \
    const std::string qm_missing_tools_ = ::qm::test::MissingTools({__VA_ARGS__});            \
    if (!qm_missing_tools_.empty()) GTEST_FAIL() << "missing tools: " << qm_missing_tools_;   \
  } while (0)
