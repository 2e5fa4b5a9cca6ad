// The file copiers' pieces: safe names, unique names, last-write times, the
// FAT chain walk on damaged FATs, the resident-data bound and the opener.
#include "engines/file_copiers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "copy_test_util.h"
#include "engines/copy_out.h"
#include "engines/ntfs_records.h"
#include "platform/text.h"

namespace qm {
namespace {

bool ValidUtf8(const std::string& s) { return Utf8ToUtf16(s).find(u'\uFFFD') == std::u16string::npos; }

TEST(SafePathComponent, EveryNameBecomesOneComponent) {
  const std::u16string nul = std::u16string(u"a") + u'\0' + u"b";
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"report.doc", "report.doc"}, {u"..", "__"},          {u".", "_"},         {u"", "_"},
      {u"a/b", "a_b"},               {nul, "a_b"},           {u"\x01tab\t", "_tab_"},
      {u"...", "..."},               {u"caf\u00e9.txt", "caf\xC3\xA9.txt"},  // kept, as UTF-8
      {u"back\\slash", "back\\slash"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafePathComponent(c.in), c.out) << Utf16ToUtf8(c.in);

  // Long names are cut to 255 bytes, keeping the extension and whole characters.
  const std::string ascii = SafePathComponent(std::u16string(300, u'x') + u".txt");
  EXPECT_EQ(ascii, std::string(251, 'x') + ".txt");
  const std::string wide = SafePathComponent(std::u16string(200, u'\u00e9') + u".jpeg");
  EXPECT_LE(wide.size(), kMaxComponentBytes);
  EXPECT_TRUE(ValidUtf8(wide));
  EXPECT_EQ(wide.substr(wide.size() - 5), ".jpeg");
  const std::string dots = SafePathComponent(u"name." + std::u16string(300, u'e'));
  EXPECT_EQ(dots.size(), kMaxComponentBytes);
}

TEST(MakeUniqueName, FirstFreeNumberedName) {
  test::TempDir dir;
  auto touch = [&](const std::string& n) { std::ofstream(dir.file(n)) << "x"; };
  touch("a.txt");
  touch("a0.txt");
  std::string path = dir.file("a.txt");
  std::u16string name = u"a.txt";
  ASSERT_TRUE(MakeUniqueName(&path, &name));
  EXPECT_EQ(path, dir.file("a1.txt"));
  EXPECT_EQ(name, u"a1.txt");

  touch("README");
  path = dir.file("README");
  ASSERT_TRUE(MakeUniqueName(&path, &name));
  EXPECT_EQ(name, u"README0");

  // A name at the length limit still gets its number inside the limit.
  const std::string longName = std::string(251, 'y') + ".bin";
  touch(longName);
  path = dir.file(longName);
  ASSERT_TRUE(MakeUniqueName(&path, &name));
  EXPECT_EQ(Utf16ToUtf8(name), std::string(250, 'y') + "0.bin");

  // Every number taken: nothing changes, the caller skips the file.
  ASSERT_EQ(test::Run("cd " + test::ShellQuote(dir.path()) + " && touch b.dat && seq 0 9999 | sed 's/.*/b&.dat/' | xargs touch"), 0);
  path = dir.file("b.dat");
  name = u"b.dat";
  EXPECT_FALSE(MakeUniqueName(&path, &name));
  EXPECT_EQ(path, dir.file("b.dat"));
  EXPECT_EQ(name, u"b.dat");
}

TEST(LastWriteTime, NtfsIsUtcAndFatIsLocalWithInvalidFieldsClamped) {
  test::TempDir dir;
  const std::string f = dir.file("f");
  std::ofstream(f) << "x";
  // 2023-04-05 06:07:08.5 UTC as a FILETIME, in any zone.
  setenv("TZ", "JST-9", 1);
  tzset();
  const uint64_t ft = UnixToFileTime(1680674828) + 5'000'000;
  ASSERT_TRUE(SetLastWriteTime(f, static_cast<uint32_t>(ft >> 32), static_cast<uint32_t>(ft)));
  struct stat st {};
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1680674828);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500'000'000);
  EXPECT_FALSE(SetLastWriteTime(dir.file("missing"), 0, 0));

  const struct {
    const char* name;
    int y, mo, d, h, mi, s;  // the fields as stored, possibly out of range
    const char* expectUtc;   // in JST-9
  } cases[] = {
      {"plain", 2023, 4, 5, 6, 7, 8, "2023-04-04 21:07:08"},
      {"day 0", 2023, 4, 0, 6, 7, 8, "2023-03-31 21:07:08"},
      {"month 0", 2023, 0, 5, 6, 7, 8, "2023-01-04 21:07:08"},
      {"month 15", 2023, 15, 5, 6, 7, 8, "2023-12-04 21:07:08"},
      {"day 31 of April", 2023, 4, 31, 6, 7, 8, "2023-04-29 21:07:08"},
      {"hour 31, minute 63", 2023, 4, 5, 31, 63, 8, "2023-04-05 14:59:08"},
  };
  for (const auto& c : cases) {
    const auto date = static_cast<uint16_t>(((c.y - 1980) << 9) | (c.mo << 5) | c.d);
    const auto time = static_cast<uint16_t>((c.h << 11) | (c.mi << 5) | (c.s / 2));
    EXPECT_EQ(FileTimeToUnix(FatTimeToFileTime(date, time)), test::ParseUtc(c.expectUtc)) << c.name;
  }
  unsetenv("TZ");
  tzset();
}

