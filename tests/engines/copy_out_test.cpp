// The copy-out against sleuthkit: every file of the FAT and NTFS fixtures,
// live and deleted, comes back byte for byte as icat gives it, under its
// folder path, with its name and last-write time; the walk, the collision
// answers, failed writes, hostile names and stop behave as the user is told.
#include "engines/copy_out.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "copy_test_util.h"
#include "engines/fat_directory.h"
#include "engines/file_copiers.h"
#include "engines/recovery_filter.h"
#include "diskio/sector_io.h"
#include "platform/file.h"
#include "support/fakes.h"

namespace qm {
namespace {

using test::CatalogItem;

// Answers the copy questions from queues and records them.
class CopyPrompt : public test::ScriptedPrompt {
 public:
  int FileReplaceChoice(std::u16string_view path) override {
    std::lock_guard l(m);
    replaceAsked.emplace_back(path);
    if (replaceAnswers.empty()) return 1;
    const int a = replaceAnswers.front();
    replaceAnswers.pop_front();
    return a;
  }
  int CopyErrorChoice(std::u16string_view path) override {
    std::lock_guard l(m);
    errorAsked.emplace_back(path);
    return errorAnswer;
  }
  int CopyErrorChoiceFor(std::u16string_view path, int cause) override {
    {
      std::lock_guard l(m);
      errorCauses.push_back(cause);
    }
    return CopyErrorChoice(path);
  }
  std::vector<std::u16string> replaceAsked, errorAsked;
  std::vector<int> errorCauses;
  std::deque<int> replaceAnswers;
  int errorAnswer = 0;
};

// Runs the test body under a time zone, then puts the old one back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* tz) {
    if (const char* old = getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

class CopyOutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fatDir_ = new test::TempDir;
    fat_ = new test::FixtureSet(test::MakeFatImages(*fatDir_));
  }
  static void TearDownTestSuite() {
    delete fat_;
    delete fatDir_;
  }
  void SetUp() override {
    test::FreshState();
    SetPrompt(&prompt_);
  }
  void TearDown() override {
    SetPrompt(nullptr);
    SetTargetFileFactory(nullptr);
    test::FreshState();
  }

  // image (kept as image_) alone presented as disk 0.
  void Present(const std::string& image) {
    image_ = image;
    present_.reset();  // its destructor puts the old disk list back
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image_});
  }

  // FAT fixture of the kind as disk 0, its catalogue filled, every item ticked.
  std::vector<CatalogItem> LoadFat(const std::string& kind, SelectionModel& model) {
    Present(fat_->path(kind + ".img"));
    std::u16string fs = kind == "fat12" ? u"FAT12" : kind == "fat16" ? u"FAT16" : u"FAT32";
    EXPECT_TRUE(test::OpenFatImage(image_, fs));
    auto items = test::CatalogFat(image_);
    test::TickEverything(model, kFatRootKey);
    return items;
  }

  // Copies the selection into dir/out and returns that folder.
  // Presents the FAT16 fixture, catalogues it whole and returns README.TXT's
  // first cluster; 0 when the volume does not open or has no such file.
  uint32_t Fat16ReadmeCluster() {
    Present(fat_->path("fat16.img"));
    if (!test::OpenFatImage(image_, u"FAT16")) return 0;
    test::CatalogFat(image_);
    for (const FileRecord& f : AllFiles())
      if (f.wideName == u"README.TXT") return f.dataKey;
    return 0;
  }

  std::string Copy(SelectionModel& model, test::RecordingSink* sink = nullptr, bool fresh = true) {
    const std::string target = dir_.file("out");
    if (fresh) test::Run("rm -rf " + test::ShellQuote(target));
    EvaluateSelectedTotals(model);
    if (sink) sink->selected = model.selectedBytes.load();
    test::StartCopyOut(target);
    g_CopyProgressDlg = sink;
    CopyThread(sink, model);
    g_CopyProgressDlg = nullptr;
    return target;
  }

  std::u16string LastMessage() { return prompt_.messages.empty() ? u"" : prompt_.messages.back(); }

  // The files of items (those taken, when taken is given) whose copy below
  // out is missing or differs from what icat gives (recovering a deleted one).
  std::set<std::string> NotCopiedWhole(const std::string& out, const std::vector<CatalogItem>& items,
                                       const std::function<bool(const CatalogItem&)>& taken = {}) {
    std::set<std::string> wrong;
    for (const CatalogItem& item : items) {
      if (item.dir) continue;
      if (taken && !taken(item)) continue;
      const std::string path = out + "/" + item.path;
      if (!test::Exists(path) || test::FileBytes(path) != test::IcatBytes(image_, item, item.deleted))
        wrong.insert(item.path);
    }
    return wrong;
  }

  static test::TempDir* fatDir_;
  static test::FixtureSet* fat_;
  test::TempDir dir_;
  std::string image_;
  std::unique_ptr<test::PresentImages> present_;
  CopyPrompt prompt_;
};
test::TempDir* CopyOutTest::fatDir_ = nullptr;
test::FixtureSet* CopyOutTest::fat_ = nullptr;

struct ZoneCase {
  const char* image;
  const char* tz;
  int64_t offsetSeconds;  // local time minus UTC on 2023-04-05 in that zone
};

TEST_F(CopyOutTest, EveryFatFileMatchesIcatWithPathNameAndLocalTime) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat", "icat");
  const ZoneCase cases[] = {
      {"fat12", "UTC0", 0}, {"fat16", "JST-9", 9 * 3600}, {"fat32", "EST5EDT,M3.2.0,M11.1.0", -4 * 3600}};
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(c.image);
    test::FreshState();
    ZoneScope zone(c.tz);
    SelectionModel model;
    const auto items = LoadFat(c.image, model);
    ASSERT_GT(items.size(), 20u);
    test::RecordingSink sink;
    const std::string out = Copy(model, &sink);
    EXPECT_EQ(LastMessage(), kSavingCompleted);
    EXPECT_EQ(sink.finished.load(), 1);

    int files = 0, deleted = 0;
    for (const CatalogItem& item : items) {
      const std::string path = out + "/" + item.path;
      if (item.dir) {
        EXPECT_TRUE(test::Exists(path + "/")) << item.path;
        continue;
      }
      ++files;
      deleted += item.deleted;
      ASSERT_TRUE(test::Exists(path)) << item.path;
      EXPECT_TRUE(test::SameBytes(test::FileBytes(path), test::IcatBytes(image_, item, item.deleted))) << item.path;
      // The entry's time is local time on the machine that wrote it.
      EXPECT_EQ(test::MTime(path), item.modifiedUnix - c.offsetSeconds) << item.path;
    }
    EXPECT_EQ(files, g_FilesCopied.load());
    EXPECT_GE(deleted, 4);  // deleted.txt, the deleted long name and both files of the deleted folder
    // The fragmented file came through its chain, not from consecutive clusters.
    EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/frag/D.bin"), test::FixtureContent("fragD", 40000)));
  }
}

