// VDI pre-header, header and block map from an untrusted file.
#include "vdisk/vdi_reader.h"
#include "vdisk_fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Four 4 KiB blocks: allocated, allocated, free, zero.
  qm::fuzz::Image img(1024 + 8192);
  img.le32(64, 0xBEDA107F);
  img.le32(68, 0x00010001);
  img.le32(72, 400);
  img.le32(76, 1);
  img.le32(72 + 268, 512);
  img.le32(72 + 272, 1024);
  img.le64(72 + 296, 16384);
  img.le32(72 + 304, 4096);
  img.le32(72 + 312, 4);
  img.le32(512, 1);
  img.le32(516, 0);
  img.le32(520, 0xFFFFFFFF);
  img.le32(524, 0xFFFFFFFE);
  img.fill(1024, 8192, 0x5a);
  img.Mutate(data, size, {{0, 1024}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::VdiReader reader;
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
