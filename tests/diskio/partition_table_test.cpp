#include "diskio/partition_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "diskio/sector_io.h"
#include "diskio_test_util.h"
#include "platform/byte_reader.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

// --- Sector builders -------------------------------------------------------

Bytes Blank(size_t n = 512) { return Bytes(n, 0); }

void Sign(Bytes& s) {
  s[510] = 0x55;
  s[511] = 0xAA;
}

void PutEntry(Bytes& s, int k, uint8_t type, uint32_t start, uint32_t size) {
  uint8_t* e = s.data() + 446 + 16 * k;
  e[4] = type;
  PutLe32(e + 8, start);
  PutLe32(e + 12, size);
}

void PutText(Bytes& s, size_t off, const char* text) { std::memcpy(s.data() + off, text, std::strlen(text)); }

Bytes Fat16Boot(uint16_t sectors16, uint32_t sectors32) {
  Bytes s = Blank();
  PutText(s, 3, "MSDOS5.0");
  PutLe16(s.data() + 19, sectors16);
  PutLe32(s.data() + 32, sectors32);
  PutText(s, 54, "FAT16   ");
  Sign(s);
  return s;
}

Bytes Fat32Boot(uint32_t sectors) {
  Bytes s = Blank();
  PutText(s, 3, "MSDOS5.0");
  PutLe32(s.data() + 32, sectors);
  PutText(s, 82, "FAT32   ");
  Sign(s);
  return s;
}

Bytes NtfsBoot(uint64_t sectors) {
  Bytes s = Blank();
  PutText(s, 3, "NTFS    ");
  PutLe64(s.data() + 40, sectors);
  Sign(s);
  return s;
}

Bytes GptHeader(uint32_t entryBytes) {
  Bytes s = Blank();
  PutText(s, 0, "EFI PART");
  PutLe32(s.data() + 84, entryBytes);
  return s;
}

// A GPT entry with a made-up type GUID (both halves nonzero).
void PutGptEntry(Bytes& sector, size_t offset, uint64_t start) {
  for (int i = 0; i < 16; ++i) sector[offset + i] = static_cast<uint8_t>(0xA0 + i);
  PutLe64(sector.data() + offset + 32, start);
}

// A sparse disk image assembled sector by sector.
class Image {
 public:
  explicit Image(std::string path, uint32_t bps = 512) : path_(std::move(path)), bps_(bps) {
    test::WriteBytes(path_, 0, {});
  }
  void Put(uint64_t sector, Bytes bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), bps_), 0);
    test::WriteBytes(path_, sector * bps_, bytes);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  uint32_t bps_;
};

struct Found {
  std::u16string name;
  uint32_t first, end;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
  std::string n(f.name.begin(), f.name.end());
  return os << "{" << n << " " << f.first << ".." << f.end << "}";
}

std::vector<Found> Recorded(int disk) {
  const DiskPartitionTable& t = g_DiskPartitionTables[disk];
  std::vector<Found> out;
  for (uint32_t i = 0; i < t.count; ++i) {
    EXPECT_EQ(t.entries[i].index, i);
    out.push_back({t.fileSystemNames[i], t.entries[i].firstSector, t.entries[i].endSector});
  }
  return out;
}

class PartitionTables : public test::ReaderStateTest {
 protected:
  test::TempDir dir_;
};

struct TableCase {
  const char* name;
  std::function<void(Image&)> build;
  int result;
  std::vector<Found> want;
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }

class PartitionTableCases : public PartitionTables, public ::testing::WithParamInterface<TableCase> {};

TEST_P(PartitionTableCases, RecordsWhatTheBootSectorsSay) {
  const TableCase& c = GetParam();
  Image img(dir_.file("disk.img"));
  c.build(img);
  test::DisksScope disks(img.path());
  // A stale table from an earlier run must not survive.
  g_DiskPartitionTables[0].count = 3;
  EXPECT_EQ(EnumerateDiskPartitions(0, 0), c.result);
  EXPECT_EQ(Recorded(0), c.want);
}

