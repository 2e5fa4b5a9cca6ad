#include "engines/deep_scan_dump.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "support/fakes.h"

namespace qm {
namespace {

class DeepScanDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    g_AppState.scanPage = &host_;
    g_SelectedFileSystem = u"NTFS";
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    ClearNtfsLists();
    ClearFileSystemList();
    ClearCatalog();
    ResetAppState();
  }

  test::RecordingHost host_;
};

struct FolderSpec {
  uint32_t own, parent;
  int32_t fs;
  char deleted;
};

void AddFolders(const std::vector<FolderSpec>& specs) {
  for (const FolderSpec& f : specs)
    AppendNtfsFolder(u"f" + std::u16string(1, char16_t(u'a' + f.own % 26)), f.deleted, f.parent, f.own, 100 + f.own,
                     RecordTimes{}, 0, f.fs);
}

// Own key -> parent key of the catalogue's folders of file system fs.
std::map<uint32_t, uint32_t> ParentsOf(int16_t fs) {
  std::map<uint32_t, uint32_t> out;
  for (const FolderRecord& r : AllFolders())
    if (r.fileSystemNumber == fs) out[r.ownKey] = r.parentKey;
  return out;
}

bool SortedByParent() {
  uint32_t last = 0;
  for (const FolderRecord& r : AllFolders()) {
    if (r.parentKey < last) return false;
    last = r.parentKey;
  }
  return true;
}

// The lost-folder pass as the literal algorithm does it: folders go in with
// their own parents, then every folder of file system key whose parent is no
// folder's own key in that file system is moved under "Lost", each test a
// walk over the whole list.
std::map<uint32_t, uint32_t> LiteralLostParents(const std::vector<FolderSpec>& specs, int16_t key, uint32_t root) {
  ClearCatalog();
  InsertFolderRecord({}, u"Lost", 'n', root, kLostFolderKey, 0, RecordTimes{}, key);
  for (const FolderSpec& f : specs)
    if (f.own != kNtfsRootKey)
      InsertFolderRecord({}, u"x", f.deleted, f.parent, f.own, 0, RecordTimes{}, static_cast<int16_t>(f.fs));
  std::vector<std::pair<uint32_t, int16_t>> all;
  for (const FolderRecord& r : AllFolders()) all.emplace_back(r.ownKey, r.fileSystemNumber);
  std::map<uint32_t, uint32_t> out;
  for (const FolderRecord& r : AllFolders()) {
    if (r.fileSystemNumber != key) continue;
    uint32_t parent = r.parentKey;
    if (parent != root) {
      bool found = false;
      for (const auto& [own, fs] : all)
        if (fs == key && own == parent) found = true;
      if (!found) parent = kLostFolderKey;
    }
    out[r.ownKey] = parent;
  }
  ClearCatalog();
  return out;
}

TEST_F(DeepScanDumpTest, LostFoldersMatchTheLiteralPassOnRandomLists) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<FolderSpec> specs;
    const int n = 1 + static_cast<int>(rng() % 25);
    for (int i = 0; i < n; ++i) {
      FolderSpec f;
      f.own = 5 + rng() % 30;
      // Parents below the folder or missing keep the lists free of circles,
      // which the literal pass cannot place.
      f.parent = rng() % 4 == 0 ? 5 : (rng() % 3 == 0 ? 200 + rng() % 5 : 5 + rng() % (f.own - 4));
      if (f.parent == f.own) f.parent = 5;
      f.fs = 1 + static_cast<int32_t>(rng() % 2);
      f.deleted = rng() % 3 == 0 ? 'y' : 'n';
      specs.push_back(f);
    }
    const auto expected = LiteralLostParents(specs, 1, kNtfsRootKey);

    ClearNtfsLists();
    ClearCatalog();
    AddFolders(specs);
    DumpSelectedFileSystem(1);
    EXPECT_EQ(ParentsOf(1), expected) << "round " << round;
    EXPECT_TRUE(SortedByParent()) << "round " << round;
  }
}

