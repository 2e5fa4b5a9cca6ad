// VHDX headers, region table, metadata and block table from an untrusted file.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 1 MiB blocks, a 4 MiB disk: metadata at 2 MiB, BAT at 3 MiB, one block at 4 MiB.
  qm::fuzz::Image img(5 * kMiB);
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
  img.le64(0x30020, 3 * kMiB);
  img.le32(0x30028, kMiB);
  img.le32(0x3002C, 1);
  Guid(img, 0x30030, kMeta);
  img.le64(0x30040, 2 * kMiB);
  img.le32(0x30048, kMiB);
  img.le32(0x3004C, 1);
  const size_t m = 2 * kMiB;
  img.text(m, "metadata");
  img.le16(m + 10, 5);
  for (int i = 0; i < 5; ++i) {
    Guid(img, m + 32 + 32 * i, kItems[i]);
    img.le32(m + 32 + 32 * i + 16, 0x10000 + 8 * i);
    img.le32(m + 32 + 32 * i + 20, 8);
    img.le32(m + 32 + 32 * i + 24, 4);
  }
  img.le32(m + 0x10000, kMiB);
  img.le64(m + 0x10008, 4 * kMiB);
  img.le32(m + 0x10018, 512);
  img.le32(m + 0x10020, 4096);
  img.le64(3 * kMiB, 4 * kMiB | 6);
  img.le64(3 * kMiB + 8, 2);
  img.le64(3 * kMiB + 16, 7);
  img.fill(4 * kMiB, 4096, 0x5a);
  img.Mutate(data, size, {{0, 16}, {0x10000, 80}, {0x20000, 80}, {0x30000, 112}, {m, 192}, {m + 0x10000, 48},
                          {3 * kMiB, 64}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::VhdxReader reader;
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
