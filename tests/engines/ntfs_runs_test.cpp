#include "engines/ntfs_runs.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_volume_util.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;
using test::ShellQuote;

struct Run {
  int64_t start;
  int64_t length;
};

std::vector<Run> Runs(const RunTable& t) {
  std::vector<Run> out;
  for (size_t i = 0; i < t.count(); ++i) out.push_back({t.starts[i], t.lengths[i]});
  return out;
}

bool operator==(const Run& a, const Run& b) { return a.start == b.start && a.length == b.length; }
std::ostream& operator<<(std::ostream& o, const Run& r) { return o << "{" << r.start << "," << r.length << "}"; }

constexpr int64_t S = kSparseRunStart;

struct DecodeCase {
  const char* what;
  std::vector<uint8_t> bytes;
  uint64_t volumeStart;
  uint32_t spc;
  size_t endOffset;  // 0: the whole buffer
  std::vector<Run> want;
};

class DecodeDataRunsTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeDataRunsTest, DecodesToAbsoluteSectors) {
  const DecodeCase& c = GetParam();
  RunTable t;
  size_t end = c.endOffset ? c.endOffset : c.bytes.size();
  size_t n = DecodeDataRuns(c.bytes, t, c.volumeStart, 0, end, c.spc);
  EXPECT_EQ(n, c.want.size());
  EXPECT_EQ(Runs(t), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeDataRunsTest,
    testing::Values(
        DecodeCase{"one run from the volume start", {0x21, 0x10, 0x00, 0x01, 0x00}, 2048, 8, 0,
                   {{2048 + 256 * 8, 128}}},
        DecodeCase{"negative offset goes back",
                   {0x21, 0x10, 0x00, 0x01, 0x11, 0x10, 0xF0, 0x00}, 2048, 8, 0,
                   {{2048 + 256 * 8, 128}, {2048 + 256 * 8 - 128, 128}}},
        DecodeCase{"sparse then relative to the last real run",
                   {0x21, 0x04, 0x00, 0x01, 0x01, 0x08, 0x11, 0x02, 0x10, 0x00}, 0, 8, 0,
                   {{256 * 8, 32}, {S, 64}, {(256 + 16) * 8, 16}}},
        DecodeCase{"run cut by the limit is not decoded",
                   {0x11, 0x01, 0x05, 0x21, 0x01, 0x00, 0x01, 0x00}, 0, 1, 5, {{5, 1}}},
        DecodeCase{"field past the buffer", {0x11, 0x01, 0x05, 0x31, 0x01, 0x00}, 0, 1, 0, {{5, 1}}},
        DecodeCase{"length field size 0 ends", {0x11, 0x01, 0x05, 0x10, 0x01, 0x00}, 0, 1, 0, {{5, 1}}},
        DecodeCase{"length field size over 8 ends", {0x11, 0x01, 0x05, 0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0,
                   1, 0, {{5, 1}}},
        DecodeCase{"zero length ends", {0x11, 0x00, 0x05, 0x00}, 0, 1, 0, {}},
        DecodeCase{"cluster before the volume ends", {0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00}, 0, 1, 0, {{5, 1}}},
        DecodeCase{"64-bit offsets and lengths",
                   {0x55, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}, 0, 8, 0,
                   {{int64_t{0x0200000000} * 8, int64_t{0x0100000000} * 8}}},
        DecodeCase{"offset with top bit in a wider field stays positive",
                   {0x21, 0x01, 0x80, 0x00, 0x00}, 0, 1, 0, {{0x80, 1}}}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(DecodeDataRuns, StopsAtThreeHundredRuns) {
  std::vector<uint8_t> list;
  for (int i = 0; i < 400; ++i) list.insert(list.end(), {0x11, 0x01, 0x01});
  list.push_back(0);
  RunTable t;
  EXPECT_EQ(DecodeDataRuns(list, t, 0, 0, list.size(), 1), kMaxDecodedRuns);
  EXPECT_EQ(t.count(), kMaxDecodedRuns);
}

TEST(AppendRun, FixedTableHoldsTwoThousandGrowableGrows) {
  RunTable fixed;
  fixed.growable = false;
  for (size_t i = 0; i < kFixedRunTableEntries; ++i) ASSERT_EQ(AppendRun(fixed, kRunStarts, int64_t(i)), 1);
  EXPECT_EQ(AppendRun(fixed, kRunStarts, 1), 0);
  EXPECT_EQ(AppendRun(fixed, kRunLengths, 1), 1);  // each array counts for itself

  RunTable grow;
  for (size_t i = 0; i < 3 * kRunTableStep; ++i) ASSERT_EQ(AppendRun(grow, kRunLengths, int64_t(i)), 1);
  EXPECT_EQ(grow.lengths.size(), 3 * kRunTableStep);
  EXPECT_EQ(grow.lengths[2047], 2047);
}

class MftRunTableTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_AppState.scanGeometry.sectorsPerMftRecord = 2;
    // 4 records at 1000, a sparse stretch of 2 records, then 4 records at 5000.
    g_MftRunSectors = {1000, kSparseRunStart, 5000};
    g_MftRunLengths = {8, 4, 8};
    g_MftRunCount = 3;
  }
  void TearDown() override { ClearMftRuns(); }
};

TEST_F(MftRunTableTest, MapsRecordsThroughRuns) {
  struct {
    uint64_t record, sector;
  } cases[] = {{0, 1000}, {3, 1006}, {4, 0}, {5, 0}, {6, 5000}, {9, 5006}, {10, 0}, {~0ull / 2, 0}};
  for (auto c : cases) EXPECT_EQ(MftRecordToSector(c.record), c.sector) << "record " << c.record;
}

TEST_F(MftRunTableTest, LookupLeavesOutputAloneBeyondTheTable) {
  uint64_t sector = 77;
  EXPECT_EQ(LookupRunSector(10, g_MftRunLengths, g_MftRunSectors, 2, &sector), 0);
  EXPECT_EQ(sector, 77u);
  EXPECT_EQ(LookupRunSector(4, std::vector<int64_t>{8, 8}, std::vector<int64_t>{100, 900}, 2, &sector), 1);
  EXPECT_EQ(sector, 900u);  // exactly at the end of the first run: the second run
}

TEST_F(MftRunTableTest, LoadingClearsThePreviousScansTable) {
  test::TempDir dir;
  std::string img = dir.file("zero.img");
  ASSERT_EQ(test::Run("truncate -s 64K " + ShellQuote(img)), 0);
  LoadMftRuns(0, img.c_str(), 8, 8);
  EXPECT_EQ(g_MftRunCount, 0);
  EXPECT_TRUE(g_MftRunSectors.empty());
  EXPECT_EQ(MftRecordToSector(0), 0u);
}

TEST(AppendExtentNode, AppendsInOrderKeepingSparseMarks) {
  ExtentList list;
  AppendExtentNode(&list, 100, 8);
  AppendExtentNode(&list, kSparseRunStart, 16);
  AppendExtentNode(&list, 50, 8);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].start, 100);
  EXPECT_TRUE(list[1].sparse());
  EXPECT_EQ(list[2].start, 50);
}

