// Files the program creates: a link in the file's place is never followed,
// and a create-new name that exists is refused.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "support/temp_dir.h"

namespace qm {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

enum class InTheWay { Nothing, RegularFile, LinkToFile, DanglingLink };

struct CreateCase {
  const char* name;
  File::Mode mode;
  InTheWay inTheWay;
  bool opens;
  int error;  // errno when it does not open
};

TEST(FileCreate, NeverFollowsALinkAndCreateNewNeverReuses) {
  const CreateCase cases[] = {
      {"truncate, nothing there", File::Mode::CreateTruncate, InTheWay::Nothing, true, 0},
      {"truncate, own file", File::Mode::CreateTruncate, InTheWay::RegularFile, true, 0},
      {"truncate, link to a file", File::Mode::CreateTruncate, InTheWay::LinkToFile, false, ELOOP},
      {"truncate, dangling link", File::Mode::CreateTruncate, InTheWay::DanglingLink, false, ELOOP},
      {"new, nothing there", File::Mode::CreateNew, InTheWay::Nothing, true, 0},
      {"new, a file there", File::Mode::CreateNew, InTheWay::RegularFile, false, EEXIST},
      {"new, link to a file", File::Mode::CreateNew, InTheWay::LinkToFile, false, EEXIST},
      {"new, dangling link", File::Mode::CreateNew, InTheWay::DanglingLink, false, EEXIST},
  };
  for (const CreateCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir.file("out"), victim = dir.file("victim"), nowhere = dir.file("nowhere");
    std::ofstream(victim) << "precious";
    switch (c.inTheWay) {
      case InTheWay::Nothing: break;
      case InTheWay::RegularFile: std::ofstream(path) << "old"; break;
      case InTheWay::LinkToFile: ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0); break;
      case InTheWay::DanglingLink: ASSERT_EQ(::symlink(nowhere.c_str(), path.c_str()), 0); break;
    }
    File f;
    EXPECT_EQ(f.open(path, c.mode), c.opens);
    if (c.opens) {
      EXPECT_EQ(f.writeAt("new", 3, 0), 3);
      EXPECT_TRUE(f.closeChecked());
      EXPECT_EQ(Contents(path), "new");
    } else {
      EXPECT_EQ(f.lastError(), c.error);
    }
    // What a link points at is never touched or made.
    EXPECT_EQ(Contents(victim), "precious");
    EXPECT_NE(::access(nowhere.c_str(), F_OK), 0);
    if (c.inTheWay == InTheWay::RegularFile && !c.opens) EXPECT_EQ(Contents(path), "old");
  }
}

}  // namespace
}  // namespace qm
