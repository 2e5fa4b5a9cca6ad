// The roads of the deleted, formatted and partition recoveries over the
// committed ntfsdata disk, whose NTFS volume holds compressed files (units
// compressed, stored whole and sparse), a preallocated file with old bytes
// past its initialised size and a file marked encrypted: every file copied
// out equals sleuthkit's icat, and the copy-out ends by naming the
// encrypted file, copied as it lies, as not fully recovered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "integration/road_fixture.h"
#include "integration/road_walk.h"

namespace qm {
namespace {

using namespace test::road;
namespace fs = std::filesystem;

constexpr uint64_t kPartitionStart = 2048;

class NtfsDataRoadTest : public RoadFixture<> {
 protected:
  void SetUp() override {
    RoadFixture::SetUp();
    ASSERT_TRUE(test::HaveTools({"icat", "fls", "gzip", "sha256sum"})) << "sleuthkit and gzip are needed";
    auto set = test::UnpackNtfs(dir_, "ntfsdata");
    ASSERT_TRUE(set.ok()) << set.skipReason;
    disk_ = set.path("ntfsdata.img");
    for (const test::FlsEntry& e : test::ParseFls(test::ReadText(test::NtfsFixtureDir() + "/ntfsdata.fls.txt")))
      if (!e.deleted) records_[e.path] = InodeNumber(e.inode);
  }

  // Copies the catalogue out and checks every file against icat and the
  // end message against the one file that cannot come back.
  void CopyAndCheck(const std::string& name) {
    const std::string target = dir_.file(name);
    fs::create_directories(target);
    const CopyOutcome copy = CopyEverything(target, kNtfsRootKey, prompt_);
    const std::vector<Entry> entries = CatalogEntries(kNtfsRootKey);
    for (const char* path : {"comp/mixed.bin", "comp/holes.bin", "prealloc.bin", "plain/crypt.bin"}) {
      SCOPED_TRACE(path);
      const uint32_t record = records_.at(path);
      const Entry* entry = nullptr;
      for (const Entry& e : entries)
        if (!e.folder && !e.deleted && e.key == record) entry = &e;
      ASSERT_NE(entry, nullptr) << "not listed";
      EXPECT_EQ(entry->path, path);
      const std::string want = Icat(disk_, kPartitionStart, std::to_string(record));
      ASSERT_FALSE(want.empty());
      EXPECT_TRUE(FileBytes(target + "/" + entry->path) == want)
          << FileBytes(target + "/" + entry->path).size() << " bytes copied, icat gives " << want.size();
    }
    EXPECT_EQ(copy.copiedBytes, copy.selectedBytes);
    ASSERT_EQ(copy.messages.size(), 1u);
    const std::string message = Utf16ToUtf8(copy.messages[0]);
    EXPECT_EQ(message.rfind(Utf16ToUtf8(kSavingNotCompleted), 0), 0u) << message;
    EXPECT_NE(message.find("\nplain/crypt.bin\n"), std::string::npos) << message;
    EXPECT_EQ(test::ReadText(target + "/" + kIncompleteListName), "plain/crypt.bin\n");
  }

  std::string disk_;
  std::map<std::string, uint32_t> records_;
};

TEST_F(NtfsDataRoadTest, EveryModeCopiesTheDataAsIcatGivesIt) {
  const auto before = Checksums({disk_});
  const std::vector<TreeDisk> tree = Present(disk_);
  ASSERT_EQ(tree.size(), 1u);
  ASSERT_EQ(tree[0].partitions.size(), 1u);
  const TreePartition& part = tree[0].partitions[0];
  ASSERT_EQ(part.first, kPartitionStart);

  {
    SCOPED_TRACE("deleted-data recovery (quick scan)");
    PressModeButton(Mode::Deleted);
    ASSERT_TRUE(ClickPartition(tree[0], part));
    ASSERT_EQ(NextForVolume(), u"");
    ScanPage page;
    EXPECT_EQ(page.Run(), Ending::AnalysisFinished);
    CopyAndCheck("quick");
    FreeScanResults();
    ClearMftRuns();
  }
  {
    SCOPED_TRACE("formatted recovery (deep scan)");
    PressModeButton(Mode::Formatted);
    ASSERT_TRUE(ClickPartition(tree[0], part));
    ASSERT_EQ(NextForVolume(), u"");
    ScanPage page;
    EXPECT_EQ(page.Run(), Ending::OpenResults);
    CopyAndCheck("formatted");
    FreeScanResults();
    ClearMftRuns();
  }
  {
    SCOPED_TRACE("partition recovery");
    PressModeButton(Mode::Partition);
    ClickDisk(tree[0]);
    ASSERT_EQ(NextForWholeDisk(63, g_RangeEndSector, u"NTFS"), u"");
    {
      ScanPage search;
      EXPECT_EQ(search.Run(), Ending::BackToPartitionList);
    }
    int n = 0, picked = 0;
    for (const FileSystemRecord& r : FileSystems()) {
      ++n;
      if (r.firstSector == kPartitionStart && !picked) picked = n;
    }
    ASSERT_NE(picked, 0) << "the search did not find the volume";
    ASSERT_TRUE(PickFoundFileSystem(picked));
    ScanPage second;
    EXPECT_EQ(second.Run(), Ending::OpenResults);
    CopyAndCheck("partition");
    FreeScanResults();
  }
  EXPECT_EQ(Checksums({disk_}), before);
}

}  // namespace
}  // namespace qm