Bytes Mbr(std::initializer_list<std::tuple<int, uint8_t, uint32_t, uint32_t>> entries) {
  Bytes s = Blank();
  for (auto [k, type, start, size] : entries) PutEntry(s, k, type, start, size);
  Sign(s);
  return s;
}

// A GPT behind a protective entry; entries is a list of start sectors
// (0 marks an empty entry), packed at entryBytes strides from sector 2.
void BuildGpt(Image& img, uint32_t headerEntryBytes, uint32_t stride, const std::vector<uint64_t>& starts) {
  img.Put(0, Mbr({{0, 0xEE, 1, 0xFFFFFFFF}}));
  img.Put(1, GptHeader(headerEntryBytes));
  Bytes entries(31 * 512, 0);
  for (size_t i = 0; i < starts.size(); ++i)
    if (starts[i]) PutGptEntry(entries, i * stride, starts[i]);
  img.Put(2, entries);
}

std::vector<Found> Fat16s(uint32_t first, uint32_t step, int n, uint32_t size) {
  std::vector<Found> out;
  for (int i = 0; i < n; ++i) out.push_back({u"FAT16", first + step * i, first + step * i + size});
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PartitionTableCases,
    ::testing::Values(
        TableCase{"Fat32VolumeAtSectorZero", [](Image& i) { i.Put(0, Fat32Boot(100000)); }, 1,
                  {{u"FAT32", 0, 100000}}},
        TableCase{"SmallFat16TakesThe16BitCount", [](Image& i) { i.Put(0, Fat16Boot(20000, 0)); }, 1,
                  {{u"FAT16", 0, 20000}}},
        TableCase{"NtfsBeyond32BitSectorsIsPassedOver", [](Image& i) { i.Put(0, NtfsBoot(uint64_t{1} << 33)); }, 1,
                  {}},
        TableCase{"NoBootSignature",
                  [](Image& i) {
                    Bytes s = Mbr({{0, 0x07, 100, 50}});
                    s[511] = 0x00;
                    i.Put(0, s);
                    i.Put(100, NtfsBoot(49));
                  },
                  0, {}},
        TableCase{"NtfsThenEmptyThenFat32",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x07, 100, 50}, {2, 0x0C, 200, 80}}));
                    i.Put(100, NtfsBoot(49));
                  },
                  1, {{u"NTFS", 100, 150}, {u"FAT32", 200, 280}}},
        TableCase{"BootSectorOverridesTheType",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x07, 100, 50}, {1, 0x83, 300, 10}}));
                    i.Put(100, Fat32Boot(50));
                    i.Put(300, Fat16Boot(10, 0));
                  },
                  1, {{u"FAT32", 100, 150}, {u"FAT16", 300, 310}}},
        TableCase{"Type01CountsOnlyInTheExtendedChain",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x01, 100, 50}, {1, 0x05, 1000, 500}}));
                    i.Put(1000, Mbr({{0, 0x01, 10, 20}}));
                  },
                  1, {{u"FAT16", 1010, 1030}}},
        TableCase{"TwoPrimariesAndThreeLogicals",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x07, 100, 50}, {1, 0x0B, 200, 50}, {2, 0x0F, 1000, 9000}}));
                    i.Put(1000, Mbr({{0, 0x07, 63, 100}, {1, 0x05, 200, 300}}));
                    i.Put(1200, Mbr({{0, 0x07, 63, 100}, {1, 0x05, 400, 300}}));
                    i.Put(1400, Mbr({{0, 0x07, 63, 100}}));
                  },
                  1,
                  {{u"NTFS", 100, 150}, {u"FAT32", 200, 250}, {u"NTFS", 1063, 1163}, {u"NTFS", 1263, 1363},
                   {u"NTFS", 1463, 1563}}},
        TableCase{"CyclicExtendedChainEnds",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x05, 1000, 9000}}));
                    i.Put(1000, Mbr({{0, 0x07, 63, 100}, {1, 0x05, 200, 300}}));
                    i.Put(1200, Mbr({{0, 0x06, 63, 100}, {1, 0x05, 0, 300}}));
                  },
                  1, {{u"NTFS", 1063, 1163}, {u"FAT16", 1263, 1363}}},
        TableCase{"SelfLinkedRecordEnds",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x05, 1000, 9000}}));
                    i.Put(1000, Mbr({{0, 0x07, 63, 100}, {1, 0x0F, 0, 300}}));
                  },
                  1, {{u"NTFS", 1063, 1163}}},
        TableCase{"ThirtyLogicalsStopAtTheTablesRoom",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x05, 1000, 90000}}));
                    for (uint32_t k = 0; k < 30; ++k)
                      i.Put(1000 + 100 * k, Mbr({{0, 0x06, 10, 50}, {1, 0x05, 100 * (k + 1), 100}}));
                  },
                  1, Fat16s(1010, 100, 26, 50)},
        TableCase{"EndBeyond32BitsTakesNoPosition",
                  [](Image& i) {
                    i.Put(0, Mbr({{0, 0x07, 0xFFFFFF00u, 0x200}, {1, 0x07, 100, 50}}));
                    i.Put(100, NtfsBoot(49));
                  },
                  1, {{u"NTFS", 100, 150}}},
        TableCase{"GptWalkSkipsUnknownAndEndsAtEmpty",
                  [](Image& i) {
                    BuildGpt(i, 128, 128, {40, 200, 300, 0, 400});
                    i.Put(40, Fat32Boot(64));
                    i.Put(300, NtfsBoot(99));
                    i.Put(400, Fat16Boot(8, 0));
                  },
                  1, {{u"FAT32", 40, 104}, {u"NTFS", 300, 399}}},
        TableCase{"GptStartBeyond32BitsIsPassedOver",
                  [](Image& i) {
                    BuildGpt(i, 128, 128, {uint64_t{1} << 33, 300});
                    i.Put(300, NtfsBoot(99));
                  },
                  1, {{u"NTFS", 300, 399}}},
        TableCase{"GptEntrySizeZeroReadsAs128",
                  [](Image& i) {
                    BuildGpt(i, 0, 128, {40, 50});
                    i.Put(40, Fat16Boot(8, 0));
                    i.Put(50, Fat16Boot(8, 0));
                  },
                  1, {{u"FAT16", 40, 48}, {u"FAT16", 50, 58}}},
        TableCase{"GptEntrySizeLargerThanTheSectorReadsAs128",
                  [](Image& i) {
                    BuildGpt(i, 4096, 128, {40, 50});
                    i.Put(40, Fat16Boot(8, 0));
                    i.Put(50, Fat16Boot(8, 0));
                  },
                  1, {{u"FAT16", 40, 48}, {u"FAT16", 50, 58}}},
        TableCase{"GptEntrySize256",
                  [](Image& i) {
                    BuildGpt(i, 256, 256, {40, 50, 60});
                    i.Put(40, Fat16Boot(8, 0));
                    i.Put(50, Fat16Boot(8, 0));
                    i.Put(60, Fat16Boot(8, 0));
                  },
                  1, {{u"FAT16", 40, 48}, {u"FAT16", 50, 58}, {u"FAT16", 60, 68}}},
        TableCase{"FortyGptPartitionsStopAtTheTablesRoom",
                  [](Image& i) {
                    std::vector<uint64_t> starts;
                    for (uint32_t k = 0; k < 40; ++k) {
                      starts.push_back(100 + 10 * k);
                      i.Put(100 + 10 * k, Fat16Boot(8, 0));
                    }
                    BuildGpt(i, 128, 128, starts);
                  },
                  1, Fat16s(100, 10, 26, 8)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PartitionTables, GptEntriesFillTheWholeOfLargeSectors) {
  g_BytesPerSector = 4096;
  Image img(dir_.file("disk4k.img"), 4096);
  img.Put(0, Mbr({{0, 0xEE, 1, 0xFFFFFFFF}}));
  img.Put(1, GptHeader(128));
  Bytes entries(4096, 0);
  for (uint32_t k = 0; k < 10; ++k) {
    PutGptEntry(entries, 128 * k, 100 + k);
    img.Put(100 + k, Fat16Boot(8, 0));
  }
  img.Put(2, entries);
  test::DisksScope disks(img.path());
  EXPECT_EQ(EnumerateDiskPartitions(0, 0), 1);
  EXPECT_EQ(Recorded(0), Fat16s(100, 1, 10, 8));
}