TEST_F(CopyOutTest, EveryNtfsFileMatchesIcatIncludingSparseFragmentedAndResident) {
  QM_REQUIRE_TOOLS("fls", "icat");
  const ZoneCase cases[] = {{"ntfs", "UTC0", 0}, {"ntfs4k", "JST-9", 9 * 3600}};
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(c.image);
    test::FreshState();
    ZoneScope zone(c.tz);
    test::TempDir dir;
    auto set = test::UnpackNtfs(dir, c.image);
    QM_REQUIRE_FIXTURE(set);
    Present(set.path(std::string(c.image) + ".img"));
    const test::NtfsVolume v = test::OpenNtfsImage(image_);
    ASSERT_TRUE(v.ok);
    const auto items = test::CatalogNtfs(v);
    SelectionModel model;
    test::TickEverything(model, kNtfsRootKey);
    const std::string out = Copy(model);
    EXPECT_EQ(LastMessage(), kSavingCompleted);

    std::set<std::string> seen;
    for (const CatalogItem& item : items) {
      if (item.dir) continue;
      const std::string path = out + "/" + item.path;
      seen.insert(item.path);
      ASSERT_TRUE(test::Exists(path)) << item.path;
      EXPECT_TRUE(test::SameBytes(test::FileBytes(path), test::IcatBytes(image_, item, false))) << item.path;
      // NTFS keeps UTC: the zone changes nothing.
      EXPECT_EQ(test::MTime(path), item.modifiedUnix) << item.path;
    }
    for (const char* must : {"sparse/sparse.bin", "frag/interleaved one.bin", "tiny.txt", "links/target.txt",
                             "deleted.txt", "Old Stuff/Inner/old two.txt"})
      EXPECT_TRUE(seen.count(must)) << must;
    // The holes read as zeros, never as the disk's first sectors.
    const std::string sparse = test::FileBytes(out + "/sparse/sparse.bin");
    ASSERT_EQ(sparse.size(), 1048576u);
    EXPECT_TRUE(test::SameBytes(sparse.substr(8192, 4096), std::string(4096, '\0')));
  }
}

// The preview extracts while the copy-out runs: each job keeps its own
// runs, flags and byte count.
TEST_F(CopyOutTest, APreviewDuringTheCopyOutLeavesBothJobsBytesRight) {
  QM_REQUIRE_TOOLS("fls", "icat");
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Present(set.path("ntfs.img"));
  const test::NtfsVolume v = test::OpenNtfsImage(image_);
  ASSERT_TRUE(v.ok);
  const auto items = test::CatalogNtfs(v);
  SelectionModel model;
  test::TickEverything(model, kNtfsRootKey);
  const FileRecord* frag = nullptr;
  for (const FileRecord& f : AllFiles())
    if (f.wideName == u"interleaved one.bin") frag = &f;
  ASSERT_NE(frag, nullptr);
  std::string want;
  for (const CatalogItem& item : items)
    if (item.path == "frag/interleaved one.bin") want = test::IcatBytes(image_, item, false);
  ASSERT_FALSE(want.empty());

  std::atomic<bool> copying{true};
  std::atomic<int> extracted{0}, wrong{0};
  std::thread preview([&] {
    const std::string path = dir.file("preview.bin");
    while (copying.load() || extracted.load() < 5) {
      CopyNtfsFile(path, frag->wideName.str(), frag->size(), MftRecordToSector(frag->dataKey), frag->parentKey,
                   frag->dataKey, 0, 0, frag->modifiedTime[1], frag->modifiedTime[0]);
      ++extracted;
      if (test::FileBytes(path) != want) ++wrong;
    }
  });
  const std::string out = Copy(model);
  copying = false;
  preview.join();
  EXPECT_GE(extracted.load(), 5);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(LastMessage(), kSavingCompleted);
  for (const CatalogItem& item : items) {
    if (item.dir) continue;
    EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/" + item.path), test::IcatBytes(image_, item, false)))
        << item.path;
  }
}

// Tick states of the fixture's folders and what lands in the target.
struct WalkCase {
  const char* name;
  int scope;
  int myDocuments, reports;  // tick states of "My Documents" and its "Reports 2023"
  bool rootFiles, myDocumentsFiles, reportsFiles, picturesFiles;
};

TEST_F(CopyOutTest, WalkFollowsTickStatesAndScope) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const WalkCase cases[] = {
      {"all ticked", 0, 2, 2, true, true, true, true},
      // An unticked folder hides its whole subtree, even a ticked child.
      {"unticked parent", 0, 1, 2, true, false, false, true},
      // A partly ticked folder is descended into but its files stay.
      {"partial parent", 0, 3, 2, true, false, true, true},
      {"scope all", 1, 1, 1, true, true, true, true},
      {"scope unticked", 2, 1, 2, true, true, false, false},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    LoadFat("fat16", model);
    g_AppState.checkScope = c.scope;
    if (c.scope == 2) {
      for (FileRecord& f : AllFiles()) f.checkFlag = 'n';
      model.SetTick(model.Root(), kTickUnticked);
    }
    for (uint32_t id : model.Node(model.Root())->children) {
      SelectionNode* n = model.Node(id);
      if (n->text == u"My Documents") {
        n->tickState = c.myDocuments;
        for (uint32_t sub : n->children)
          if (model.Node(sub)->text == u"Reports 2023") model.Node(sub)->tickState = c.reports;
      } else if (c.scope == 2) {
        n->tickState = kTickTicked;
      }
    }
    const std::string out = Copy(model);
    EXPECT_EQ(test::Exists(out + "/README.TXT"), c.rootFiles);
    EXPECT_EQ(test::Exists(out + "/My Documents/short.txt"), c.myDocumentsFiles);
    EXPECT_EQ(test::Exists(out + "/My Documents/Reports 2023/annual summary.txt"), c.reportsFiles);
    EXPECT_EQ(test::Exists(out + "/Pictures/holiday picture 01.bin"), c.picturesFiles);
    // Whatever was taken was written whole.
    EXPECT_EQ(LastMessage(), kSavingCompleted);
    test::Run("rm -rf " + test::ShellQuote(out));
  }
}