// FAT times are converted per hour once; every minute around the changes to
// and from daylight saving, and in a second zone set later, must still come
// out as mktime gives them.
TEST(LastWriteTime, FatTimesMatchMktimeAcrossDaylightSavingAndAZoneChange) {
  auto mktimeOf = [](int y, int mo, int d, int h, int mi, int s) {
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
  };
  for (const char* zone : {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0", "JST-9"}) {
    setenv("TZ", zone, 1);
    tzset();
    // 2023: Europe changes on Mar 26 and Oct 29, America on Mar 12 and Nov 5.
    for (const auto& [mo, d] : {std::pair{3, 11}, {3, 12}, {3, 13}, {3, 25}, {3, 26}, {10, 29}, {11, 4}, {11, 5}}) {
      for (int h = 0; h < 24; ++h) {
        for (int mi = 0; mi < 60; mi += 7) {
          const int s = (mi * 2) % 60;
          const auto date = static_cast<uint16_t>(((2023 - 1980) << 9) | (mo << 5) | d);
          const auto time = static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
          const int64_t got = FileTimeToUnix(FatTimeToFileTime(date, time));
          EXPECT_EQ(got, mktimeOf(2023, mo, d, h, mi, s)) << zone << " " << mo << "-" << d << " " << h << ":" << mi;
        }
      }
    }
  }
  unsetenv("TZ");
  tzset();
}

TEST(OpenWithDefaultApp, HandsThePathOverAsOneArgument) {
  test::TempDir dir;
  // Run as root, the opener runs as the invoking user on that user's copy.
  const bool root = geteuid() == 0;
  if (root) {
    setenv("SUDO_UID", "65534", 1);
    setenv("SUDO_GID", "65534", 1);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  }
  std::filesystem::create_directories(dir.file("log"));
  ASSERT_EQ(chmod(dir.file("log").c_str(), 0777), 0);
  const std::string log = dir.file("log/args");
  const std::string opener = dir.file("xdg-open");
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > " << test::ShellQuote(log) << "\n";
  ASSERT_EQ(chmod(opener.c_str(), 0755), 0);
  const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (dir.path() + ":" + oldPath).c_str(), 1);
  const std::string name = "a name; $(rm -rf x) 'q'.txt";
  const std::string file = dir.file(name);
  std::ofstream(file) << "text";
  EXPECT_EQ(OpenWithDefaultApp(file), 1);
  const std::string seen = test::FileBytes(log);
  setenv("PATH", oldPath.c_str(), 1);
  unsetenv("SUDO_UID");
  unsetenv("SUDO_GID");
  if (root) {
    ASSERT_GT(seen.size(), name.size() + 4);
    EXPECT_EQ(seen.substr(0, 2), "1|");
    EXPECT_EQ(seen.substr(seen.size() - name.size() - 2), "/" + name + "|");
    std::filesystem::remove_all(std::filesystem::path(seen.substr(2, seen.size() - 3)).parent_path());
  } else {
    EXPECT_EQ(seen, "1|" + file + "|");
  }
}

