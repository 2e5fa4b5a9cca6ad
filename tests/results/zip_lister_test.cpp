#include "results/zip_lister.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "platform/byte_reader.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;

using test::TempDir;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Listed {
  uint64_t length;
  std::string when;  // "YYYY-MM-DD HH:MM"
  std::string name;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Listed& l) { return os << l.length << " " << l.when << " " << l.name; }

std::vector<Listed> UnzipListing(const std::string& zip) {
  std::vector<Listed> out;
  std::istringstream in(Capture("LC_ALL=C unzip -l " + Quote(zip)));
  static const std::regex row(R"(^\s*(\d+)\s+(\d{4}-\d\d-\d\d \d\d:\d\d)   (.*)$)");
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_match(line, m, row)) out.push_back({std::stoull(m[1]), m[2], m[3]});
  return out;
}

std::vector<Listed> OurListing(const CZipFile& zip) {
  std::vector<Listed> out;
  for (int i = 0; i < zip.GetEntryCount(); ++i) {
    const ZipDirectoryEntry* e = zip.GetEntry(i);
    char when[32];
    snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", 1980 + (e->modificationDate >> 9),
             (e->modificationDate >> 5) & 15, e->modificationDate & 31, e->modificationTime >> 11,
             (e->modificationTime >> 5) & 63);
    out.push_back({e->uncompressedSize64, when, e->name});
  }
  return out;
}

class ZipListerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_TOOLS("zip", "unzip");
  }
  // Runs a shell command inside the temp folder.
  void Sh(const std::string& cmd) { ASSERT_EQ(test::Run("cd " + Quote(dir_.path()) + " && " + cmd), 0) << cmd; }
  int Load(CZipFile& zip, const std::string& path) {
    zip.ResetZipFile();
    zip.SetZipFileName(path);
    return zip.LoadZipFile();
  }
  TempDir dir_;
};

