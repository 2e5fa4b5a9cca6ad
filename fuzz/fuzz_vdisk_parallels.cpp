// Parallels header and block table from an untrusted file.
#include "vdisk/parallels_reader.h"
#include "vdisk_fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 8-sector blocks, 4 table entries, a 32-sector disk.
  qm::fuzz::Image img(12288);
  img.text(0, "WithoutFreeSpace");
  img.le32(16, 2);
  img.le32(28, 8);
  img.le32(32, 4);
  img.le64(36, 32);
  img.le32(64, 8);
  img.le32(72, 16);
  img.fill(4096, 8192, 0x5a);
  img.bytes[4096 + 510] = 0x55;
  img.Mutate(data, size, {{0, 4096}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::ParallelsReader reader;
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