// The committed images: the $MFT runs, and every file's runs and bytes
// against sleuthkit.
class NtfsImageRunsTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ResetAppState();
    QM_REQUIRE_TOOLS("istat", "icat", "fls");
  }
  void TearDown() override {
    ClearMftRuns();
    g_BytesPerSector = 512;
  }
};

TEST_P(NtfsImageRunsTest, MftRunsMatchIstat) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  std::vector<int64_t> want = test::IstatClusters(Capture("istat " + ShellQuote(v.image) + " 0"), "Type: $DATA (128-");
  std::vector<int64_t> got;
  for (int32_t i = 0; i < g_MftRunCount; ++i)
    for (int64_t s = 0; s < g_MftRunLengths[i]; s += v.sectorsPerCluster)
      got.push_back((g_MftRunSectors[i] + s) / v.sectorsPerCluster);
  // istat shows clusters past the initialised size as 0.
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    if (want[i] != 0) EXPECT_EQ(got[i], want[i]) << "cluster " << i;
}

TEST_P(NtfsImageRunsTest, EveryFileReadThroughItsRunsEqualsIcat) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  int checked = 0;
  std::set<std::string> seen;
  for (const auto& e : test::ParseFls(Capture("fls -r -p " + ShellQuote(v.image)))) {
    if (e.type != "r/r" || e.deleted || e.path.find(':') != std::string::npos) continue;
    if (e.inode.find("-128-") == std::string::npos || !seen.insert(e.inode).second) continue;
    uint64_t number = std::strtoull(e.inode.c_str(), nullptr, 10);
    if (number < 16) continue;  // system files are not what users recover
    std::vector<uint8_t> rec = test::ReadRecord(v, number);
    ApplyFixups(rec);
    int64_t size = 0;
    ASSERT_EQ(GetDataAttributeSize(rec, &size), 1) << e.path;
    std::string want = Capture("icat " + ShellQuote(v.image) + " " + e.inode);
    ASSERT_EQ(uint64_t(size), want.size()) << e.path;
    RunTable runs;
    size_t n = LoadFileRuns(0, v.image.c_str(), MftRecordToSector(number), runs, v.sectorsPerCluster);
    size_t offset = 0;
    if (FindDataAttribute(rec, &offset) == kDataResident) {
      EXPECT_EQ(n, 0u) << e.path << ": resident data is not a run list";
      continue;
    }
    EXPECT_EQ(test::ReadThroughRuns(v, runs, size), want) << e.path;
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

TEST_P(NtfsImageRunsTest, FragmentedAndSparseRunsMatchIstat) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  bool sawSparse = false;
  for (const char* name : {"frag/interleaved one.bin", "frag/interleaved two.bin", "sparse/sparse.bin"}) {
    std::string inode = Capture("ifind -n " + ShellQuote(name) + " " + ShellQuote(v.image));
    while (!inode.empty() && inode.back() == '\n') inode.pop_back();
    uint64_t number = std::strtoull(inode.c_str(), nullptr, 10);
    std::vector<int64_t> want =
        test::IstatClusters(Capture("istat " + ShellQuote(v.image) + " " + inode), "Type: $DATA (128-");
    RunTable runs;
    LoadFileRuns(0, v.image.c_str(), MftRecordToSector(number), runs, v.sectorsPerCluster);
    EXPECT_GT(runs.count(), 1u) << name;
    std::vector<int64_t> got;
    for (size_t i = 0; i < runs.count(); ++i) {
      sawSparse |= runs.sparse(i);
      for (int64_t s = 0; s < runs.lengths[i]; s += v.sectorsPerCluster)
        got.push_back(runs.sparse(i) ? 0 : (runs.starts[i] + s) / v.sectorsPerCluster);
    }
    EXPECT_EQ(got, want) << name;
  }
  EXPECT_TRUE(sawSparse);
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsImageRunsTest, testing::Values("ntfs", "ntfs4k"));