TEST_F(CopyOutTest, AnUnknownFileSystemCopiesNothing) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  EvaluateSelectedTotals(model);
  const uint64_t selected = model.selectedBytes.load();
  ASSERT_GT(selected, 0u);
  g_SelectedFileSystem = u"UNKNOWN";
  test::StartCopyOut(dir_.file("out"));
  CopyThread(nullptr, model);
  EXPECT_EQ(LastMessage(), kSavingNotCompleted);
  // Folders are made, no file is written.
  for (const std::string& p : test::TreeOf(dir_.file("out"))) EXPECT_EQ(p.back(), '/') << p;
  EXPECT_EQ(g_CopiedBytes.load(), 0u);
}

TEST_F(CopyOutTest, FilesUnderLostAreCopied) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  // Take README.TXT's cluster from a full catalogue, then catalogue it as an
  // orphan under "Lost".
  const uint32_t cluster = Fat16ReadmeCluster();
  ASSERT_NE(cluster, 0u);
  ClearCatalog();
  InsertFolderRecord("", u"Lost", 'n', kFatRootKey, kLostFolderKey, 0, {}, 0);
  InsertFileRecord("", u"orphan.txt", 'y', 300, kLostFolderKey, cluster, 0, {});
  SelectionModel model;
  test::TickEverything(model, kFatRootKey);
  const std::string out = Copy(model);
  EXPECT_EQ(test::FileBytes(out + "/Lost/orphan.txt"), test::FixtureContent("readme", 300));
  EXPECT_EQ(LastMessage(), kSavingCompleted);
}

TEST_F(CopyOutTest, AFolderWinsOverAFileOfTheSameName) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const uint32_t cluster = Fat16ReadmeCluster();
  ASSERT_NE(cluster, 0u);
  ClearCatalog();
  // The empty marker file "Lost" beside the folder "Lost"; a file with data
  // named like the folder "Docs".
  InsertFileRecord("", u"Lost", 'n', 0, kFatRootKey, 0, 0, {});
  InsertFileRecord("", u"Docs", 'n', 300, kFatRootKey, cluster, 0, {});
  InsertFolderRecord("", u"Lost", 'n', kFatRootKey, kLostFolderKey, 0, {}, 0);
  InsertFolderRecord("", u"Docs", 'n', kFatRootKey, 200, 0, {}, 0);
  InsertFileRecord("", u"orphan.txt", 'y', 300, kLostFolderKey, cluster, 0, {});
  InsertFileRecord("", u"inner.txt", 'n', 300, 200, cluster, 0, {});
  SelectionModel model;
  test::TickEverything(model, kFatRootKey);
  const std::string out = Copy(model);
  const std::string readme = test::FixtureContent("readme", 300);
  EXPECT_EQ(test::FileBytes(out + "/Lost/orphan.txt"), readme);
  EXPECT_EQ(test::FileBytes(out + "/Docs/inner.txt"), readme);
  EXPECT_EQ(test::FileBytes(out + "/Docs0"), readme);
  EXPECT_TRUE(prompt_.errorAsked.empty());
  EXPECT_EQ(LastMessage(), kSavingCompleted);
}

// A damaged directory entry claims far more than the volume holds.
TEST_F(CopyOutTest, AFileEndsAtTheVolumesEndAndIsNamedIncomplete) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat", "fsstat");
  const uint32_t cluster = Fat16ReadmeCluster();
  ASSERT_NE(cluster, 0u);
  // The volume's last sector as sleuthkit reads it.
  const std::string fsstat = test::Capture("fsstat " + test::ShellQuote(image_));
  const std::string range = test::After(fsstat, "Total Range: 0 - ");
  ASSERT_FALSE(range.empty()) << fsstat;
  const uint64_t volumeEnd = std::stoull(range) + 1;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  const uint64_t firstSector = ClusterZeroBase(g) + uint64_t{cluster} * g.sectorsPerCluster;
  const uint64_t claimed = volumeEnd * 512 + (uint64_t{1} << 20);
  // The list says so before the copy.
  EXPECT_EQ(ReadVolumeBounds(true).end, volumeEnd);
  EXPECT_TRUE(ClaimsBeyondVolume(claimed, cluster, true, ReadVolumeBounds(true)));
  ClearCatalog();
  InsertFileRecord("", u"huge.bin", 'y', claimed, kFatRootKey, cluster, 0, {});
  SelectionModel model;
  test::TickEverything(model, kFatRootKey);
  const std::string out = Copy(model);
  // Exactly the volume from the first cluster on, nothing invented past it.
  const std::string got = test::FileBytes(out + "/huge.bin");
  ASSERT_EQ(got.size(), (volumeEnd - firstSector) * 512);
  const std::string disk = test::FileBytes(image_);
  EXPECT_TRUE(test::SameBytes(got, disk.substr(firstSector * 512, got.size())));
  EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
  EXPECT_NE(LastMessage().find(u"\nhuge.bin"), std::u16string::npos);
}

// The copy-out reads the volume's boot sector once for the whole job, not
// once per file, and the next job reads it afresh.
TEST_F(CopyOutTest, TheVolumesEndIsReadOncePerCopyJob) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  int withData = 0;
  for (const FileRecord& f : AllFiles()) withData += f.size() > 0;
  ASSERT_GT(withData, 5);
  std::atomic<int> bootReads{0};
  SetDeviceReadHook([&](File& device, void* buffer, size_t bytes, uint64_t offset) -> int64_t {
    if (offset == 0) ++bootReads;
    return device.readAt(buffer, bytes, offset);
  });
  Copy(model);
  EXPECT_EQ(LastMessage(), kSavingCompleted);
  EXPECT_EQ(bootReads.load(), 1);
  EXPECT_EQ(g_CopyOutJob.fatVolumeEnd.load(), 0u);  // outside the job each file reads it again
  Copy(model);
  SetDeviceReadHook({});
  EXPECT_EQ(bootReads.load(), 2);
}

