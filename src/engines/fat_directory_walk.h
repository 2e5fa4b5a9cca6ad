#pragma once
// The one FAT directory walk of the quick scan and the lost-folder scan: the
// root (the FAT12/16 root sectors or the FAT32 root chain) and a folder from
// its first cluster, read in long requests over neighbouring clusters and
// walked entry by entry in memory, long names included. What a scan does
// with an entry is its own; which clusters are read, in which order, and
// which entries are shown is decided here once.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engines/catalog.h"
#include "engines/fat_directory.h"

namespace qm {

// One short entry as the scans list it.
struct FatDirEntry {
  std::string name8;    // the 8.3 name ('_' for a deleted first byte); empty when a long name stands
  std::u16string wide;  // the name shown
  bool deleted = false;    // first byte 0xE5
  bool directory = false;  // attribute bit 0x10
  uint32_t cluster = 0;    // first cluster, never 0
  uint32_t size = 0;
  RecordTimes times = {};  // (write date, time), (creation date, time), (access date, 0)
};

// Called for every entry before the directory's end, with the entry when it
// is one the scans list, null for the others (".", "..", long-name entries,
// entries without a first cluster, names that may not be shown). False
// stops the walk.
using FatEntryVisitor = std::function<bool(const FatDirEntry* entry)>;

class FatDirectoryWalk {
 public:
  // Geometry from scanGeometry and scanFileSystem; reads the selected source.
  FatDirectoryWalk();

  // A cluster number of the volume: it names a FAT entry, lies below the end
  // marks and starts inside the selected range (FatClusterLimit).
  bool ValidCluster(uint32_t cluster) const { return cluster >= kFirstDataCluster && cluster < clusterLimit_; }

  // The root; a first byte 0 ends only its sector. False when stopped.
  bool WalkRoot(const FatEntryVisitor& visit);
  // The folder whose first cluster is given; a deleted one is followed for
  // at most 26 clusters on FAT16/32. A folder whose first cluster does not
  // begin with "." and ".." is not read, and a first byte 0 ends it. False
  // when stopped.
  bool WalkFolder(uint32_t cluster, bool deleted, const FatEntryVisitor& visit);

 private:
  enum class EndRule { kSector, kDirectory };
  enum class RunResult { kNext, kEnd, kStop };

  bool WalkChain(const ClusterList& chain, EndRule rule, bool checkDots, const FatEntryVisitor& visit);
  RunResult WalkRun(uint32_t sectors, const SectorsBefore& before, EndRule rule, const FatEntryVisitor& visit);
  const FatDirEntry* Decode(size_t offset, const SectorsBefore& before);
  void Read(uint64_t sector, uint32_t count);

  const char* device_;
  FatKind kind_ = FatKind::kNone;
  uint32_t bps_ = 0;
  uint32_t spc_ = 0;
  uint64_t clusterZero_ = 0;
  uint64_t clusterLimit_ = 0;
  uint32_t clustersPerRead_ = 1;
  uint32_t tailSectors_ = 0;
  // The buffer: kept_ sectors from before the run, then the run.
  std::vector<uint8_t> buffer_;
  uint32_t kept_ = 0;
  FatDirEntry entry_;
};

}  // namespace qm
