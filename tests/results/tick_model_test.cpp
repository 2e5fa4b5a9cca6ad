#include "results/tick_model.h"

#include <gtest/gtest.h>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/file_copiers.h"
#include "engines/selection_model.h"
#include "platform/text.h"

#include <map>
#include <stdexcept>

namespace qm {
namespace {

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }
uint32_t FatTime(int h, int mi, int s) { return static_cast<uint32_t>((h << 11) | (mi << 5) | (s / 2)); }

TEST(TimeTexts, FatAndNtfsSlots) {
  EXPECT_EQ(FatTimeText(FatDate(2021, 3, 7), FatTime(9, 5, 30), true), u"07-Mar-2021 09:05");
  EXPECT_EQ(FatTimeText(FatDate(2021, 12, 31), FatTime(23, 59, 58), false), u"31-Dec-2021");
  EXPECT_EQ(FatTimeText(FatDate(1999, 0, 1), 0, true), u"01-Err-1999 00:00");
  EXPECT_EQ(FatTimeText((19u << 9) | (13u << 5) | 2, 0, false), u"02-Err-1999");
  // 2020-02-29 13:45:07 UTC, shown without any zone shift.
  const uint64_t ft = 132274575070000000ULL;
  EXPECT_EQ(NtfsTimeText(static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)), u"29-Feb-2020 13:45:07");
  EXPECT_EQ(NtfsTimeText(0, 0), u"01-Jan-1601 00:00:00");
}

// Volume 0, FAT: root holds Alpha (key 20, deleted), DOCS (key 10), A.TXT;
// DOCS holds SUB (key 11), B.DOC, C.DOC (deleted); SUB holds D.TXT; Alpha
// holds LOOP whose own key is the root's. OTHER is a folder of volume 1.
class TickModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_CheckedFolderKeys.Clear();
    g_SelectedFileSystem = u"FAT32";
    g_AppState.scanFileSystem = u"FAT32";
    const RecordTimes t = {FatDate(2022, 5, 6), FatTime(10, 20, 0), FatDate(2022, 5, 6), 0, FatDate(2022, 5, 6), 0};
    InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, t, 0);
    InsertFolderRecord("alpha", u"", 'y', kFatRootKey, 20, 0, t, 0);
    InsertFolderRecord("OTHER", u"", 'n', kFatRootKey, 30, 0, t, 1);
    InsertFolderRecord("SUB", u"", 'n', 10, 11, 0, t, 0);
    InsertFolderRecord("LOOP", u"", 'n', 20, kFatRootKey, 0, t, 0);
    InsertFileRecord("A.TXT", u"", 'n', 10, kFatRootKey, 2, 0, t);
    InsertFileRecord("B.DOC", u"", 'n', 300, 10, 3, 0, t);
    InsertFileRecord("C.DOC", u"", 'y', 20, 10, 4, 0, t);
    InsertFileRecord("D.TXT", u"", 'n', 7, 11, 5, 0, t);
    BuildFolderTree(tree_, kFatRootKey);
    ticks_.SetFileSystem(u"FAT32");
    ticks_.SetListRowsRequest([this](uint32_t item, uint32_t key, bool tick) { listCalls_.push_back({item, key, tick}); });
  }
  void TearDown() override { ClearCatalog(); }

  FolderRecord& Folder(const char* name) {
    for (FolderRecord& f : AllFolders())
      if (f.name8 == name) return f;
    throw std::runtime_error(name);
  }
  FileRecord& File(const char* name) {
    for (FileRecord& f : AllFiles())
      if (f.name8 == name) return f;
    throw std::runtime_error(name);
  }
  uint32_t Item(const char* name) { return Folder(name).treeItem; }
  // The flags of A.TXT, B.DOC, C.DOC, D.TXT.
  std::string FileFlags() {
    std::string s;
    for (const char* n : {"A.TXT", "B.DOC", "C.DOC", "D.TXT"}) s += File(n).checkFlag.load();
    return s;
  }
  int Tick(uint32_t item) { return ticks_.GetItemCheckState(item); }
  // What the copy-out would take with the plain "ticked only" scope.
  int TakenFiles() {
    g_AppState.checkScope = 0;
    EvaluateSelectedTotals(tree_);
    return tree_.selectedFileCount.load();
  }

  struct ListCall {
    uint32_t item, key;
    bool tick;
  };
  SelectionModel tree_;
  TickModel ticks_{tree_};
  std::vector<ListCall> listCalls_;
};