// Two files of the root exist in the target; how each collision ends.
struct CollisionCase {
  const char* name;
  std::vector<int> answers;
  size_t questions;
  const char* readme;  // "new", "old" or the name the new copy got
  const char* nihongo;
};

TEST_F(CopyOutTest, CollisionAnswersWithAndWithoutForAll) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const CollisionCase cases[] = {
      {"yes each", {0, 0}, 2, "new", "new"},
      {"skip each", {1, 1}, 2, "old", "old"},
      {"rename each", {4, 4}, 2, "README0.TXT", "日本語0.txt"},
      {"yes then skip", {0, 1}, 2, "new", "old"},
      {"yes for all", {2}, 1, "new", "new"},
      {"skip for all", {3}, 1, "old", "old"},
      {"rename for all", {5}, 1, "README0.TXT", "日本語0.txt"},
  };
  for (const CollisionCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    LoadFat("fat16", model);
    for (uint32_t id : model.Node(model.Root())->children) model.Node(id)->tickState = kTickUnticked;
    const std::string out = dir_.file("out");
    test::Run("rm -rf " + test::ShellQuote(out) + " && mkdir -p " + test::ShellQuote(out));
    const std::string oldText = "old contents";
    for (const char* n : {"README.TXT", "日本語.txt"}) std::ofstream(out + "/" + n) << oldText;
    prompt_.replaceAsked.clear();
    prompt_.replaceAnswers.assign(c.answers.begin(), c.answers.end());
    Copy(model, nullptr, false);
    EXPECT_EQ(prompt_.replaceAsked.size(), c.questions);
    auto check = [&](const char* file, const char* tag, uint64_t size, const std::string& outcome) {
      const std::string fresh = test::FixtureContent(tag, size);
      if (outcome == "new") {
        EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/" + file), fresh)) << file;
      } else {
        EXPECT_EQ(test::FileBytes(out + "/" + file), oldText) << file;
        if (outcome != "old") EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/" + outcome), fresh)) << outcome;
      }
    };
    check("README.TXT", "readme", 300, c.readme);
    check("日本語.txt", "nihongo", 2000, c.nihongo);
    // A skipped collision counts as accounted for.
    EXPECT_EQ(LastMessage(), kSavingCompleted);
  }
}

TEST_F(CopyOutTest, RenameWithEveryNameTakenSkipsInsteadOfOverwriting) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  for (uint32_t id : model.Node(model.Root())->children) model.Node(id)->tickState = kTickUnticked;
  const std::string out = dir_.file("out");
  ASSERT_EQ(test::Run("mkdir -p " + test::ShellQuote(out) + " && cd " + test::ShellQuote(out) +
                      " && echo old > README.TXT && seq 0 9999 | sed 's/.*/README&.TXT/' | xargs touch"),
            0);
  prompt_.replaceAnswers = {5};
  Copy(model, nullptr, false);
  EXPECT_EQ(test::FileBytes(out + "/README.TXT"), "old\n");
  EXPECT_EQ(test::FileBytes(out + "/README0.TXT"), "");
  // The file that found no free name is named as not recovered.
  EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
  EXPECT_NE(LastMessage().find(u"\nREADME.TXT"), std::u16string::npos);
}

// A target that takes only so many bytes, or fails on close.
class FailingFile : public TargetFile {
 public:
  FailingFile(std::atomic<int64_t>* room, bool failClose, int cause = ENOSPC)
      : room_(room), failClose_(failClose), cause_(cause) {}
  int LastError() const override { return cause_; }
  bool Create(const std::string& path) override { return file_.Create(path); }
  size_t Write(const void* data, size_t bytes) override {
    const int64_t left = room_->load();
    const size_t n = left <= 0 ? 0 : std::min<size_t>(bytes, static_cast<size_t>(left));
    *room_ -= static_cast<int64_t>(n);
    return n ? file_.Write(data, n) : 0;
  }
  bool Close() override { return file_.Close() && !failClose_; }

 private:
  std::atomic<int64_t>* room_;
  bool failClose_;
  int cause_;
  // The real file underneath, so that what was written can be looked at.
  class Plain : public TargetFile {
   public:
    bool Create(const std::string& path) override { return f_.open(path, File::Mode::CreateTruncate); }
    size_t Write(const void* d, size_t n) override {
      const int64_t got = f_.writeAt(d, n, at_);
      at_ += got > 0 ? static_cast<uint64_t>(got) : 0;
      return got > 0 ? static_cast<size_t>(got) : 0;
    }
    bool Close() override { return f_.closeChecked(); }
    File f_;
    uint64_t at_ = 0;
  } file_;
};

struct FullTargetCase {
  const char* name;
  int64_t room;
  bool failClose;
  int answer;  // 0 Skip, 1 Skip All, 2 Abort
  bool oneQuestion;
  bool walkStops;
};

TEST_F(CopyOutTest, AFullTargetIsReportedAndTheCopyEndsNotCompleted) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const FullTargetCase cases[] = {
      {"skip each", 100000, false, 0, false, false},
      {"skip all", 100000, false, 1, true, false},
      {"abort", 100000, false, 2, true, true},
      {"close fails", INT64_MAX, true, 1, true, false},
  };
  for (const FullTargetCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    const auto items = LoadFat("fat32", model);
    std::atomic<int64_t> room{c.room};
    SetTargetFileFactory([&] { return std::make_unique<FailingFile>(&room, c.failClose); });
    prompt_.errorAsked.clear();
    prompt_.errorAnswer = c.answer;
    const std::string out = Copy(model);
    SetTargetFileFactory(nullptr);
    EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
    ASSERT_FALSE(prompt_.errorAsked.empty());
    if (c.oneQuestion) {
      EXPECT_EQ(prompt_.errorAsked.size(), 1u);
    } else {
      EXPECT_GT(prompt_.errorAsked.size(), 1u);
    }
    if (c.failClose) continue;
    // Only what reached the target counts, and the target keeps it.
    EXPECT_EQ(g_CopiedBytes.load(), 100000u);
    uint64_t onDisk = 0;
    for (const CatalogItem& item : items)
      if (!item.dir && test::Exists(out + "/" + item.path)) onDisk += test::FileBytes(out + "/" + item.path).size();
    EXPECT_EQ(onDisk, 100000u);
    const size_t created = test::TreeOf(out).size();
    test::Run("rm -rf " + test::ShellQuote(out));
    if (c.walkStops) EXPECT_LT(created, items.size());
  }
}

