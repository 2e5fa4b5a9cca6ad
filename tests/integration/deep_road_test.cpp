// The formatted and lost-partition roads: volumes of a whole disk formatted
// again by the real tools, or the disk's partition table zeroed, then the
// deep scans and the partition search run as the pages start them, and what
// they find copied out and compared with the files the disk was made with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "integration/road_fixture.h"
#include "integration/road_walk.h"

namespace qm {
namespace {

using namespace test::road;
namespace fs = std::filesystem;

class DeepRoadTest : public RoadFixture<> {
 protected:
  void SetUp() override {
    RoadFixture::SetUp();
    QM_REQUIRE_TOOLS("mkfs.fat", "mkntfs", "sha256sum", "dd");
    set_ = test::MakeDisks(dir_, {"mbr"});
    if (!set_.ok()) GTEST_FAIL() << set_.skipReason;
    disk_ = set_.path("mbr.img");
    parts_ = test::ReadPartitions(set_.path("mbr.parts.txt"));
  }

  const test::FixturePartition* Part(const std::string& label) const {
    for (const auto& p : parts_)
      if (p.label == label) return &p;
    return nullptr;
  }

  // Formats partition p again with the tool and options the disk was made with.
  void Reformat(const test::FixturePartition& p) {
    if (p.fs == "NTFS") {
      // mkntfs -Q over the volume's own sectors (its boot sector's count and
      // the copy after it): only the metadata is rewritten.
      const uint64_t sectors = NtfsVolumeSectors(p.start);
      ASSERT_GT(sectors, 0u);
      const std::string part = dir_.file("part.img");
      ASSERT_EQ(test::Run("dd if=" + disk_ + " of=" + part + " bs=512 skip=" + std::to_string(p.start) +
                          " count=" + std::to_string(sectors) + " status=none"),
                0);
      ASSERT_EQ(test::Run("mkntfs -F -Q -q -s 512 -c 4096 -p " + std::to_string(p.start) + " -H 255 -S 63 " + part +
                          " >/dev/null 2>&1"),
                0);
      ASSERT_EQ(test::Run("dd if=" + part + " of=" + disk_ + " bs=512 seek=" + std::to_string(p.start) +
                          " conv=notrunc status=none"),
                0);
      return;
    }
    const int bits = p.fs == "FAT32" ? 32 : p.fs == "FAT16" ? 16 : 12;
    const int spc = bits == 32 ? 1 : 4;
    ASSERT_EQ(test::Run(Format("mkfs.fat -F %d -s %d -h %llu --offset %llu -n %s %s %llu >/dev/null 2>&1", bits, spc,
                               (unsigned long long)p.start, (unsigned long long)p.start, p.label.c_str(),
                               disk_.c_str(), (unsigned long long)(p.sectors / 2))),
              0);
  }

  // Sectors of the NTFS volume at start: its boot sector's count + the copy.
  uint64_t NtfsVolumeSectors(uint64_t start) const {
    std::ifstream in(disk_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(start * 512 + 40));
    uint8_t b[8] = {};
    in.read(reinterpret_cast<char*>(b), 8);
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    return v ? v + 1 : 0;
  }

  // The files the fixture put into partition n: path -> sha256.
  std::map<std::string, std::string> Originals(int n) const {
    std::map<std::string, std::string> out;
    for (const auto& m : test::ReadManifest(set_.path("mbr.p" + std::to_string(n) + ".files.txt"))) out[m.path] = m.sha256;
    return out;
  }
  std::map<std::string, std::string> NtfsOriginals() const {
    std::map<std::string, std::string> out;
    for (const auto& m : test::ReadManifest(test::NtfsFixtureDir() + "/ntfs-files.txt")) out[m.path] = m.sha256;
    return out;
  }

