// Carving matches signatures and reads size fields in whatever bytes a disk
// holds: header matching, the extent rules, the compound-file kinds and the
// MDB page search over arbitrary sectors.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "engines/raw_carving.h"
#include "platform/device_map.h"
#include "platform/scan_host.h"

namespace {

qm::ScanHost g_Host;
int g_Disk = -1;
std::string g_DiskPath;

// The input is also the selected disk, so that the page search reads it.
void Setup() {
  if (g_Disk >= 0) return;
  g_DiskPath = "/tmp/qm_fuzz_carving." + std::to_string(::getpid());
  g_Disk = ::open(g_DiskPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::atexit([] { ::unlink(g_DiskPath.c_str()); });
  ::setenv("QUILLMOREN_DISKS", g_DiskPath.c_str(), 1);
  ::setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_AppState.scanPage = &g_Host;
  qm::g_BadSectorChoice = 3;
  qm::g_SelectedDiskIndex = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup();
  if (size < 3) return 0;
  static const int32_t kSizes[] = {512, 1024, 2048, 4096};
  qm::g_BytesPerSector = kSizes[data[0] % 4];
  bool ticks[qm::kCarvingRows];
  for (int i = 0; i < qm::kCarvingRows; ++i) ticks[i] = ((data[1] | data[2] << 8) >> (i % 16)) & 1 || i == data[1] % 17;
  qm::BuildExtensionGroups(ticks);
  data += 3, size -= 3;

  const size_t bps = static_cast<size_t>(qm::g_BytesPerSector);
  if (::ftruncate(g_Disk, 0) != 0 || ::pwrite(g_Disk, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const uint64_t sectors = size / bps;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = sectors + 2;

  std::span<const uint8_t> all(data, size);
  for (size_t at = 0; at < size; at += bps) {
    auto sector = all.subspan(at);
    int32_t limit = 0;
    int g = qm::MatchHeaderSignature(sector, &limit);
    g_Host.SetOleSubtype(u"");
    qm::RefineOleType(sector);
    for (int k : {g, static_cast<int>(at / bps) % qm::kCarvingRows}) {
      uint64_t length = 0;
      std::u16string name;
      int32_t number = 0;
      int found = 0, enabled = 0;
      (void)qm::DetermineCarvedExtent(sector, k, &length, &name, &number, 0, at / bps, &found, &enabled);
    }
  }
  (void)qm::FindFooter(0, all.first(std::min<size_t>(size, 8)));
  return 0;
}