TEST_F(PartitionTables, ItemsAreNamedAndKeptWhenNotInserting) {
  Image img(dir_.file("disk.img"));
  img.Put(0, Mbr({{0, 0x07, 100, 50}, {2, 0x0C, 200, 80}}));
  img.Put(100, NtfsBoot(49));
  test::DisksScope disks(dir_.file("other.img") + ":" + dir_.file("other.img") + ":" + dir_.file("other.img") + ":" +
                         img.path());
  std::vector<std::u16string> texts;
  uint32_t nextItem = 100;
  auto insert = [&](int position, std::u16string_view text) {
    EXPECT_EQ(position, static_cast<int>(texts.size()));
    texts.emplace_back(text);
    return ++nextItem;
  };
  ASSERT_EQ(EnumerateDiskPartitions(3, 0, insert), 1);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"Partition - 1 ( NTFS )", u"Partition - 2 ( FAT32 )"}));
  EXPECT_EQ(EnumerateDiskPartitions(3, 0), 1);
  EXPECT_EQ(g_DiskPartitionTables[3].entries[0].treeItem, 101u);
  EXPECT_EQ(g_DiskPartitionTables[3].entries[1].treeItem, 102u);

  // Afresh: a disk that now holds one partition lists one.
  img.Put(0, Mbr({{0, 0x07, 100, 50}}));
  EXPECT_EQ(EnumerateDiskPartitions(3, 0), 1);
  EXPECT_EQ(Recorded(3), (std::vector<Found>{{u"NTFS", 100, 150}}));
  EXPECT_TRUE(g_DiskPartitionTables[3].fileSystemNames[1].empty());
  EXPECT_EQ(EnumerateDiskPartitions(26, 0), 0);
  EXPECT_EQ(EnumerateDiskPartitions(12, 0), 0);  // an image number with no image open
}

