#include "engines/catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCatalog();
    ResetAppState();
  }
  void TearDown() override {
    ClearCatalog();
    ResetAppState();
  }
};

// One insert of a script: a folder ('D') or a file ('F').
struct Step {
  char what;
  const char* name;
  char deleted;
  uint32_t parent;
  uint32_t own;  // own key of a folder, data key of a file
  int16_t fs = 0;
};

std::string FolderOrder() {
  std::string s;
  for (const FolderRecord& r : AllFolders()) {
    if (!s.empty()) s += ' ';
    s += r.name8.str() + ":" + std::to_string(r.parentKey) + (r.IsDeleted() ? "d" : "");
  }
  return s;
}

std::string FileOrder() {
  std::string s;
  for (const FileRecord& r : AllFiles()) {
    if (!s.empty()) s += ' ';
    s += r.name8.str() + "#" + std::to_string(r.runningNumber());
  }
  return s;
}

void RunScript(const std::vector<Step>& steps) {
  for (const Step& st : steps) {
    if (st.what == 'D')
      InsertFolderRecord(st.name, u"", st.deleted, st.parent, st.own, 0, {}, st.fs);
    else
      InsertFileRecord(st.name, u"", st.deleted, 1, st.parent, st.own, 0, {});
  }
}

struct ScriptCase {
  const char* title;
  std::vector<Step> steps;
  const char* folders;
  int folderCount;
  const char* files = "";
};

TEST_F(CatalogTest, InsertScriptsGiveTheExpectedOrder) {
  const std::vector<ScriptCase> cases = {
      {"first insert", {{'D', "A", 'n', 5, 10}}, "A:5", 1},
      {"equal keys keep insertion order",
       {{'D', "A", 'n', 5, 10}, {'D', "B", 'n', 5, 11}, {'D', "C", 'n', 5, 12}},
       "A:5 B:5 C:5",
       3},
      {"a key below the head's goes before it", {{'D', "A", 'n', 7, 10}, {'D', "B", 'n', 3, 11}}, "B:3 A:7", 2},
      {"mixed keys",
       {{'D', "A", 'n', 5, 1}, {'D', "B", 'n', 3, 2}, {'D', "C", 'n', 9, 3}, {'D', "D", 'n', 5, 4},
        {'D', "E", 'n', 3, 5}},
       "B:3 E:3 A:5 D:5 C:9",
       5},
      {"live replaces deleted in place",
       {{'D', "A", 'y', 5, 20}, {'D', "B", 'n', 5, 21}, {'D', "C", 'n', 5, 20}},
       "C:5 B:5",
       2},
      {"deleted after live is dropped", {{'D', "A", 'n', 5, 20}, {'D', "X", 'y', 5, 20}}, "A:5", 1},
      {"second live is dropped", {{'D', "A", 'n', 5, 20}, {'D', "X", 'n', 9, 20}}, "A:5", 1},
      {"second deleted is dropped", {{'D', "A", 'y', 5, 20}, {'D', "X", 'y', 5, 20}}, "A:5d", 1},
      {"duplicate of the last record is found",
       {{'D', "A", 'n', 5, 1}, {'D', "B", 'n', 5, 2}, {'D', "X", 'n', 5, 2}},
       "A:5 B:5",
       2},
      {"duplicate far behind the insertion point is found",
       {{'D', "A", 'n', 9, 7}, {'D', "B", 'n', 5, 8}, {'D', "C", 'n', 2, 9}, {'D', "X", 'n', 1, 7}},
       "C:2 B:5 A:9",
       3},
      {"same own key on another file system is not a duplicate",
       {{'D', "A", 'n', 5, 20, 0}, {'D', "B", 'n', 5, 20, 1}},
       "A:5 B:5",
       2},
      {"own key 0 is never a duplicate but goes in sorted place",
       {{'D', "A", 'n', 5, 11}, {'D', "B", 'n', 9, 12}, {'D', "Z", 'n', 7, 0}, {'D', "Y", 'n', 7, 0},
        {'D', "W", 'n', 1, 0}},
       "W:1 A:5 Z:7 Y:7 B:9",
       5},
      {"replaced folder moves to its new parent's group",
       {{'D', "A", 'y', 9, 20}, {'D', "B", 'n', 5, 21}, {'D', "C", 'n', 9, 22}, {'D', "D", 'n', 3, 20}},
       "D:3 B:5 C:9",
       3},
      {"replaced head moves behind others",
       {{'D', "A", 'y', 1, 20}, {'D', "B", 'n', 5, 21}, {'D', "D", 'n', 5, 20}},
       "B:5 D:5",
       2},
      {"files: sorted, running numbers in insertion order",
       {{'F', "F1", 'n', 9, 100}, {'F', "F2", 'n', 3, 101}, {'F', "F3", 'n', 9, 102}, {'F', "F4", 'y', 3, 103},
        {'F', "F5", 'n', 0, 104}},
       "",
       0,
       "F5#4 F2#1 F4#3 F1#0 F3#2"},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.title);
    ClearCatalog();
    RunScript(c.steps);
    EXPECT_EQ(FolderOrder(), c.folders);
    EXPECT_EQ(g_AppState.folderCount, c.folderCount);
    EXPECT_EQ(FileOrder(), c.files);
  }
}

