// Large sparse images: every region that holds data in qemu's raw
// conversion, and a sample of the holes, read the same through our readers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "image_maker.h"

namespace qm::test {
namespace {

struct Large {
  const char* name;
  char kind;
  const char* format;
  const char* file;
  const char* create;  // $I is the image
  const char* size;
};

// Patterns at the start, across the 2 GiB and 4 GiB marks, inside a block
// past the first chunk of the VHDX BAT (block 16 of 256 MiB blocks), and at
// the very end.
const char* const kLargePatterns[] = {"write -P 0x11 0 70k", "write -P 0x22 2047m 2m", "write -P 0x33 4095m 3m",
                                      "write -P 0x44 5119m 1m"};

const Large kLarge[] = {
    {"vhdx_dynamic_256m_blocks", 'X', "vhdx", "d.vhdx", "qemu-img create -f vhdx -o block_size=256M $I 5G", "5G"},
    {"vhdx_fixed_256m_blocks_zero_on", 'X', "vhdx", "f.vhdx",
     "qemu-img create -f vhdx -o subformat=fixed,block_size=256M,block_state_zero=on $I 5G", "5G"},
    {"vhdx_fixed_256m_blocks_zero_off", 'X', "vhdx", "g.vhdx",
     "qemu-img create -f vhdx -o subformat=fixed,block_size=256M,block_state_zero=off $I 5G", "5G"},
    {"vmdk_split_sparse_5g", 'N', "vmdk", "t.vmdk", "qemu-img create -f vmdk -o subformat=twoGbMaxExtentSparse $I 5G",
     "5G"},
    {"vmdk_split_flat_5g", 'N', "vmdk", "u.vmdk", "qemu-img create -f vmdk -o subformat=twoGbMaxExtentFlat $I 5G",
     "5G"},
};

void PrintTo(const Large& v, std::ostream* os) { *os << v.name; }

class LargeImageTest : public ::testing::TestWithParam<Large> {};

void Compare(char kind, int oracleFd, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> want(1 << 20), got(1 << 20);
  for (uint64_t done = 0; done < length;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(want.size(), length - done));
    ASSERT_EQ(::pread(oracleFd, want.data(), n, static_cast<off_t>(offset + done)), static_cast<ssize_t>(n));
    std::memset(got.data(), 0xCC, n);
    ASSERT_EQ(ReadVirtualSectors(kind, (offset + done) / 512, static_cast<uint32_t>(n / 512), got.data()), 1)
        << "offset " << offset + done;
    ASSERT_EQ(std::memcmp(want.data(), got.data(), n), 0) << "offset " << offset + done;
    done += n;
  }
}

TEST_P(LargeImageTest, DataRegionsAndSampledHolesMatchQemu) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  const Large& v = GetParam();
  TempDir dir;
  std::string image = dir.file(v.file);
  std::string create = v.create;
  create.replace(create.find("$I"), 2, Q(image));
  Sh(create);
  for (const char* p : kLargePatterns) Sh("qemu-io -f " + std::string(v.format) + " -c " + Q(p) + " " + Q(image));
  std::string oracle = Oracle(dir, image, v.format);

  std::u16string info;
  ASSERT_EQ(ReaderForKind(v.kind).Open(info, image), kVdOpened);
  int fd = ::open(oracle.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const uint64_t size = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
  EXPECT_EQ(size, 5ull << 30);
  // Every data region of the oracle, rounded out to whole MiB.
  uint64_t dataBytes = 0;
  for (off_t pos = 0;;) {
    off_t data = ::lseek(fd, pos, SEEK_DATA);
    if (data < 0) break;
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    uint64_t from = static_cast<uint64_t>(data) & ~uint64_t{0xFFFFF};
    uint64_t to = std::min<uint64_t>(size, (static_cast<uint64_t>(hole) + 0xFFFFF) & ~uint64_t{0xFFFFF});
    Compare(v.kind, fd, from, to - from);
    dataBytes += to - from;
    pos = static_cast<off_t>(to);
    if (pos >= static_cast<off_t>(size)) break;
  }
  EXPECT_GE(dataBytes, 6u << 20) << "the patterns are in the oracle";
  // A sample of everything else, including the last MiB and odd offsets.
  const uint64_t samples[] = {1ull << 30, (3ull << 30) + 4096 * 7, (5ull << 30) - (1ull << 20)};
  for (uint64_t at : samples)
    Compare(v.kind, fd, at, 1 << 20);
  ::close(fd);
  ReaderForKind(v.kind).Close();
}

INSTANTIATE_TEST_SUITE_P(Sparse, LargeImageTest, ::testing::ValuesIn(kLarge),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qm::test