// A volume made at test time whose file "big.bin" is so fragmented that its
// $DATA continues in an extension record and its name lives in another one.
class ExtentImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    if (!test::HaveTools({"mkntfs", "ntfs-3g", "python3", "istat", "icat", "ifind"})) {
      skip_ = "mkntfs, ntfs-3g, python3 or sleuthkit is not installed";
      return;
    }
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
      skip_ = "mounting an NTFS image needs root and /dev/fuse";
      return;
    }
    image_ = dir_->file("extents.img");
    std::string mnt = dir_->file("mnt");
    // Fill the volume with small files, free every other one, then write one
    // file into the holes.
    std::string script =
        "set -e; truncate -s 8M " + ShellQuote(image_) + "; mkntfs -F -Q -q -c 512 " + ShellQuote(image_) +
        " >/dev/null 2>&1; mkdir -p " + ShellQuote(mnt) + "; ntfs-3g " + ShellQuote(image_) + " " +
        ShellQuote(mnt) + "; python3 - " + ShellQuote(mnt) +
        " <<'PY'\n"
        "import os, sys\n"
        "m = sys.argv[1]; os.mkdir(m + '/f'); n = 0\n"
        "try:\n"
        "    while True:\n"
        "        with open('%s/f/%d' % (m, n), 'wb') as f: f.write(bytes([n % 251]) * 1024)\n"
        "        n += 1\n"
        "except OSError: pass\n"
        "for i in range(0, n, 2): os.remove('%s/f/%d' % (m, i))\n"
        "st = os.statvfs(m); free = st.f_bavail * st.f_frsize\n"
        "data = bytes((i * 7) % 253 for i in range(int(free * 0.9) // 512 * 512))\n"
        "with open(m + '/big.bin', 'wb') as f:\n"
        "    try:\n"
        "        for k in range(0, len(data), 16384): f.write(data[k:k + 16384]); f.flush()\n"
        "    except OSError: pass\n"
        "PY\n"
        "umount " + ShellQuote(mnt);
    std::string log = dir_->file("make.log");
    if (test::Run("bash -c " + ShellQuote(script) + " >" + ShellQuote(log) + " 2>&1") != 0) {
      test::Run("umount " + ShellQuote(mnt) + " 2>/dev/null");
      skip_ = "could not build the NTFS image with ntfs-3g: " + test::ReadText(log);
      return;
    }
    std::string inode = Capture("ifind -n big.bin " + ShellQuote(image_));
    big_ = std::strtoull(inode.c_str(), nullptr, 10);
    istat_ = Capture("istat " + ShellQuote(image_) + " " + std::to_string(big_));
    if (istat_.find("$ATTRIBUTE_LIST") == std::string::npos) skip_ = "ntfs-3g kept the file in one record";
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_FAIL() << skip_;
    ResetAppState();
  }
  void TearDown() override {
    ClearMftRuns();
    g_BytesPerSector = 512;
  }

  static test::TempDir* dir_;
  static std::string skip_, image_, istat_;
  static uint64_t big_;
};
test::TempDir* ExtentImageTest::dir_ = nullptr;
std::string ExtentImageTest::skip_, ExtentImageTest::image_, ExtentImageTest::istat_;
uint64_t ExtentImageTest::big_ = 0;

