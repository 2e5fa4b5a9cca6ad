// VHDX headers, region table, metadata and block table from an untrusted file.
// The valid image is built once; each input is XORed over its structures in
// the memory file and undone afterwards. Its block table gives the nine
// blocks of the disk every state an entry can have, and the reads visit each
// block and each boundary between two.
#include <fcntl.h>

#include "vdisk/vhdx_reader.h"
#include "vdisk_fuzz_image.h"

namespace {

// A GUID as VHDX stores it (first three fields little-endian).
void Guid(qm::fuzz::Image& img, size_t at, const uint8_t (&g)[16]) {
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) img.bytes[at + i] = g[order[i]];
}

constexpr uint8_t kBat[16] = {0x2D, 0xC2, 0x77, 0x66, 0xF6, 0x23, 0x42, 0x00,
                              0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08};
constexpr uint8_t kMeta[16] = {0x8B, 0x7C, 0xA2, 0x06, 0x47, 0x90, 0x4B, 0x9A,
                               0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
constexpr uint8_t kItems[5][16] = {
    {0xCA, 0xA1, 0x67, 0x37, 0xFA, 0x36, 0x4D, 0x43, 0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B},
    {0x2F, 0xA5, 0x42, 0x24, 0xCD, 0x1B, 0x48, 0x76, 0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8},
    {0xBE, 0xCA, 0x12, 0xAB, 0xB2, 0xE6, 0x45, 0x23, 0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46},
    {0x81, 0x41, 0xBF, 0x1D, 0xA9, 0x6F, 0x47, 0x09, 0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F},
    {0xCD, 0xA3, 0x48, 0xC7, 0x44, 0x5D, 0x44, 0x71, 0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56}};
constexpr size_t kMiB = 1 << 20;
constexpr uint64_t kBlocks = 9;
constexpr uint64_t kBatAt = 2 * kMiB, kMetadata = 3 * kMiB;

// 1 MiB blocks, a 9 MiB disk: the block table at 2 MiB and metadata at
// 3 MiB (where qemu-img puts them), data blocks at 4 and 5 MiB. Entries,
// block by block: present, zero, partially present, not present, the
// undefined states 1, 3, 4 and 5, and a present block past the file's end.
std::vector<uint8_t> BuildImage() {
  qm::fuzz::Image img(6 * kMiB);
  img.text(0, "vhdxfile");
  for (size_t h : {0x10000, 0x20000}) {
    img.text(h, "head");
    img.le64(h + 8, h >> 16);
    img.le16(h + 66, 1);
    img.le32(h + 68, kMiB);
    img.le64(h + 72, kMiB);
  }
  img.text(0x30000, "regi");
  img.le32(0x30000 + 8, 2);
  Guid(img, 0x30010, kBat);
  img.le64(0x30020, kBatAt);
  img.le32(0x30028, 4096);  // the table is read whole at every open: kept short
  img.le32(0x3002C, 1);
  Guid(img, 0x30030, kMeta);
  img.le64(0x30040, kMetadata);
  img.le32(0x30048, kMiB);
  img.le32(0x3004C, 1);
  const size_t m = kMetadata;
  img.text(m, "metadata");
  img.le16(m + 10, 5);
  for (int i = 0; i < 5; ++i) {
    Guid(img, m + 32 + 32 * i, kItems[i]);
    img.le32(m + 32 + 32 * i + 16, 0x10000 + 8 * i);
    img.le32(m + 32 + 32 * i + 20, 8);
    img.le32(m + 32 + 32 * i + 24, 4);
  }
  img.le32(m + 0x10000, kMiB);
  img.le64(m + 0x10008, kBlocks * kMiB);
  img.le32(m + 0x10018, 512);
  img.le32(m + 0x10020, 4096);
  const uint64_t entries[kBlocks] = {4 * kMiB | 6, 2, 5 * kMiB | 7, 0, 1, 3, 4, 5, (uint64_t{1} << 30) | 6};
  for (uint64_t b = 0; b < kBlocks; ++b) img.le64(kBatAt + 8 * b, entries[b]);
  img.fill(4 * kMiB, 4096, 0x5a);
  img.fill(5 * kMiB, 4096, 0xa5);
  return img.bytes;
}

const std::vector<qm::fuzz::Window> kWindows = {{0, 16},           {0x10000, 80},
                                                 {0x20000, 80},     {0x30000, 112},
                                                 {kMetadata, 192},  {kMetadata + 0x10000, 48},
                                                 {kBatAt, 8 * kBlocks}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> image = BuildImage();
  static const qm::fuzz::MemoryFile file(image);
  static const int fd = ::open(file.path().c_str(), O_RDWR);
  if (fd < 0) return 0;
  // The input over the windows, written into the file, and the template's
  // bytes put back after the run.
  auto put = [&](bool mutate) {
    size_t used = 0;
    for (const qm::fuzz::Window& w : kWindows) {
      std::vector<uint8_t> bytes(image.begin() + w.offset, image.begin() + w.offset + w.length);
      for (size_t i = 0; mutate && i < w.length && used < size; ++i) bytes[i] ^= data[used++];
      if (::pwrite(fd, bytes.data(), bytes.size(), off_t(w.offset)) != ssize_t(bytes.size())) return false;
    }
    return true;
  };
  if (put(true)) {
    // One open (each reads the whole block table), then the reads of
    // OpenAndRead and, in every block, its start, its middle and the
    // boundary with the next.
    qm::VhdxReader reader;
    std::u16string info;
    if (reader.Open(info, file.path()) == qm::kVdOpened) {
      std::vector<uint8_t> buf(64 * 512);
      auto read = [&](uint64_t sector, uint32_t count) {
        uint64_t pos = reader.ReadsBySector() ? sector : sector * 512;
        reader.Read(pos, size_t{count} * 512, buf.data());
      };
      for (uint64_t s = 0; s < 256; s += 37) read(s, 37);
      for (uint64_t s : {1ull << 20, 1ull << 31, 1ull << 40, (1ull << 54) - 1}) read(s, 3);
      const uint64_t perBlock = kMiB / 512;
      for (uint64_t b = 0; b < kBlocks; ++b) {
        read(b * perBlock, 3);
        read(b * perBlock + perBlock / 2 + 1, 8);
        read((b + 1) * perBlock - 1, 2);
      }
    }
    reader.Close();
  }
  put(false);
  return 0;
}