  // Copies the catalogue out; returns the copied files' hashes by path.
  std::map<std::string, std::string> CopyOut(uint32_t root, const std::string& name) {
    const std::string target = dir_.file(name);
    fs::create_directories(target);
    last_ = CopyEverything(target, root, prompt_);
    std::map<std::string, std::string> out;
    for (const std::string& p : TreeOf(target))
      if (p.back() != '/') out[p] = test::Sha256OfFile(target + "/" + p);
    return out;
  }

  static std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
  // A file of the fixture came back when a copied file in its folder (the
  // same path, case aside) holds its bytes; a file with several hard links
  // may come back under any of its names.
  static bool Recovered(const std::map<std::string, std::string>& copied, const std::string& path,
                        const std::string& sha) {
    for (const auto& [got, gotSha] : copied) {
      if (gotSha != sha) continue;
      if (Lower(got) == Lower(path) || Lower(Tail(got)) == Lower(path)) return true;
      if (Folder(got) == Folder(path) && Folder(path) == "links") return true;
    }
    return false;
  }

  static std::string Listing(const std::map<std::string, std::string>& copied) {
    std::string s;
    for (const auto& [path, sha] : copied) s += "\n  " + path + " " + sha.substr(0, 8);
    return s;
  }

  // The part of a path after its first folder ("Dir3/x/y" -> "x/y").
  static std::string Tail(const std::string& path, int levels = 1) {
    size_t at = 0;
    for (int i = 0; i < levels; ++i) {
      at = path.find('/', at);
      if (at == std::string::npos) return {};
      ++at;
    }
    return path.substr(at);
  }