TEST_F(CatalogTest, ReplacementKeepsTreeItemAndResetsTick) {
  InsertFolderRecord("old", u"", 'y', 9, 20, 700, {1, 2, 3, 4, 5, 6}, 0);
  InsertFolderRecord("B", u"", 'n', 9, 21, 0, {}, 0);
  FolderRecord& r = *g_AppState.folderList;
  r.treeItem = 42;
  r.checkFlag = 'y';
  InsertFolderRecord("", u"neu", 'n', 3, 20, 900, {11, 12, 13, 14, 15, 16}, 0);

  ASSERT_EQ(g_AppState.folderList, &r);  // now the smallest key: moved to the head
  EXPECT_EQ(r.treeItem, 42u);
  EXPECT_EQ(r.checkFlag.load(), 'n');
  EXPECT_TRUE(r.name8.empty());
  EXPECT_EQ(r.wideName, u"neu");
  EXPECT_EQ(r.recordSector, 900u);
  EXPECT_EQ(r.parentKey, 3u);
  EXPECT_EQ(r.accessedTime[1], 16u);
  EXPECT_EQ(r.deletedFlag, 'n');
  // The children lookups follow the move.
  EXPECT_TRUE(FoldersWithParent(9).begin()->name8 == "B");
  EXPECT_EQ(std::distance(FoldersWithParent(9).begin(), FoldersWithParent(9).end()), 1);
  EXPECT_EQ(&*FoldersWithParent(3).begin(), &r);
}

TEST_F(CatalogTest, NamesAndFieldsAreStoredWhole) {
  std::u16string longName(70000, u'x');
  longName.back() = u'y';
  InsertFolderRecord("", longName, 'n', 5, 6, 0, {}, 0);
  InsertFolderRecord("short", u"ignored", 'n', 5, 7, 0, {}, 0);
  const FolderRecord& a = *g_AppState.folderList;
  EXPECT_EQ(a.wideName.size(), 70000u);
  EXPECT_EQ(a.wideName.back(), u'y');
  EXPECT_FALSE(a.HasName8());
  const FolderRecord& b = *std::next(AllFolders().begin());
  EXPECT_EQ(b.name8, "short");
  EXPECT_TRUE(b.wideName.empty());

  InsertFileRecord("", u"f.txt", 'y', 0x123456789ULL, 5, 77, 1ULL << 33, {1, 2, 3, 4, 5, 6});
  const FileRecord& f = *g_AppState.fileList;
  EXPECT_EQ(f.wideName, u"f.txt");
  EXPECT_EQ(f.size(), 0x123456789ULL);
  EXPECT_EQ(f.recordSector(), 1ULL << 33);
  EXPECT_EQ(f.kind, 'F');
  EXPECT_EQ(f.checkFlag.load(), 'n');
  EXPECT_EQ(f.modifiedTime[0], 1u);
  EXPECT_EQ(f.createdTime[1], 4u);
  EXPECT_EQ(g_AppState.foundBytes, 0u);  // the engines add sizes, not the insert

  // Sizes keep their 48 bits whole; a damaged record's larger claim stops
  // at the widest size kept instead of wrapping to a small one.
  InsertFileRecord("g", u"", 'n', (uint64_t{1} << 47) + 0xABCDEF12345ULL, 5, 78, 0, {});
  InsertFileRecord("h", u"", 'n', (uint64_t{1} << 60) + 3, 5, 79, 0, {});
  std::map<std::string, uint64_t> sizes;
  for (const FileRecord& r : FilesWithParent(5)) sizes[r.name8.str()] = r.size();
  EXPECT_EQ(sizes["g"], (uint64_t{1} << 47) + 0xABCDEF12345ULL);
  EXPECT_EQ(sizes["h"], FileRecord::kMaxSize);
}

