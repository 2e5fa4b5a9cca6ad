// A logical drive that is an image file tells its size and free space from
// its own boot sector, FAT or $Bitmap: any bytes must give figures or none,
// never a crash, a hang or a read outside the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engines/volume_space.h"
#include "scratch_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = qm::fuzz::ScratchDir("volume-space") + "/volume.img";
  if (!qm::fuzz::WriteWholeFile(path, data, size)) return 0;
  const qm::VolumeSpace s = qm::ReadVolumeSpace(path);
  // Free space never exceeds the size it is part of.
  if (s.known && s.freeBytes > s.capacity) __builtin_trap();
  return 0;
}
