#pragma once
// Reading the boot sector of the selected volume into g_PartitionGeometry:
// the twelve numbers from which every engine finds the FATs, the root
// directory, the clusters, the MFT and its mirror.
//
// Inputs are the selection globals: g_SelectedFileSystem ("FAT16", "FAT32"
// or "NTFS"; any other name is refused), g_RangeFirstSector (the boot
// sector), g_RangeEndSector (where the NTFS boot-sector copy is looked for
// first), the selected device path and g_BytesPerSector.
#include <cstdint>
#include <string>

#include "state/app_state.h"

namespace qm {

// 1 when g_PartitionGeometry was filled for the selected volume, 0 otherwise.
// The geometry is written only when every check passed (a FAT16 volume
// without a boot signature clears it); a value that does not fit the
// geometry's unsigned 32-bit members is refused.
int ReadPartitionGeometry();

// The name the engines read the selected volume by: g_SelectedFileSystem,
// except that a volume selected as "FAT16" whose boot sector gives fewer
// than 4085 clusters has 12-bit FAT entries and is read as "FAT12" (a FAT12
// logical partition carries the "FAT16" label). The selection keeps its name.
// A partition search (partitionMode) keeps the selected name.
std::u16string ScanFileSystemName();

// The members of a FAT geometry (clusters, FATs, root) copied from one
// geometry into another: what a FAT scan takes of the selected volume's
// boot sector when the rest of its geometry stands.
void CopyFatMembers(PartitionGeometry& to, const PartitionGeometry& from);

}  // namespace qm
