// QCOW header, L1 and L2 tables from an untrusted file.
#include "vdisk/qcow_reader.h"
#include "vdisk_fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A 64 KiB disk of 512-byte clusters: L1 at 512, two L2 tables, data after.
  qm::fuzz::Image img(8192);
  img.be32(0, 0x514649FB);
  img.be32(4, 2);
  img.be32(20, 9);
  img.be64(24, 65536);
  img.be32(36, 2);
  img.be64(40, 512);
  img.be64(512, 1024);
  img.be64(520, 1536);
  for (int i = 0; i < 8; ++i) img.be64(1024 + 8 * i, 2048 + 512 * i);
  img.be64(1536, (1ull << 62) | 6144);  // compressed
  img.fill(2048, 4096, 0x5a);
  img.Mutate(data, size, {{0, 2048}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::QcowReader reader;
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
