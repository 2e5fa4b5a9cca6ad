// Every variant qemu-img can make reads byte for byte like qemu-img's own
// raw conversion of the same image.
#include <gtest/gtest.h>

#include "image_maker.h"
#include "vdisk/qcow_reader.h"

namespace qm::test {
namespace {

struct Variant {
  const char* name;
  char kind;
  const char* format;     // qemu's name of the format
  const char* file;       // image file name
  const char* make;       // shell: $B is the base disk, $I the image
  const char* patterns;   // qemu-io commands on the image, ';'-separated
};

// Patterns land across cluster, table and block boundaries and on top of
// the volumes; "write -z" makes zero clusters where the format has them.
const Variant kVariants[] = {
    {"qcow1", 'C', "qcow", "d.qcow", "qemu-img convert -O qcow $B $I", "write -P 0x5a 5M 70k;write -P 0x17 1023k 3k"},
    {"qcow1_fresh_empty", 'C', "qcow", "e.qcow", "qemu-img create -f qcow $I 3M", ""},
    {"qcow2_v2_default_clusters", 'C', "qcow2", "d.qcow2", "qemu-img convert -O qcow2 -o compat=0.10 $B $I",
     "write -P 0x5a 5M 70k;write -P 0x17 63k 2k"},
    {"qcow2_v2_512_clusters", 'C', "qcow2", "s.qcow2",
     "qemu-img convert -O qcow2 -o compat=0.10,cluster_size=512 $B $I", "write -P 0x5a 5M 70k;write -P 0x33 31k 3k"},
    {"qcow2_v2_4k_clusters", 'C', "qcow2", "f.qcow2",
     "qemu-img convert -O qcow2 -o compat=0.10,cluster_size=4096 $B $I", "write -P 0x5a 2044k 9k"},
    {"qcow2_v2_2m_clusters", 'C', "qcow2", "m.qcow2",
     "qemu-img convert -O qcow2 -o compat=0.10,cluster_size=2M $B $I", "write -P 0x5a 2047k 3k"},
    {"qed_with_zero_clusters", 'Q', "qed", "d.qed", "qemu-img convert -O qed $B $I",
     "write -P 0x5a 5M 70k;write -z 1M 128k;write -z 4M 64k"},
    {"vdi_dynamic", 'D', "vdi", "d.vdi", "qemu-img convert -O vdi $B $I", "write -P 0x5a 5M 70k;write -P 1 1023k 2k"},
    {"vdi_static", 'D', "vdi", "s.vdi", "qemu-img convert -O vdi -o static=on $B $I", "write -P 0x5a 5M 70k"},
    {"vhd_dynamic", 'H', "vpc", "d.vhd", "qemu-img convert -O vpc $B $I", "write -P 0x5a 2047k 70k"},
    {"vhd_fixed", 'H', "vpc", "f.vhd", "qemu-img convert -O vpc -o subformat=fixed $B $I", "write -P 0x5a 5M 70k"},
    {"vhdx_dynamic_zero_on", 'X', "vhdx", "d.vhdx", "qemu-img convert -O vhdx -o block_state_zero=on $B $I",
     "write -P 0x5a 1023k 70k"},
    {"vhdx_dynamic_zero_off", 'X', "vhdx", "o.vhdx", "qemu-img convert -O vhdx -o block_state_zero=off $B $I",
     "write -P 0x5a 1023k 70k"},
    {"vhdx_fixed_zero_on", 'X', "vhdx", "f.vhdx",
     "qemu-img create -f vhdx -o subformat=fixed,block_state_zero=on $I 8M && "
     "qemu-img convert -n -O vhdx $B $I",
     "write -P 0x5a 1023k 70k"},
    {"vhdx_fixed_zero_off", 'X', "vhdx", "g.vhdx",
     "qemu-img create -f vhdx -o subformat=fixed,block_state_zero=off $I 8M", "write -P 0x5a 3M 1k"},
    {"vmdk_monolithic_sparse", 'N', "vmdk", "d.vmdk", "qemu-img convert -O vmdk $B $I",
     "write -P 0x5a 5M 70k;write -P 0x17 63k 3k"},
    {"vmdk_zeroed_grains", 'N', "vmdk", "z.vmdk", "qemu-img convert -O vmdk -o zeroed_grain=on $B $I",
     "write -z 1M 256k;write -P 0x5a 4M 3k"},
    {"vmdk_monolithic_flat", 'N', "vmdk", "f.vmdk", "qemu-img convert -O vmdk -o subformat=monolithicFlat $B $I",
     "write -P 0x5a 5M 70k"},
    {"vmdk_split_sparse", 'N', "vmdk", "t.vmdk",
     "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse $B $I", "write -P 0x5a 5M 70k"},
    {"vmdk_split_flat", 'N', "vmdk", "u.vmdk", "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentFlat $B $I",
     "write -P 0x5a 5M 70k"},
    {"parallels_small_blocks", 'E', "parallels", "p.hds",
     "qemu-img convert -O parallels -o cluster_size=512 $B $I", "write -P 0x5a 5M 70k"},
    {"parallels_1m_blocks", 'E', "parallels", "q.hds", "qemu-img convert -O parallels $B $I",
     "write -P 0x5a 5M 70k"},
};

std::string Expand(std::string s, const std::string& base, const std::string& image) {
  for (size_t p; (p = s.find("$B")) != std::string::npos;) s.replace(p, 2, Q(base));
  for (size_t p; (p = s.find("$I")) != std::string::npos;) s.replace(p, 2, Q(image));
  return s;
}

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

class OracleTest : public ::testing::TestWithParam<Variant> {};

TEST_P(OracleTest, EveryByteMatchesQemuRawConversion) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  const Variant& v = GetParam();
  TempDir dir;
  std::string base = MakeBaseDisk(dir);
  std::string image = dir.file(v.file);
  Sh(Expand(v.make, base, image));
  std::string patterns = v.patterns;
  for (size_t from = 0; from < patterns.size();) {
    size_t to = patterns.find(';', from);
    if (to == std::string::npos) to = patterns.size();
    Sh("qemu-io -f " + std::string(v.format) + " -c " + Q(patterns.substr(from, to - from)) + " " + Q(image));
    from = to + 1;
  }
  if (std::string(v.format) == "parallels") {
    // This reader knows the first signature of the format; qemu writes the
    // newer one and reads either, so it stays the oracle after the patch.
    PatchFile(image, 0, "WithoutFreeSpace", 16);
  }
  std::vector<uint8_t> oracle = ReadFileBytes(Oracle(dir, image, v.format));
  ASSERT_FALSE(oracle.empty());