// A file claiming more than the volume holds, or starting past its end,
// shows so in its size; the rest, and every listing without a known
// volume, show the plain size.
TEST_F(TickModelTest, SizesBeyondTheVolumeAreMarked) {
  const int32_t oldBps = g_BytesPerSector;
  g_BytesPerSector = 512;
  g_AppState.scanGeometry.sectorsPerCluster = 1;
  g_AppState.scanGeometry.clusterZeroSector = 98;  // cluster c at sector 98 + c
  File("B.DOC").SetSize(4096 * 512 + 1);
  File("C.DOC").dataKey = 4096 - 98;  // first cluster at the end sector
  const VolumeBounds volume{0, 4096};
  std::map<std::u16string, std::u16string> sizes;
  for (const ResultRow& r : CollectFolderRows(10, u"FAT32", false, {}, &volume)) sizes[r.name] = r.size;
  EXPECT_EQ(sizes[u"SUB"], u"0");
  EXPECT_EQ(sizes[u"B.DOC"], u"2097153" + std::u16string(kBeyondVolumeMark));
  EXPECT_EQ(sizes[u"C.DOC"], u"20" + std::u16string(kBeyondVolumeMark));
  for (const ResultRow& r : CollectFolderRows(11, u"FAT32", false, {}, &volume)) EXPECT_EQ(r.size, u"7");
  for (const ResultRow& r : CollectFolderRows(10, u"FAT32", false)) EXPECT_EQ(r.size.find(u'('), std::u16string::npos);
  // Sorting by size still goes by the number.
  const auto rows = CollectFolderRows(10, u"FAT32", false, {}, &volume);
  EXPECT_LT(CompareListRows(rows[2], rows[1], 2, false, false), 0);  // C.DOC (20) before B.DOC
  g_BytesPerSector = oldBps;
}

TEST_F(TickModelTest, TreeIsSortedPerVolumeAndSurvivesAKeyLoop) {
  const SelectionNode* root = tree_.Node(tree_.Root());
  ASSERT_EQ(root->children.size(), 2u);  // OTHER belongs to another volume
  EXPECT_EQ(tree_.Node(root->children[0])->text, u"alpha");  // case-insensitive order
  EXPECT_EQ(tree_.Node(root->children[1])->text, u"DOCS");
  EXPECT_EQ(Folder("OTHER").treeItem, 0u);
  EXPECT_EQ(tree_.Node(Item("SUB"))->parent, Item("DOCS"));
  // LOOP is shown once under alpha and not descended into again.
  EXPECT_EQ(tree_.Node(Item("LOOP"))->parent, Item("alpha"));
  EXPECT_TRUE(tree_.Node(Item("LOOP"))->children.empty());
}

TEST_F(TickModelTest, ListRowsOfAFolder) {
  auto rows = CollectFolderRows(kFatRootKey, u"FAT32", false);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, u"alpha");
  EXPECT_EQ(rows[0].type, u"Deleted Folder");
  EXPECT_TRUE(rows[0].deleted);
  EXPECT_EQ(rows[0].size, u"0");
  EXPECT_EQ(rows[0].id, FormatW("%u", Item("alpha")));
  EXPECT_EQ(rows[1].name, u"DOCS");
  EXPECT_EQ(rows[2].type, u"File");
  EXPECT_EQ(rows[2].size, u"10");
  EXPECT_EQ(rows[2].modified, u"06-May-2022 10:20");
  EXPECT_EQ(rows[2].accessed, u"06-May-2022");
  EXPECT_EQ(rows[2].id, u"0");
  // Descending turns the folders round; files stay after them.
  rows = CollectFolderRows(kFatRootKey, u"FAT32", true);
  EXPECT_EQ(rows[0].name, u"DOCS");
  EXPECT_EQ(rows[2].name, u"A.TXT");
  rows = CollectFolderRows(10, u"FAT32", false);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].type, u"Deleted File");
  EXPECT_TRUE(IsFolderRowType(rows[0].type));
  EXPECT_TRUE(IsFileRowType(rows[2].type));
}

