// The test images are what their oracles say: fresh FAT images and disks
// list exactly as the committed listings, committed NTFS images still match
// theirs, and every file's bytes read back through icat equal the originals.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace qm::test {
namespace {

bool HaveOracles() { return HaveTools({"fls", "icat", "istat", "mmls", "fsstat", "sha256sum"}); }

std::string Expected(const std::string& name) { return ReadText(FixturePath("expected/" + name)); }

std::string Icat(const std::string& image, const std::string& inode, uint64_t offset = 0) {
  return Capture("icat -o " + std::to_string(offset) + " " + ShellQuote(image) + " " + inode);
}

std::string Sha256(const std::string& bytes, const TempDir& dir) {
  const std::string f = dir.file("sha-input");
  {
    std::ofstream(f, std::ios::binary) << bytes;
  }
  return Sha256OfFile(f);
}

const FlsEntry* Find(const std::vector<FlsEntry>& list, const std::string& path) {
  auto it = std::find_if(list.begin(), list.end(), [&](const FlsEntry& e) { return e.path == path; });
  return it == list.end() ? nullptr : &*it;
}

// Sector numbers after "Sectors:" in istat output (0 marks a sparse unit).
std::vector<uint64_t> IstatSectors(const std::string& istat) {
  std::vector<uint64_t> out;
  auto pos = istat.find("Sectors:");
  if (pos == std::string::npos) pos = istat.find("Type: $DATA");
  if (pos == std::string::npos) return out;
  std::istringstream in(istat.substr(istat.find('\n', pos) + 1));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<uint64_t> row;
    std::string w;
    bool numbers = true;
    while (words >> w) {
      if (w.find_first_not_of("0123456789") != std::string::npos) {
        numbers = false;
        break;
      }
      row.push_back(std::stoull(w));
    }
    if (!numbers || row.empty()) break;
    for (uint64_t s : row) out.push_back(s);
  }
  return out;
}

// Places where the next allocated unit does not follow the last one.
size_t Breaks(std::vector<uint64_t> units) {
  std::erase(units, 0u);  // holes (and istat's FAT tail padding) are not runs
  size_t n = 0;
  for (size_t i = 1; i < units.size(); ++i)
    if (units[i] != units[i - 1] + 1) ++n;
  return n;
}

// Every file in a manifest reads back (icat, by the fls listing's inode)
// with the manifest's bytes; deleted ones too unless listed as overwritten.
void ExpectBytesMatch(const std::string& image, uint64_t offset, const std::vector<FlsEntry>& listing,
                      const std::vector<ManifestEntry>& manifest, const std::set<std::string>& overwritten,
                      const std::map<std::string, std::string>& renamed, const TempDir& dir) {
  for (const auto& m : manifest) {
    if (overwritten.count(m.path)) continue;
    auto r = renamed.find(m.path);
    const FlsEntry* e = Find(listing, r == renamed.end() ? m.path : r->second);
    ASSERT_NE(e, nullptr) << m.path << " is not in the listing";
    const std::string bytes = Icat(image, e->inode, offset);
    EXPECT_EQ(bytes.size(), m.size) << m.path;
    EXPECT_EQ(Sha256(bytes, dir), m.sha256) << m.path;
  }
}

TEST(Fixtures, ContentGeneratorMatchesTheScripts) {
  TempDir dir;
  auto fat = MakeFatImages(dir, {"fat12"});
  QM_REQUIRE_FIXTURE(fat);
  struct Case {
    const char* path;
    const char* tag;
    uint64_t size;
  } cases[] = {{"README.TXT", "readme", 300},
               {"empty.dat", "empty", 0},
               {"My Documents/short.txt", "short", 1},
               {"My Documents/Reports 2023/Q1/Deep/Deeper/leaf file.txt", "leaf", 4097},
               {"frag/D.bin", "fragD", 40000}};
  for (const auto& c : cases)
    EXPECT_EQ(ReadText(fat.path("fat-files/") + c.path), FixtureContent(c.tag, c.size)) << c.path;
  EXPECT_EQ(FixtureContent("averyveryverylongtag", 23), "averyveryver 00000000\na");
}

class FatFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(FatFixture, ListsAsCommittedAndReadsBackTheOriginals) {
  if (!HaveOracles()) GTEST_FAIL() << "sleuthkit or sha256sum is not installed";
  const std::string kind = GetParam();
  TempDir dir;
  auto fat = MakeFatImages(dir, {GetParam()});
  QM_REQUIRE_FIXTURE(fat);
  const std::string image = fat.path(kind + ".img");

  EXPECT_EQ(ReadText(fat.path(kind + ".fls.txt")), Expected(kind + ".fls.txt"));
  std::string upper = kind;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_NE(ReadText(fat.path(kind + ".fsstat.txt")).find("File System Type: " + upper), std::string::npos);

  const auto listing = ParseFls(ReadText(fat.path(kind + ".fls.txt")));
  for (const char* gone : {"_eleted.txt", "My Documents/deleted long name.txt", "Old Stuff",
                           "Old Stuff/Inner", "Old Stuff/Inner/old two.txt"}) {
    const FlsEntry* e = Find(listing, gone);
    ASSERT_NE(e, nullptr) << gone;
    EXPECT_TRUE(e->deleted) << gone;
  }
  for (const char* live : {"日本語.txt", "Crème brûlée recipe.txt", "frag/D.bin"}) {
    const FlsEntry* e = Find(listing, live);
    ASSERT_NE(e, nullptr) << live;
    EXPECT_FALSE(e->deleted) << live;
  }
  EXPECT_EQ(Find(listing, "frag/B.bin"), nullptr);  // its entry went to D

