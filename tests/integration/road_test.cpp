// The road of a deleted-data recovery over whole disks made by sfdisk and
// sgdisk, read as a raw disk and through the virtual-disk readers: tree,
// partitions, quick scans, scan log, copy-out, each against sleuthkit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "integration/road_fixture.h"
#include "integration/road_walk.h"

namespace qm {
namespace {

using namespace test::road;
namespace fs = std::filesystem;

struct SourceCase {
  const char* disk;    // "mbr" or "gpt"
  const char* format;  // "raw", or a qemu-img output format
};
void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.disk << "/" << c.format; }

// The sector count a FAT or NTFS boot sector gives for its volume.
uint64_t BootSectorTotal(const std::string& disk, uint64_t start) {
  std::ifstream in(disk, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(start * 512));
  uint8_t b[512] = {};
  in.read(reinterpret_cast<char*>(b), 512);
  auto le = [&](int at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
  };
  if (std::memcmp(b + 3, "NTFS", 4) == 0) return le(40, 8);
  return le(19, 2) ? le(19, 2) : le(32, 4);
}

class RoadTest : public RoadFixture<testing::TestWithParam<SourceCase>> {
 protected:
  void TearDown() override {
    SetDeviceReadHook({});
    RoadFixture::TearDown();
  }

  // The road over one source file presented as disk 0; virtual formats are
  // opened as the chooser would and read through their reader.
  DiskRoad Walk(const std::string& source, const std::string& format, const std::string& work) {
    FreshProcessState();
    fs::create_directories(work);
    std::function<void()> registerVirtual;
    if (format != "raw") {
      const std::u16string refusal = ChooseVirtualDisk(source);
      EXPECT_TRUE(refusal.empty()) << Utf16ToUtf8(refusal);
      const uint64_t size = std::stoull(test::Capture("qemu-img info --output=json " + test::ShellQuote(source) +
                                                      " | sed -n 's/.*\"virtual-size\": *\\([0-9]*\\).*/\\1/p'"));
      registerVirtual = [size] { RegisterVirtualDisk(0, size); };
    }
    return WalkVolumes(Present(source, registerVirtual), work, prompt_);
  }
};

TEST_P(RoadTest, EveryVolumeMatchesTheOracleAndTheSourceStaysUnchanged) {
  const SourceCase& c = GetParam();
  QM_REQUIRE_TOOLS("fls", "icat", "mmls", "qemu-img", "sha256sum");
  auto set = test::MakeDisks(dir_, {c.disk});
  QM_REQUIRE_FIXTURE(set);
  const std::string raw = set.path(std::string(c.disk) + ".img");
  std::string source = raw;
  if (std::string(c.format) != "raw") {
    source = set.path(std::string(c.disk) + "." + c.format);
    // The QCOW reader takes versions 1 and 2; qemu-img writes version 3 unless told.
    const std::string options = std::string(c.format) == "qcow2" ? " -o compat=0.10" : "";
    ASSERT_EQ(test::Run("qemu-img convert -f raw -O " + std::string(c.format) + options + " " + test::ShellQuote(raw) +
                        " " + test::ShellQuote(source)),
              0);
  }
  const auto before = Checksums({raw, source});

  const DiskRoad road = Walk(source, c.format, dir_.file("road"));

  // Step 1: one disk, and every partition of the table where mmls has it.
  ASSERT_EQ(road.disks.size(), 1u);
  const std::vector<MmlsRow> mmls = ReadMmls(test::ReadText(set.path(std::string(c.disk) + ".mmls.txt")));
  const std::vector<test::FixturePartition> parts = test::ReadPartitions(set.path(std::string(c.disk) + ".parts.txt"));
  const std::vector<TreePartition>& listed = road.disks[0].partitions;
  ASSERT_EQ(listed.size(), mmls.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(Utf16ToUtf8(listed[i].text));
    EXPECT_EQ(listed[i].text, FormatW("Partition - %zu ( ", i + 1) + listed[i].fileSystem + u" )");
    EXPECT_EQ(listed[i].first, mmls[i].start);
    // A GPT entry's end comes from the volume's boot sector, which may
    // count fewer sectors than the entry holds.
    if (std::string(c.disk) == "gpt")
      EXPECT_EQ(listed[i].end, mmls[i].start + BootSectorTotal(raw, mmls[i].start));
    else
      EXPECT_EQ(listed[i].end, mmls[i].end);
    // The file system the tree names, as the fixture made it. A FAT12 volume
    // in an extended partition is listed as FAT16 by its table type.
    ASSERT_LT(i, parts.size());
    const std::string want = parts[i].fs == "FAT12" ? "FAT16" : parts[i].fs;
    EXPECT_EQ(Utf16ToUtf8(listed[i].fileSystem), want);
  }

  // Steps 2 to 4 for every volume.
  ASSERT_EQ(road.volumes.size(), listed.size());
  for (const VolumeRoad& v : road.volumes) CheckVolumeRoad(v, raw);

  // Step 5: a virtual disk gives exactly what the raw disk gives.
  if (std::string(c.format) != "raw") {
    const DiskRoad plain = Walk(raw, "raw", dir_.file("plain"));
    ASSERT_EQ(plain.volumes.size(), road.volumes.size());
    for (size_t i = 0; i < road.volumes.size(); ++i) {
      SCOPED_TRACE(Utf16ToUtf8(road.volumes[i].part.text));
      EXPECT_EQ(road.volumes[i].entries, plain.volumes[i].entries);
      EXPECT_EQ(road.volumes[i].output, plain.volumes[i].output);
      EXPECT_EQ(road.volumes[i].copy.messages, plain.volumes[i].copy.messages);
    }
  }

  // Nothing the road read was read badly, and nothing was written to a source.
  EXPECT_EQ(road.badSectorDialogs, 0);
  EXPECT_EQ(Checksums({raw, source}), before);
}

INSTANTIATE_TEST_SUITE_P(Disks, RoadTest,
                         testing::Values(SourceCase{"mbr", "raw"}, SourceCase{"gpt", "raw"}, SourceCase{"mbr", "qcow2"},
                                         SourceCase{"mbr", "vhdx"}, SourceCase{"mbr", "vmdk"},
                                         SourceCase{"gpt", "qcow2"}),
                         [](const testing::TestParamInfo<SourceCase>& i) {
                           return std::string(i.param.disk) + "_" + i.param.format;
                         });

}  // namespace
}  // namespace qm
