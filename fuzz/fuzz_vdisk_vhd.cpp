// VHD footer, dynamic header, block table and sector bitmaps from an
// untrusted file; a mutated disk type makes it differencing or fixed.
#include "vdisk/vhd_reader.h"
#include "vdisk_fuzz_image.h"

namespace {

void Footer(qm::fuzz::Image& img, size_t at) {
  img.text(at, "conectix");
  img.be64(at + 16, 512);
  img.be64(at + 48, 16384);
  img.be32(at + 60, 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 4 KiB blocks (one bitmap sector each) for a 16 KiB disk; a grandparent
  // of the same shape sits behind it.
  qm::fuzz::Image img(2048 + 2 * 4608 + 512);
  Footer(img, 0);
  img.text(512, "cxsparse");
  img.be64(512 + 16, 1536);
  img.be32(512 + 28, 4);
  img.be32(512 + 32, 4096);
  img.be32(1536, 4);
  img.be32(1540, 0xFFFFFFFF);
  img.be32(1544, 13);
  img.be32(1548, 0xFFFFFFFF);
  img.fill(2048, 1, 0xF0);
  img.fill(2560, 4096, 0x5a);
  img.fill(6656, 1, 0xFF);
  img.fill(7168, 4096, 0xa5);
  Footer(img, img.bytes.size() - 512);
  qm::fuzz::Image parent = img;
  img.Mutate(data, size, {{0, 3072}, {img.bytes.size() - 512, 512}});
  qm::fuzz::MemoryFile file(img.bytes), parentFile(parent.bytes);
  qm::VhdReader grandparent;
  qm::VhdReader reader(&grandparent);
  std::u16string info;
  reader.Open(info, file.path());
  grandparent.Open(info, parentFile.path());
  std::vector<uint8_t> buf(64 * 512);
  for (uint64_t s = 0; s < 40; s += 3) reader.Read(s, 7 * 512, buf.data());
  reader.Read(~0ull >> 9, 512, buf.data());
  return 0;
}