// One rule decides a row's kind on the results page, in its ticks and in
// the search list: the last letters of "Type", in any letter case.
TEST(RowKind, TypeTextDecidesFolderOrFileInAnyLetterCase) {
  struct Case {
    const char16_t* type;
    bool folder, file;
  };
  const Case cases[] = {
      {u"Folder", true, false},       {u"Deleted Folder", true, false}, {u"FOLDER", true, false},
      {u"DELETED FOLDER", true, false}, {u"deleted folder", true, false}, {u"File", false, true},
      {u"Deleted File", false, true}, {u"FILE", false, true},           {u"file", false, true},
      {u"Folders", false, false},     {u"older", false, false},         {u"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFolderRowType(c.type), c.folder) << Utf16ToUtf8(c.type);
    EXPECT_EQ(IsFileRowType(c.type), c.file) << Utf16ToUtf8(c.type);
  }
}

TEST_F(TickModelTest, RenameChangesTheRecordAndTheCopyPath) {
  auto rows = CollectFolderRows(10, u"FAT32", false);  // SUB, B.DOC, C.DOC
  std::u16string shown;
  struct Case {
    size_t row;
    std::u16string name;
    bool changed;
    std::u16string shown;
  } cases[] = {
      {0, u"", false, u"SUB"},                 // refused
      {0, u"Sub Folder", true, u"Sub Folder"},  // 8-bit name stays 8-bit
      {1, u"B.DOC", false, u"B.DOC"},
      {1, u"\u0416urnal.doc", true, u"\u0416urnal.doc"},  // beyond the code page
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RenameRowRecord(rows[c.row], c.name, tree_, &shown), c.changed);
    EXPECT_EQ(shown, c.shown);
  }
  EXPECT_EQ(Folder("Sub Folder").ownKey, 11u);
  EXPECT_EQ(tree_.Node(Folder("Sub Folder").treeItem)->text, u"Sub Folder");
  EXPECT_EQ(tree_.ItemPath(Folder("Sub Folder").treeItem).back(), u"Sub Folder");
  const FileRecord& renamed = *rows[1].file;
  EXPECT_TRUE(renamed.name8.empty());
  EXPECT_EQ(renamed.wideName, u"\u0416urnal.doc");
}

TEST_F(TickModelTest, SortKeysByColumn) {
  auto rows = CollectFolderRows(10, u"FAT32", false);  // SUB, B.DOC, C.DOC (deleted)
  const ResultRow& sub = rows[0];
  const ResultRow& b = rows[1];
  const ResultRow& c = rows[2];
  ResultRow upper = b;
  upper.name = u"b.doc";
  struct Case {
    const ResultRow *x, *y;
    int column;
    bool descending;
    int sign;
  } cases[] = {
      {&b, &upper, 0, false, 0},  // letter case ignored
      {&b, &c, 0, false, -1},     {&b, &c, 0, true, 1},
      {&sub, &b, 1, false, -1},   // live folder before live file
      {&c, &b, 1, false, 1},      // deleted file after live file
      {&sub, &c, 2, false, -1},   // folder counts as size 0
      {&b, &c, 2, false, 1},      {&b, &c, 3, false, 0},  // same FAT date
      {&b, &c, 6, false, -1},
  };
  for (const Case& k : cases) {
    const int r = CompareListRows(*k.x, *k.y, k.column, k.descending, false);
    EXPECT_EQ((r > 0) - (r < 0), k.sign) << "column " << k.column;
  }
}

TEST_F(TickModelTest, TickingAFolderMarksItsSubtreeAndDrivesTheCopy) {
  ticks_.SelectData(Item("DOCS"));
  EXPECT_EQ(Tick(Item("DOCS")), 1);
  EXPECT_EQ(Tick(Item("SUB")), 1);
  EXPECT_EQ(Tick(Item("alpha")), 0);
  EXPECT_EQ(Tick(tree_.Root()), 1);  // holds ticked content
  EXPECT_TRUE(ticks_.IsBold(tree_.Root()));
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'y');
  EXPECT_EQ(Folder("SUB").checkFlag.load(), 'y');
  EXPECT_EQ(Folder("alpha").checkFlag.load(), 'n');
  EXPECT_EQ(FileFlags(), "nyyy");
  EXPECT_EQ(g_CheckedFolderKeys.Size(), 0u);
  ASSERT_EQ(listCalls_.size(), 1u);
  EXPECT_EQ(listCalls_[0].item, Item("DOCS"));
  EXPECT_EQ(listCalls_[0].key, 10u);
  EXPECT_TRUE(listCalls_[0].tick);
  EXPECT_EQ(TakenFiles(), 3);

  ticks_.SelectData(Item("DOCS"));
  EXPECT_EQ(FileFlags(), "nnnn");
  EXPECT_EQ(Tick(Item("SUB")), 0);
  EXPECT_EQ(Tick(tree_.Root()), 0);
  EXPECT_FALSE(ticks_.IsBold(tree_.Root()));
  EXPECT_EQ(TakenFiles(), 0);
}