// --- Tables and file systems made by the real tools -------------------------

struct MmlsRow {
  uint64_t start, length;
};

// The partitions mmls lists (not its meta and unallocated rows).
std::vector<MmlsRow> Mmls(const std::string& image) {
  std::istringstream in(test::Capture("mmls " + image + " 2>/dev/null"));
  std::vector<MmlsRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string index, slot;
    uint64_t start = 0, end = 0, length = 0;
    if (!(ls >> index >> slot >> start >> end >> length)) continue;
    if (slot == "Meta" || slot.find("---") != std::string::npos) continue;
    rows.push_back({start, length});
  }
  return rows;
}

class ToolTables : public PartitionTables {
 protected:
  void SetUp() override {
    PartitionTables::SetUp();
    test::AddSbinToPath();
    QM_REQUIRE_TOOLS("sfdisk", "sgdisk", "mkfs.fat", "mkntfs", "mmls");
  }
  // Formats a partition of the image through a scratch file of its size.
  void Format(const std::string& image, const std::string& mkfs, uint64_t start, uint64_t sectors) {
    const std::string part = dir_.file("part.img");
    std::filesystem::remove(part);
    test::WriteBytes(part, 0, {});
    std::filesystem::resize_file(part, sectors * 512);
    ASSERT_EQ(test::Run(mkfs + " " + part + " >/dev/null 2>&1"), 0) << mkfs;
    ASSERT_EQ(test::Run("dd if=" + part + " of=" + image + " bs=512 seek=" + std::to_string(start) +
                        " conv=notrunc status=none"),
              0);
  }
  static std::string Fat(int bits) { return "mkfs.fat -F " + std::to_string(bits) + " -S 512 -s 1"; }
  static std::string Ntfs(uint64_t start) {
    return "mkntfs -F -Q -q -s 512 -H 255 -S 63 -p " + std::to_string(start);
  }
};

