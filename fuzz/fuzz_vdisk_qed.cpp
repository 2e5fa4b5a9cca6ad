// QED header and tables from an untrusted file.
#include "vdisk/qed_reader.h"
#include "vdisk_fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 4 KiB clusters, one-cluster tables, a 1 MiB disk: L1 at 4 KiB, L2 at 8 KiB.
  qm::fuzz::Image img(20480);
  img.le32(0, 0x00444551);
  img.le32(4, 4096);
  img.le32(8, 1);
  img.le64(40, 4096);
  img.le64(48, 1 << 20);
  img.le64(4096, 8192);
  img.le64(8192, 12288);
  img.le64(8200, 1);  // a zero cluster
  img.le64(8208, 16384);
  img.fill(12288, 8192, 0x5a);
  img.Mutate(data, size, {{0, 12288}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::QedReader reader;
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
