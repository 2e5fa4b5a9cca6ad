// A damaged volume goes the whole road: the quick scan, the copy-out of
// everything found, the formatted scan and the partition search, with every
// dialog answered by the silent prompt. The target builds a 4 MiB FAT16 or
// NTFS volume with a valid boot sector (as mkfs.fat and mkntfs make them)
// and lays the input over it: its first byte picks the file system (even:
// FAT16, odd: NTFS; FAT16 with bit 1 set is 2 MiB, too few clusters for
// 16-bit entries, so it is read as FAT12 as a FAT12 logical partition is),
// the rest are pieces of a 16-bit little-endian sector number and the 512
// bytes of that sector (FATs, root directory, MFT records, INDX blocks,
// folders; the boot sector itself is never replaced).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "volume_road.h"

namespace {

constexpr uint64_t kSectors = 8192;  // 4 MiB
constexpr size_t kBps = 512;

void Le(std::vector<uint8_t>& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// mkfs.fat -F 16 -s 1 -S 512 -R 1 -r 64 -f 2 on 4 MiB: FATs of 32 sectors
// at 1 and 33, the root's 4 sectors at 65, cluster 2 at 69.
std::vector<uint8_t> FatBootSector(uint64_t sectors) {
  std::vector<uint8_t> b(kBps, 0);
  const uint8_t jump[3] = {0xEB, 0x3C, 0x90};
  std::memcpy(&b[0], jump, 3);
  std::memcpy(&b[3], "mkfs.fat", 8);
  Le(b, 11, 512, 2);
  b[13] = 1;
  Le(b, 14, 1, 2);
  b[16] = 2;
  Le(b, 17, 64, 2);
  Le(b, 19, sectors, 2);
  b[21] = 0xF8;
  Le(b, 22, 32, 2);
  Le(b, 24, 32, 2);
  Le(b, 26, 2, 2);
  b[36] = 0x80;
  b[38] = 0x29;
  Le(b, 39, 0x1234ABCD, 4);
  std::memcpy(&b[43], "QMFUZZ     FAT16   ", 19);
  b[510] = 0x55, b[511] = 0xAA;
  return b;
}

// mkntfs -s 512 -c 4096 on 4 MiB: $MFT at cluster 4, $MFTMirr at cluster
// 511, 1 KiB records, one-cluster index blocks, the copy in the last sector.
std::vector<uint8_t> NtfsBootSector() {
  std::vector<uint8_t> b(kBps, 0);
  const uint8_t jump[3] = {0xEB, 0x52, 0x90};
  std::memcpy(&b[0], jump, 3);
  std::memcpy(&b[3], "NTFS    ", 8);
  Le(b, 11, 512, 2);
  b[13] = 8;
  b[21] = 0xF8;
  Le(b, 24, 32, 2);
  Le(b, 26, 64, 2);
  b[36] = 0x80, b[37] = 0x00, b[38] = 0x80, b[39] = 0x00;
  Le(b, 40, kSectors - 1, 8);
  Le(b, 48, 4, 8);
  Le(b, 56, 511, 8);
  b[64] = 0xF6;
  b[68] = 1;
  Le(b, 72, 0x1234ABCD5678EF01ull, 8);
  b[510] = 0x55, b[511] = 0xAA;
  return b;
}

const std::string& ImagePath() {
  static const std::string path = qm::fuzz::PresentEmptyDisk("volume-road");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string& path = ImagePath();
  const bool ntfs = data[0] & 1;
  // The disk file keeps its size (the reader caches it); a smaller volume
  // is a smaller selected range.
  const uint64_t volumeSectors = !ntfs && (data[0] & 2) ? kSectors / 2 : kSectors;
  data += 1, size -= 1;
  {
    // A sparse file: only the boot sectors and the pieces take room.
    qm::File f;
    if (!f.open(path, qm::File::Mode::CreateTruncate)) return 0;
    const std::vector<uint8_t> boot = ntfs ? NtfsBootSector() : FatBootSector(volumeSectors);
    if (f.writeAt(boot.data(), kBps, 0) != static_cast<int64_t>(kBps)) return 0;
    for (size_t at = 0; at + 2 < size; at += 2 + kBps) {
      // Sector 0 and the last sector keep their boot sectors.
      const uint64_t sector = (data[at] | uint64_t{data[at + 1]} << 8) % kSectors;
      if (sector == 0 || sector == kSectors - 1) continue;
      const size_t n = std::min(kBps, size - at - 2);
      if (f.writeAt(data + at + 2, n, sector * kBps) != static_cast<int64_t>(n)) return 0;
    }
    // NTFS keeps a copy of its boot sector in the last sector; a FAT
    // volume gets its full size from a zero sector there.
    const std::vector<uint8_t> last = ntfs ? boot : std::vector<uint8_t>(kBps, 0);
    if (f.writeAt(last.data(), kBps, (kSectors - 1) * kBps) != static_cast<int64_t>(kBps)) return 0;
  }
  qm::fuzz::RunVolumeRoad(ntfs, volumeSectors, qm::fuzz::ScratchDir("volume-road") + "/out", true);
  return 0;
}