// The lines of a text file.
std::set<std::string> LinesOf(const std::string& path) {
  std::set<std::string> lines;
  std::istringstream in(test::FileBytes(path));
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

struct IncompleteCase {
  const char* name;
  bool unreadable;  // reads of two files' first sectors fail
  int64_t room;     // bytes the target takes
};

TEST_F(CopyOutTest, FilesLeftShortOrDamagedAreNamedInTheMessageAndTheTargetList) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat", "icat");
  const IncompleteCase cases[] = {
      {"unreadable sectors", true, INT64_MAX},
      {"target fills up, each skipped", false, 100000},
  };
  for (const IncompleteCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    const auto items = LoadFat("fat16", model);
    std::set<uint64_t> badSectors;
    const PartitionGeometry& g = g_AppState.scanGeometry;
    for (const FileRecord& f : AllFiles())
      if (f.wideName == u"README.TXT" || f.wideName == u"holiday picture 01.bin")
        badSectors.insert(ClusterZeroBase(g) + uint64_t{f.dataKey} * g.sectorsPerCluster);
    ASSERT_EQ(badSectors.size(), 2u);
    if (c.unreadable)
      SetDeviceReadHook([&](File& device, void* buffer, size_t bytes, uint64_t offset) -> int64_t {
        for (uint64_t s : badSectors)
          if (offset <= s * 512 && s * 512 < offset + bytes) return -1;
        return device.readAt(buffer, bytes, offset);
      });
    std::atomic<int64_t> room{c.room};
    SetTargetFileFactory([&] { return std::make_unique<FailingFile>(&room, false); });
    prompt_.errorAnswer = 0;
    const std::string out = Copy(model);
    SetTargetFileFactory(nullptr);
    SetDeviceReadHook({});

    // Every file that is not the source's bytes is listed, and no other.
    const std::set<std::string> wrong = NotCopiedWhole(out, items);
    ASSERT_FALSE(wrong.empty());
    EXPECT_EQ(LinesOf(out + "/incomplete-files.txt"), wrong);
    const std::u16string message = LastMessage();
    EXPECT_EQ(message.rfind(kSavingNotCompleted, 0), 0u) << Utf16ToUtf8(message);
    size_t named = 0;
    for (const std::string& path : wrong) named += message.find(Utf8ToUtf16(path)) != std::u16string::npos;
    EXPECT_EQ(named, std::min(wrong.size(), kIncompleteNamesShown)) << Utf16ToUtf8(message);
    EXPECT_NE(message.find(u"incomplete-files.txt"), std::u16string::npos);
  }
}

struct AbortCase {
  const char* name;
  int64_t room;            // bytes the target takes before the first error
  const char16_t* onlyExt;  // extension list in force, or nullptr
};

TEST_F(CopyOutTest, AbortNamesEveryTickedFileNotWrittenWholeIncludingThoseNeverTried) {
  ASSERT_TRUE(fat_->ok()) << fat_->skipReason;
  ASSERT_TRUE(test::HaveTools({"fls", "istat", "icat"})) << "sleuthkit is needed as the oracle";
  const AbortCase cases[] = {
      {"first file fails", 0, nullptr},
      {"some files whole first", 2000, nullptr},
      {"extension list in force", 2000, u"txt"},
  };
  for (const AbortCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    const auto items = LoadFat("fat16", model);
    if (c.onlyExt) {
      std::u16string(c.onlyExt).copy(g_AppState.extensionFilter[0], kExtensionChars - 1);
      g_AppState.extensionCount = 1;
    }
    std::atomic<int64_t> room{c.room};
    SetTargetFileFactory([&] { return std::make_unique<FailingFile>(&room, false); });
    prompt_.errorAsked.clear();
    prompt_.errorAnswer = 2;  // Abort at the first error
    const std::string out = Copy(model);
    SetTargetFileFactory(nullptr);
    ASSERT_EQ(prompt_.errorAsked.size(), 1u);

    // Every file the filter takes that is not on the target with the
    // source's bytes: the one that failed and every one never tried.
    const std::set<std::string> wrong = NotCopiedWhole(out, items, [&](const CatalogItem& item) {
      return !c.onlyExt || PassesExtensionList(Utf8ToUtf16(test::Leaf(item.path)));
    });
    // One question, so every other file here was never tried.
    ASSERT_GT(wrong.size(), 1u);
    EXPECT_EQ(LinesOf(out + "/incomplete-files.txt"), wrong);
    const std::u16string message = LastMessage();
    EXPECT_EQ(message.rfind(kSavingNotCompleted, 0), 0u);
    size_t named = 0;
    for (const std::string& path : wrong) named += message.find(Utf8ToUtf16(path)) != std::u16string::npos;
    EXPECT_EQ(named, std::min(wrong.size(), kIncompleteNamesShown)) << Utf16ToUtf8(message);
    if (wrong.size() > kIncompleteNamesShown) {
      const std::string more = "... and " + std::to_string(wrong.size() - kIncompleteNamesShown) + " more.";
      EXPECT_NE(message.find(Utf8ToUtf16(more)), std::u16string::npos) << Utf16ToUtf8(message);
    }
    test::Run("rm -rf " + test::ShellQuote(out));
  }
}

TEST_F(CopyOutTest, AFileNamedLikeTheListIsNotWrittenOver) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  const std::string out = dir_.file("out");
  test::Run("rm -rf " + test::ShellQuote(out) + " && mkdir -p " + test::ShellQuote(out));
  std::ofstream(out + "/incomplete-files.txt") << "mine";
  std::atomic<int64_t> room{1000};
  SetTargetFileFactory([&] { return std::make_unique<FailingFile>(&room, false); });
  prompt_.errorAnswer = 1;
  Copy(model, nullptr, false);
  SetTargetFileFactory(nullptr);
  EXPECT_EQ(test::FileBytes(out + "/incomplete-files.txt"), "mine");
  EXPECT_FALSE(LinesOf(out + "/incomplete-files0.txt").empty());
  EXPECT_NE(LastMessage().find(u"incomplete-files0.txt"), std::u16string::npos);
}

// Why a target could not be written, and what the copy-error dialog says.
struct CauseCase {
  int cause;
  const char16_t* says;  // a part of the text; nullptr: the text about space
};