// --- What the list marks before a copy: claims beyond the volume ---

TEST(ClaimsBeyondVolume, SizeLargerThanTheVolumeOrAFirstClusterPastItsEnd) {
  test::FreshState();
  g_BytesPerSector = 512;
  PartitionGeometry& g = g_AppState.scanGeometry;
  g.sectorsPerCluster = 4;
  g.clusterZeroSector = 92;  // cluster c at 92 + 4c: cluster 227 is sector 1000
  const VolumeBounds whole{0, 1000}, later{500, 1000}, unknown{};
  const struct {
    const char* name;
    uint64_t size;
    uint32_t cluster;
    bool fat;
    VolumeBounds volume;
    bool beyond;
  } cases[] = {
      {"exactly the volume", 512000, 2, true, whole, false},
      {"a byte more than the volume", 512001, 2, true, whole, true},
      {"NTFS: a byte more", 512001, 0, false, whole, true},
      {"volume starting later: its own size counts", 256000, 2, false, later, false},
      {"volume starting later: a byte more", 256001, 2, false, later, true},
      {"last cluster inside", 100, 226, true, whole, false},
      {"first cluster at the end", 100, 227, true, whole, true},
      {"NTFS has no first cluster here", 100, 227, false, whole, false},
      {"an empty file claims nothing", 0, 100000, true, whole, false},
      {"volume not known", UINT64_MAX, 100000, true, unknown, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClaimsBeyondVolume(c.size, c.cluster, c.fat, c.volume), c.beyond) << c.name;
  test::FreshState();
}

// --- The FAT chain, on fixtures with a damaged first FAT ---

class FatChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    fixture_ = test::MakeFatImages(dir_, {"fat16", "fat32"});
  }
  void TearDown() override {
    present_.reset();
    test::FreshState();
  }
  // The image as disk 0, its catalogue, and one file's clusters as istat lists them.
  std::vector<uint32_t> Open(const std::string& kind, const std::string& file) {
    image_ = fixture_.path(kind + ".img");
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image_});
    EXPECT_TRUE(test::OpenFatImage(image_, kind == "fat16" ? u"FAT16" : u"FAT32"));
    std::string inode;
    for (const test::FlsEntry& e : test::UserEntries(test::Capture("fls -r -p " + test::ShellQuote(image_))))
      if (e.path == file) inode = e.inode;
    std::istringstream sectors(
        test::Capture("istat " + test::ShellQuote(image_) + " " + inode + " | sed '1,/Sectors:/d'"));
    const PartitionGeometry& g = g_AppState.scanGeometry;
    std::vector<uint32_t> clusters;
    uint64_t s = 0;
    while (sectors >> s) {
      if (s == 0) continue;  // istat's filler for the unused end of the last cluster
      const auto c = static_cast<uint32_t>((s - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster));
      if (clusters.empty() || clusters.back() != c) clusters.push_back(c);
    }
    return clusters;
  }
  // Writes a FAT entry of the first FAT straight into the image.
  void PatchFat1(uint32_t cluster, uint32_t value, size_t width) {
    std::fstream img(image_, std::ios::in | std::ios::out | std::ios::binary);
    const uint64_t at = uint64_t(g_AppState.scanGeometry.fat1Sector) * g_BytesPerSector + uint64_t{cluster} * width;
    img.seekp(static_cast<std::streamoff>(at));
    for (size_t i = 0; i < width; ++i) img.put(static_cast<char>(value >> (8 * i)));
  }
  std::vector<uint32_t> Chain(uint32_t first, uint64_t expected, bool secondFat = false) {
    ClusterChain chain;
    const PartitionGeometry& g = g_AppState.scanGeometry;
    BuildFatChain(&chain, g_AppState.scanFileSystem, first, uint64_t(secondFat ? g.fat2Sector : g.fat1Sector),
                  expected);
    return chain;
  }

  test::TempDir dir_;
  test::FixtureSet fixture_;
  std::string image_;
  std::unique_ptr<test::PresentImages> present_;
};

