// Images qemu-img cannot make, built from qemu images with documented
// patches; the expected bytes come from the unpatched images.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "state/app_state.h"
#include "image_maker.h"
#include "vdisk/parallels_reader.h"
#include "vdisk/vdi_reader.h"
#include "vdisk/vhd_reader.h"
#include "vdisk/virtual_path.h"
#include "vdisk/vmdk_reader.h"

namespace qm::test {
namespace {

std::vector<uint8_t> ReadAll(char kind, uint64_t sectors, int* result) {
  std::vector<uint8_t> out(sectors * 512, 0xCC);
  *result = 1;
  for (uint64_t s = 0; s < sectors; s += 100) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(100, sectors - s));
    if (!ReadVirtualSectors(kind, s, n, out.data() + s * 512)) *result = 0;
  }
  return out;
}

// --- VHD differencing chains ---

constexpr uint64_t kBlockSectors = 4096;  // qemu's 2 MiB VHD blocks

// Makes a dynamic VHD a differencing one naming parent: disk type 4 in both
// footer copies and the parent's name in the dynamic header.
void MakeDifferencing(const std::string& vhd, const std::u16string& parent) {
  uint64_t size = std::filesystem::file_size(vhd);
  PatchBe32(vhd, size - 512 + 60, 4);
  PatchBe32(vhd, 60, 4);
  uint64_t dyn = ReadBe(vhd, 16, 8);
  std::vector<uint8_t> name(512, 0);
  for (size_t i = 0; i < parent.size(); ++i) {
    name[2 * i] = uint8_t(parent[i] >> 8);
    name[2 * i + 1] = uint8_t(parent[i]);
  }
  PatchFile(vhd, dyn + 64, name.data(), name.size());
}

// Overwrites the first bytes of block's sector bitmap.
void PatchBitmap(const std::string& vhd, uint64_t block, const std::vector<uint8_t>& bits) {
  uint64_t dyn = ReadBe(vhd, 16, 8);
  uint64_t bat = ReadBe(vhd, dyn + 16, 8);
  uint64_t start = ReadBe(vhd, bat + 4 * block, 4);
  ASSERT_NE(start, 0xFFFFFFFFu) << "block " << block << " is allocated";
  PatchFile(vhd, start * 512, bits.data(), bits.size());
}

class VhdChain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
    g = dir.file("g.vhd");
    p = dir.file("p.vhd");
    c = dir.file("c.vhd");
    for (const std::string& f : {g, p, c}) Sh("qemu-img create -f vpc " + Q(f) + " 8M");
    Sh("qemu-io -f vpc -c 'write -P 0x11 0 8M' " + Q(g));
    Sh("qemu-io -f vpc -c 'write -P 0x22 2M 2M' " + Q(p));
    Sh("qemu-io -f vpc -c 'write -P 0x33 2M 64k' -c 'write -P 0x44 6M 4k' " + Q(c));
    rawG = ReadFileBytes(Oracle(dir, g, "vpc", "g.raw"));
    rawP = ReadFileBytes(Oracle(dir, p, "vpc", "p.raw"));
    rawC = ReadFileBytes(Oracle(dir, c, "vpc", "c.raw"));
    // The parent's name as a Windows path that no longer exists: found by
    // its last component in the child's folder.
    MakeDifferencing(p, u"C:\\gone\\g.vhd");
    MakeDifferencing(c, u"/nowhere/p.vhd");
    // Parent, block 1: odd sectors 0-63 belong to the grandparent.
    PatchBitmap(p, 1, std::vector<uint8_t>(8, 0xAA));
    // Child, block 1: sectors 0-31 belong to the parent.
    PatchBitmap(c, 1, std::vector<uint8_t>(4, 0x00));
  }
  void TearDown() override {
    g_VhdReader.Close();
    g_VhdParentReader.Close();
    g_VhdGrandparentReader.Close();
  }

  std::vector<uint8_t> Expected() const {
    std::vector<uint8_t> out(rawC.size());
    for (uint64_t s = 0; s < rawC.size() / 512; ++s) {
      uint64_t block = s / kBlockSectors, in = s % kBlockSectors;
      bool child = (block == 1 && in >= 32) || block == 3;
      bool parent = block == 1 && !(in < 64 && in % 2 == 1);
      const auto& src = child ? rawC : parent ? rawP : rawG;
      std::memcpy(out.data() + s * 512, src.data() + s * 512, 512);
    }
    return out;
  }

  TempDir dir;
  std::string g, p, c;
  std::vector<uint8_t> rawG, rawP, rawC;
};