TEST_F(ZipListerTest, ListingsMatchUnzip) {
  const std::string longName(200, 'L');
  Sh("head -c 5000 /dev/urandom > rand.bin && yes 'compressible text' | head -n 400 > text.txt && : > empty"
     " && printf 'x' > " + Quote("ümlaut é.txt") + " && printf 'abc' > " + longName +
     " && mkdir -p sub/deeper && echo hi > sub/deeper/f.txt");
  struct Case {
    const char* name;
    const char* zip;
    std::string command;
  } cases[] = {
      {"stored", "stored.zip", "zip -q -0 stored.zip rand.bin text.txt empty"},
      {"deflated",  "deflated.zip", "zip -q deflated.zip rand.bin text.txt empty"},
      {"long and non-ASCII names, folders", "names.zip",  "zip -q -r names.zip " + longName + " " + Quote("ümlaut é.txt") + " sub"},
      {"entry comments of other lengths than the extras", "comments.zip", 
       "printf 'first comment\\nc\\n' | zip -q -c comments.zip text.txt empty"},
      {"ZIP64 records",  "zip64.zip", "zip -q -fz zip64.zip text.txt rand.bin"},
      {"streamed from stdin",  "streamed.zip", "cat text.txt | zip -q streamed.zip -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sh(c.command);
    const std::string file = dir_.file(c.zip);
    CZipFile zip;
    ASSERT_EQ(Load(zip, file), CZipFile::kListed);
    const auto expected = UnzipListing(file);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(OurListing(zip), expected);
  }
}

TEST_F(ZipListerTest, NamesShowAsTheArchiverMeantThem) {
  Sh("printf 'x' > " + Quote("ümlaut é.txt") + " && zip -q n.zip " + Quote("ümlaut é.txt"));
  CZipFile zip;
  ASSERT_EQ(Load(zip, dir_.file("n.zip")), CZipFile::kListed);
  ASSERT_EQ(zip.GetEntryCount(), 1);
  EXPECT_EQ(ZipEntryDisplayName(*zip.GetEntry(0)), u"ümlaut é.txt");
  EXPECT_EQ(zip.GetEntry(0)->name, "ümlaut é.txt");  // the stored bytes are kept as they are
  ZipDirectoryEntry cp1252;
  cp1252.name = "caf\xe9.txt";
  EXPECT_EQ(ZipEntryDisplayName(cp1252), u"café.txt");
}

TEST_F(ZipListerTest, AnArchiveStoredInsideIsNotTakenForTheDirectory) {
  // The inner archive's central directory comes first in the bytes.
  Sh("echo inner > i1.txt && echo inner > i2.txt && zip -q inner.zip i1.txt i2.txt && echo o > outer.txt"
     " && zip -q -0 outer.zip inner.zip outer.txt");
  CZipFile zip;
  ASSERT_EQ(Load(zip, dir_.file("outer.zip")), CZipFile::kListed);
  EXPECT_EQ(OurListing(zip), UnzipListing(dir_.file("outer.zip")));
  ASSERT_EQ(zip.GetEntryCount(), 2);
  EXPECT_EQ(zip.GetEntry(0)->name, "inner.zip");
}

TEST_F(ZipListerTest, LoadResults) {
  Sh("echo a > a.txt && zip -q a.zip a.txt");
  const std::string good = ReadFile(dir_.file("a.zip"));
  const size_t central = good.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  WriteFile(dir_.file("short"), "PK\x03");
  WriteFile(dir_.file("empty"), "");
  WriteFile(dir_.file("directory-only"), good.substr(central));
  WriteFile(dir_.file("no-directory"), good.substr(0, central));
  struct Case {
    const char* name;
    std::string path;
    int result;
    int entries;
  } cases[] = {
      {"no name", "", CZipFile::kCannotOpen, 0},
      {"missing file", dir_.file("missing.zip"), CZipFile::kCannotOpen, 0},
      {"a folder", dir_.path(), CZipFile::kCannotOpen, 0},
      {"shorter than four bytes", dir_.file("short"), CZipFile::kNotZip, 0},
      {"empty file", dir_.file("empty"), CZipFile::kNotZip, 0},
      {"directory but no local header first", dir_.file("directory-only"), CZipFile::kNotZip, 0},
      {"no central directory", dir_.file("no-directory"), CZipFile::kListed, 0},
      {"good", dir_.file("a.zip"), CZipFile::kListed, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CZipFile zip;
    EXPECT_EQ(Load(zip, c.path), c.result);
    EXPECT_EQ(zip.GetEntryCount(), c.entries);
  }
  CZipFile zip;
  Load(zip, dir_.file("a.zip"));
  EXPECT_EQ(zip.GetEntry(-1), nullptr);
  EXPECT_EQ(zip.GetEntry(1), nullptr);
  zip.ResetZipFile();
  EXPECT_EQ(zip.GetEntryCount(), 0);
  EXPECT_EQ(zip.GetZipFileName(), "");
}

TEST_F(ZipListerTest, TruncatedAndDamagedArchivesListAPrefix) {
  Sh("for i in 1 2 3 4 5; do echo file$i > f$i.txt; done && zip -q five.zip f1.txt f2.txt f3.txt f4.txt f5.txt");
  const std::string good = ReadFile(dir_.file("five.zip"));
  CZipFile full;
  ASSERT_EQ(Load(full, dir_.file("five.zip")), CZipFile::kListed);
  const auto all = OurListing(full);
  ASSERT_EQ(all.size(), 5u);
  auto isPrefix = [&](const std::vector<Listed>& part) {
    return part.size() <= all.size() && std::equal(part.begin(), part.end(), all.begin());
  };
  // Every cut of the file.
  for (size_t cut = 4; cut < good.size(); ++cut) {
    WriteFile(dir_.file("cut.zip"), good.substr(0, cut));
    CZipFile zip;
    ASSERT_EQ(Load(zip, dir_.file("cut.zip")), CZipFile::kListed) << cut;
    EXPECT_TRUE(isPrefix(OurListing(zip))) << "cut at " << cut;
  }
  // A name length that runs past the end, and a broken third signature.
  const size_t third = [&] {
    size_t at = good.find("PK\x01\x02");
    for (int i = 0; i < 2; ++i) at = good.find("PK\x01\x02", at + 4);
    return at;
  }();
  std::string longName = good;
  longName[good.find("PK\x01\x02") + 28] = '\xff';
  longName[good.find("PK\x01\x02") + 29] = '\xff';
  std::string badSignature = good;
  badSignature[third + 2] = 'X';
  struct Case {
    const char* name;
    std::string bytes;
    size_t entries;
  } cases[] = {{"name length past the end", longName, 0}, {"third header damaged", badSignature, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_.file("bad.zip"), c.bytes);
    CZipFile zip;
    ASSERT_EQ(Load(zip, dir_.file("bad.zip")), CZipFile::kListed);
    const auto listed = OurListing(zip);
    EXPECT_EQ(listed.size(), c.entries);
    EXPECT_TRUE(isPrefix(listed));
  }
}

TEST(ZipReadLittleEndian, WidthsAndBounds) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
  const ByteReader r(bytes, sizeof bytes);
  struct Case {
    size_t offset;
    int bits;
    uint32_t value;
  } cases[] = {{0, 8, 0x01},       {0, 16, 0x0201}, {0, 24, 0x030201}, {0, 32, 0x04030201}, {1, 24, 0x040302},
               {0, 12, 0},         {0, 64, 0},      {1, 32, 0},        {4, 8, 0},           {SIZE_MAX, 16, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(CZipFile::ReadLittleEndian(r, c.offset, c.bits), c.value) << c.offset << "/" << c.bits;
}

}  // namespace
}  // namespace qm