TEST_F(FatChainTest, FragmentedFileFollowsItsChain) {
  QM_REQUIRE_FIXTURE(fixture_);
  QM_REQUIRE_TOOLS("fls", "istat");
  for (const char* kind : {"fat16", "fat32"}) {
    SCOPED_TRACE(kind);
    const auto clusters = Open(kind, "frag/D.bin");
    ASSERT_GT(clusters.size(), 2u);
    EXPECT_EQ(Chain(clusters[0], clusters.size()), clusters);
    // Asked for fewer clusters, the walk stops one past them.
    EXPECT_EQ(Chain(clusters[0], 1).size(), 2u);
  }
}

TEST_F(FatChainTest, EndMarksLoopsAndReservedBits) {
  QM_REQUIRE_FIXTURE(fixture_);
  QM_REQUIRE_TOOLS("fls", "istat");
  {
    // Any end mark from 0xFFF8 on ends a FAT16 chain.
    const auto a = Open("fat16", "frag/A.bin");
    ASSERT_EQ(a.size(), 4u);
    PatchFat1(a.back(), 0xFFF8, 2);
    EXPECT_EQ(Chain(a[0], a.size()), a);
    // A chain that loops back ends once it holds one more than expected.
    PatchFat1(a.back(), a[0], 2);
    EXPECT_EQ(Chain(a[0], a.size()).size(), a.size() + 1);
    // and the copier then takes the second FAT's chain.
    SelectionModel model;
    test::CatalogFat(image_);
    test::TickEverything(model, kFatRootKey);
    EvaluateSelectedTotals(model);
    test::StartCopyOut(dir_.file("out16"));
    CopyThread(nullptr, model);
    EXPECT_TRUE(test::SameBytes(test::FileBytes(dir_.file("out16/frag/A.bin")), test::FixtureContent("fragA", 8192)));
  }
  {
    // FAT32's top four bits are reserved: a set bit does not end the chain.
    const auto a = Open("fat32", "frag/A.bin");
    ASSERT_GT(a.size(), 2u);
    PatchFat1(a[0], 0xF0000000u | a[1], 4);
    EXPECT_EQ(Chain(a[0], a.size()), a);
    PatchFat1(a[0], 0x0FFFFFF7u, 4);  // bad cluster
    EXPECT_EQ(Chain(a[0], a.size()), std::vector<uint32_t>{a[0]});
  }
}

// A first-FAT entry that names a cluster past the volume's last one ends the
// chain as bad; the chain is then one short and the second FAT's is copied.
TEST_F(FatChainTest, EntryPastTheVolumesClustersEndsTheChain) {
  QM_REQUIRE_FIXTURE(fixture_);
  QM_REQUIRE_TOOLS("fls", "istat", "icat", "fsstat");
  for (const char* kind : {"fat16", "fat32"}) {
    SCOPED_TRACE(kind);
    const auto a = Open(kind, "frag/A.bin");
    ASSERT_GT(a.size(), 2u);
    // The volume as the device page selects it, and its last cluster as fsstat sees it.
    g_RangeEndSector = std::stoull(test::Capture("fsstat " + test::ShellQuote(image_) +
                                                 " | sed -n 's/^Total Range: 0 - \\([0-9]*\\)$/\\1/p'")) + 1;
    const uint32_t last = static_cast<uint32_t>(std::stoul(test::Capture(
        "fsstat " + test::ShellQuote(image_) + " | sed -n 's/^Total Cluster Range: 2 - \\([0-9]*\\)$/\\1/p'")));
    std::string inode;
    for (const test::FlsEntry& e : test::UserEntries(test::Capture("fls -r -p " + test::ShellQuote(image_))))
      if (e.path == "frag/A.bin") inode = e.inode;
    const std::string want = test::Capture("icat " + test::ShellQuote(image_) + " " + inode);
    ASSERT_FALSE(want.empty());

    const bool fat16 = std::string(kind) == "fat16";
    PatchFat1(a[a.size() - 2], last + 1, fat16 ? 2 : 4);
    std::vector<uint32_t> cut(a.begin(), a.end() - 1);
    EXPECT_EQ(Chain(a[0], a.size()), cut);
    EXPECT_EQ(Chain(a[0], a.size(), /*secondFat=*/true), a);

    const std::string out = dir_.file(std::string(kind) + "-A.bin");
    CopyFatFile(out, u"A.bin", static_cast<uint32_t>(want.size()), a[0], 0, 0, 0, 0);
    EXPECT_TRUE(test::SameBytes(test::FileBytes(out), want));
  }
}