TEST_F(VhdChain, ChildParentGrandparentReadAsOneDisk) {
  EXPECT_EQ(ChooseVirtualPath(c), kVdOpened);
  EXPECT_EQ(g_AppState.virtualDiskKind, 'H');
  EXPECT_EQ(CheckVirtualPathChoice(kVdOpened), u"");
  EXPECT_EQ(g_VhdParentReader.diskType(), kVhdDifferencing);
  EXPECT_EQ(g_VhdGrandparentReader.diskType(), kVhdDynamic);
  std::vector<uint8_t> want = Expected();
  // Whole requests across every run of bitmap bits and every block.
  int result = 0;
  std::vector<uint8_t> got = ReadAll('H', want.size() / 512, &result);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(got == want);
  // One sector at a time gives the same.
  std::vector<uint8_t> one(512);
  for (uint64_t s : {0ull, 4096ull, 4097ull, 4127ull, 4128ull, 4160ull, 12288ull}) {
    ASSERT_EQ(ReadVirtualSectors('H', s, 1, one.data()), 1);
    EXPECT_EQ(std::memcmp(one.data(), want.data() + s * 512, 512), 0) << s;
  }
}

// A parent or grandparent that is a FIFO is refused at once as a file that
// cannot be opened; the chooser never waits for a writer.
TEST_F(VhdChain, AFifoInTheChainIsRefusedWithoutWaiting) {
  for (const std::string* fifo : {&p, &g}) {
    SCOPED_TRACE(*fifo);
    const std::string kept = *fifo + ".kept";
    std::filesystem::rename(*fifo, kept);
    ASSERT_EQ(::mkfifo(fifo->c_str(), 0600), 0);
    EXPECT_EQ(ChooseVirtualPath(c), kVdOpened);
    const std::u16string message =
        WithinTenSeconds<std::u16string>([] { return CheckVirtualPathChoice(kVdOpened); }, {*fifo});
    EXPECT_EQ(message, u"Parent virtual file is being shared by some other Application. Please close.");
    g_VhdReader.Close();
    g_VhdParentReader.Close();
    g_VhdGrandparentReader.Close();
    std::filesystem::remove(*fifo);
    std::filesystem::rename(kept, *fifo);
  }
}

TEST_F(VhdChain, MissingGrandparentOpensWithParentOnlyAndItsSectorsFail) {
  std::filesystem::remove(g);
  EXPECT_EQ(ChooseVirtualPath(c), kVdOpened);
  EXPECT_EQ(CheckVirtualPathChoice(kVdOpened), u"");
  EXPECT_EQ(g_VhdGrandparentReader.diskType(), 0u);
  std::vector<uint8_t> buf(512, 0xCC);
  // Block 0 lies only in the grandparent: zeros, and the read says so.
  EXPECT_EQ(ReadVirtualSectors('H', 0, 1, buf.data()), 0);
  EXPECT_EQ(std::count(buf.begin(), buf.end(), 0), 512);
  // Child sectors still read.
  EXPECT_EQ(ReadVirtualSectors('H', 3 * kBlockSectors, 1, buf.data()), 1);
  EXPECT_EQ(buf[0], 0x44);
}

TEST_F(VhdChain, ParentMessagesOfTheChooser) {
  std::filesystem::remove(p);
  EXPECT_EQ(ChooseVirtualPath(c), kVdOpened);
  EXPECT_EQ(CheckVirtualPathChoice(kVdOpened),
            u"Parent virtual file not found. Plz. keep that file in the same child path.");
  // A parent in another format is refused as corrupted.
  std::ofstream(p) << std::string(4096, 'x');
  EXPECT_EQ(CheckVirtualPathChoice(kVdOpened), u"Parent virtual file is highly corrupted. Cannot recover data.");
}