TEST_F(ToolTables, MbrWithExtendedPartitionMatchesMmls) {
  const std::string image = dir_.file("mbr.img");
  test::WriteBytes(image, 0, {});
  std::filesystem::resize_file(image, 80u << 20);
  ASSERT_EQ(test::Run("printf 'label: dos\\n"
                      "start=2048, size=34816, type=c\\n"
                      "start=36864, size=16384, type=7\\n"
                      "start=53248, size=110592, type=5\\n"
                      "start=55296, size=8192, type=6\\n"
                      "start=65536, size=16384, type=7\\n"
                      "start=83968, size=75776, type=b\\n' | sfdisk -q " +
                      image + " >/dev/null 2>&1"),
            0);
  Format(image, Fat(32), 2048, 34816);
  Format(image, Ntfs(36864), 36864, 16384);
  Format(image, Fat(16), 55296, 8192);
  Format(image, Ntfs(65536), 65536, 16384);
  Format(image, Fat(32), 83968, 75776);

  test::DisksScope disks(image);
  ASSERT_EQ(EnumerateDiskPartitions(0, 0), 1);
  const auto found = Recorded(0);
  const auto rows = Mmls(image);
  ASSERT_EQ(rows.size(), 5u);
  ASSERT_EQ(found.size(), rows.size());
  const char16_t* names[] = {u"FAT32", u"NTFS", u"FAT16", u"NTFS", u"FAT32"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(found[i].name, names[i]) << i;
    EXPECT_EQ(found[i].first, rows[i].start) << i;
    EXPECT_EQ(found[i].end, rows[i].start + rows[i].length) << i;
  }
}

TEST_F(ToolTables, GptMatchesMmlsAndTheBootSectors) {
  const std::string image = dir_.file("gpt.img");
  test::WriteBytes(image, 0, {});
  std::filesystem::resize_file(image, 64u << 20);
  ASSERT_EQ(test::Run("sgdisk -n 1:2048:+17M -t 1:ef00 -n 2:0:+4M -t 2:8300 -n 3:0:+8M -t 3:0700 " + image +
                      " >/dev/null 2>&1"),
            0);
  const auto rows = Mmls(image);
  ASSERT_EQ(rows.size(), 3u);
  Format(image, Fat(32), rows[0].start, rows[0].length);  // small: mkfs.fat keeps the count in 16 bits
  Format(image, Ntfs(rows[2].start), rows[2].start, rows[2].length);

  test::DisksScope disks(image);
  ASSERT_EQ(EnumerateDiskPartitions(0, 0), 1);
  // The unformatted partition between them is passed over; the ends come from
  // the boot sectors (NTFS keeps its last sector for the backup boot sector).
  EXPECT_EQ(Recorded(0), (std::vector<Found>{
                             {u"FAT32", static_cast<uint32_t>(rows[0].start),
                              static_cast<uint32_t>(rows[0].start + rows[0].length)},
                             {u"NTFS", static_cast<uint32_t>(rows[2].start),
                              static_cast<uint32_t>(rows[2].start + rows[2].length - 1)},
                         }));
}

TEST_F(ToolTables, Fat32FormattedWithoutATable) {
  const std::string image = dir_.file("whole.img");
  test::WriteBytes(image, 0, {});
  std::filesystem::resize_file(image, 300u << 20);
  ASSERT_EQ(test::Run(Fat(32) + " " + image + " >/dev/null 2>&1"), 0);
  uint8_t boot[512] = {};
  File f;
  ASSERT_TRUE(f.open(image, File::Mode::Read));
  ASSERT_EQ(f.readAt(boot, 512, 0), 512);
  const uint32_t total = ByteReader(boot, 512).u32(32);
  ASSERT_GT(total, 65535u);
  test::DisksScope disks(image);
  ASSERT_EQ(EnumerateDiskPartitions(0, 0), 1);
  EXPECT_EQ(Recorded(0), (std::vector<Found>{{u"FAT32", 0, total}}));
}

}  // namespace
}  // namespace qm
