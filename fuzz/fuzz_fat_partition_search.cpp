// Arbitrary sectors through the FAT partition search's recognition of boot
// sectors and directory starts, then through the claiming and pairing of
// the directories found, and the volume text of a second pass.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "state/app_state.h"
#include "engines/deep_lists.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/fat_partition_search.h"
#include "platform/byte_reader.h"
#include "platform/scan_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kSector = 512;
  if (size < 16 || size > 128 * kSector) return 0;
  qm::ByteReader head(data, 16);
  // Where the sectors lie on the imagined disk: a base and a step, so that
  // directories can line up into file systems.
  const uint64_t base = head.u32(0);
  const uint64_t step = 1 + (head.u8(4) & 0x7F);
  const uint32_t bps = (head.u8(5) & 1) ? 4096 : 512;

  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::g_AppState.fileSystemCount = 0;
  qm::g_SelectedFileSystem = (head.u8(6) & 1) ? u"FAT32" : u"FAT16";
  qm::FatBootList boots;
  const std::span<const uint8_t> all(data + 16, size - 16);
  for (size_t off = 0; off < all.size(); off += kSector) {
    const std::span<const uint8_t> sector = all.subspan(off, std::min(kSector, all.size() - off));
    const uint64_t number = base + (off / kSector) * step;
    if (auto b = qm::ReadFatBootSector(sector, number, bps)) {
      qm::AppendFatBoot(boots, b->bootSector, b->sectorsPerFat, b->sectorsPerCluster, b->rootDirSectors,
                        b->reservedSectors, b->rootLocation, b->clusterZeroSector, b->fat1Sector, b->fat2Sector,
                        b->endSector, b->name);
    } else if (auto d = qm::ReadDotEntries(sector)) {
      qm::AppendNtfsFolder(u"", 'n', d->parent, d->self, number, d->times, 0, 0);
    }
  }
  qm::ScanHost page;
  qm::AssignFoldersToBootSectors(boots, page);
  qm::InferFileSystemsFromPairs(page);

  std::u16string text;
  for (size_t i = 0; i + 1 < std::min<size_t>(all.size(), 64); i += 2) text.push_back(char16_t(all[i] | all[i + 1] << 8));
  qm::ChosenVolumeNumber(text);
  qm::ChosenVolumeNumber(u"File System " + text);
  return 0;
}