TEST_F(VhdChain, OpeningAnotherImageDropsTheOldChain) {
  ChooseVirtualPath(c);
  ASSERT_EQ(CheckVirtualPathChoice(kVdOpened), u"");
  // The child is chosen again, but OK is not pressed: it must not read
  // through the parents the previous OK opened.
  std::u16string info;
  ASSERT_EQ(g_VhdReader.Open(info, c), kVdOpened);
  EXPECT_EQ(g_VhdParentReader.diskType(), 0u);
  EXPECT_EQ(g_VhdGrandparentReader.diskType(), 0u);
  std::vector<uint8_t> buf(512, 0xCC);
  EXPECT_EQ(ReadVirtualSectors('H', 0, 1, buf.data()), 0);
  EXPECT_EQ(buf[0], 0);
}

TEST(Vhd, DamagedEndFooterFallsBackToTheCopyAtTheStart) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  TempDir dir;
  std::string vhd = dir.file("d.vhd");
  Sh("qemu-img create -f vpc " + Q(vhd) + " 8M && qemu-io -f vpc -c 'write -P 0x5a 1M 9k' " + Q(vhd));
  std::vector<uint8_t> raw = ReadFileBytes(Oracle(dir, vhd, "vpc"));
  PatchFile(vhd, std::filesystem::file_size(vhd) - 512, "XXXXXXXX", 8);
  std::u16string info;
  ASSERT_EQ(g_VhdReader.Open(info, vhd), kVdOpened);
  ExpectSameAsOracle('H', raw, 64, 0);
  g_VhdReader.Close();
}

// --- VDI ---

TEST(Vdi, LongHeaderAndZeroBlocks) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  TempDir dir;
  std::string base = MakeBaseDisk(dir);
  std::string vdi = dir.file("d.vdi");
  Sh("qemu-img convert -O vdi " + Q(base) + " " + Q(vdi));
  // Version 1.1 header of 400 bytes with its geometry; block 1 (the FAT
  // volume's start) marked zero.
  PatchLe32(vdi, 72, 400);
  const uint8_t lchs[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 2, 0, 0};
  PatchFile(vdi, 72 + 384, lchs, sizeof lchs);
  uint32_t offBlocks = static_cast<uint32_t>(__builtin_bswap32(static_cast<uint32_t>(ReadBe(vdi, 72 + 268, 4))));
  PatchLe32(vdi, offBlocks + 4, 0xFFFFFFFE);
  std::vector<uint8_t> raw = ReadFileBytes(Oracle(dir, vdi, "vdi"));
  ASSERT_EQ(std::count(raw.begin() + (1 << 20), raw.begin() + (2 << 20), 0), 1 << 20);
  std::u16string info;
  ASSERT_EQ(g_VdiReader.Open(info, vdi), kVdOpened);
  EXPECT_EQ(std::memcmp(g_VdiReader.header().lchsGeometry, lchs, sizeof lchs), 0);
  ExpectSameAsOracle('D', raw);
  g_VdiReader.Close();
}

TEST(Vdi, VersionsOutsideMajorOne) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  TempDir dir;
  std::string vdi = dir.file("d.vdi");
  Sh("qemu-img create -f vdi " + Q(vdi) + " 4M");
  struct Case {
    uint32_t version;
    int open;
  } cases[] = {{0x00000002, kVdDamaged}, {0x00020000, kVdNotThisFormat}, {0x00010000, kVdOpened}};
  for (const Case& k : cases) {
    PatchLe32(vdi, 68, k.version);
    std::u16string info;
    EXPECT_EQ(g_VdiReader.Open(info, vdi), k.open) << std::hex << k.version;
  }
  g_VdiReader.Close();
}

// --- VMDK descriptors ---

class VmdkDescriptors : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
    base = MakeBaseDisk(dir);
    Sh("qemu-img convert -O vmdk -o subformat=monolithicFlat " + Q(base) + " " + Q(dir.file("f.vmdk")));
    raw = ReadFileBytes(Oracle(dir, dir.file("f.vmdk"), "vmdk"));
    flat = dir.file("f-flat.vmdk");
  }
  void TearDown() override { g_VmdkReader.Close(); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }
  void Split(const std::vector<uint64_t>& mib) {
    uint64_t at = 0;
    for (size_t i = 0; i < mib.size(); ++i) {
      Sh("dd if=" + Q(flat) + " of=" + Q(dir.file("s" + std::to_string(i) + ".vmdk")) + " bs=1M skip=" +
         std::to_string(at) + " count=" + std::to_string(mib[i]) + " status=none");
      at += mib[i];
    }
  }
  TempDir dir;
  std::string base, flat;
  std::vector<uint8_t> raw;
};

