// Partition enumeration over arbitrary disk contents: the input is the disk,
// sector after sector (sector numbers wrap around it, so tables point at
// each other); the first byte picks the sector size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "state/app_state.h"
#include "diskio/partition_table.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "platform/file.h"

namespace {

const uint8_t* g_Data = nullptr;
size_t g_Size = 0;
uint32_t g_SectorBytes = 512;

int64_t ServeSectors(qm::File&, void* buffer, size_t bytes, uint64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  const uint64_t sectors = g_Size / g_SectorBytes;
  for (size_t done = 0; done < bytes; done += g_SectorBytes) {
    const uint64_t sector = (offset + done) / g_SectorBytes;
    if (sectors == 0) {
      std::memset(out + done, 0, g_SectorBytes);
    } else {
      std::memcpy(out + done, g_Data + (sector % sectors) * g_SectorBytes, g_SectorBytes);
    }
  }
  return static_cast<int64_t>(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    ::setenv("QUILLMOREN_DISKS", "/dev/null", 1);
    qm::DeviceMap::Instance().Refresh();
    qm::SetDeviceReadHook(ServeSectors);
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;
  g_SectorBytes = (data[0] & 1) ? 4096 : 512;
  g_Data = data + 1;
  g_Size = size - 1;
  qm::g_BytesPerSector = static_cast<int32_t>(g_SectorBytes);
  qm::g_BadSectorChoice = 3;
  uint32_t items = 0;
  qm::EnumerateDiskPartitions(0, 0, [&](int position, std::u16string_view text) {
    if (position < 0 || position >= qm::kMaxRecordedPartitions || text.empty()) std::abort();
    return ++items;
  });
  const auto& table = qm::g_DiskPartitionTables[0];
  if (table.count > static_cast<uint32_t>(qm::kMaxRecordedPartitions) || items != table.count) std::abort();
  for (uint32_t i = 0; i < table.count; ++i)
    if (table.entries[i].endSector < table.entries[i].firstSector) std::abort();
  return 0;
}