  test::FixtureSet set_;
  std::string disk_;
  std::vector<test::FixturePartition> parts_;
  CopyOutcome last_;
};

// Formatted recovery of each re-formatted volume: the folders that lived in
// the data area come back (named "Dir" n where their parent is gone) with
// their files byte for byte; on NTFS the old MFT records give the whole tree.
TEST_F(DeepRoadTest, FormattedVolumesGiveBackWhatTheirDataAreaStillHolds) {
  struct Case {
    const char* label;
    int number;
  };
  for (const Case c : {Case{"MBRFAT32", 1}, Case{"MBRFAT16", 5}, Case{"FIXNTFS", 2}}) {
    SCOPED_TRACE(c.label);
    const test::FixturePartition* p = Part(c.label);
    ASSERT_NE(p, nullptr);
    Reformat(*p);
  }
  const auto before = Checksums({disk_});
  const std::vector<TreeDisk> tree = Present(disk_);
  ASSERT_EQ(tree.size(), 1u);

  for (const Case c : {Case{"MBRFAT32", 1}, Case{"MBRFAT16", 5}, Case{"FIXNTFS", 2}}) {
    SCOPED_TRACE(c.label);
    const test::FixturePartition* p = Part(c.label);
    const TreePartition* item = nullptr;
    for (const TreePartition& t : tree[0].partitions)
      if (t.first == p->start) item = &t;
    ASSERT_NE(item, nullptr);
    PressModeButton(Mode::Formatted);
    ASSERT_TRUE(ClickPartition(tree[0], *item));
    ASSERT_EQ(NextForVolume(), u"");
    ScanPage page;
    EXPECT_EQ(page.Run(), Ending::OpenResults);
    const bool ntfs = p->fs == "NTFS";
    const uint32_t root = ntfs ? kNtfsRootKey : kFatRootKey;
    const std::vector<Entry> entries = CatalogEntries(root);
    const auto copied = CopyOut(root, std::string(c.label) + "-out");
    EXPECT_EQ(last_.messages, std::vector<std::u16string>{std::u16string(kSavingCompleted)});

    if (!ntfs) {
      // The root is gone with the format; its sub-folder is found in the
      // data area as "Dir" n and keeps its own listing.
      const auto originals = Originals(c.number);
      const std::string nested = "Folder One/Folder Two/nested file.txt";
      bool found = false;
      for (const auto& [path, sha] : copied) {
        if (Tail(path) != "Folder Two/nested file.txt") continue;
        found = true;
        EXPECT_EQ(path.rfind("Dir", 0), 0u) << path;
        EXPECT_EQ(sha, originals.at(nested)) << path;
      }
      EXPECT_TRUE(found) << "nested file.txt not recovered";
    } else {
      // Every live file of the old volume whose clusters the format left
      // alone comes back under its own path, byte for byte.
      const auto originals = NtfsOriginals();
      int same = 0;
      for (const auto& [path, sha] : originals)
        if (Recovered(copied, path, sha)) ++same;
      EXPECT_EQ(same, static_cast<int>(originals.size())) << "copied:" << Listing(copied);
      EXPECT_TRUE(copied.count("Pictures/holiday picture 01.bin"));
    }
    FreeScanResults();
    ClearMftRuns();
  }
  EXPECT_EQ(Checksums({disk_}), before);
}

// Partition recovery after the MBR was zeroed: the search finds the FAT and
// NTFS file systems where they were, and the second pass of each gives its
// files back.
TEST_F(DeepRoadTest, ZeroedPartitionTableIsFoundAgainByTheSearch) {
  ASSERT_EQ(test::Run("dd if=/dev/zero of=" + disk_ + " bs=512 count=1 conv=notrunc status=none"), 0);
  const auto before = Checksums({disk_});
  const std::vector<TreeDisk> tree = Present(disk_);
  ASSERT_EQ(tree.size(), 1u);
  EXPECT_TRUE(tree[0].partitions.empty());

  struct Case {
    const char16_t* combo;
    std::vector<std::string> labels;  // the volumes the search must find, in disk order
  };
  const Case cases[] = {{u"FAT32", {"MBRFAT32", "MBRFAT16"}}, {u"NTFS", {"FIXNTFS", "MBRNTFS"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.combo));
    PressModeButton(Mode::Partition);
    ClickDisk(tree[0]);
    const uint64_t end = g_RangeEndSector;
    ASSERT_EQ(NextForWholeDisk(63, end, c.combo), u"");
    {
      ScanPage search;
      EXPECT_EQ(search.Run(), Ending::BackToPartitionList);
    }
    std::vector<uint64_t> starts;
    for (const FileSystemRecord& r : FileSystems()) starts.push_back(r.firstSector);
    for (const std::string& label : c.labels) {
      const test::FixturePartition* p = Part(label);
      ASSERT_NE(p, nullptr);
      EXPECT_NE(std::find(starts.begin(), starts.end(), p->start), starts.end()) << label << " not found";
    }

    // The found-partitions page's pick and Next, for each volume with files.
    int n = 0;
    const std::vector<uint64_t> found = starts;
    for (uint64_t start : found) {
      ++n;
      const test::FixturePartition* p = nullptr;
      for (const auto& q : parts_)
        if (q.start == start) p = &q;
      if (!p || p->label == "MBRNTFS") continue;
      SCOPED_TRACE(p->label);
      ASSERT_TRUE(PickFoundFileSystem(n));
      ScanPage second;
      EXPECT_EQ(second.Run(), Ending::OpenResults);
      const bool ntfs = p->fs == "NTFS";
      const auto copied = CopyOut(ntfs ? kNtfsRootKey : kFatRootKey, p->label + "-out");
      const auto originals = ntfs ? NtfsOriginals() : Originals(p->number);
      int same = 0, live = 0;
      for (const auto& [path, sha] : originals) {
        if (path == "gone.txt" || path.find("deleted") != std::string::npos || path.rfind("Old Stuff", 0) == 0)
          continue;
        ++live;
        if (Recovered(copied, path, sha)) ++same;
      }
      EXPECT_EQ(same, live) << "live files recovered byte for byte; copied:" << Listing(copied);
      ClearCatalog();
    }
    FreeScanResults();
  }
  EXPECT_EQ(Checksums({disk_}), before);
}

}  // namespace
}  // namespace qm
