#include "engines/partition_geometry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/device_map.h"
#include "platform/file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;


// Every member set to a value no reading produces, to see what was written.
PartitionGeometry Sentinel() {
  PartitionGeometry g;
  int32_t* m = &g.sectorsPerMftRecord;
  for (int i = 0; i < 12; ++i) m[i] = 777;
  return g;
}

std::vector<int32_t> Members(const PartitionGeometry& g) {
  const int32_t* m = &g.sectorsPerMftRecord;
  return std::vector<int32_t>(m, m + 12);
}

// What fsstat says about a volume: "name: a - b" ranges and "name: n" values.
struct FsStat {
  std::map<std::string, std::pair<int64_t, int64_t>> ranges;
  std::map<std::string, int64_t> values;

  static FsStat Of(const std::string& image, uint64_t offset, uint32_t bps) {
    FsStat s;
    std::string cmd = "fsstat -o " + std::to_string(offset) + (bps != 512 ? " -b " + std::to_string(bps) : "") +
                      " '" + image + "'";
    std::istringstream in(Capture(cmd));
    const std::regex range(R"(^\**\s*([A-Za-z0-9 ]+): (\d+) - (\d+)$)");
    const std::regex value(R"(^([A-Za-z ]+): (\d+)( bytes)?$)");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
      if (std::regex_match(line, m, range))
        s.ranges.emplace(m[1], std::make_pair(std::stoll(m[2]), std::stoll(m[3])));
      else if (std::regex_match(line, m, value))
        s.values.emplace(m[1], std::stoll(m[2]));
    }
    return s;
  }
  int64_t start(const std::string& k) const { return ranges.at(k).first; }
  int64_t length(const std::string& k) const { return ranges.at(k).second - ranges.at(k).first + 1; }
};

class PartitionGeometryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_TOOLS("mkfs.fat", "mkntfs", "fsstat");
    ResetAppState();
  }
  void TearDown() override {
    ResetAppState();
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
  }

  // Presents image as disk 0 and selects the volume at [first, end).
  void Select(const std::string& image, const char16_t* fs, uint64_t first, uint64_t end, uint32_t bps = 512) {
    ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
    DeviceMap::Instance().Refresh();
    g_SelectedDiskIndex = 0;
    g_SelectedFileSystem = fs;
    g_RangeFirstSector = first;
    g_RangeEndSector = end;
    g_BytesPerSector = static_cast<int32_t>(bps);
    g_PartitionGeometry = Sentinel();
  }

  static uint64_t SizeOf(const std::string& path) {
    File f;
    return f.open(path, File::Mode::Read) ? static_cast<uint64_t>(f.size()) : 0;
  }
  static void Zero(const std::string& path, uint64_t sector, uint32_t bps = 512) {
    std::vector<uint8_t> z(bps, 0);
    File f;
    ASSERT_TRUE(f.open(path, File::Mode::ReadWrite));
    ASSERT_EQ(f.writeAt(z.data(), bps, sector * bps), bps);
  }
  static void Poke(const std::string& path, uint64_t byte, std::vector<uint8_t> bytes) {
    File f;
    ASSERT_TRUE(f.open(path, File::Mode::ReadWrite));
    ASSERT_EQ(f.writeAt(bytes.data(), bytes.size(), byte), static_cast<int64_t>(bytes.size()));
  }

  std::string MakeFat(const std::string& name, const std::string& size, const std::string& args, uint64_t offset) {
    std::string img = dir_.file(name);
    EXPECT_EQ(test::Run("truncate -s " + size + " '" + img + "' && mkfs.fat " + args +
                  (offset ? " --offset " + std::to_string(offset) : "") + " '" + img + "' >/dev/null 2>&1"),
              0)
        << args;
    return img;
  }
  // mkntfs writes at the start of its file; a volume further in is copied there.
  std::string MakeNtfs(const std::string& name, uint32_t cluster, uint64_t offsetSectors) {
    std::string vol = dir_.file(name + ".vol");
    EXPECT_EQ(test::Run("truncate -s 48M '" + vol + "' && mkntfs -F -Q -q -s 512 -c " + std::to_string(cluster) + " '" +
                  vol + "' >/dev/null 2>&1"),
              0);
    if (offsetSectors == 0) return vol;
    std::string img = dir_.file(name);
    EXPECT_EQ(test::Run("dd if='" + vol + "' of='" + img + "' bs=512 seek=" + std::to_string(offsetSectors) +
                  " conv=sparse status=none"),
              0);
    return img;
  }

  // The FAT geometry that fsstat's layout implies.
  static std::vector<int32_t> ExpectedFat(const FsStat& s, uint64_t first, bool fat32) {
    const int64_t spc = s.values.at("Cluster Size") / s.values.at("Sector Size");
    PartitionGeometry g = Sentinel();
    g.sectorsPerCluster = static_cast<int32_t>(spc);
    g.sectorsPerFat = static_cast<int32_t>(s.length("FAT 0"));
    g.reservedSectors = static_cast<int32_t>(s.length("Reserved"));
    g.fat1Sector = static_cast<int32_t>(first + s.start("FAT 0"));
    g.fat2Sector = static_cast<int32_t>(first + s.start("FAT 1"));
    g.clusterZeroSector = static_cast<int32_t>(first + s.start("Cluster Area") - 2 * spc);
    if (fat32) {
      g.rootLocation = static_cast<int32_t>((s.start("Root Directory") - s.start("Cluster Area")) / spc + 2);
      g.rootDirSectors = 0;
    } else {
      g.rootLocation = static_cast<int32_t>(first + s.start("Root Directory"));
      g.rootDirSectors = static_cast<int32_t>(s.length("Root Directory"));
    }
    return Members(g);
  }

  static std::vector<int32_t> ExpectedNtfs(const FsStat& s, uint64_t first, int32_t mft = -1) {
    const int64_t bps = s.values.at("Sector Size");
    const int64_t spc = s.values.at("Cluster Size") / bps;
    PartitionGeometry g = Sentinel();
    g.sectorsPerCluster = static_cast<int32_t>(spc);
    g.clusterZeroSector = static_cast<int32_t>(first);
    g.mftSector = mft >= 0 ? mft : static_cast<int32_t>(first + spc * s.values.at("First Cluster of MFT"));
    g.mftMirrorSector = static_cast<int32_t>(first + spc * s.values.at("First Cluster of MFT Mirror"));
    g.sectorsPerMftRecord = static_cast<int32_t>(s.values.at("Size of MFT Entries") / bps);
    g.sectorsPerIndexBlock = static_cast<int32_t>(s.values.at("Size of Index Records") / bps);
    return Members(g);
  }

  test::TempDir dir_;
};