TEST_F(CopyOutTest, TheCopyErrorSaysWhyTheTargetCouldNotBeWritten) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const CauseCase cases[] = {
      {ENOSPC, nullptr},
      {EDQUOT, nullptr},
      {EACCES, u"Permission to write in the destination was denied."},
      {EPERM, u"Permission to write in the destination was denied."},
      {EROFS, u"read-only file system"},
      {ENAMETOOLONG, u"does not allow this file name"},
      {EINVAL, u"does not allow this file name"},
      {EIO, u"Input/output error"},
  };
  for (const CauseCase& c : cases) {
    SCOPED_TRACE(c.cause);
    test::FreshState();
    SelectionModel model;
    LoadFat("fat16", model);
    std::atomic<int64_t> room{1000};
    SetTargetFileFactory([&] { return std::make_unique<FailingFile>(&room, false, c.cause); });
    prompt_.errorCauses.clear();
    prompt_.errorAnswer = 2;
    Copy(model);
    SetTargetFileFactory(nullptr);
    ASSERT_EQ(prompt_.errorCauses, std::vector<int>{c.cause});
    const std::u16string text = CopyErrorText(c.cause);
    EXPECT_EQ(text.rfind(u"Problem encountered while copying file. ", 0), 0u);
    if (!c.says) {
      EXPECT_EQ(text, kCopyErrorSpaceText);
    } else {
      EXPECT_NE(text.find(c.says), std::u16string::npos) << Utf16ToUtf8(text);
      EXPECT_EQ(text.find(u"space"), std::u16string::npos) << Utf16ToUtf8(text);
    }
  }
  // A real refusal: the target folder is a file, so nothing can be made in it.
  test::FreshState();
  SelectionModel model;
  LoadFat("fat16", model);
  const std::string blocker = dir_.file("blocker");
  std::ofstream(blocker) << "x";
  EvaluateSelectedTotals(model);
  test::StartCopyOut(blocker + "/out");
  prompt_.errorCauses.clear();
  prompt_.errorAnswer = 2;
  CopyThread(nullptr, model);
  ASSERT_EQ(prompt_.errorCauses.size(), 1u);
  EXPECT_EQ(prompt_.errorCauses[0], ENOTDIR);
  EXPECT_NE(CopyErrorText(ENOTDIR), kCopyErrorSpaceText);
}

// Links planted in the target: in a file's place, and in a folder's place.
TEST_F(CopyOutTest, ALinkInTheTargetIsACopyErrorNeverFollowed) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  const std::string out = dir_.file("out"), elsewhere = dir_.file("elsewhere"), victim = dir_.file("victim");
  test::Run("rm -rf " + test::ShellQuote(out) + " && mkdir -p " + test::ShellQuote(out) + " " +
            test::ShellQuote(elsewhere));
  std::ofstream(victim) << "precious";
  ASSERT_EQ(::symlink(victim.c_str(), (out + "/README.TXT").c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), (out + "/My Documents").c_str()), 0);
  prompt_.replaceAnswers = {2};  // overwrite all: the link is still not followed
  prompt_.errorAnswer = 1;
  Copy(model, nullptr, false);
  EXPECT_EQ(test::FileBytes(victim), "precious");
  EXPECT_TRUE(test::TreeOf(elsewhere).empty());
  ASSERT_FALSE(prompt_.errorCauses.empty());
  EXPECT_EQ(prompt_.errorCauses[0], ELOOP);
  EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
  const std::set<std::string> listed = LinesOf(out + "/incomplete-files.txt");
  EXPECT_TRUE(listed.count("README.TXT"));
  EXPECT_TRUE(listed.count("My Documents/short.txt"));
  // Everything else came through.
  EXPECT_EQ(test::FileBytes(out + "/Pictures/holiday picture 01.bin").size(), 150000u);
}

// A file outside the target that a planted name leads to (a link, or a
// second name of the same file) keeps its bytes and its read-only mode, even
// when the user answers "overwrite all".
TEST_F(CopyOutTest, AFileOutsideTheTargetKeepsItsBytesAndModeWhateverIsPlanted) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  for (bool hardLink : {false, true}) {
    SCOPED_TRACE(hardLink ? "second name" : "link");
    test::FreshState();
    SelectionModel model;
    LoadFat("fat16", model);
    const std::string out = dir_.file("out"), victim = dir_.file("victim");
    test::Run("rm -rf " + test::ShellQuote(out) + " " + test::ShellQuote(victim) + " && mkdir -p " +
              test::ShellQuote(out));
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
    const std::string planted = out + "/README.TXT";
    ASSERT_EQ(hardLink ? ::link(victim.c_str(), planted.c_str()) : ::symlink(victim.c_str(), planted.c_str()), 0);
    prompt_.messages.clear();
    prompt_.errorCauses.clear();
    prompt_.replaceAnswers = {2};
    prompt_.errorAnswer = 1;
    Copy(model, nullptr, false);
    EXPECT_EQ(test::FileBytes(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_EQ(prompt_.errorCauses.size(), 1u);
    EXPECT_EQ(prompt_.errorCauses[0], ELOOP);
    EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
    EXPECT_TRUE(LinesOf(out + "/incomplete-files.txt").count("README.TXT"));
  }
}

TEST_F(CopyOutTest, HostileNamesStayInsideTheTarget) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  const uint32_t cluster = Fat16ReadmeCluster();
  ASSERT_NE(cluster, 0u);
  ClearCatalog();
  const std::u16string longName(300, u'x');
  const std::u16string nul = std::u16string(u"a") + u'\0' + u"b";
  // Folders: "..", "a/b", a NUL inside (the catalogue keeps what comes
  // before it), 300 characters; each holds files with the same kind of names.
  const std::u16string names[] = {u"..", u"a/b", nul, longName, u".", u"../../escape", u"\x01\x1f"};
  uint32_t key = 100;
  for (const std::u16string& folder : {std::u16string(u".."), std::u16string(u"a/b"), nul, longName}) {
    InsertFolderRecord("", folder, 'n', kFatRootKey, key, 0, {}, 0);
    for (const std::u16string& n : names) InsertFileRecord("", n, 'n', 300, key, cluster, 0, {});
    ++key;
  }
  SelectionModel model;
  test::TickEverything(model, kFatRootKey);
  const std::string base = dir_.file("base");
  const std::string target = base + "/target";
  ASSERT_EQ(test::Run("mkdir -p " + test::ShellQuote(target)), 0);
  EvaluateSelectedTotals(model);
  test::StartCopyOut(target);
  prompt_.replaceAnswers.assign(100, 5);  // names that clean up alike are renamed
  CopyThread(nullptr, model);

  for (const std::string& p : test::TreeOf(dir_.path())) EXPECT_EQ(p.rfind("base/", 0), 0u) << p;
  // Nothing beside the target, nothing above it.
  for (const std::string& p : test::TreeOf(base)) {
    EXPECT_EQ(p.rfind("target/", 0), 0u) << p;
    std::string rest = p;
    for (size_t at = 0; at < rest.size();) {
      size_t slash = rest.find('/', at);
      if (slash == std::string::npos) slash = rest.size();
      const std::string component = rest.substr(at, slash - at);
      EXPECT_LE(component.size(), kMaxComponentBytes) << p;
      EXPECT_NE(component, "..");
      EXPECT_NE(component, ".");
      at = slash + 1;
    }
  }
  for (const char* p : {"target/__/__", "target/__/a_b", "target/__/_", "target/__/.._.._escape", "target/__/__0",
                        "target/a_b/a_b", "target/a/a"})
    EXPECT_TRUE(test::Exists(base + "/" + p)) << p;
  EXPECT_EQ(test::FileBytes(target + "/" + std::string(255, 'x') + "/a_b"), test::FixtureContent("readme", 300));
  EXPECT_EQ(LastMessage(), kSavingCompleted);
}