TEST_F(CatalogTest, ClearingStartsAFreshCatalogue) {
  InsertFolderRecord("A", u"", 'n', 5, 6, 0, {}, 0);
  InsertFileRecord("f", u"", 'n', 1, 5, 6, 0, {});
  InsertFileRecord("g", u"", 'n', 1, 5, 7, 0, {});
  ClearCatalog();
  EXPECT_EQ(g_AppState.folderList, nullptr);
  EXPECT_EQ(g_AppState.fileList, nullptr);
  EXPECT_EQ(g_AppState.folderCount, 0);
  EXPECT_EQ(g_AppState.fileCount, 0);
  EXPECT_TRUE(AllFolders().empty());
  EXPECT_TRUE(FilesWithParent(5).empty());

  InsertFolderRecord("A2", u"", 'n', 5, 6, 0, {}, 0);  // not a duplicate of the cleared A
  InsertFileRecord("h", u"", 'n', 1, 5, 6, 0, {});
  EXPECT_EQ(FolderOrder(), "A2:5");
  EXPECT_EQ(FileOrder(), "h#0");
  EXPECT_EQ(g_AppState.folderSkipCount, 1);
  EXPECT_EQ(g_AppState.fileSkipCount, 1);

  // A head dropped without clearing (the whole state reset) also starts anew.
  ResetAppState();
  EXPECT_TRUE(FoldersWithParent(5).empty());
  InsertFolderRecord("A3", u"", 'n', 5, 6, 0, {}, 0);
  EXPECT_EQ(FolderOrder(), "A3:5");
  EXPECT_EQ(g_AppState.folderCount, 1);
}

// Names live in a fixed number of block slots: a catalogue cleared (or its
// heads dropped) gives its slots back, so a session of many scans never runs
// out of them, and a fresh catalogue reads its own names, not the old ones.
TEST_F(CatalogTest, ManyCataloguesInTurnKeepTheirNames) {
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "N" + std::to_string(i);
    InsertFolderRecord(name, u"", 'n', 5, 6, 0, {}, 0);
    InsertFileRecord("", std::u16string(u"w") + char16_t(u'a' + i % 26), 'n', 1, 5, 7, 0, {});
    ASSERT_EQ(AllFolders().begin()->name8, name) << i;
    ASSERT_EQ(AllFiles().begin()->wideName, std::u16string(u"w") + char16_t(u'a' + i % 26)) << i;
    if (i % 2) {
      ClearCatalog();
    } else {
      g_AppState.folderList = nullptr;
      g_AppState.fileList = nullptr;
    }
  }
}

