#include "results/search_match.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/copy_test_util.h"
#include "engines/selection_model.h"
#include "platform/job_control.h"
#include "platform/text.h"

namespace qm {
namespace {

TEST(MatchSearchName, PatternTable) {
  struct Case {
    const char16_t* name;
    const char16_t* pattern;
    int match;
  } cases[] = {
      {u"BOOK.XLS", u"*.XLS", 1},       {u"BOOK.XLSX", u"*.XLS", 0},     {u"REPORT1.DOC", u"REPORT*", 1},
      {u"MYREPORT", u"REPORT*", 0},     {u"MYDOCS.TXT", u"DOC", 1},      {u"DOC", u"DOCS", 0},
      {u"A.B", u"*.*", 1},              {u"README", u"*.*", 0},          {u"ANYTHING", u"*", 1},
      {u"", u"*", 0},                   {u"NAME", u"", 0},               {u"ABC", u"A?C", 1},
      {u"ABBC", u"A?C", 0},             {u"ABCDEF", u"AB?", 0},          {u"ABC", u"AB?", 1},
      {u"ABC", u"*ABC", 1},             {u"XABC", u"*ABC", 1},           {u"AXBYC", u"A*B*C", 1},
      {u"AXBY", u"A*B*C", 0},           {u"FILE.TXT", u"F*.T?T", 1},     {u"FILE.TAR", u"F*.T?T", 0},
      {u"AAAB", u"*AB", 1},             {u"REPORT", u"REPORT**", 1},     {u"ÉTÉ.DOC", u"ÉT*", 1},
      {u"PHOTO1.JPG", u"PHOTO?.*", 1},  {u"PHOTO12.JPG", u"PHOTO?.*", 0}, {u"X.JPG", u"*.JPG*", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchSearchName(c.name, c.pattern), c.match) << Utf16ToUtf8(c.name) << " ~ " << Utf16ToUtf8(c.pattern);
  // A long pathological pattern ends quickly.
  const std::u16string name(300, u'A');
  EXPECT_EQ(MatchSearchName(name, u"*A*A*A*A*A*A*A*A*A*B"), 0);
  EXPECT_EQ(SearchUpperCase(u"été.doc"), u"ÉTÉ.DOC");
}

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

TEST(MatchDateRange, DayKeysAndFileSystems) {
  SearchCriteria fat;
  fat.fileSystem = u"FAT32";
  SearchCriteria janOnly = fat;
  janOnly.fromDay = 1, janOnly.fromMonth = 1, janOnly.fromYear = 2020;
  janOnly.toDay = 31, janOnly.toMonth = 1, janOnly.toYear = 2020;
  SearchCriteria backwards = fat;
  backwards.fromYear = 2020, backwards.toYear = 2019;
  SearchCriteria other = backwards;
  other.fileSystem = u"UNKNOWN";
  SearchCriteria ntfs = janOnly;
  ntfs.fileSystem = u"NTFS";
  const uint64_t ntfsJan31 = CivilToFileTime({2020, 1, 31, 23, 59, 59});
  const uint64_t ntfsFeb1 = CivilToFileTime({2020, 2, 1, 0, 0, 0});
  struct Case {
    const char* name;
    const SearchCriteria* c;
    uint32_t first, second;
    int match;
  } cases[] = {
      {"31-12-2030 inside the default range", &fat, FatDate(2030, 12, 31), 0, 1},
      {"01-01-2031 after the default range", &fat, FatDate(2031, 1, 1), 0, 0},
      {"last day of the range", &janOnly, FatDate(2020, 1, 31), 0, 1},
      {"first day after the range", &janOnly, FatDate(2020, 2, 1), 0, 0},
      {"to year below from year", &backwards, FatDate(2019, 6, 1), 0, 0},
      {"other file system passes", &other, 0, 0, 1},
      {"NTFS last second of the range", &ntfs, uint32_t(ntfsJan31), uint32_t(ntfsJan31 >> 32), 1},
      {"NTFS first day after", &ntfs, uint32_t(ntfsFeb1), uint32_t(ntfsFeb1 >> 32), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchDateRange(c.first, c.second, *c.c), c.match) << c.name;
}

TEST(SearchSizeBound, UnitsAndLimits) {
  EXPECT_EQ(SearchSizeBound(u"100", u"Bytes"), 100u);
  EXPECT_EQ(SearchSizeBound(u"3", u"KB"), 3u << 10);
  EXPECT_EQ(SearchSizeBound(u"3", u"MB"), 3u << 20);
  EXPECT_EQ(SearchSizeBound(u"5", u"GB"), 5ull << 30);  // past 32 bits
  EXPECT_EQ(SearchSizeBound(u"", u"GB"), 0u);
  EXPECT_EQ(SearchSizeBound(u"99999999999999999999999", u"Bytes"), UINT64_MAX);
  EXPECT_EQ(SearchSizeBound(u"99999999999999", u"GB"), UINT64_MAX);
}

// A small FAT catalogue shown in a tree:
//   root files: ROOT.TXT
//   DOCS (key 10): REPORT.DOC 100 bytes live, OLD.DOC 101 bytes deleted, BIG.BIN 6 GiB
//   DOCS\DELETED (key 11, deleted folder): NOTE.TXT
//   a file whose folder was never found (parent 99): LOST.TXT
class SearchPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_SelectedFileSystem = u"FAT16";
    const RecordTimes t2021 = {FatDate(2021, 3, 4), 0, FatDate(2021, 3, 4), 0, FatDate(2021, 3, 4), 0};
    const RecordTimes t2000 = {FatDate(2000, 1, 1), 0, FatDate(2000, 1, 1), 0, FatDate(2000, 1, 1), 0};
    InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, t2021, 0);
    InsertFolderRecord("DELETED", u"", 'y', 10, 11, 0, t2000, 0);
    InsertFolderRecord("OTHERVOL", u"", 'n', kFatRootKey, 12, 0, t2021, 1);
    InsertFileRecord("ROOT.TXT", u"", 'n', 5, kFatRootKey, 2, 0, t2021);
    InsertFileRecord("REPORT.DOC", u"", 'n', 100, 10, 3, 0, t2021);
    InsertFileRecord("OLD.DOC", u"", 'y', 101, 10, 4, 0, t2000);
    InsertFileRecord("BIG.BIN", u"", 'n', 6ull << 30, 10, 5, 0, t2021);
    InsertFileRecord("", u"note.txt", 'n', 7, 11, 6, 0, t2021);
    InsertFileRecord("LOST.TXT", u"", 'n', 8, 99, 7, 0, t2021);
    tree_.BuildFromCatalog(kFatRootKey);
  }
  void TearDown() override { ClearCatalog(); }