TEST_F(ExtentImageTest, RunsFromEveryExtentEqualIcat) {
  auto v = test::OpenNtfsImage(image_);
  ASSERT_TRUE(v.ok);
  RunTable runs;
  LoadFileRuns(0, image_.c_str(), MftRecordToSector(big_), runs, v.sectorsPerCluster);
  std::vector<int64_t> got;
  for (size_t i = 0; i < runs.count(); ++i)
    for (int64_t s = 0; s < runs.lengths[i]; s += v.sectorsPerCluster) got.push_back(runs.starts[i] + s);
  std::vector<int64_t> want = test::IstatClusters(istat_, "Type: $DATA (128-");
  EXPECT_EQ(got, want);
  std::string bytes = Capture("icat " + ShellQuote(image_) + " " + std::to_string(big_));
  EXPECT_EQ(test::ReadThroughRuns(v, runs, bytes.size()), bytes);
}

TEST_F(ExtentImageTest, NameFoundThroughTheExtensionRecords) {
  auto v = test::OpenNtfsImage(image_);
  ASSERT_TRUE(v.ok);
  test::PresentImages present({image_});
  g_SelectedDiskIndex = 0;
  std::vector<uint8_t> base = test::ReadRecord(v, big_);
  ApplyFixups(base);
  std::u16string name;
  uint32_t parent = 0;
  NtfsTimes t;
  g_AppState.mftRecordNumbers[0] = int32_t(big_);
  g_AppState.mftRecordCount = 1;
  CollectDataExtentRecords(base);
  ASSERT_GT(g_AppState.mftRecordCount, 2);
  bool found = false;
  for (int i = 0; i < g_AppState.mftRecordCount && !found; ++i) {
    std::vector<uint8_t> rec = test::ReadRecord(v, uint32_t(g_AppState.mftRecordNumbers[i]));
    ApplyFixups(rec);
    for (int ns : {kNamespacePosix, kNamespaceWin32, kNamespaceWin32AndDos, kNamespaceDos})
      if (GetFileNameInNamespace(rec, ns, &name, &parent, &t)) {
        found = true;
        break;
      }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(name, u"big.bin");
  EXPECT_EQ(parent, kRootRecord);
}

TEST_F(ExtentImageTest, ExtensionOfAnotherFileIsNotFollowed) {
  auto v = test::OpenNtfsImage(image_);
  ASSERT_TRUE(v.ok);
  RunTable whole;
  LoadFileRuns(0, image_.c_str(), MftRecordToSector(big_), whole, v.sectorsPerCluster);
  // Point the $DATA extension record's base reference at another record.
  size_t at = istat_.find("Type: 128-");
  at = istat_.find("Type: 128-", at + 1);
  ASSERT_NE(at, std::string::npos);
  uint64_t ext = std::strtoull(istat_.c_str() + istat_.find("MFT Entry: ", at) + 11, nullptr, 10);
  ASSERT_NE(ext, big_);
  std::string copy = dir_->file("patched.img");
  ASSERT_EQ(test::Run("cp " + ShellQuote(image_) + " " + ShellQuote(copy)), 0);
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(MftRecordToSector(ext) * v.bytesPerSector + 32));
    const char other[8] = {7, 0, 0, 0, 0, 0, 1, 0};
    f.write(other, 8);
  }
  RunTable cut;
  LoadFileRuns(0, copy.c_str(), MftRecordToSector(big_), cut, v.sectorsPerCluster);
  EXPECT_GT(cut.count(), 0u);
  EXPECT_LT(cut.count(), whole.count());
  for (size_t i = 0; i < cut.count(); ++i) EXPECT_EQ(cut.starts[i], whole.starts[i]);
}

}  // namespace
}  // namespace qm