  // D fills B's hole, then continues after C: exactly one break.
  EXPECT_EQ(Breaks(IstatSectors(Capture("istat " + ShellQuote(image) + " " + Find(listing, "frag/D.bin")->inode))), 1u);

  EXPECT_EQ(ReadText(fat.path("fat-files.txt")), Expected("fat-files.txt"));
  // café.txt has only an 8.3 entry (its OEM byte shows as ^); deleted.txt
  // lost its first letter.
  ExpectBytesMatch(image, 0, listing, ReadManifest(fat.path("fat-files.txt")), {"frag/B.bin"},
                   {{"café.txt", "caf^.txt"}, {"deleted.txt", "_eleted.txt"}}, dir);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatFixture, ::testing::Values("fat12", "fat16", "fat32"));

class NtfsFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFixture, CommittedImageMatchesItsListingsAndFiles) {
  if (!HaveOracles()) GTEST_FAIL() << "sleuthkit or sha256sum is not installed";
  const std::string name = GetParam();
  const int sectorSize = name == "ntfs4k" ? 4096 : 512;
  TempDir dir;
  auto ntfs = UnpackNtfs(dir, name);
  QM_REQUIRE_FIXTURE(ntfs);
  const std::string image = ntfs.path(name + ".img");
  const std::string committed = NtfsFixtureDir() + "/" + name;

  EXPECT_EQ(Capture("fls -r -p " + ShellQuote(image)), ReadText(committed + ".fls.txt"));
  EXPECT_EQ(Capture("fsstat " + ShellQuote(image)), ReadText(committed + ".fsstat.txt"));
  EXPECT_NE(ReadText(committed + ".fsstat.txt").find("Sector Size: " + std::to_string(sectorSize) + "\n"),
            std::string::npos);

  const auto listing = ParseFls(ReadText(committed + ".fls.txt"));
  for (const char* gone : {"deleted.txt", "Old Stuff", "Old Stuff/Inner/old two.txt"}) {
    const FlsEntry* e = Find(listing, gone);
    ASSERT_NE(e, nullptr) << gone;
    EXPECT_TRUE(e->deleted) << gone;
  }
  auto istat = [&](const char* path) {
    const FlsEntry* e = Find(listing, path);
    return e ? Capture("istat " + ShellQuote(image) + " " + e->inode) : std::string();
  };
  const std::string one = istat("frag/interleaved one.bin");
  EXPECT_GE(Breaks(IstatSectors(one)), 4u) << one;
  const std::string sparse = istat("sparse/sparse.bin");
  EXPECT_NE(sparse.find("Non-Resident, Sparse"), std::string::npos) << sparse;
  EXPECT_NE(istat("tiny.txt").find("$DATA (128-2)   Name: N/A   Resident"), std::string::npos);
  EXPECT_NE(istat("links/target.txt").find("$ATTRIBUTE_LIST"), std::string::npos);
  const std::string annual = istat("My Documents/Reports 2023/annual summary.txt");
  EXPECT_NE(annual.find("Name: ANNUAL~1.TXT"), std::string::npos) << annual;
  EXPECT_NE(annual.find("Name: annual summary.txt"), std::string::npos);

  ExpectBytesMatch(image, 0, listing, ReadManifest(NtfsFixtureDir() + "/ntfs-files.txt"), {}, {}, dir);
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture, ::testing::Values("ntfs", "ntfs4k"));

TEST(Fixtures, DisksListAsCommittedAndPartitionsHoldTheirFiles) {
  if (!HaveOracles()) GTEST_FAIL() << "sleuthkit or sha256sum is not installed";
  TempDir dir;
  auto disks = MakeDisks(dir);
  QM_REQUIRE_FIXTURE(disks);
  struct Case {
    const char* disk;
    std::vector<int> numbers;
  } cases[] = {{"mbr", {1, 2, 5, 6, 7}}, {"gpt", {1, 2, 3}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.disk);
    const std::string d = c.disk;
    EXPECT_EQ(ReadText(disks.path(d + ".mmls.txt")), Expected(d + ".mmls.txt"));
    EXPECT_EQ(ReadText(disks.path(d + ".parts.txt")), Expected(d + ".parts.txt"));
    const auto parts = ReadPartitions(disks.path(d + ".parts.txt"));
    ASSERT_EQ(parts.size(), c.numbers.size());
    for (size_t i = 0; i < parts.size(); ++i) {
      const auto& p = parts[i];
      EXPECT_EQ(p.number, c.numbers[i]);
      const std::string n = std::to_string(p.number);
      const std::string fls = ReadText(disks.path(d + ".p" + n + ".fls.txt"));
      EXPECT_EQ(fls, Expected(d + ".p" + n + ".fls.txt")) << "partition " << n;
      if (p.label == "FIXNTFS") {
        EXPECT_EQ(fls, ReadText(NtfsFixtureDir() + "/ntfs.fls.txt"));
      } else if (p.fs.rfind("FAT", 0) == 0) {
        const auto listing = ParseFls(fls);
        const FlsEntry* gone = Find(listing, "_one.txt");
        ASSERT_NE(gone, nullptr);
        EXPECT_TRUE(gone->deleted);
        ExpectBytesMatch(disks.path(d + ".img"), p.start, listing,
                         ReadManifest(disks.path(d + ".p" + n + ".files.txt")), {},
                         {{"gone.txt", "_one.txt"}}, dir);
      }
    }
  }
}

}  // namespace
}  // namespace qm::test
