#pragma once
// The road a volume takes through the program, without its pages: the quick
// scan, the copy-out of everything found, the formatted scan and the
// partition search with the pick of the first file system found, each as the
// scan page starts it. Shared by the volume-road fuzz target and the writer
// of the scan-log seeds. The volume is disk 0, sector 0 its boot sector.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/deep_lists.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/fat_partition_search.h"
#include "engines/fat_quick_scan.h"
#include "engines/ntfs_deep_scan.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "engines/recovery_filter.h"
#include "engines/selection_model.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm::fuzz {

// Limits of what one run copies, so that a volume that claims huge files
// costs neither time nor the target's space (the files left out are still
// listed and walked).
inline constexpr uint64_t kCopyFileLimit = 256 * 1024;
inline constexpr uint64_t kCopyTotalLimit = 4 * 1024 * 1024;
inline constexpr int kCopyFileCount = 256;

inline void ClearScanState() {
  ClearCatalog();
  ClearNtfsLists();
  ClearFileSystemList();
  ClearMftRuns();
  ResetAppState();
  ResetCopyTotals();
  ResetCopyFlags();
}

// Copies the ticked files of the catalogue into target (made afresh, then
// removed), as the results page's Recover does with everything ticked.
inline void CopyEverything(const std::string& target) {
  uint64_t total = 0;
  int count = 0;
  for (FileRecord& f : AllFiles()) {
    const bool take = f.size() <= kCopyFileLimit && total + f.size() <= kCopyTotalLimit && count < kCopyFileCount;
    f.checkFlag = take ? 'y' : 'n';
    if (take) total += f.size(), ++count;
  }
  std::error_code ec;
  std::filesystem::remove_all(target, ec);
  SelectionModel model;
  model.SetTick(model.Root(), kTickTicked);
  model.BuildFromCatalog(IsFatName(g_AppState.scanFileSystem) ? kFatRootKey : kNtfsRootKey, kTickTicked);
  EvaluateSelectedTotals(model);
  ResetCopyTotals();
  ResetCopyFlags();
  g_RecoveryTargetFolder = target;
  CopyThread(nullptr, model);
  std::filesystem::remove_all(target, ec);
}

// The selection of the whole volume as the device page leaves it.
inline void SelectVolume(const std::u16string& fileSystem, uint64_t sectors) {
  g_SelectedDiskIndex = 0;
  g_BytesPerSector = 512;
  g_RangeFirstSector = 0;
  g_RangeEndSector = sectors;
  g_SelectedFileSystem = fileSystem;
  g_NtfsDeepScanHandOver = nullptr;
  g_FatLostFolderHandOver = nullptr;
}

// What the scan page copies of the geometry before a scan.
inline void TakeGeometry(bool ntfs) {
  if (ntfs) {
    g_AppState.scanGeometry = g_PartitionGeometry;
  } else {
    CopyFatMembers(g_AppState.scanGeometry, g_PartitionGeometry);
  }
  g_AppState.scanFileSystem = ScanFileSystemName();
}

// after(phase) runs once each scan has filled the catalogue or the lists
// ("quick", "formatted", "partitions", "picked"); copy says whether the
// catalogue is copied out into target after the quick, formatted and picked
// scans.
inline void RunVolumeRoad(bool ntfs, uint64_t sectors, const std::string& target, bool copy,
                          const std::function<void(const char* phase)>& after = {}) {
  const std::u16string fs = ntfs ? u"NTFS" : u"FAT16";
  auto done = [&](const char* phase, bool copyIt) {
    if (after) after(phase);
    if (copy && copyIt) CopyEverything(target);
  };

  // The quick scan, after the device page read the boot sector.
  ClearScanState();
  SelectVolume(fs, sectors);
  if (ReadPartitionGeometry() == 1) {
    ScanHost host;
    g_AppState.scanPage = &host;
    TakeGeometry(ntfs);
    if (ntfs) {
      const PartitionGeometry& g = g_AppState.scanGeometry;
      LoadMftRuns(static_cast<uint32_t>(g.clusterZeroSector), SelectedDevicePath(), static_cast<uint32_t>(g.mftSector),
                  static_cast<uint32_t>(g.sectorsPerCluster));
      NtfsQuickScanThread();
    } else {
      FatQuickScanThread();
    }
    done("quick", true);
    g_AppState.scanPage = nullptr;
  }

  // The formatted scan over the same selection.
  ClearScanState();
  SelectVolume(fs, sectors);
  if (ReadPartitionGeometry() == 1 || ntfs) {
    ScanHost host;
    g_AppState.scanPage = &host;
    g_AppState.formattedMode = 1;
    TakeGeometry(ntfs);
    if (ntfs) NtfsDeepScanThread();
    else FatLostFolderThread();
    done("formatted", true);
    g_AppState.scanPage = nullptr;
  }

  // The partition search over the whole disk, then the first file system.
  ClearScanState();
  SelectVolume(fs, sectors);
  g_AppState.wholeDiskMode = 1;
  g_AppState.partitionMode = 1;
  {
    ScanHost host;
    g_AppState.scanPage = &host;
    if (ntfs) {
      TakeGeometry(true);
      g_AppState.partitionPass = 1;
      NtfsDeepScanThread();
    } else {
      FatPartitionThread();
    }
    done("partitions", false);
    g_AppState.scanPage = nullptr;
  }
  if (const FileSystemRecord* first = g_AppState.fileSystemList) {
    ScanHost host;
    g_AppState.scanPage = &host;
    g_SelectedVolumeText = u"File System 1 - " + std::u16string(first->name);
    g_AppState.partitionPass = 1;
    if (ntfs) PartitionChoiceThread();
    else FatPartitionThread();
    done("picked", true);
    g_AppState.scanPage = nullptr;
  }
  ClearScanState();
}

}  // namespace qm::fuzz
