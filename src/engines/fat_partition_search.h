#pragma once
// Partition recovery on FAT, and the NTFS second pass.
//
// The search pass reads the selected sector range of a disk and collects
// FAT16 and FAT32 boot sectors and the first sectors of directories (the "."
// and ".." entries). Directories are tied to a boot sector when their cluster
// arithmetic puts them at the sector where they were found; directories left
// over are paired with one another to infer file systems whose boot sector is
// lost (two folders of one file system share one cluster-0 sector for one
// power-of-two cluster size). The found-partitions page then lists
// g_AppState.fileSystemList.
//
// The second pass shows the file system the user picked: its folders go into
// the catalogue and the lost-folder scan reads their contents (FAT), or the
// deep-scan dump alone fills the catalogue (NTFS).
//
// Workers run on the scan job's thread and report through g_AppState.scanPage.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engines/deep_lists.h"

namespace qm {

class ScanHost;

inline constexpr std::u16string_view kPartitionSearchStep1Text =
    u"Step 1/5 :- Searching Boot Sectors/Sub-Directories. Please Wait...";
inline constexpr std::u16string_view kPartitionSearchStep2Text =
    u"Step 2/5 :- Analysing File System(Phase 1). Please Wait...  ";
inline constexpr std::u16string_view kPartitionSearchStep3Text =
    u"Step 3/5 :- Analysing File System(Phase 2). Please Wait...  ";

// Workers. Both return 0.
int FatPartitionThread();
int PartitionChoiceThread();

// The FAT16 or FAT32 boot sector at sectorNumber, as the search lists it:
// sectors per cluster a power of two up to 128, a FAT of at least one
// sector, and a data area that starts after two clusters. bytesPerSector
// sizes the FAT16 root directory. Nothing for any other sector.
std::optional<FatBootRecord> ReadFatBootSector(std::span<const uint8_t> sector, uint64_t sectorNumber,
                                               uint32_t bytesPerSector);

// The number of the file system named by a found-partitions item text
// ("File System 3 - FAT32": 3), or nothing when the text names none of
// g_AppState.fileSystemList.
std::optional<int32_t> ChosenVolumeNumber(std::u16string_view volumeText);

// Phase 1: every unassigned directory of g_AppState.ntfsFolderList whose
// record sector is cluster-0 sector + own key x sectors per cluster of a
// boot sector (and not past its end) joins that boot sector's file system;
// each boot sector that gains a directory becomes the next file system.
void AssignFoldersToBootSectors(const FatBootList& boots, ScanHost& page);

// Phase 2: file systems inferred from pairs of unassigned directories; a
// directory that pairs with none is marked -1. The directories must be in
// the order of their record sectors, as the search appends them.
void InferFileSystemsFromPairs(ScanHost& page);

}  // namespace qm