TEST_F(PartitionGeometryTest, FatVolumesMatchFsstat) {
  const struct {
    const char* args;
    const char* size;
    uint64_t offset;
    uint32_t bps;
    const char16_t* fs;
  } cases[] = {
      // FAT12 has the FAT16 layout; read under that name.
      {"-F 12 -s 2 -R 1 -r 224", "4M", 0, 512, u"FAT16"},
      {"-F 16 -s 4 -R 3 -r 512", "20M", 0, 512, u"FAT16"},
      {"-F 16 -s 1 -R 8 -r 64", "16M", 2048, 512, u"FAT16"},
      {"-F 16 -s 64 -r 1024 -f 3", "300M", 0, 512, u"FAT16"},
      {"-F 16 -S 4096 -s 1 -r 512", "64M", 0, 4096, u"FAT16"},
      {"-F 32 -s 1 -R 32", "40M", 0, 512, u"FAT32"},
      {"-F 32 -s 8 -R 16", "300M", 2048, 512, u"FAT32"},
      {"-F 32 -s 2 -R 12 -f 3", "80M", 63, 512, u"FAT32"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string img = MakeFat("fat" + std::to_string(n++) + ".img", c.size, c.args, c.offset);
    FsStat s = FsStat::Of(img, c.offset, c.bps);
    ASSERT_TRUE(s.ranges.count("FAT 1")) << "fsstat gave no layout";
    Select(img, c.fs, c.offset, SizeOf(img) / c.bps, c.bps);
    ASSERT_EQ(ReadPartitionGeometry(), 1);
    EXPECT_EQ(Members(g_PartitionGeometry), ExpectedFat(s, c.offset, c.fs[3] == u'3'));
  }
}

TEST_F(PartitionGeometryTest, NtfsVolumesMatchFsstat) {
  for (uint32_t cluster : {512u, 1024u, 2048u, 4096u}) {
    for (uint64_t offset : {uint64_t{0}, uint64_t{2048}}) {
      SCOPED_TRACE("cluster " + std::to_string(cluster) + " offset " + std::to_string(offset));
      std::string img = MakeNtfs("ntfs" + std::to_string(cluster) + "_" + std::to_string(offset), cluster, offset);
      FsStat s = FsStat::Of(img, offset, 512);
      ASSERT_TRUE(s.values.count("First Cluster of MFT")) << "fsstat gave no MFT";
      // The range ends after the volume: its boot-sector copy is the sector before.
      Select(img, u"NTFS", offset, SizeOf(img) / 512);
      ASSERT_EQ(ReadPartitionGeometry(), 1);
      EXPECT_EQ(Members(g_PartitionGeometry), ExpectedNtfs(s, offset));
    }
  }
}

TEST_F(PartitionGeometryTest, DamagedVolumes) {
  const std::string fat32 = MakeFat("f32.img", "40M", "-F 32 -s 1 -R 32", 0);
  const std::string fat16 = MakeFat("f16.img", "20M", "-F 16 -s 4 -r 512", 0);
  const std::string ntfs = MakeNtfs("nt", 2048, 0);
  const FsStat s32 = FsStat::Of(fat32, 0, 512);
  const FsStat s16 = FsStat::Of(fat16, 0, 512);
  const FsStat snt = FsStat::Of(ntfs, 0, 512);
  const int64_t mft = snt.values.at("First Cluster of MFT") * 4;
  const int64_t mirror = snt.values.at("First Cluster of MFT Mirror") * 4;
  const std::vector<int32_t> unchanged = Members(Sentinel());
  const std::vector<int32_t> cleared(12, 0);

  struct Case {
    const char* title;
    std::string image;
    const char16_t* fs;
    std::function<void(const std::string&)> damage;
    int result;
    std::vector<int32_t> expected;
  };
  const std::vector<Case> cases = {
      {"FAT32 zeroed boot sector: the copy at +6", fat32, u"FAT32", [](auto& p) { Zero(p, 0); }, 1,
       ExpectedFat(s32, 0, true)},
      {"FAT32 boot sector with a wrong FAT size: the copy at +6", fat32, u"FAT32",
       [](auto& p) { Poke(p, 36, {0x01, 0x00, 0x00, 0x00}); }, 1, ExpectedFat(s32, 0, true)},
      {"FAT32 without a second FAT", MakeFat("f32one.img", "40M", "-F 32 -f 1", 0), u"FAT32", nullptr, 0,
       unchanged},
      {"FAT16 without a boot signature clears the geometry", fat16, u"FAT16", [](auto& p) { Zero(p, 0); }, 0,
       cleared},
      {"FAT16 with 3 sectors per cluster", fat16, u"FAT16", [](auto& p) { Poke(p, 13, {3}); }, 0, unchanged},
      {"FAT16 with no reserved sector", fat16, u"FAT16", [](auto& p) { Poke(p, 14, {0, 0}); }, 0, unchanged},
      {"FAT16 with one FAT", MakeFat("f16one.img", "20M", "-F 16 -f 1", 0), u"FAT16", nullptr, 0, unchanged},
      {"FAT16 whose second FAT is not for a fixed disk", fat16, u"FAT16",
       [&](auto& p) { Poke(p, uint64_t(s16.start("FAT 1")) * 512, {0xF0}); }, 0, unchanged},
      {"FAT12 is not read", MakeFat("f12.img", "4M", "-F 12", 0), u"FAT12", nullptr, 0, unchanged},
      {"unknown name", fat16, u"EXT4", nullptr, 0, unchanged},
      {"NTFS zeroed boot sector: the copy at the end", ntfs, u"NTFS", [](auto& p) { Zero(p, 0); }, 1,
       ExpectedNtfs(snt, 0)},
      {"NTFS bad cluster size in the boot sector: the copy", ntfs, u"NTFS", [](auto& p) { Poke(p, 13, {3}); }, 1,
       ExpectedNtfs(snt, 0)},
      {"NTFS with 4096-byte MFT records", ntfs, u"NTFS",
       [](auto& p) {
         Poke(p, 64, {0xF4});
         Poke(p, (SizeOf(p) / 512 - 1) * 512 + 64, {0xF4});
       },
       0, unchanged},
      {"NTFS with a damaged $MFT: the mirror still serves", ntfs, u"NTFS",
       [&](auto& p) { Zero(p, uint64_t(mft)); }, 1, ExpectedNtfs(snt, 0, 0)},
      {"NTFS with $MFT and $MFTMirr damaged", ntfs, u"NTFS",
       [&](auto& p) {
         Zero(p, uint64_t(mft));
         Zero(p, uint64_t(mirror));
       },
       0, unchanged},
      {"NTFS with both boot sectors zeroed", ntfs, u"NTFS",
       [](auto& p) {
         Zero(p, 0);
         Zero(p, SizeOf(p) / 512 - 1);
       },
       0, unchanged},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    std::string img = dir_.file("case" + std::to_string(n++) + ".img");
    ASSERT_EQ(test::Run("cp --sparse=always '" + c.image + "' '" + img + "'"), 0);
    if (c.damage) c.damage(img);
    Select(img, c.fs, 0, SizeOf(img) / 512);
    EXPECT_EQ(ReadPartitionGeometry(), c.result);
    EXPECT_EQ(Members(g_PartitionGeometry), c.expected);
  }
}

// Sector numbers are held as unsigned 32-bit values: a volume past sector
// 2^31 is read (its members hold the low 32 bits), one past 2^32 is refused.
TEST_F(PartitionGeometryTest, VolumesPastSector2To31AreRead) {
  const std::string f16 = MakeFat("f16.img", "20M", "-F 16 -s 4 -r 512", 0);
  const std::string f32 = MakeFat("f32.img", "40M", "-F 32 -s 1", 0);
  const std::string ntfs = MakeNtfs("ntfs", 4096, 0);
  const struct {
    const std::string& small;
    const char16_t* fs;
  } cases[] = {{f16, u"FAT16"}, {f32, u"FAT32"}, {ntfs, u"NTFS"}};
  const uint64_t first = (1ULL << 31) + 8;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.small));
    const FsStat s = FsStat::Of(c.small, 0, 512);
    const std::string img = dir_.file("far" + std::to_string(n++) + ".img");
    ASSERT_EQ(test::Run("dd if='" + c.small + "' of='" + img + "' bs=512 seek=" + std::to_string(first) +
                        " conv=sparse status=none"),
              0);
    test::ScriptedPrompt prompt;
    test::PromptScope scope(&prompt);
    Select(img, c.fs, first, SizeOf(img) / 512);
    ASSERT_EQ(ReadPartitionGeometry(), 1);
    EXPECT_EQ(Members(g_PartitionGeometry),
              std::u16string_view(c.fs) == u"NTFS" ? ExpectedNtfs(s, first) : ExpectedFat(s, first, c.fs[3] == u'3'));
    EXPECT_TRUE(prompt.messages.empty());
  }
}

TEST_F(PartitionGeometryTest, VolumesPastSector2To32AreRefused) {
  const std::string small = MakeFat("f16.img", "20M", "-F 16 -s 4 -r 512", 0);
  const uint64_t first = (1ULL << 32) + 8;  // FAT sectors past the unsigned 32-bit range
  const std::string img = dir_.file("far.img");
  ASSERT_EQ(test::Run("dd if='" + small + "' of='" + img + "' bs=512 seek=" + std::to_string(first) +
                " conv=sparse status=none"),
            0);
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  Select(img, u"FAT16", first, SizeOf(img) / 512);
  EXPECT_EQ(ReadPartitionGeometry(), 0);
  EXPECT_EQ(Members(g_PartitionGeometry), Members(Sentinel()));
  EXPECT_EQ(prompt.messages.size(), 1u);
}

}  // namespace
}  // namespace qm
