#pragma once
// FAT directory pieces shared by the FAT scans and the FAT copier: the long
// name that precedes a short entry, the name test, and the cluster-chain walk
// for FAT12, FAT16 and FAT32. Every byte comes from the source untrusted.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/catalog.h"

namespace qm {

class ByteReader;

// Directory entry layout.
// End-of-chain and bad-cluster marks start here.
inline constexpr uint32_t kFat12EndMark = 0xFF7;
inline constexpr uint32_t kFat16EndMark = 0xFFF7;
inline constexpr uint32_t kFat32EndMark = 0x0FFFFFF7;
inline constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
inline constexpr uint32_t kFirstDataCluster = 2;

struct PartitionGeometry;
// The sector where cluster 0 would start, as a base for base + cluster x spc.
// The geometry holds its low 32 bits; the first data sector (two clusters
// on) is a sector number below 2^32, which settles the rest. With large
// clusters and small FATs it lies before the volume (a negative value);
// unsigned wrap-around keeps the sum right for every data cluster.
uint64_t ClusterZeroBase(const PartitionGeometry& g);

enum class FatKind { kNone, kFat12, kFat16, kFat32 };
// The FAT kind of a file-system name ("FAT12", "FAT16", "FAT32").
FatKind FatKindOf(std::u16string_view fileSystem);
// True for "FAT12", "FAT16" and "FAT32".
inline bool IsFatName(std::u16string_view fileSystem) { return FatKindOf(fileSystem) != FatKind::kNone; }
// The FAT kind of the scan, from g_AppState.scanFileSystem.
FatKind ScanFatKind();

inline constexpr size_t kDirEntrySize = 32;
inline constexpr size_t kDirNameOffset = 0;
inline constexpr size_t kDirExtOffset = 8;
inline constexpr size_t kDirAttrOffset = 11;
inline constexpr size_t kDirCreateTimeOffset = 14;
inline constexpr size_t kDirCreateDateOffset = 16;
inline constexpr size_t kDirAccessDateOffset = 18;
inline constexpr size_t kDirClusterHighOffset = 20;
inline constexpr size_t kDirWriteTimeOffset = 22;
inline constexpr size_t kDirWriteDateOffset = 24;
inline constexpr size_t kDirClusterLowOffset = 26;
inline constexpr size_t kDirSizeOffset = 28;
inline constexpr uint8_t kDirDeletedMark = 0xE5;
inline constexpr uint8_t kFatAttrDirectory = 0x10;
inline constexpr uint8_t kFatAttrLongName = 0x0F;

// An entry's time slots as the catalogue keeps them: (write date, write
// time), (creation date, creation time), (access date, 0).
RecordTimes FatEntryTimes(const ByteReader& entry);

// The "." and ".." entries at the start of a directory's first cluster.
struct DotEntries {
  uint32_t self = 0;    // first cluster named by "." (high word at 20, low word at 26)
  uint32_t parent = 0;  // first cluster named by ".." (0 for the root)
  RecordTimes times = {};  // the "." entry's time slots
};
// The dot entries of a sector that begins a directory, or nothing.
std::optional<DotEntries> ReadDotEntries(std::span<const uint8_t> sector);

// Characters one long-name entry holds, and the most a name may collect.
inline constexpr size_t kLongNameEntryChars = 13;
inline constexpr size_t kLongNameMaxChars = 255;

// "No sector before this one belongs to the directory."
inline constexpr uint64_t kNoPreviousSector = ~0ull;

// The directory's sectors before a given one: back 1 is the sector just
// before it, back 2 the one before that, and so on; kNoPreviousSector once
// the directory's first sector is passed.
using SectorsBefore = std::function<uint64_t(uint32_t back)>;

// Collects the long name whose entries precede the short entry at
// entryOffset of sector: the directory's bytes in memory (one sector, or
// several consecutive ones), a multiple of 32 bytes. When the entries reach
// back past the start they continue in the directory's earlier sectors
// (`before` counts back from the first sector in memory; read one at a time
// through ReadSectors), as far back as the entries go. Returns 0 with the name in *name when a long name was
// collected, 1 when there is none (name untouched).
int ReadLongFileName(std::span<const uint8_t> sector, std::u16string* name, uint32_t entryOffset,
                     const SectorsBefore& before);
// The same where only previousSector may precede the sector.
int ReadLongFileName(std::span<const uint8_t> sector, std::u16string* name, uint32_t entryOffset,
                     uint64_t previousSector);

// Which rule IsPlainFileName applies.
enum class NameKind { kShort, kLong };
// 1 when the name may be shown: no character 1-31, none of " \ / ? * < > |,
// and for a short name none from 128 to 255. Long names may hold any
// character from 128 up.
int IsPlainFileName(std::u16string_view name, NameKind kind = NameKind::kShort);

// The clusters of a chain, in order.
using ClusterList = std::vector<uint32_t>;
// Passed as the limit flag: stop a FAT16/FAT32 walk after 26 clusters.
inline constexpr uint32_t kChainLimitFlag = 0x0FFFFFFF;
inline constexpr size_t kLimitedChainClusters = 26;

// One past the highest cluster number of the scanned volume: bounded by the
// end marks, the entries the FAT holds (scanGeometry's sectors per FAT) and
// the clusters that start before g_RangeEndSector (when it and the cluster
// size are known).
uint64_t FatClusterLimit(FatKind kind);

// "No bound on the number of clusters listed."
inline constexpr size_t kNoChainBound = ~size_t{0};

// The one FAT chain walk: appends the chain of firstCluster (itself first)
// as the FAT at fatSector gives it, read in sectors of the source's size.
// Ends at a free entry, an end-of-chain or bad-cluster mark, an entry that
// names no cluster of the volume (FatClusterLimit), a failed read, or once
// the list holds maxClusters clusters; a walk without a bound also ends at
// a cluster already listed.
void WalkFatChain(ClusterList* list, FatKind kind, uint64_t fatSector, uint32_t firstCluster, size_t maxClusters);

// The directory walk's form: the first FAT of scanGeometry and the kind of
// scanFileSystem; with the limit flag a FAT16/FAT32 walk stops after 26
// clusters.
void ListClusterChain(ClusterList* list, uint32_t firstCluster, uint32_t limitFlag);

// The directory sector before sector k of the chain's cluster at index i
// (geometry from scanGeometry): the previous sector of the same cluster, the
// last sector of the chain's previous cluster, or kNoPreviousSector at the
// directory's first sector.
uint64_t PreviousChainSector(const ClusterList& chain, size_t clusterIndex, uint32_t sectorInCluster);

// The sectors before sector k of the chain's cluster at index i, back
// through the chain's earlier clusters.
SectorsBefore ChainSectorsBefore(const ClusterList& chain, size_t clusterIndex, uint32_t sectorInCluster);
// The sectors before sector `index` of a directory stored in consecutive
// sectors from firstSector (the FAT12/16 root).
SectorsBefore RunSectorsBefore(uint64_t firstSector, uint64_t index);

// Appends one cluster at the end of the list.
void AppendClusterNode(ClusterList* list, uint32_t cluster);

}  // namespace qm
