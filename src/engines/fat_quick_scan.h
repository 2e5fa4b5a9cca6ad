#pragma once
// The quick scan of a FAT12, FAT16 or FAT32 volume: walks the directory tree
// from the root, deleted directories included as far as their clusters can
// be followed, and puts every named entry, live or deleted, into the scan
// catalogue. Every directory found is read once, wherever its cluster lies
// relative to its parent's. When nothing is found, the same job thread goes
// on with the lost-folder scan. When a scan log is being loaded, it loads
// the log instead.
//
// Runs on the scan job's thread over g_AppState (scanGeometry,
// scanFileSystem, the selection globals) and reports through
// g_AppState.scanPage. Stop is obeyed at every directory and every entry.
#include <string_view>

#include "engines/ntfs_quick_scan.h"

namespace qm {

inline constexpr std::u16string_view kCurrentSectorCaption = u"Current Sector               ";

// The worker. 1 after a walk, 0 after loading a scan log.
int FatQuickScanThread();

// Run after the FAT quick scan found nothing: the FAT lost-folder scan.
extern FollowUpWorker g_FatLostFolderHandOver;

}  // namespace qm