TEST(CopyNtfsFile, ResidentValuePastTheRecordWritesNoFile) {
  QM_REQUIRE_TOOLS("fls");
  test::FreshState();
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  test::PresentImages present({image});
  const test::NtfsVolume v = test::OpenNtfsImage(image);
  ASSERT_TRUE(v.ok);
  g_PartitionGeometry = g_AppState.scanGeometry;
  constexpr uint32_t kTinyRecord = 65;  // tiny.txt, 100 bytes resident
  const uint64_t sector = MftRecordToSector(kTinyRecord);
  std::vector<uint8_t> rec = test::ReadRecord(v, kTinyRecord);
  ApplyFixups(rec);
  size_t attr = 0;
  ASSERT_EQ(FindDataAttribute(rec, &attr), kDataResident);
  ASSERT_LT(attr + 20, 510u);  // the length field lies clear of the fix-up bytes

  const std::string good = dir.file("good.txt");
  CopyNtfsFile(good, u"good.txt", 100, sector, 5, kTinyRecord, 0, 0, 0, 0);
  EXPECT_TRUE(test::SameBytes(test::FileBytes(good), test::FixtureContent("tiny", 100)));

  {
    std::fstream img(image, std::ios::in | std::ios::out | std::ios::binary);
    img.seekp(static_cast<std::streamoff>(sector * v.bytesPerSector + attr + 16));
    const uint32_t huge = 5000;
    img.write(reinterpret_cast<const char*>(&huge), 4);
  }
  const std::string bad = dir.file("bad.txt");
  CopyNtfsFile(bad, u"bad.txt", 5000, sector, 5, kTinyRecord, 0, 0, 0, 0);
  EXPECT_FALSE(test::Exists(bad));
  test::FreshState();
}

// A record whose sector ends do not carry its update sequence number holds
// a sector that was not written with it (a torn write, a sector remapped):
// the file copied from it is reported as not read whole.
TEST(CopyNtfsFile, RecordFailingItsFixupCheckIsReportedIncomplete) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  struct Damage {
    const char* what;
    size_t at;     // byte of the record
    size_t bytes;  // how many bytes of 'X' are written there
  };
  for (const Damage d : {Damage{"second stride replaced", 512, 512}, Damage{"first stride end", 510, 2}}) {
    SCOPED_TRACE(d.what);
    test::FreshState();
    ASSERT_EQ(test::Run("zcat " + test::ShellQuote(test::NtfsFixtureDir() + "/ntfs.img.gz") + " > " +
                        test::ShellQuote(image)),
              0);
    test::PresentImages present({image});
    const test::NtfsVolume v = test::OpenNtfsImage(image);
    ASSERT_TRUE(v.ok);
    g_PartitionGeometry = g_AppState.scanGeometry;
    constexpr uint32_t kTinyRecord = 65;  // tiny.txt, 100 bytes resident
    const uint64_t sector = MftRecordToSector(kTinyRecord);

    const std::string good = dir.file("good.txt"), bad = dir.file("bad.txt");
    std::remove(good.c_str());  // left by the case before
    std::remove(bad.c_str());
    CopyNtfsFile(good, u"good.txt", 100, sector, 5, kTinyRecord, 1, 0, 0, 0);
    EXPECT_TRUE(test::SameBytes(test::FileBytes(good), test::FixtureContent("tiny", 100)));
    EXPECT_TRUE(UnreadableCopiedFiles().empty());
    {
      std::fstream img(image, std::ios::in | std::ios::out | std::ios::binary);
      img.seekp(static_cast<std::streamoff>(sector * v.bytesPerSector + d.at));
      const std::string junk(d.bytes, 'X');
      img.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    CopyNtfsFile(bad, u"bad.txt", 100, sector, 5, kTinyRecord, 1, 0, 0, 0);
    EXPECT_EQ(UnreadableCopiedFiles(), std::vector<std::string>{bad});
    EXPECT_GT(g_CopyReadErrors.load(), 0);
  }
  test::FreshState();
}