TEST_F(TickModelTest, TickingTheRootMarksTheWholeVolumeAtOnce) {
  ticks_.SelectData(tree_.Root());
  EXPECT_EQ(FileFlags(), "yyyy");
  for (const char* n : {"DOCS", "alpha", "SUB", "LOOP"}) EXPECT_EQ(Folder(n).checkFlag.load(), 'y') << n;
  EXPECT_EQ(Folder("OTHER").checkFlag.load(), 'n');
  EXPECT_EQ(Tick(Item("SUB")), 1);
  EXPECT_EQ(g_CheckedFolderKeys.Size(), 0u);
  EXPECT_EQ(TakenFiles(), 4);
  ticks_.SelectData(tree_.Root());
  EXPECT_EQ(FileFlags(), "nnnn");
  EXPECT_EQ(Tick(Item("SUB")), 0);
}

TEST_F(TickModelTest, FileRowTicksClimbAndUntickOnlyEmptyAncestors) {
  ticks_.FileRowToggled(File("D.TXT"), true, Item("SUB"));
  EXPECT_EQ(FileFlags(), "nnny");
  for (uint32_t item : {Item("SUB"), Item("DOCS"), tree_.Root()}) EXPECT_EQ(Tick(item), 1);
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'n');  // the tree marks only
  EXPECT_EQ(TakenFiles(), 1);

  ticks_.FileRowToggled(File("C.DOC"), true, Item("DOCS"));
  ticks_.FileRowToggled(File("D.TXT"), false, Item("SUB"));
  EXPECT_EQ(Tick(Item("SUB")), 0);
  EXPECT_EQ(Tick(Item("DOCS")), 1);  // still holds C.DOC
  EXPECT_EQ(Tick(tree_.Root()), 1);
  ticks_.FileRowToggled(File("C.DOC"), false, Item("DOCS"));
  EXPECT_EQ(Tick(Item("DOCS")), 0);
  EXPECT_EQ(Tick(tree_.Root()), 0);
  EXPECT_EQ(TakenFiles(), 0);
}

TEST_F(TickModelTest, FolderRowTicksMarkTheFolderAndPropagate) {
  ticks_.FolderRowToggled(Item("SUB"), true);
  EXPECT_EQ(FileFlags(), "nnny");
  EXPECT_EQ(Tick(Item("SUB")), 1);
  // DOCS's only sub-folder is ticked: DOCS becomes ticked too.
  EXPECT_EQ(Tick(Item("DOCS")), 1);
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'n');
  ticks_.FolderRowToggled(Item("SUB"), false);
  EXPECT_EQ(FileFlags(), "nnnn");
  EXPECT_EQ(Tick(Item("DOCS")), 0);
  EXPECT_EQ(Tick(tree_.Root()), 0);
  // Unticking the ancestors left nothing behind in the queue to undo a
  // later tick.
  EXPECT_EQ(g_CheckedFolderKeys.Size(), 0u);
}

TEST_F(TickModelTest, OffTheResultsPageOnlyTheTreeChanges) {
  ticks_.SetOnResultsPage(false);
  ticks_.SelectData(Item("DOCS"));
  EXPECT_EQ(Tick(Item("SUB")), 1);
  EXPECT_EQ(FileFlags(), "nnnn");
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'n');
  EXPECT_TRUE(listCalls_.empty());
}

TEST_F(TickModelTest, QueuedKeysKeepTheirLatestFlag) {
  AppendFolderId(g_CheckedFolderKeys, 10, 'y');
  AppendFolderId(g_CheckedFolderKeys, 11, 'y');
  AppendFolderId(g_CheckedFolderKeys, 10, 'n');
  std::vector<int> progress;
  MarkQueuedFolderFiles([&](int p) { progress.push_back(p); });
  EXPECT_EQ(FileFlags(), "nnny");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(g_CheckedFolderKeys.Size(), 0u);
}

TEST_F(TickModelTest, FolderHasCheckedContentClearsAnEmptyFolder) {
  Folder("SUB").checkFlag.store('y');
  EXPECT_FALSE(ticks_.FolderHasCheckedContent(Item("SUB")));
  EXPECT_EQ(Folder("SUB").checkFlag.load(), 'n');
  File("D.TXT").checkFlag.store('y');
  EXPECT_TRUE(ticks_.FolderHasCheckedContent(Item("SUB")));
  EXPECT_FALSE(ticks_.FolderHasCheckedContent(Item("DOCS")));
  Folder("SUB").checkFlag.store('y');
  EXPECT_TRUE(ticks_.FolderHasCheckedContent(Item("DOCS")));
}

}  // namespace
}  // namespace qm