  // Rows as "type|name|path|size", in the order they were added.
  std::vector<std::string> Search(const SearchCriteria& c, bool folders = true) {
    std::vector<std::string> rows;
    int count = 0;
    SearchOutput out{[this](uint32_t item) { return BuildItemPath(tree_, item); },
                     [&](const SearchRow& r, int n) {
                       EXPECT_EQ(n, static_cast<int>(rows.size()) + 1);
                       rows.push_back(Utf16ToUtf8(r.type + u"|" + r.name + u"|" + r.path + u"|" + r.size));
                     }};
    if (folders) SearchFolderRecords(c, 0, out, &count);
    SearchFileRecords(c, out, &count);
    EXPECT_EQ(count, static_cast<int>(rows.size()));
    return rows;
  }
  SearchCriteria Criteria(const char16_t* pattern) {
    SearchCriteria c;
    c.pattern = pattern;
    c.fileSystem = g_SelectedFileSystem;
    return c;
  }
  SelectionModel tree_;
};

TEST_F(SearchPassTest, EverythingListsFoldersOfTheVolumeAndFilesInTheRootAndBelow) {
  EXPECT_EQ(Search(Criteria(u"*")),
            (std::vector<std::string>{"Folder|DOCS|DOCS|0", "Deleted Folder|DELETED|DOCS\\DELETED|0",
                                      "File|ROOT.TXT||5", "File|REPORT.DOC|DOCS|100", "Deleted File|OLD.DOC|DOCS|101",
                                      "File|BIG.BIN|DOCS|6442450944", "File|note.txt|DOCS\\DELETED|7"}));
}

TEST_F(SearchPassTest, CriteriaTable) {
  struct Case {
    const char* name;
    SearchCriteria c;
    bool folders;
    std::vector<std::string> rows;
  };
  auto with = [&](const char16_t* p, auto edit) {
    SearchCriteria c = Criteria(p);
    edit(c);
    return c;
  };
  std::vector<Case> cases = {
      {"exact size range", with(u"*", [](SearchCriteria& c) { c.sizeLow = 100, c.sizeHigh = 100; }), false,
       {"File|REPORT.DOC|DOCS|100"}},
      {"range beyond 32 bits",
       with(u"*", [](SearchCriteria& c) { c.sizeLow = 5ull << 30, c.sizeHigh = SearchSizeBound(u"7", u"GB"); }), false,
       {"File|BIG.BIN|DOCS|6442450944"}},
      {"only deleted", with(u"*.DOC", [](SearchCriteria& c) { c.deleted = DeletedChoice::kOnly; }), true,
       {"Deleted File|OLD.DOC|DOCS|101"}},
      {"exclude deleted", with(u"D*", [](SearchCriteria& c) { c.deleted = DeletedChoice::kExclude; }), true,
       {"Folder|DOCS|DOCS|0"}},
      {"modified in 2000",
       with(u"*",
            [](SearchCriteria& c) {
              c.dateKind = DateKind::kModified;
              c.fromYear = 2000, c.toYear = 2000;
            }),
       true, {"Deleted Folder|DELETED|DOCS\\DELETED|0", "Deleted File|OLD.DOC|DOCS|101"}},
      {"wide names match upper-cased", Criteria(u"NOTE.*"), true, {"File|note.txt|DOCS\\DELETED|7"}},
      {"root files are listed with the root's empty path, lost files are not", Criteria(u".TXT"), true,
       {"File|ROOT.TXT||5", "File|note.txt|DOCS\\DELETED|7"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Search(c.c, c.folders), c.rows) << c.name;
}

// A volume made by mkfs.fat and mtools: files in the root, and a folder on
// cluster 5 (the NTFS root's key). Every file fls lists is found.
TEST(SearchFatVolume, EveryFileOfTheVolumeIsListed) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd", "fls", "istat");
  test::TempDir dir;
  const std::string img = dir.file("search.img"), file = dir.file("x.txt");
  std::ofstream(file, std::ios::binary) << "x";
  const std::string q = test::ShellQuote(img), x = test::ShellQuote(file);
  ASSERT_EQ(test::Run("truncate -s 16M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 4 " + q +
                      " >/dev/null && mmd -i " + q + " ::/A ::/B ::/C ::/D && mcopy -i " + q + " " + x +
                      " ::/ROOT.TXT && mcopy -i " + q + " " + x + " ::/D/IN5.TXT && mcopy -i " + q + " " + x +
                      " ::/A/INA.TXT"),
            0);
  ResetAppState();
  ClearCatalog();
  ASSERT_TRUE(test::OpenFatImage(img, u"FAT16"));
  test::CatalogFat(img);
  bool folderOnFive = false;
  for (const FolderRecord& f : AllFolders()) folderOnFive |= f.ownKey == kNtfsRootKey;
  ASSERT_TRUE(folderOnFive) << "the image does not show the case";
  SelectionModel tree;
  tree.BuildFromCatalog(kFatRootKey);

  std::set<std::string> want;
  for (const test::FlsEntry& e : test::UserEntries(test::Capture("fls -r -p " + q))) {
    if (e.type.back() == 'd') continue;
    const size_t slash = e.path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : e.path.substr(0, slash);
    for (char& ch : folder)
      if (ch == '/') ch = '\\';
    want.insert(folder + "|" + e.path.substr(slash == std::string::npos ? 0 : slash + 1));
  }
  std::set<std::string> got;
  int count = 0;
  SearchCriteria c;
  c.pattern = u"*";
  c.fileSystem = u"FAT16";
  SearchFileRecords(c,
                    {[&tree](uint32_t item) { return BuildItemPath(tree, item); },
                     [&](const SearchRow& r, int) { got.insert(Utf16ToUtf8(r.path + u"|" + r.name)); }},
                    &count);
  EXPECT_EQ(got, want);
  ClearCatalog();
}

TEST_F(SearchPassTest, PathsDropThePcPrefixAndAStopEndsThePass) {
  SelectionModel pc;
  const uint32_t top = pc.AddItem(pc.Root(), u"This PC", nullptr);
  const uint32_t drive = pc.AddItem(top, u"Local Disk (C:)", nullptr);
  const uint32_t docs = pc.AddItem(drive, u"Docs", nullptr);
  EXPECT_EQ(BuildItemPath(pc, docs), u"Local Disk (C:)\\Docs");
  EXPECT_EQ(BuildItemPath(pc, 12345), u"");

  JobControl job;
  job.requestStop();
  int count = 0;
  SearchFileRecords(Criteria(u"*"), {[this](uint32_t i) { return BuildItemPath(tree_, i); }, nullptr}, &count, &job);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace qm