// $MFTMirr holds the first four records again: a file whose record in the
// $MFT is damaged (its attributes overwritten with the end of its first
// sector) is copied through the whole copy there; only when both copies are
// damaged is it reported as not read whole.
TEST(CopyNtfsFile, DamagedFirstRecordIsCopiedThroughItsMirror) {
  QM_REQUIRE_TOOLS("icat");
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  constexpr uint32_t kMirrorRecord = 1;  // $MFTMirr, 4096 bytes in one run
  const std::string want = test::Capture("icat " + test::ShellQuote(image) + " 1");
  ASSERT_EQ(want.size(), 4096u);
  struct Case {
    const char* what;
    bool mirrorDamaged;
    bool whole;
  };
  for (const Case c : {Case{"$MFT copy damaged", false, true}, Case{"both copies damaged", true, false}}) {
    SCOPED_TRACE(c.what);
    test::FreshState();
    ASSERT_EQ(test::Run("zcat " + test::ShellQuote(test::NtfsFixtureDir() + "/ntfs.img.gz") + " > " +
                        test::ShellQuote(image)),
              0);
    test::PresentImages present({image});
    const test::NtfsVolume v = test::OpenNtfsImage(image);
    ASSERT_TRUE(v.ok);
    g_PartitionGeometry = g_AppState.scanGeometry;
    const uint64_t sector = MftRecordToSector(kMirrorRecord);
    const uint64_t mirrorSector = 2047 * v.sectorsPerCluster + kMirrorRecord * v.sectorsPerRecord;
    std::vector<uint64_t> damaged = {sector};
    if (c.mirrorDamaged) damaged.push_back(mirrorSector);
    for (uint64_t s : damaged) {
      std::fstream img(image, std::ios::in | std::ios::out | std::ios::binary);
      img.seekp(static_cast<std::streamoff>(s * v.bytesPerSector + 0x38));
      const std::string junk(0x200 - 0x38, 'X');
      img.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    const std::string out = dir.file("mirror.bin");
    std::remove(out.c_str());
    CopyNtfsFile(out, u"$MFTMirr", want.size(), sector, 5, kMirrorRecord, 1, 0, 0, 0);
    if (c.whole) {
      EXPECT_TRUE(test::SameBytes(test::FileBytes(out), want));
      EXPECT_TRUE(UnreadableCopiedFiles().empty());
      EXPECT_TRUE(IncompleteCopiedFiles().empty());
    } else {
      EXPECT_EQ(UnreadableCopiedFiles(), std::vector<std::string>{out});
    }
  }
  test::FreshState();
}

// A file whose data cannot be found is named, never left behind empty, and
// a copy made afterwards in its place is not taken for a collision.
TEST(CopyNtfsFile, AFileNotFoundLeavesNoEmptyFileInItsPlace) {
  test::TempDir dir;
  test::FreshState();
  const std::string lost = dir.file("lost.txt");
  CopyNtfsFile(lost, u"lost.txt", 100, 0, 5, 70, 1, 0, 0, 0);
  struct stat st {};
  EXPECT_NE(::lstat(lost.c_str(), &st), 0);
  EXPECT_EQ(g_FilesCopied.load(), 1);
  test::FreshState();
}

}  // namespace
}  // namespace qm
