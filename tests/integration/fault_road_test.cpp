// The deleted-data road over a disk that fails a few sectors: a file's data
// on FAT32, a file's MFT record on NTFS and a file's data on FAT16. The user
// answers the bad-sector question with Skip All; every scan must finish, the
// copy must finish, and nothing beyond the failed sectors may change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <set>

#include "integration/road_fixture.h"
#include "integration/road_walk.h"
#include "engines/copy_out.h"
#include "platform/file.h"

namespace qm {
namespace {

using namespace test::road;
namespace fs = std::filesystem;

struct BadSpan {
  uint64_t first, count;  // absolute disk sectors
};

class FaultRoadTest : public RoadFixture<> {
 protected:
  void TearDown() override {
    SetDeviceReadHook({});
    RoadFixture::TearDown();
  }

  DiskRoad Walk(const std::string& disk, const std::string& work) {
    FreshProcessState();
    fs::create_directories(work);
    return WalkVolumes(Present(disk), work, prompt_);
  }

  // The first sectors istat lists for an inode of the volume at start.
  static uint64_t FirstDataSector(const std::string& disk, uint64_t start, const std::string& inode) {
    const std::string istat = test::Capture("istat -o " + std::to_string(start) + " " + test::ShellQuote(disk) + " " + inode);
    const size_t at = istat.find("Sectors:");
    if (at == std::string::npos) return 0;
    return std::stoull(istat.substr(at + 9));
  }

  static std::string InodeOf(const std::vector<test::FlsEntry>& fls, const std::string& path) {
    for (const auto& e : fls)
      if (e.path == path) return e.inode;
    return {};
  }
};

TEST_F(FaultRoadTest, ScansAndCopyFinishAroundUnreadableSectorsWithSkipAll) {
  QM_REQUIRE_TOOLS("fls", "icat", "istat", "sha256sum");
  auto set = test::MakeDisks(dir_, {"mbr"});
  QM_REQUIRE_FIXTURE(set);
  const std::string disk = set.path("mbr.img");
  const auto parts = test::ReadPartitions(set.path("mbr.parts.txt"));
  auto startOf = [&](const std::string& label) {
    for (const auto& p : parts)
      if (p.label == label) return p.start;
    return uint64_t{0};
  };
  const uint64_t fat32 = startOf("MBRFAT32"), ntfs = startOf("FIXNTFS"), fat16 = startOf("MBRFAT16");

  // The clean road first: what every unaffected item must still be.
  const DiskRoad clean = Walk(disk, dir_.file("clean"));
  ASSERT_EQ(clean.volumes.size(), 5u);

  // Bad spots: 3 sectors inside "photo 01.bin" on FAT32 (its 11th to 13th
  // sectors), the MFT record of "annual summary.txt" on NTFS, one sector of
  // "nested file.txt" on FAT16.
  const auto flsFat32 = VolumeFls(disk, fat32), flsNtfs = VolumeFls(disk, ntfs), flsFat16 = VolumeFls(disk, fat16);
  const uint64_t photo = FirstDataSector(disk, fat32, InodeOf(flsFat32, "photo 01.bin"));
  const uint64_t nested = FirstDataSector(disk, fat16, InodeOf(flsFat16, "Folder One/Folder Two/nested file.txt"));
  const std::string annualInode = InodeOf(flsNtfs, "My Documents/Reports 2023/annual summary.txt");
  ASSERT_GT(photo, 0u);
  ASSERT_GT(nested, 0u);
  ASSERT_FALSE(annualInode.empty());
  // 4 KiB clusters, the MFT at cluster 4, 1 KiB records (fsstat of the committed volume).
  const uint64_t annualRecord = ntfs + 4 * 8 + InodeNumber(annualInode) * 2;
  const std::vector<BadSpan> bad = {{fat32 + photo + 10, 3}, {annualRecord, 2}, {fat16 + nested + 1, 1}};
  std::atomic<int> failedReads{0};
  SetDeviceReadHook([bad, &failedReads](File& device, void* buffer, size_t bytes, uint64_t offset) -> int64_t {
    for (const BadSpan& b : bad)
      if (offset < (b.first + b.count) * 512 && b.first * 512 < offset + bytes) {
        ++failedReads;
        return -1;
      }
    return device.readAt(buffer, bytes, offset);
  });
  const auto before = Checksums({disk});
  const DiskRoad faulty = Walk(disk, dir_.file("faulty"));
  SetDeviceReadHook({});

  EXPECT_GT(failedReads.load(), 0);
  EXPECT_GE(faulty.badSectorDialogs, 1);
  ASSERT_EQ(faulty.volumes.size(), clean.volumes.size());
  int damaged = 0;
  for (size_t i = 0; i < faulty.volumes.size(); ++i) {
    const VolumeRoad& f = faulty.volumes[i];
    const VolumeRoad& c = clean.volumes[i];
    SCOPED_TRACE(Utf16ToUtf8(f.part.text));
    // Every scan, load and copy ran to its end.
    EXPECT_EQ(f.ending, Ending::AnalysisFinished) << EndingName(f.ending);
    EXPECT_EQ(f.loadEnding, Ending::AnalysisFinished) << EndingName(f.loadEnding);
    EXPECT_EQ(f.reloaded, f.entries);
    EXPECT_EQ(f.copy.messages.size(), 1u);
    // Skip All gives up a failed request's whole span: what stood there is
    // missing, and what hung below it has no known parent (and goes under
    // "Lost"). Nothing is invented or changed.
    std::set<Entry> cleanSet(c.entries.begin(), c.entries.end());
    for (const Entry& e : f.entries)
      if (e.path.rfind("?/", 0) != 0 && e.path.rfind("Lost/", 0) != 0)
        EXPECT_TRUE(cleanSet.count(e)) << "new or changed: " << e.path;
    const bool hit = f.part.first == fat32 || f.part.first == ntfs || f.part.first == fat16;
    if (!hit) {
      EXPECT_EQ(f.entries, c.entries);
      EXPECT_EQ(f.output, c.output);
    }
    // A copied file is the clean copy with zeros where the disk failed.
    int volumeDamaged = 0;
    for (const auto& [path, sha] : f.output) {
      auto it = c.output.find(path);
      if (it == c.output.end() || sha == it->second || path.back() == '/') continue;
      const std::string got = FileBytes(f.target + "/" + path), want = FileBytes(c.target + "/" + path);
      ASSERT_EQ(got.size(), want.size()) << path;
      size_t zeroed = 0, other = 0;
      for (size_t b = 0; b < got.size(); ++b) {
        if (got[b] == want[b]) continue;
        (got[b] == 0 ? zeroed : other)++;
      }
      EXPECT_EQ(other, 0u) << path << ": bytes changed beyond the unreadable spans";
      EXPECT_GT(zeroed, 0u) << path;
      ++damaged;
      ++volumeDamaged;
    }
    // A copy with unreadable sectors in it is never reported as complete,
    // and the damaged files are named.
    ASSERT_FALSE(f.copy.messages.empty());
    if (volumeDamaged)
      EXPECT_EQ(f.copy.messages.back().rfind(kSavingNotCompleted, 0), 0u);
    else
      EXPECT_EQ(f.copy.messages.back(), kSavingCompleted);
  }
  EXPECT_GE(damaged, 2) << "the bad spots hit both FAT files";
  EXPECT_EQ(Checksums({disk}), before);
}

}  // namespace
}  // namespace qm