TEST_F(DeepScanDumpTest, PlacesFoldersAndFilesOfTheChosenFileSystem) {
  AddFolders({{5, 5, 1, 'n'},       // the root's own record: not listed
              {70, 5, 1, 'n'},      // under the root
              {71, 70, 1, 'y'},     // under its parent
              {72, 90, 1, 'n'},     // parent not found: under "Lost"
              {73, 72, 1, 'n'},     // under its (lost) parent
              {80, 81, 1, 'n'},     // a circle that never reaches the root:
              {81, 80, 1, 'n'},     // one of them goes under "Lost"
              {74, 99, 2, 'n'}});   // another file system keeps its parent
  AppendNtfsFile(u"a.txt", 'n', 1000, 70, 100, 500, RecordTimes{});
  AppendNtfsFile(u"orphan.txt", 'n', 7, 0, 101, 501, RecordTimes{});  // no parent: dropped
  AppendNtfsFile(u"b.txt", 'y', 1ULL << 33, 71, 102, 502, RecordTimes{});

  DumpSelectedFileSystem(1);

  std::map<uint32_t, uint32_t> parents = ParentsOf(1);
  EXPECT_EQ(parents.count(kNtfsRootKey), 0u);
  EXPECT_EQ(parents[kLostFolderKey], kNtfsRootKey);
  EXPECT_EQ(parents[70], kNtfsRootKey);
  EXPECT_EQ(parents[71], 70u);
  EXPECT_EQ(parents[72], kLostFolderKey);
  EXPECT_EQ(parents[73], 72u);
  EXPECT_EQ((parents[80] == kLostFolderKey) + (parents[81] == kLostFolderKey), 1);
  EXPECT_EQ(ParentsOf(2)[74], 99u);
  EXPECT_TRUE(SortedByParent());

  std::set<std::u16string> files;
  for (const FileRecord& f : AllFiles()) files.insert(f.wideName.str());
  EXPECT_EQ(files, (std::set<std::u16string>{u"Lost", u"a.txt", u"b.txt"}));
  EXPECT_EQ(g_AppState.foundBytes, 1000 + (1ULL << 33));
  // Formatted recovery: the findings moved into the catalogue; the counters stay.
  EXPECT_EQ(g_AppState.ntfsFolderList, nullptr);
  EXPECT_EQ(g_AppState.ntfsFileList, nullptr);
  EXPECT_EQ(g_AppState.ntfsFolderCount, 8);
  EXPECT_EQ(g_AppState.ntfsFileCount, 3);
  EXPECT_EQ(host_.texts[kScanStatusLine], kDumpLostText);
  EXPECT_EQ(host_.texts[kScanFirstCaption], kDumpSizeCaption);
  EXPECT_EQ(host_.texts[kScanSectorLine].rfind(u"Assigning Lost Folders : ", 0), 0u);
}

TEST_F(DeepScanDumpTest, WithoutFoldersOnlyTheLostFileIsAdded) {
  AppendNtfsFile(u"x", 'n', 1, 5, 64, 10, RecordTimes{});
  DumpSelectedFileSystem(1);
  EXPECT_EQ(g_AppState.folderCount, 0);
  ASSERT_EQ(g_AppState.fileCount, 2);
  EXPECT_EQ(AllFiles().begin()->wideName, u"Lost");
}

TEST_F(DeepScanDumpTest, PartitionRecoveryKeepsTheFindingsForAnotherPick) {
  g_AppState.partitionMode = 1;
  AddFolders({{70, 5, 1, 'n'}, {80, 5, 2, 'n'}});
  AppendNtfsFile(u"a", 'n', 1, 70, 100, 500, RecordTimes{});
  DumpSelectedFileSystem(1);
  EXPECT_EQ(ParentsOf(1).count(70), 1u);

  ClearCatalog();
  DumpSelectedFileSystem(2);
  EXPECT_EQ(ParentsOf(2).count(80), 1u);
  EXPECT_EQ(g_AppState.fileCount, 2);  // "Lost" and the file, again
}

TEST_F(DeepScanDumpTest, StopEndsTheFolderLoopAndKeepsTheLists) {
  AddFolders({{70, 5, 1, 'n'}, {71, 70, 1, 'n'}, {72, 70, 1, 'n'}});
  AppendNtfsFile(u"a", 'n', 1, 70, 100, 500, RecordTimes{});
  host_.job.requestStop();
  DumpSelectedFileSystem(1);
  // The first folder was dumped, then the loop ended; the later steps ran.
  EXPECT_EQ(ParentsOf(1), (std::map<uint32_t, uint32_t>{{70, 5}, {kLostFolderKey, 5}}));
  EXPECT_EQ(g_AppState.fileCount, 2);
  EXPECT_NE(g_AppState.ntfsFolderList, nullptr);
  EXPECT_FALSE(host_.job.stopRequested());
}

TEST_F(DeepScanDumpTest, FatCandidatesAreNamedByTheFolderCount) {
  g_SelectedFileSystem = u"FAT32";
  g_AppState.partitionMode = 1;
  AddFolders({{10, 0, 1, 'n'}, {20, 10, 1, 'n'}, {30, 77, 1, 'n'}, {10, 0, 1, 'n'}, {40, 0, 2, 'n'}});
  DumpSelectedFileSystem(1);

  std::map<uint32_t, std::pair<std::string, uint32_t>> got;
  for (const FolderRecord& r : AllFolders())
    if (r.fileSystemNumber == 1) got[r.ownKey] = {r.name8.str(), r.parentKey};
  // "Lost" is the first folder, so the candidates start at Dir1; the
  // duplicate of cluster 10 is dropped and takes no number.
  EXPECT_EQ(got, (std::map<uint32_t, std::pair<std::string, uint32_t>>{{kLostFolderKey, {"Lost", 0}},
                                                                        {10, {"Dir1", 0}},
                                                                        {20, {"Dir2", 10}},
                                                                        {30, {"Dir3", kLostFolderKey}}}));
  EXPECT_EQ(g_AppState.fileCount, 0);
  EXPECT_EQ(host_.textLog.front().second, kDumpSizeCaption);
}

}  // namespace
}  // namespace qm