// Random inserts: the lists equal a stable sort of the insertion sequence by
// parent key, and every key's children are found.
TEST_F(CatalogTest, RandomInsertsEqualAStableSort) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<uint32_t> key(0, 1999);
  struct Ins {
    uint32_t parent;
    uint32_t id;
  };
  std::vector<Ins> folders, files;
  for (uint32_t i = 0; i < 5000; ++i) {
    uint32_t p = key(rng);
    folders.push_back({p, i + 1});
    InsertFolderRecord("", u"", (i % 3) ? 'n' : 'y', p, i + 1, 0, {}, 0);
  }
  for (uint32_t i = 0; i < 50000; ++i) {
    uint32_t p = (i % 7 == 0) ? 0xFFFFFFFFu - key(rng) : key(rng);
    files.push_back({p, i});
    InsertFileRecord("", u"", 'n', i, p, i, 0, {});
    if (i + 1 == 9999) {
      EXPECT_EQ(g_AppState.fileSkipCount, 1);
    }
    if (i + 1 == 20000) {
      EXPECT_EQ(g_AppState.fileSkipCount, 2);
    }
  }
  EXPECT_EQ(g_AppState.folderCount, 5000);
  EXPECT_EQ(g_AppState.fileCount, 50000);
  EXPECT_EQ(g_AppState.fileSkipCount, 5);

  auto byParent = [](const Ins& a, const Ins& b) { return a.parent < b.parent; };
  std::stable_sort(folders.begin(), folders.end(), byParent);
  std::stable_sort(files.begin(), files.end(), byParent);

  size_t i = 0;
  for (const FolderRecord& r : AllFolders()) {
    ASSERT_LT(i, folders.size());
    ASSERT_EQ(r.ownKey, folders[i].id) << "position " << i;
    ++i;
  }
  EXPECT_EQ(i, folders.size());
  i = 0;
  for (const FileRecord& r : AllFiles()) {
    ASSERT_LT(i, files.size());
    ASSERT_EQ(r.runningNumber(), static_cast<int32_t>(files[i].id)) << "position " << i;
    ++i;
  }
  EXPECT_EQ(i, files.size());

  std::map<uint32_t, std::vector<uint32_t>> folderKids, fileKids;
  for (const Ins& f : folders) folderKids[f.parent].push_back(f.id);
  for (const Ins& f : files) fileKids[f.parent].push_back(f.id);
  for (uint32_t k = 0; k < 2000; ++k) {
    std::vector<uint32_t> got;
    for (const FolderRecord& r : FoldersWithParent(k)) got.push_back(r.ownKey);
    ASSERT_EQ(got, folderKids[k]) << "folder key " << k;
  }
  for (const auto& [k, ids] : fileKids) {
    std::vector<uint32_t> got;
    for (const FileRecord& r : FilesWithParent(k)) got.push_back(static_cast<uint32_t>(r.runningNumber()));
    ASSERT_EQ(got, ids) << "file key " << k;
  }
  EXPECT_TRUE(FilesWithParent(5000).empty());
}