TEST_F(CopyOutTest, StopKeepsWhatWasWrittenAndPauseParks) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  EvaluateSelectedTotals(model);
  test::RecordingSink sink;
  sink.selected = model.selectedBytes.load();
  const std::string out = dir_.file("out");
  test::StartCopyOut(out);
  g_CopyProgressDlg = &sink;

  // Paused before it starts: the worker parks at its first block.
  g_CopyJob.pause();
  std::thread worker([&] { CopyThread(&sink, model); });
  for (int i = 0; i < 2000 && !g_CopyJob.parked(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(g_CopyJob.parked());
  const uint64_t atPause = g_CopiedBytes.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(g_CopiedBytes.load(), atPause);
  // The user stops it: the file in writing keeps what it has, no end message.
  sink.stoppedByUser = true;
  g_CopyJob.requestStop();
  g_CopyJob.resume();
  worker.join();
  g_CopyProgressDlg = nullptr;
  EXPECT_EQ(sink.finished.load(), 1);
  EXPECT_TRUE(prompt_.messages.empty());
  EXPECT_LT(g_CopiedBytes.load(), model.selectedBytes.load());
}

// Asks for the user's stop while one file is written: after its first block
// (the file is cut short) or at its close (the file is whole).
class StopDuringFile : public TargetFile {
 public:
  StopDuringFile(std::string name, bool atClose) : name_(std::move(name)), atClose_(atClose) {}
  bool Create(const std::string& path) override {
    mine_ = path.size() >= name_.size() && path.compare(path.size() - name_.size(), name_.size(), name_) == 0;
    return f_.open(path, File::Mode::CreateTruncate);
  }
  size_t Write(const void* d, size_t n) override {
    const int64_t got = f_.writeAt(d, n, at_);
    at_ += static_cast<uint64_t>(got);
    if (mine_ && !atClose_) g_CopyJob.requestStop();
    return static_cast<size_t>(got);
  }
  bool Close() override {
    if (mine_ && atClose_) g_CopyJob.requestStop();
    return f_.closeChecked();
  }

 private:
  std::string name_;
  bool atClose_;
  bool mine_ = false;
  File f_;
  uint64_t at_ = 0;
};

struct StopTimeCase {
  const char* name;
  const char* stopIn;  // the file being written when the stop comes
  bool atClose;
  bool cut;            // the file ends short
};

TEST_F(CopyOutTest, AFileCutShortByStopKeepsTheTimeOfTheCopy) {
  ASSERT_TRUE(fat_->ok()) << fat_->skipReason;
  ASSERT_TRUE(test::HaveTools({"fls", "istat", "icat"})) << "sleuthkit is needed as the oracle";
  const StopTimeCase cases[] = {
      {"stopped in the picture", "Pictures/holiday picture 01.bin", false, true},
      {"stopped as the readme closes", "README.TXT", true, false},
  };
  for (const StopTimeCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FreshState();
    SelectionModel model;
    const auto items = LoadFat("fat16", model);
    SetTargetFileFactory([&] { return std::make_unique<StopDuringFile>(c.stopIn, c.atClose); });
    test::RecordingSink sink;
    sink.stoppedByUser = true;
    const int64_t started = static_cast<int64_t>(::time(nullptr));
    const std::string out = Copy(model, &sink);
    SetTargetFileFactory(nullptr);
    EXPECT_EQ(sink.finished.load(), 1);
    EXPECT_TRUE(prompt_.messages.empty());

    const std::string stopped = out + "/" + c.stopIn;
    ASSERT_TRUE(test::Exists(stopped));
    const std::string fixtureTag = c.cut ? "picture" : "readme";
    const uint64_t fullSize = c.cut ? 150000 : 300;
    const std::string bytes = test::FileBytes(stopped);
    EXPECT_EQ(bytes.size() < fullSize, c.cut);
    EXPECT_TRUE(test::SameBytes(bytes, test::FixtureContent(fixtureTag, fullSize).substr(0, bytes.size())));
    // Cut short: the time of the copy. Whole: the original's, like every
    // file written before the stop.
    if (c.cut) {
      EXPECT_GE(test::MTime(stopped), started);
      EXPECT_LT(test::MTime(out + "/README.TXT"), started - 86400);
    } else {
      EXPECT_LT(test::MTime(stopped), started - 86400);
    }
    // The list names every file not on the target whole: the cut one and
    // those never tried.
    const std::set<std::string> wrong = NotCopiedWhole(out, items);
    EXPECT_GT(wrong.size(), 1u);
    EXPECT_EQ(wrong.count(c.stopIn), c.cut ? 1u : 0u);
    EXPECT_EQ(LinesOf(out + "/incomplete-files.txt"), wrong);
    test::Run("rm -rf " + test::ShellQuote(out));
  }
}

TEST_F(CopyOutTest, SkipEndsTheCurrentFileWithWhatItHas) {
  QM_REQUIRE_FIXTURE(*fat_);
  QM_REQUIRE_TOOLS("fls", "istat");
  SelectionModel model;
  LoadFat("fat16", model);
  // The Skip button pressed while the picture's first block is written.
  std::atomic<int64_t> unused{INT64_MAX};
  class SkipAfterFirstBlock : public TargetFile {
   public:
    bool Create(const std::string& path) override {
      big_ = path.find("holiday") != std::string::npos;
      return f_.open(path, File::Mode::CreateTruncate);
    }
    size_t Write(const void* d, size_t n) override {
      const int64_t got = f_.writeAt(d, n, at_);
      at_ += static_cast<uint64_t>(got);
      if (big_) g_SkipCurrentFile = 1;
      return static_cast<size_t>(got);
    }
    bool Close() override { return f_.closeChecked(); }
    File f_;
    uint64_t at_ = 0;
    bool big_ = false;
  };
  SetTargetFileFactory([] { return std::make_unique<SkipAfterFirstBlock>(); });
  const std::string out = Copy(model);
  const std::string picture = test::FileBytes(out + "/Pictures/holiday picture 01.bin");
  EXPECT_GT(picture.size(), 0u);
  EXPECT_LT(picture.size(), 150000u);
  EXPECT_TRUE(test::SameBytes(picture, test::FixtureContent("picture", 150000).substr(0, picture.size())));
  // Later files are copied whole.
  EXPECT_EQ(test::FileBytes(out + "/README.TXT"), test::FixtureContent("readme", 300));
  EXPECT_EQ(LastMessage().rfind(kSavingNotCompleted, 0), 0u);
  EXPECT_NE(LastMessage().find(u"Pictures/holiday picture 01.bin"), std::u16string::npos);
}

// --- The progress report ---

struct ProgressCase {
  const char* name;
  uint64_t copied, selected;
  int64_t elapsed, paused;
  const char16_t* copiedText;
  const char16_t* leftText;
  const char16_t* elapsedText;
};

TEST(CopyProgressReport, TextsFollowTheByteCountsAndTheClock) {
  const uint64_t GiB = uint64_t{1} << 30;
  const ProgressCase cases[] = {
      {"1.5 GiB in GB", GiB + GiB / 2, 3 * GiB, 100, 0, u"1.500 GB size in", u"1 Min 40 Sec", u"1 Min 40 Sec"},
      {"1 GiB in MB", GiB, 2 * GiB, 50, 0, u"1024.000 MB size in", u"0 Min 50 Sec", u"0 Min 50 Sec"},
      {"200 s left", 100 << 20, 300 << 20, 100, 0, u"100.000 MB size in", u"3 Min 20 Sec", u"1 Min 40 Sec"},
      // A minute paused is not elapsed time.
      {"paused", 100 << 20, 200 << 20, 160, 60, u"100.000 MB size in", u"1 Min 40 Sec", u"1 Min 40 Sec"},
      {"no time yet", 5 << 20, 10 << 20, 0, 0, u"5.000 MB size in", u"00:00:00", u"00:00:00"},
      {"over 1 TiB", (uint64_t{3} << 40) / 2, uint64_t{2} << 40, 1000, 0, u"1.500 TB size in", u"5 Min 33 Sec",
       u"16 Min 40 Sec"},
  };
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingSink sink;
    sink.selected = c.selected;
    sink.now = 5000 + c.elapsed;
    sink.paused = c.paused;
    g_CopyStartTime = 5000;
    g_CopiedBytes = c.copied;
    g_CopyProgressDlg = &sink;
    int counter = 0;
    UpdateCopyProgress(u"/t/f", u"f", 10, 10, &counter);  // end of a file: texts now
    g_CopyProgressDlg = nullptr;
    EXPECT_EQ(sink.texts[kCopyDataCopiedValue], c.copiedText);
    EXPECT_EQ(sink.texts[kCopyTimeLeftValue], c.leftText);
    EXPECT_EQ(sink.texts[kCopyElapsedValue], c.elapsedText);
    EXPECT_EQ(sink.bars[kCopyFileBar], 100);
    EXPECT_EQ(sink.bars[kCopyOverallBar], static_cast<int>(c.copied * 100 / c.selected));
  }
  ResetCopyTotals();
}

