// Files the program creates: a link in the file's place is never followed,
// and a create-new name that exists is refused.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
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

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// What stands below the target where the writer wants its file "sub/out".
enum class Planted {
  Nothing,
  OwnFile,         // sub/out: an earlier file of the target
  LinkToFile,      // sub/out -> a read-only file outside
  DanglingLink,    // sub/out -> a name outside that does not exist
  HardLink,        // sub/out: a second name of the file outside
  Fifo,            // sub/out: a FIFO
  LinkedFolder,    // sub -> a folder outside
  FileAsFolder,    // sub: a plain file
};

struct BelowCase {
  const char* name;
  Planted planted;
  Create how;
  int error;  // 0: the file is created
};

TEST(FileCreate, BelowTheTargetNoLinkIsGoneThroughAndNothingOutsideChanges) {
  const BelowCase cases[] = {
      {"new, nothing there", Planted::Nothing, Create::New, 0},
      {"replace, nothing there", Planted::Nothing, Create::Replace, 0},
      {"new, own file", Planted::OwnFile, Create::New, EEXIST},
      {"replace, own file", Planted::OwnFile, Create::Replace, 0},
      {"new, link to a file", Planted::LinkToFile, Create::New, EEXIST},
      {"replace, link to a file", Planted::LinkToFile, Create::Replace, ELOOP},
      {"replace, dangling link", Planted::DanglingLink, Create::Replace, ELOOP},
      {"replace, hard link", Planted::HardLink, Create::Replace, ELOOP},
      {"replace, fifo", Planted::Fifo, Create::Replace, EINVAL},
      {"new, linked folder", Planted::LinkedFolder, Create::New, ELOOP},
      {"replace, linked folder", Planted::LinkedFolder, Create::Replace, ELOOP},
      {"replace, file as folder", Planted::FileAsFolder, Create::Replace, ENOTDIR},
  };
  for (const BelowCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string root = dir.file("target"), outside = dir.file("outside");
    const std::string victim = outside + "/victim", nowhere = outside + "/nowhere";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
    const std::string sub = root + "/sub", out = sub + "/out";
    if (c.planted == Planted::LinkedFolder) ASSERT_EQ(::symlink(outside.c_str(), sub.c_str()), 0);
    else if (c.planted == Planted::FileAsFolder) std::ofstream(sub) << "file";
    else ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    switch (c.planted) {
      case Planted::OwnFile: std::ofstream(out) << "old"; break;
      case Planted::LinkToFile: ASSERT_EQ(::symlink(victim.c_str(), out.c_str()), 0); break;
      case Planted::DanglingLink: ASSERT_EQ(::symlink(nowhere.c_str(), out.c_str()), 0); break;
      case Planted::HardLink: ASSERT_EQ(::link(victim.c_str(), out.c_str()), 0); break;
      case Planted::Fifo: ASSERT_EQ(::mkfifo(out.c_str(), 0644), 0); break;
      default: break;
    }
    File f;
    const bool made = f.create(root, out, c.how);
    EXPECT_EQ(made, c.error == 0);
    if (made) {
      EXPECT_EQ(f.writeAt("new", 3, 0), 3);
      EXPECT_TRUE(f.closeChecked());
      EXPECT_EQ(Contents(out), "new");
    } else {
      EXPECT_EQ(f.lastError(), c.error);
      if (c.planted == Planted::OwnFile) EXPECT_EQ(Contents(out), "old");
    }
    EXPECT_EQ(Contents(victim), "precious");
    EXPECT_EQ(ModeOf(victim), 0444u);
    EXPECT_NE(::access(nowhere.c_str(), F_OK), 0);
    EXPECT_NE(::access((outside + "/out").c_str(), F_OK), 0);
  }
}

TEST(FileCreate, FoldersBelowTheTargetAreMadeLevelByLevelAndNeverThroughALink) {
  test::TempDir dir;
  const std::string root = dir.file("new/target"), outside = dir.file("outside");
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  // A missing target is made as the user named it, then the levels below.
  EXPECT_EQ(CreateFoldersBelow(root, root + "/a/b/"), 0);
  EXPECT_EQ(CreateFoldersBelow(root + "/", root + "/a//b"), 0);
  struct stat st {};
  ASSERT_EQ(::lstat((root + "/a/b").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  ASSERT_EQ(::symlink(outside.c_str(), (root + "/a/link").c_str()), 0);
  std::ofstream(root + "/a/plain") << "x";
  EXPECT_EQ(CreateFoldersBelow(root, root + "/a/link/c"), ELOOP);
  EXPECT_EQ(CreateFoldersBelow(root, root + "/a/link"), ELOOP);
  EXPECT_EQ(CreateFoldersBelow(root, root + "/a/plain/c"), ENOTDIR);
  EXPECT_EQ(CreateFoldersBelow(root, root + "/a/../../outside/c"), ELOOP);
  EXPECT_EQ(CreateFoldersBelow(root, dir.file("new/targetx/c")), EXDEV);
  EXPECT_NE(::access((outside + "/c").c_str(), F_OK), 0);
  EXPECT_NE(::access(dir.file("new/targetx").c_str(), F_OK), 0);

  // The target itself may be reached through a link the user chose.
  const std::string chosen = dir.file("chosen");
  ASSERT_EQ(::symlink(root.c_str(), chosen.c_str()), 0);
  File f;
  EXPECT_TRUE(f.create(chosen, chosen + "/a/b/file", Create::New));
  EXPECT_FALSE(File().create(chosen, chosen + "/a/link/file", Create::Replace));
  EXPECT_FALSE(File().create(root, root + "/a/..", Create::Replace));
}

}  // namespace
}  // namespace qm