// Every change waits while another thread walks the lists, then happens.
TEST_F(CatalogTest, ChangesWaitForAWalk) {
  InsertFolderRecord("D", u"", 'n', 0, 2, 0, {}, 0);
  InsertFileRecord("F", u"", 'n', 1, 2, 3, 0, {});
  FolderRecord& folder = *AllFolders().begin();
  FileRecord& file = *AllFiles().begin();
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"insert folder", [] { InsertFolderRecord("E", u"", 'n', 0, 4, 0, {}, 0); }},
      {"insert file", [] { InsertFileRecord("G", u"", 'n', 1, 2, 4, 0, {}); }},
      {"rename folder", [&] { SetRecordName(folder, "X", u""); }},
      {"rename file", [&] { SetRecordName(file, {}, u"y"); }},
      {"edit", [&] { CatalogEdit edit; }},
      {"clear", [] { ClearCatalog(); }},
  };
  for (const auto& [what, change] : changes) {
    std::atomic<bool> done{false};
    std::thread other;
    {
      CatalogWalk walk;
      other = std::thread([&, change = change] {
        change();
        done = true;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_FALSE(done.load()) << what;
    }
    other.join();
    EXPECT_TRUE(done.load()) << what;
  }
  EXPECT_EQ(g_AppState.fileList, nullptr);
}

// The fixed part of a record is what a million-file scan pays a million
// times: with a short name and the indexes a file must stay near 100 bytes.
static_assert(sizeof(FileRecord) <= 64, "a catalogued file's record has grown");
static_assert(sizeof(FolderRecord) <= 64, "a catalogued folder's record has grown");

// Records and names are carved from shared blocks: many inserts (names of
// every length, one larger than a block) must not move or overwrite what was
// stored before, and every field keeps its full range.
TEST_F(CatalogTest, RecordsAndNamesStayPutAcrossManyInserts) {
  constexpr uint32_t kFiles = 300'000;
  auto nameOf = [](uint32_t i) {
    std::string n = "N" + std::to_string(i);
    n.append(i % 37, 'a' + i % 26);
    return n;
  };
  std::u16string huge(3'000'000, u'h');
  huge[1] = u'\u4e2d';  // kept two bytes a unit
  InsertFolderRecord("ROOT", u"", 'n', 0, 2, 0, {}, 0);
  const char* rootName = g_AppState.folderList->name8.data();
  InsertFileRecord("", u"first.txt", 'n', 1, 3, 4, (1ULL << 47) - 1, {1, 2, 3, 4, 5, 6}, 255 * 512);
  const FileRecord* first = g_AppState.fileList;
  for (uint32_t i = 1; i < kFiles; ++i) {
    if (i == kFiles / 2) {
      InsertFileRecord("", huge, 'y', i, i % 1000, i, i, {});
    } else {
      const std::string n = nameOf(i);
      InsertFileRecord(n, u"", 'n', i, i % 1000, i, i, {});
    }
  }
  ASSERT_EQ(g_AppState.fileCount, static_cast<int32_t>(kFiles));
  EXPECT_EQ(&*std::find_if(AllFiles().begin(), AllFiles().end(), [](const FileRecord& r) { return r.runningNumber() == 0; }),
            first);
  EXPECT_EQ(g_AppState.folderList->name8.data(), rootName);
  EXPECT_EQ(g_AppState.folderList->name8, "ROOT");
  EXPECT_EQ(first->wideName, u"first.txt");
  EXPECT_EQ(first->recordSector(), (1ULL << 47) - 1);
  EXPECT_EQ(first->recordOffset(), 255u * 512);
  EXPECT_EQ(first->accessedTime[1], 6u);

  uint32_t seen = 0, bad = 0;
  for (const FileRecord& r : AllFiles()) {
    const uint32_t i = static_cast<uint32_t>(r.runningNumber());
    ++seen;
    if (i == 0) continue;
    const bool ok = i == kFiles / 2 ? (r.wideName == huge && r.name8.empty() && r.IsDeleted())
                                    : (r.name8 == nameOf(i) && r.wideName.empty() && !r.IsDeleted() &&
                                       r.name8.c_str()[r.name8.size()] == '\0');
    if (!ok || r.size() != i || r.dataKey != i || r.recordSector() != i || r.parentKey != i % 1000) ++bad;
  }
  EXPECT_EQ(seen, kFiles);
  EXPECT_EQ(bad, 0u);

  // A rename leaves every other name as it was.
  auto at = AllFiles().begin();
  while (&*at != first) ++at;
  FileRecord& renamed = *std::next(at);
  const FileRecord& after = *std::next(at, 2);
  const std::string before = after.name8.str();
  SetRecordName(renamed, {}, u"renamed");
  EXPECT_EQ(renamed.wideName, u"renamed");
  EXPECT_FALSE(renamed.HasName8());
  EXPECT_EQ(after.name8, before);
  EXPECT_EQ(first->wideName, u"first.txt");
}

// A wide name whose units all fit in a byte is kept one byte a unit; every
// wide name reads back unit for unit, whichever way it is kept, including
// units that CP1252 would map elsewhere.
TEST_F(CatalogTest, WideNamesReadBackUnitForUnit) {
  const std::u16string names[] = {u"plain.txt", u"\u00e9t\u00e9 \u00ff", u"\u0080\u009f\u00a0", u"x\u0100",
                                  u"\u4e2d\u6587.doc", u"a\U0001F600b", std::u16string(300, u'\u00fe')};
  for (const std::u16string& name : names) {
    ClearCatalog();
    InsertFileRecord("", name, 'n', 1, 5, 6, 0, {});
    InsertFolderRecord("", name, 'n', 5, 6, 0, {}, 0);
    const FileRecord& f = *AllFiles().begin();
    const FolderRecord& d = *AllFolders().begin();
    EXPECT_EQ(f.wideName.str(), name);
    EXPECT_EQ(d.wideName.str(), name);
    EXPECT_TRUE(f.wideName == name);
    EXPECT_EQ(f.wideName.size(), name.size());
    EXPECT_EQ(f.wideName.back(), name.back());
    EXPECT_FALSE(f.HasName8());
    EXPECT_TRUE(f.name8.empty());
    EXPECT_FALSE(f.wideName == name.substr(1));
  }
}

// A rename stores a name the way the inserts do.
TEST_F(CatalogTest, RenameKeepsOneOfTheTwoNames) {
  InsertFolderRecord("OLD", u"", 'n', 0, 2, 0, {}, 0);
  FolderRecord& f = *AllFolders().begin();
  SetRecordName(f, {}, u"wide");
  EXPECT_EQ(f.name8, "");
  EXPECT_EQ(f.wideName, u"wide");
  SetRecordName(f, {}, u"\u4e2d");
  EXPECT_EQ(f.wideName, u"\u4e2d");
  SetRecordName(f, "NARROW", u"ignored");
  EXPECT_EQ(f.name8, "NARROW");
  EXPECT_EQ(f.wideName, u"");
  EXPECT_TRUE(f.wideName.empty());
}

}  // namespace
}  // namespace qm
