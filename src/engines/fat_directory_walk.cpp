#include "engines/fat_directory_walk.h"

#include <algorithm>
#include <cstring>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"

namespace qm {

namespace {

// Directories are read in requests of about this many bytes (whole clusters).
constexpr size_t kDirReadBytes = 1024 * 1024;

bool IsDotEntry(const ByteReader& e) { return e.u8(kDirNameOffset) == '.' && e.u8(3) == ' '; }

}  // namespace

FatDirectoryWalk::FatDirectoryWalk() : device_(SelectedDevicePath()) {
  kind_ = ScanFatKind();
  bps_ = SourceSectorBytes();
  const PartitionGeometry& g = g_AppState.scanGeometry;
  spc_ = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
  clusterZero_ = ClusterZeroBase(g);
  // An unusable geometry simply finds nothing; a FAT12/16 root needs no
  // cluster size, every other directory does.
  if (kind_ == FatKind::kNone || bps_ == 0 || bps_ % kDirEntrySize != 0) {
    kind_ = FatKind::kNone;
    return;
  }
  clusterLimit_ = spc_ > 0 ? FatClusterLimit(kind_) : 0;
  // The most long-name entries before a short entry: past 255 characters
  // the name is taken as it stands.
  constexpr size_t kLongestNameBytes = (kLongNameMaxChars / kLongNameEntryChars + 1) * kDirEntrySize;
  tailSectors_ = static_cast<uint32_t>((kLongestNameBytes + bps_ - 1) / bps_);
  const uint64_t clustersPerRead = std::max<uint64_t>(1, kDirReadBytes / bps_ / std::max<uint32_t>(spc_, 1));
  clustersPerRead_ =
      static_cast<uint32_t>(std::min<uint64_t>(clustersPerRead, UINT32_MAX / std::max<uint32_t>(spc_, 1)));
}

bool FatDirectoryWalk::WalkRoot(const FatEntryVisitor& visit) {
  if (kind_ == FatKind::kNone) return true;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  if (kind_ == FatKind::kFat32) {
    // A root cluster below 2 names no cluster (a file system inferred from
    // its folders has none): there is no root to read.
    const uint32_t root = static_cast<uint32_t>(g.rootLocation);
    if (!ValidCluster(root)) return true;
    ClusterList chain;
    ListClusterChain(&chain, root, 0);
    return WalkChain(chain, EndRule::kSector, /*checkDots=*/false, visit);
  }
  const uint32_t first = static_cast<uint32_t>(g.rootLocation);
  const uint32_t count = g.rootDirSectors > 0 ? static_cast<uint32_t>(g.rootDirSectors) : 0;
  if (first == 0) return true;
  const uint32_t perRead = static_cast<uint32_t>(std::max<size_t>(1, kDirReadBytes / bps_));
  buffer_.clear();
  for (uint32_t i = 0; i < count; i += perRead) {
    const uint32_t n = std::min(perRead, count - i);
    Read(uint64_t{first} + i, n);
    if (WalkRun(n, RunSectorsBefore(first, i), EndRule::kSector, visit) == RunResult::kStop) return false;
  }
  return true;
}

bool FatDirectoryWalk::WalkFolder(uint32_t cluster, bool deleted, const FatEntryVisitor& visit) {
  if (kind_ == FatKind::kNone || !ValidCluster(cluster)) return true;
  ClusterList chain;
  ListClusterChain(&chain, cluster, deleted ? kChainLimitFlag : 0);
  return WalkChain(chain, EndRule::kDirectory, /*checkDots=*/true, visit);
}

bool FatDirectoryWalk::WalkChain(const ClusterList& chain, EndRule rule, bool checkDots,
                                 const FatEntryVisitor& visit) {
  // The chain ends at its first cluster outside the volume.
  const size_t length = static_cast<size_t>(
      std::find_if(chain.begin(), chain.end(), [&](uint32_t c) { return !ValidCluster(c); }) - chain.begin());
  buffer_.clear();
  size_t i = 0;
  while (i < length) {
    size_t j = i + 1;
    while (j < length && j - i < clustersPerRead_ && chain[j] == chain[j - 1] + 1) ++j;
    const uint32_t sectors = static_cast<uint32_t>((j - i) * spc_);
    Read(clusterZero_ + uint64_t{chain[i]} * spc_, sectors);
    if (i == 0 && checkDots) {
      // A directory's first cluster begins with "." and "..": anything else
      // means the cluster now holds something else.
      if (!ReadDotEntries(std::span<const uint8_t>(buffer_).subspan(size_t{kept_} * bps_))) return true;
    }
    const RunResult r = WalkRun(sectors, ChainSectorsBefore(chain, i, 0), rule, visit);
    if (r == RunResult::kStop) return false;
    if (r == RunResult::kEnd) return true;
    i = j;
  }
  return true;
}

// The run's sectors lie in the buffer one after another, after the kept
// sectors; `before` gives the directory's sectors before the run's first.
FatDirectoryWalk::RunResult FatDirectoryWalk::WalkRun(uint32_t sectors, const SectorsBefore& before, EndRule rule,
                                                      const FatEntryVisitor& visit) {
  // Long names look back from the first sector in memory.
  const uint32_t kept = kept_;
  const SectorsBefore earlier = [&before, kept](uint32_t back) { return before(back + kept); };
  const size_t first = size_t{kept_} * bps_;
  const size_t end = first + size_t{sectors} * bps_;
  for (size_t sector = first; sector < end; sector += bps_) {
    for (size_t off = sector; off + kDirEntrySize <= sector + bps_; off += kDirEntrySize) {
      if (buffer_[off + kDirNameOffset] == 0) {
        if (rule == EndRule::kDirectory) return RunResult::kEnd;
        break;
      }
      if (!visit(Decode(off, earlier))) return RunResult::kStop;
    }
  }
  return RunResult::kNext;
}

const FatDirEntry* FatDirectoryWalk::Decode(size_t offset, const SectorsBefore& before) {
  const ByteReader e(buffer_.data() + offset, kDirEntrySize);
  const uint8_t b0 = e.u8(kDirNameOffset);
  const uint8_t attr = e.u8(kDirAttrOffset);
  if (IsDotEntry(e) || attr == kFatAttrLongName) return nullptr;

  FatDirEntry& d = entry_;
  uint32_t cluster = e.u16(kDirClusterLowOffset);
  // Only FAT32 keeps a high half; the FAT12/16 root and folders store none.
  if (kind_ == FatKind::kFat32) cluster |= uint32_t{e.u16(kDirClusterHighOffset)} << 16;
  if (cluster == 0) return nullptr;

  // The 8.3 name as stored: blanks dropped, a dot only before an extension.
  d.name8.clear();
  for (size_t i = 0; i < 8; ++i)
    if (e.u8(kDirNameOffset + i) != ' ') d.name8.push_back(static_cast<char>(e.u8(kDirNameOffset + i)));
  if (e.u8(kDirExtOffset) != ' ') {
    d.name8.push_back('.');
    for (size_t i = 0; i < 3; ++i)
      if (e.u8(kDirExtOffset + i) != ' ') d.name8.push_back(static_cast<char>(e.u8(kDirExtOffset + i)));
  }
  d.deleted = b0 == kDirDeletedMark;
  if (d.deleted) d.name8[0] = '_';

  // The 8.3 name is tested only when it is the name shown: a valid long
  // name stands for a short one in any code page.
  d.wide.clear();
  if (ReadLongFileName(buffer_, &d.wide, static_cast<uint32_t>(offset), before) == 0) {
    if (!IsPlainFileName(d.wide, NameKind::kLong)) return nullptr;
    d.name8.clear();
  } else {
    d.wide.clear();
    for (char c : d.name8) d.wide.push_back(static_cast<uint8_t>(c));
    if (!IsPlainFileName(d.wide, NameKind::kShort)) return nullptr;
  }
  d.directory = (attr & kFatAttrDirectory) != 0;
  d.cluster = cluster;
  d.size = e.u32(kDirSizeOffset);
  d.times = FatEntryTimes(e);
  return &d;
}

void FatDirectoryWalk::Read(uint64_t sector, uint32_t count) {
  // The directory's last sectors read so far stay in front of the new ones,
  // as many as a long name may reach back, so that names running over from
  // the previous read are found in memory.
  const size_t keep = std::min<size_t>(tailSectors_, buffer_.size() / bps_) * bps_;
  if (keep) std::memmove(buffer_.data(), buffer_.data() + buffer_.size() - keep, keep);
  buffer_.resize(keep);
  buffer_.resize(keep + size_t{count} * bps_, 0);
  kept_ = static_cast<uint32_t>(keep / bps_);
  ReadSectors(device_, sector, count, buffer_.data() + keep);
}

}  // namespace qm