TEST_F(VmdkDescriptors, TextVariantsReadTheSameDisk) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<uint64_t> split;  // MiB per extent file
  };
  const Case cases[] = {
      {"crlf_blanks_no_final_newline",
       "# Disk DescriptorFile\r\nversion=1\r\n\r\ncreateType = \"monolithicFlat\"\r\n\r\n"
       "RW   16384  FLAT   \"f-flat.vmdk\"   0\r\n\r\nddb.geometry.heads = \"16\"",
       {}},
      {"vmfs", "# Disk DescriptorFile\ncreateType=\"vmfs\"\nRW 16384 VMFS \"f-flat.vmdk\"\n", {}},
      {"small_equal_split_extents",
       "# Disk DescriptorFile\ncreateType=\"twoGbMaxExtentFlat\"\nRW 4096 FLAT \"s0.vmdk\" 0\n"
       "RW 4096 FLAT \"s1.vmdk\" 0\nRW 4096 FLAT \"s2.vmdk\" 0\nRW 4096 FLAT \"s3.vmdk\" 0\n",
       {2, 2, 2, 2}},
      {"unequal_split_extents",
       "# Disk DescriptorFile\ncreateType=\"twoGbMaxExtentFlat\"\nRW 2048 FLAT \"s0.vmdk\" 0\n"
       "RW 6144 FLAT \"s1.vmdk\" 0\nRW 8192 FLAT \"s2.vmdk\" 0\n",
       {1, 3, 4}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (!k.split.empty()) Split(k.split);
    std::u16string info;
    ASSERT_EQ(g_VmdkReader.Open(info, Write("x.vmdk", k.text)), kVdOpened);
    ExpectSameAsOracle('N', raw, 300, 1);
  }
}

TEST_F(VmdkDescriptors, KeysCountOnlyAtTheFirstCharacter) {
  std::u16string info;
  ASSERT_EQ(g_VmdkReader.Open(info, Write("x.vmdk", "# Disk DescriptorFile\ncreateType=\"monolithicFlat\"\n"
                                                    "  RW 16384 FLAT \"f-flat.vmdk\" 0\n")),
            kVdOpened);
  EXPECT_EQ(info, u"monolithicFlat");
  std::vector<uint8_t> buf(512, 0xCC);
  EXPECT_EQ(ReadVirtualSectors('N', 0, 1, buf.data()), 0) << "no extent: nothing to read";
  EXPECT_EQ(buf[0], 0);
}

// The path of some block device of this machine, or empty.
std::string AnyBlockDevice() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/sys/class/block", ec)) {
    const std::string dev = "/dev/" + e.path().filename().string();
    struct stat st {};
    if (::stat(dev.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return dev;
  }
  return {};
}

// Extents are files of the image: a descriptor that names a disk, a pipe or
// a socket (directly, through a link, by an absolute or a ".." path) is not
// a valid image. Relative names are taken from the descriptor's folder.
TEST_F(VmdkDescriptors, ExtentsMustBeFiles) {
  std::filesystem::create_directories(dir.file("sub/inner"));
  std::filesystem::copy_file(flat, dir.file("sub/f-flat.vmdk"));
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.file("fifo"), dir.file("sub/link-to-fifo"));
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = dir.file("sock");
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string block = AnyBlockDevice();
  struct Case {
    std::string extent;
    int open;
  };
  std::vector<Case> cases = {
      {"/dev/null", kVdDamaged},
      {dir.file("fifo"), kVdDamaged},
      {"../fifo", kVdDamaged},
      {"link-to-fifo", kVdDamaged},
      {sockPath, kVdDamaged},
      {"inner", kVdDamaged},
      {"f-flat.vmdk", kVdOpened},         // beside the descriptor, not the working folder
      {"../f-flat.vmdk", kVdOpened},      // a file outside its folder is still a file
      {dir.file("f-flat.vmdk"), kVdOpened},
  };
  if (!block.empty()) cases.push_back({block, kVdDamaged});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extent);
    std::ofstream(dir.file("sub/x.vmdk"), std::ios::binary)
        << "# Disk DescriptorFile\ncreateType=\"monolithicFlat\"\nRW 16384 FLAT \"" << c.extent << "\" 0\n";
    std::u16string info;
    EXPECT_EQ(g_VmdkReader.Open(info, dir.file("sub/x.vmdk")), c.open);
    if (c.open == kVdOpened) ExpectSameAsOracle('N', raw, 300, 1);
    g_VmdkReader.Close();
  }
  ::close(sock);
}

