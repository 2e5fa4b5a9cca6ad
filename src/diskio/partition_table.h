#pragma once
// The partitions of each disk or image that carry a recognised file system
// (FAT16, FAT32, NTFS): a volume at sector 0 without a table, the MBR's four
// entries, the chain of extended boot records and a GPT behind a protective
// entry. Every sector is read through ReadSectors.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

constexpr int kPartitionTableDisks = 26;
// Names are kept for this many partitions per disk; a disk never records more.
constexpr int kMaxRecordedPartitions = 26;
constexpr int kPartitionEntrySlots = 50;

struct PartitionEntry {
  uint32_t index = 0;        // the entry's own position
  uint32_t treeItem = 0;     // the partition's item in the device tree
  uint32_t firstSector = 0;  // absolute first sector
  uint32_t endSector = 0;    // the sector after its last one
};

struct DiskPartitionTable {
  uint32_t count = 0;
  std::u16string fileSystemNames[kMaxRecordedPartitions];  // "FAT16", "FAT32" or "NTFS"
  PartitionEntry entries[kPartitionEntrySlots];
};

// One table per disk number ("Disk" n of the geometry store).
extern DiskPartitionTable g_DiskPartitionTables[kPartitionTableDisks];

// Called once per recorded partition, in order, with its position (0-based)
// and its item text "Partition - " n " ( " name " )"; returns the id of the
// item it made, kept in the entry's treeItem.
using PartitionItemInserter = std::function<uint32_t(int position, std::u16string_view text)>;

// Reads the table of disk diskNumber (0 to 25; 10 and up are images) at
// tableSector and records its partitions afresh in g_DiskPartitionTables.
// With an inserter, every recorded partition is handed to it; without one
// the tree items of the last inserting run are kept. A partition that
// starts or ends beyond 32-bit sector numbers is passed over. Returns 0
// when the table sector lacks the boot signature, else 1.
int EnumerateDiskPartitions(int diskNumber, uint64_t tableSector, const PartitionItemInserter& insert = {});

}  // namespace qm
