#include "engines/drive_free_bytes.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace qm {
namespace {

uint64_t FreeOf(const std::string& folder) {
  struct statvfs st {};
  EXPECT_EQ(::statvfs(folder.c_str(), &st), 0);
  return static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
}

TEST(DriveFreeBytes, AnswersForTheNearestExistingFolder) {
  test::TempDir dir;
  const uint64_t expected = FreeOf(dir.path());
  ASSERT_GT(expected, 0u);
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {
      {"the folder itself", dir.path()},
      {"a file still to be made in it", dir.file("DiskImage.dmg")},
      {"a trailing slash", dir.path() + "/"},
      {"folders that do not exist yet", dir.path() + "/a/b/c/DiskImage.dmg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Other processes write on the same volume: allow a little movement.
    const uint64_t got = GetDriveFreeBytes(c.path);
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 64.0 * 1024 * 1024);
  }
}

TEST(DriveFreeBytes, EmptyPathHasNoVolume) { EXPECT_EQ(GetDriveFreeBytes(""), 0u); }

TEST(DriveFreeBytes, RelativePathFallsBackToTheCurrentFolder) {
  test::TempDir dir;
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const uint64_t got = GetDriveFreeBytes("not/here/image.dmg");
  const uint64_t expected = FreeOf(".");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 64.0 * 1024 * 1024);
}

// The volume holding the test folder is normally larger than 4 GiB; the
// answer must then not be cut to 32 bits.
TEST(DriveFreeBytes, KeepsSizesAbove32Bits) {
  test::TempDir dir;
  const uint64_t expected = FreeOf(dir.path());
  if (expected <= (1ull << 32)) GTEST_SKIP() << "volume has less than 4 GiB free";
  EXPECT_GT(GetDriveFreeBytes(dir.path()), 1ull << 32);
}

}  // namespace
}  // namespace qm