TEST_F(VmdkDescriptors, BareFilesAndTheirNames) {
  struct Case {
    const char* name;
    int open;
    const char16_t* info;
  } cases[] = {{"disk.vmdk", kVdOpened, u"flat"}, {"disk.img", kVdDamaged, u""}, {"disk", kVdOpened, u"flat"}};
  for (const Case& k : cases) {
    std::string path = dir.file(k.name);
    std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
    std::u16string info;
    EXPECT_EQ(g_VmdkReader.Open(info, path), k.open) << k.name;
    EXPECT_EQ(info, k.info) << k.name;
    if (k.open == kVdOpened) {
      VmdkReader::DiskInfo d;
      g_VmdkReader.GetDiskInfo(d);
      EXPECT_EQ(d.capacity, 16384u);
      ExpectSameAsOracle('N', ReadFileBytes(base), 1000, 0);
    }
  }
}

// --- Parallels ---

class ParallelsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  }
  void TearDown() override { g_ParallelsReader.Close(); }
  // A Parallels image of raw with the signature this reader knows.
  void MakeImage(const std::string& raw, const std::string& image) {
    Sh("qemu-img convert -O parallels -o cluster_size=512 " + Q(raw) + " " + Q(image));
    PatchFile(image, 0, "WithoutFreeSpace", 16);
  }
  TempDir dir;
};

TEST_F(ParallelsFiles, EmptyPlaceholderStandsForTheFoldersDataFile) {
  std::string base = MakeBaseDisk(dir);
  std::filesystem::create_directories(dir.file("a"));
  std::filesystem::create_directories(dir.file("b"));
  std::filesystem::create_directories(dir.file("c"));
  MakeImage(base, dir.file("a/disk.hds"));
  for (const char* f : {"a/disk", "b/disk", "c/disk", "c/empty.hds"}) std::ofstream(dir.file(f)).flush();
  std::u16string info;
  ASSERT_EQ(g_ParallelsReader.Open(info, dir.file("a/disk")), kVdOpened);
  ExpectSameAsOracle('E', ReadFileBytes(base));
  EXPECT_EQ(g_ParallelsReader.Open(info, dir.file("b/disk")), kVdNotThisFormat) << "no data file";
  // The folder's data file is itself empty: refused, not resolved again.
  EXPECT_EQ(g_ParallelsReader.Open(info, dir.file("c/disk")), kVdNotThisFormat);
  EXPECT_EQ(g_ParallelsReader.Open(info, dir.file("c/empty.hds")), kVdNotThisFormat);
}

TEST_F(ParallelsFiles, DiskOneSectorLateIsShiftedForDataFilesOnly) {
  // Sector 0 has no boot signature; sector 1 has one.
  std::string raw = dir.file("late.raw");
  Sh("truncate -s 1M " + Q(raw) + " && printf '\\125\\252' | dd of=" + Q(raw) +
     " bs=1 seek=1022 conv=notrunc status=none && qemu-io -f raw -c 'write -P 7 5k 512' " + Q(raw));
  MakeImage(raw, dir.file("late.hds"));
  std::filesystem::copy_file(dir.file("late.hds"), dir.file("late.img"));
  std::vector<uint8_t> bytes = ReadFileBytes(raw), buf(512);
  std::u16string info;
  ASSERT_EQ(g_ParallelsReader.Open(info, dir.file("late.hds")), kVdOpened);
  ASSERT_EQ(ReadVirtualSectors('E', 0, 1, buf.data()), 1);
  EXPECT_EQ(std::memcmp(buf.data(), bytes.data() + 512, 512), 0) << "sector 0 is the file's sector 1";
  ASSERT_EQ(ReadVirtualSectors('E', 9, 1, buf.data()), 1);
  EXPECT_EQ(buf[0], 7) << "later reads shift too";
  ASSERT_EQ(g_ParallelsReader.Open(info, dir.file("late.img")), kVdOpened);
  ASSERT_EQ(ReadVirtualSectors('E', 0, 1, buf.data()), 1);
  EXPECT_EQ(std::memcmp(buf.data(), bytes.data(), 512), 0) << "not a data file: no shift";
}

}  // namespace
}  // namespace qm::test