  std::u16string info;
  ASSERT_EQ(ReaderForKind(v.kind).Open(info, image), kVdOpened);
  if (v.kind == 'N') {
    EXPECT_FALSE(info.empty());
  }
  ExpectSameAsOracle(v.kind, oracle);
  {
    // The same through the sector reader's own entry point.
    SectorReaderOnVirtualDisk on(v.kind);
    std::vector<uint8_t> all(oracle.size(), 0xCC);
    for (uint64_t s = 0; s < oracle.size() / 512; s += 520) {
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(520, oracle.size() / 512 - s));
      ASSERT_NE(ReadSectors(SelectedDevicePath(), s, n, all.data() + s * 512), 0) << s;
    }
    EXPECT_TRUE(all == oracle);
  }
  ReaderForKind(v.kind).Close();
  std::vector<uint8_t> buf(512, 0xCC);
  EXPECT_EQ(ReadVirtualSectors(v.kind, 0, 1, buf.data()), 0) << "a closed reader reads nothing";
  EXPECT_EQ(buf[0], 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, OracleTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// Compressed clusters are not decoded: they read as zeros and fail, while
// every cluster stored plainly still reads as qemu reads it.
TEST(QcowCompressed, CompressedClustersFailPlainOnesRead) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  TempDir dir;
  std::string base = MakeBaseDisk(dir);
  std::string image = dir.file("c.qcow2");
  Sh("qemu-img convert -c -O qcow2 -o compat=0.10 " + Q(base) + " " + Q(image));
  // Random data does not compress, so qemu stores these clusters plainly.
  std::string rnd = dir.file("rnd");
  Sh("head -c 131072 /dev/urandom > " + Q(rnd) + " && dd if=" + Q(rnd) + " of=" + Q(base) +
     " bs=64k seek=96 conv=notrunc status=none && qemu-img convert -c -O qcow2 -o compat=0.10 " + Q(base) + " " +
     Q(image));
  std::vector<uint8_t> oracle = ReadFileBytes(Oracle(dir, image, "qcow2"));
  std::u16string info;
  ASSERT_EQ(g_QcowReader.Open(info, image), kVdOpened);
  std::vector<uint8_t> buf(128 * 1024, 0xCC);
  // The random clusters at 6 MiB.
  EXPECT_EQ(ReadVirtualSectors('C', 12288, 256, buf.data()), 1);
  EXPECT_EQ(std::memcmp(buf.data(), oracle.data() + 6 * 1024 * 1024, buf.size()), 0);
  // The boot sector is compressed with the rest of the first cluster.
  std::memset(buf.data(), 0xCC, 512);
  EXPECT_EQ(ReadVirtualSectors('C', 0, 1, buf.data()), 0);
  EXPECT_EQ(std::count(buf.begin(), buf.begin() + 512, 0), 512);
  g_QcowReader.Close();
}

}  // namespace
}  // namespace qm::test
