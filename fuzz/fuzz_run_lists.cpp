// The run-list loaders read record 0 of $MFT, attribute lists and the
// extension records they name, all from the disk: whatever those records
// hold, the $MFT run table, a file's runs and the list of extension records
// must come out bounded. The input is a small MFT: its first byte picks the
// cluster size and which records are loaded, the rest are 1 KiB records laid
// from sector 16 of a volume that has an NTFS boot sector.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/ntfs_runs.h"
#include "scratch_dir.h"

namespace {

constexpr uint64_t kMftSector = 16;
constexpr uint64_t kVolumeSectors = 2048;  // 1 MiB

const std::string& ImagePath() {
  static const std::string path = qm::fuzz::PresentEmptyDisk("run-lists");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string& path = ImagePath();
  static const uint32_t kClusterSectors[4] = {1, 2, 8, 128};
  const uint32_t spc = kClusterSectors[data[0] & 3];
  const uint32_t firstRecord = (data[0] >> 2) & 15;
  data += 1, size -= 1;
  size = std::min<size_t>(size, (kVolumeSectors - kMftSector - 1) * 512);

  // The boot sector (it bounds the volume, so the loaders clip to it) once
  // per cluster size; then the records, zeros where the last input was longer.
  static uint32_t lastSpc = 0;
  static size_t lastSize = 0;
  qm::File f;
  if (!f.open(path, qm::File::Mode::ReadWrite)) return 0;
  if (spc != lastSpc) {
    std::vector<uint8_t> image(kVolumeSectors * 512, 0);
    std::memcpy(&image[3], "NTFS    ", 8);
    image[11] = 0x00, image[12] = 0x02, image[13] = static_cast<uint8_t>(spc);
    const uint64_t total = kVolumeSectors - 1;
    for (int i = 0; i < 8; ++i) image[40 + i] = static_cast<uint8_t>(total >> (8 * i));
    image[48] = static_cast<uint8_t>(kMftSector / spc);
    image[64] = 0xF6;  // 1 KiB records
    image[510] = 0x55, image[511] = 0xAA;
    if (f.writeAt(image.data(), image.size(), 0) != static_cast<int64_t>(image.size())) return 0;
    lastSpc = spc, lastSize = 0;
  }
  std::vector<uint8_t> bytes(std::max(size, lastSize), 0);
  if (size) std::memcpy(bytes.data(), data, size);
  if (f.writeAt(bytes.data(), bytes.size(), kMftSector * 512) != static_cast<int64_t>(bytes.size())) return 0;
  lastSize = size;
  f.close();

  qm::g_BytesPerSector = 512;
  qm::g_SelectedDiskIndex = 0;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = kVolumeSectors;
  qm::g_AppState.scanGeometry = qm::PartitionGeometry{};
  qm::g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  qm::g_AppState.scanGeometry.sectorsPerCluster = static_cast<int32_t>(spc);
  qm::g_AppState.scanGeometry.mftSector = static_cast<int32_t>(kMftSector);

  // The MFT starts on a cluster only when the cluster divides its sector.
  const uint64_t mftSector = kMftSector / spc * spc;
  qm::LoadMftRuns(0, path.c_str(), mftSector, spc);
  // Each record's runs and extension records, as the copier and the quick
  // scan ask for them, through the run table just built and by position.
  qm::RunTable table;
  std::vector<uint32_t> records;
  const uint64_t count = size / 1024;
  for (uint64_t n = firstRecord; n < firstRecord + 8 && n < count + 1; ++n) {
    for (uint64_t sector : {qm::MftRecordToSector(n), kMftSector + 2 * n}) {
      if (sector == 0) continue;
      (void)qm::LoadFileRuns(0, path.c_str(), sector, table, spc);
      (void)qm::LoadFileRuns(0, path.c_str(), sector, table, spc, 512);
      for (uint32_t type : {0x80u, 0x90u, 0xA0u}) {
        records.clear();
        qm::CollectAttributeListRecords(sector, path.c_str(), &records, 0, type, spc);
      }
    }
  }
  qm::ClearMftRuns();
  return 0;
}
