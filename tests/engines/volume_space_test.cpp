#include "engines/volume_space.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

uint64_t FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return static_cast<uint64_t>(f.tellg());
}

// The first number after `label` in a tool's output, digits grouped by
// blanks allowed ("20 611 072 bytes free").
uint64_t NumberAfter(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no \"" << pattern << "\" in:\n" << text;
    return 0;
  }
  std::string digits;
  for (char c : m[1].str())
    if (c >= '0' && c <= '9') digits += c;
  return std::stoull(digits);
}

// Free space as mtools counts it, against the FAT of each width with files
// on it; the capacity is the whole image, which mkfs.fat filled.
TEST(VolumeSpace, FatFreeClustersAgreeWithMtools) {
  test::TempDir dir;
  const test::FixtureSet fat = test::MakeFatImages(dir, {"fat12", "fat16", "fat32"});
  ASSERT_TRUE(fat.ok()) << fat.skipReason;
  for (const char* name : {"fat12.img", "fat16.img", "fat32.img"}) {
    SCOPED_TRACE(name);
    const std::string img = fat.path(name);
    const std::string listing = test::Capture("mdir -i '" + img + "' :: 2>&1");
    const uint64_t free = NumberAfter(listing, R"(([0-9 ]+) bytes free)");
    const VolumeSpace s = ReadVolumeSpace(img);
    ASSERT_TRUE(s.known);
    EXPECT_EQ(s.capacity, FileBytes(img));
    EXPECT_EQ(s.freeBytes, free);
    EXPECT_GT(s.used(), 0u);
    EXPECT_EQ(s.used() + s.freeBytes, s.capacity);
  }
}

// NTFS free space from $Bitmap, against ntfsinfo's count, at both sector sizes.
TEST(VolumeSpace, NtfsFreeClustersAgreeWithNtfsinfo) {
  test::TempDir dir;
  for (const char* name : {"ntfs", "ntfs4k"}) {
    SCOPED_TRACE(name);
    const test::FixtureSet set = test::UnpackNtfs(dir, name);
    ASSERT_TRUE(set.ok()) << set.skipReason;
    const std::string img = set.path(std::string(name) + ".img");
    const std::string info = test::Capture("ntfsinfo -m '" + img + "' 2>&1");
    const uint64_t cluster = NumberAfter(info, R"(Cluster Size: ([0-9]+))");
    const uint64_t freeClusters = NumberAfter(info, R"(Free Clusters: ([0-9]+))");
    const uint64_t clusters = NumberAfter(info, R"(Volume Size in Clusters: ([0-9]+))");
    const VolumeSpace s = ReadVolumeSpace(img);
    ASSERT_TRUE(s.known);
    EXPECT_EQ(s.freeBytes, freeClusters * cluster);
    EXPECT_GE(s.capacity, clusters * cluster);
    EXPECT_LE(s.capacity, FileBytes(img));
  }
}

// Damaged or foreign bytes give no figures rather than made-up ones.
TEST(VolumeSpace, UnreadableVolumesAreNotKnown) {
  test::TempDir dir;
  const test::FixtureSet fat = test::MakeFatImages(dir, {"fat16"});
  ASSERT_TRUE(fat.ok()) << fat.skipReason;
  const std::string good = fat.path("fat16.img");
  struct Case {
    const char* name;
    std::string command;  // applied to a copy of the good image
  } cases[] = {
      {"no boot signature", "printf '\\000\\000' | dd of=IMG bs=1 seek=510 conv=notrunc status=none"},
      {"zero sectors per FAT", "printf '\\000\\000' | dd of=IMG bs=1 seek=22 conv=notrunc status=none"},
      {"a FAT beyond the end", "truncate -s 4096 IMG"},
      {"empty file", "truncate -s 0 IMG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string img = dir.file("bad.img");
    ASSERT_EQ(test::Run("cp '" + good + "' '" + img + "'"), 0);
    std::string cmd = c.command;
    cmd.replace(cmd.find("IMG"), 3, "'" + img + "'");
    ASSERT_EQ(test::Run(cmd), 0);
    EXPECT_FALSE(ReadVolumeSpace(img).known);
  }
  EXPECT_FALSE(ReadVolumeSpace(dir.file("missing.img")).known);
}

}  // namespace
}  // namespace qm