// With no selected total the overall bar reads 0, though every other bar
// counts nothing to do as done.
TEST(CopyProgressReport, OverallBarReadsZeroWithoutASelectedTotal) {
  test::RecordingSink sink;
  sink.selected = 0;
  g_CopiedBytes = 4096;
  g_CopyProgressDlg = &sink;
  int counter = 0;
  UpdateCopyProgress(u"/t/f", u"f", 10, 10, &counter);
  g_CopyProgressDlg = nullptr;
  EXPECT_EQ(sink.bars[kCopyOverallBar], 0);
  EXPECT_EQ(sink.bars[kCopyFileBar], 100);
  ResetCopyTotals();
}

TEST(CopyProgressReport, TextsWaitForTheThousandthCallAndKeepWithoutARate) {
  test::RecordingSink sink;
  sink.selected = 1000;
  g_CopyProgressDlg = &sink;
  g_CopyStartTime = sink.now.load() - 10;
  g_CopiedBytes = 5;  // 0 bytes per second over 10 s: times stay as they were
  int counter = 0;
  for (int i = 0; i < 999; ++i) UpdateCopyProgress(u"/t/f", u"f", 1, 1000, &counter);
  EXPECT_EQ(sink.textCalls, 0);
  EXPECT_EQ(sink.bars[kCopyFileBar], 0);
  UpdateCopyProgress(u"/t/f", u"f", 1, 1000, &counter);
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(sink.texts.count(kCopyDataCopiedValue), 1u);
  EXPECT_EQ(sink.texts.count(kCopyTimeLeftValue), 0u);
  // Hidden details: bars move, texts do not.
  sink.hidden = true;
  sink.textCalls = 0;
  UpdateCopyProgress(u"/t/f", u"f", 1000, 1000, &counter);
  EXPECT_EQ(sink.textCalls, 0);
  EXPECT_EQ(sink.bars[kCopyFileBar], 100);
  g_CopyProgressDlg = nullptr;
  ResetCopyTotals();
}

}  // namespace
}  // namespace qm
