#include "engines/partition_geometry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"

namespace qm {

namespace {

// Boot-sector fields (byte offsets, little-endian).
constexpr size_t kOffSectorsPerCluster = 13;  // 8-bit
constexpr size_t kOffReservedSectors = 14;    // 16-bit
constexpr size_t kOffNumberOfFats = 16;       // 8-bit
constexpr size_t kOffRootEntries = 17;        // 16-bit
constexpr size_t kOffTotalSectors16 = 19;     // 16-bit
constexpr size_t kOffFatSize16 = 22;          // 16-bit
constexpr size_t kOffTotalSectors32 = 32;     // 32-bit
constexpr size_t kOffFatSize32 = 36;          // 32-bit
constexpr size_t kOffRootCluster = 44;        // 32-bit
constexpr size_t kOffMftCluster = 48;         // 64-bit
constexpr size_t kOffMftMirrorCluster = 56;   // 64-bit
constexpr size_t kOffClustersPerRecord = 64;  // 32-bit as read
constexpr size_t kOffClustersPerIndex = 68;   // 32-bit as read
constexpr size_t kOffSignature = 510;
constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;

// First byte of a FAT on a fixed disk.
constexpr uint8_t kFixedDiskMedia = 0xF8;
// FAT32 keeps a copy of its boot sector this many sectors in.
constexpr uint64_t kFat32BackupOffset = 6;
constexpr uint32_t kDirEntryBytes = 32;
constexpr uint32_t kMinFats = 2;
// A FAT volume with fewer clusters than this has 12-bit FAT entries.
constexpr uint64_t kFat12ClusterLimit = 4085;

// NTFS: the encoded sizes the volume may use instead of a cluster count.
constexpr uint32_t kRecordSizeCode = 0xF6;      // 1024-byte MFT records
constexpr int32_t kRecordSizeCodeSectors = 2;
constexpr uint32_t kIndexSizeCode = 0xF4;       // 4096-byte index blocks
constexpr int32_t kIndexSizeCodeSectors = 8;
constexpr char kFileSignature[4] = {'F', 'I', 'L', 'E'};

bool PowerOfTwoUpTo128(uint32_t v) { return v >= 1 && v <= 128 && (v & (v - 1)) == 0; }

bool MftRecordSectorsOk(uint64_t v) { return v == 1 || v == 2 || v == 4 || v == 6 || v == 8; }

// One sector of the selected source; zeros where nothing could be read.
class SectorBuffer {
 public:
  SectorBuffer() : bytes_(std::max<size_t>(g_BytesPerSector > 0 ? g_BytesPerSector : 0, kOffSignature + 2)) {}
  void Read(uint64_t sector) {
    std::fill(bytes_.begin(), bytes_.end(), 0);
    if (g_BytesPerSector > 0) ReadSectors(SelectedDevicePath(), sector, 1, bytes_.data());
  }
  ByteReader reader() const { return ByteReader(bytes_.data(), bytes_.size()); }
  bool HasBootSignature() const {
    return bytes_[kOffSignature] == kSignature0 && bytes_[kOffSignature + 1] == kSignature1;
  }
  uint8_t First() const { return bytes_[0]; }
  bool StartsWith(const char (&sig)[4]) const { return std::memcmp(bytes_.data(), sig, 4) == 0; }

 private:
  std::vector<uint8_t> bytes_;
};

// Collects the members to store. A member holds the low 32 bits of its
// value: sector numbers up to 2^32 - 1, and the FAT cluster-0 sector, which
// may lie up to two clusters before the volume (readers recover it from
// the first data sector, see ClusterZeroBase). A value that 32 bits cannot
// hold spoils the whole result.
class Members {
 public:
  int32_t Fit(int64_t v) {
    if (v < std::numeric_limits<int32_t>::min() || v > int64_t{std::numeric_limits<uint32_t>::max()}) {
      tooLarge_ = true;
      return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  // A sector number that is not stored but must be addressable.
  void Check(uint64_t v) {
    if (v > std::numeric_limits<uint32_t>::max()) tooLarge_ = true;
  }
  bool tooLarge() const { return tooLarge_; }

 private:
  bool tooLarge_ = false;
};

int RefuseTooLarge() {
  ShowMessage(u"The selected volume lies beyond the sectors this program can address.");
  return 0;
}

struct FatBoot {
  uint32_t spc = 0;
  uint32_t reserved = 0;
  uint32_t fats = 0;
  uint32_t entries = 0;
  uint64_t fatSize = 0;
  uint32_t rootCluster = 0;

  // Values that would put the FATs or the clusters nowhere sensible.
  bool Sane() const { return PowerOfTwoUpTo128(spc) && reserved >= 1 && fatSize >= 1 && fats >= kMinFats; }
};

FatBoot ParseFatBoot(const ByteReader& r, bool fat32) {
  FatBoot b;
  b.spc = r.u8(kOffSectorsPerCluster);
  b.reserved = r.u16(kOffReservedSectors);
  b.fats = r.u8(kOffNumberOfFats);
  b.entries = r.u16(kOffRootEntries);
  b.fatSize = fat32 ? r.u32(kOffFatSize32) : r.u16(kOffFatSize16);
  b.rootCluster = fat32 ? r.u32(kOffRootCluster) : 0;
  return b;
}

int ReadFat16Geometry() {
  const uint64_t first = g_RangeFirstSector;
  SectorBuffer buf;
  buf.Read(first);
  if (!buf.HasBootSignature()) {
    g_PartitionGeometry = PartitionGeometry{};
    return 0;
  }
  const FatBoot b = ParseFatBoot(buf.reader(), false);
  if (!b.Sane()) return 0;

  const uint64_t fat1 = first + b.reserved;
  const uint64_t fat2 = fat1 + b.fatSize;
  buf.Read(fat2);
  if (buf.First() != kFixedDiskMedia) return 0;

  const uint64_t bps = static_cast<uint64_t>(g_BytesPerSector);
  const uint64_t rootDirSectors = (static_cast<uint64_t>(b.entries) * kDirEntryBytes + bps - 1) / bps;
  const uint64_t root = fat1 + static_cast<uint64_t>(b.fats) * b.fatSize;

  Members m;
  PartitionGeometry g = g_PartitionGeometry;
  g.sectorsPerCluster = m.Fit(b.spc);
  g.reservedSectors = m.Fit(b.reserved);
  g.rootLocation = m.Fit(static_cast<int64_t>(root));
  g.rootDirSectors = m.Fit(static_cast<int64_t>(rootDirSectors));
  g.fat1Sector = m.Fit(static_cast<int64_t>(fat1));
  g.fat2Sector = m.Fit(static_cast<int64_t>(fat2));
  m.Check(root + rootDirSectors);
  g.clusterZeroSector = m.Fit(static_cast<int64_t>(root + rootDirSectors) - 2 * static_cast<int64_t>(b.spc));
  g.sectorsPerFat = m.Fit(static_cast<int64_t>(b.fatSize));
  if (m.tooLarge()) return RefuseTooLarge();
  g_PartitionGeometry = g;
  return 1;
}

int ReadFat32Geometry() {
  const uint64_t first = g_RangeFirstSector;
  const uint64_t backup = first + kFat32BackupOffset;
  SectorBuffer buf;
  buf.Read(first);
  if (!buf.HasBootSignature()) {
    buf.Read(backup);
    if (!buf.HasBootSignature()) return 0;
  }
  FatBoot b = ParseFatBoot(buf.reader(), true);
  auto secondFatMatches = [&](const FatBoot& v) {
    if (!v.Sane()) return false;
    buf.Read(first + v.reserved + v.fatSize);
    return buf.First() == kFixedDiskMedia;
  };
  if (!secondFatMatches(b)) {
    buf.Read(backup);
    b = ParseFatBoot(buf.reader(), true);
    if (!secondFatMatches(b)) return 0;
  }

  const uint64_t fat1 = first + b.reserved;
  const uint64_t fat2 = fat1 + b.fatSize;
  const uint64_t data = fat1 + static_cast<uint64_t>(b.fats) * b.fatSize;

  Members m;
  PartitionGeometry g = g_PartitionGeometry;
  g.sectorsPerCluster = m.Fit(b.spc);
  g.rootLocation = m.Fit(b.rootCluster);
  g.rootDirSectors = 0;
  g.reservedSectors = m.Fit(b.reserved);
  g.fat1Sector = m.Fit(static_cast<int64_t>(fat1));
  g.fat2Sector = m.Fit(static_cast<int64_t>(fat2));
  m.Check(data);
  g.clusterZeroSector = m.Fit(static_cast<int64_t>(data) - 2 * static_cast<int64_t>(b.spc));
  g.sectorsPerFat = m.Fit(static_cast<int64_t>(b.fatSize));
  if (m.tooLarge()) return RefuseTooLarge();
  g_PartitionGeometry = g;
  return 1;
}

// The two copies of an NTFS boot sector: the one at the volume's first
// sector and the one at the range end (or the sector before it, where a
// range that ends after the volume puts it).
class NtfsBootCopies {
 public:
  // Reads the first copy; without a signature the other. False when
  // neither has one.
  bool ReadEither() {
    ReadPrimary();
    if (buf_.HasBootSignature()) return true;
    ReadBackup();
    return buf_.HasBootSignature();
  }
  void Switch() {
    if (atPrimary_)
      ReadBackup();
    else
      ReadPrimary();
  }
  ByteReader reader() const { return buf_.reader(); }

 private:
  void ReadPrimary() {
    atPrimary_ = true;
    buf_.Read(g_RangeFirstSector);
  }
  void ReadBackup() {
    atPrimary_ = false;
    buf_.Read(g_RangeEndSector);
    if (!buf_.HasBootSignature() && g_RangeEndSector > g_RangeFirstSector + 1) {
      buf_.Read(g_RangeEndSector - 1);
      if (!buf_.HasBootSignature()) buf_.Read(g_RangeEndSector);
    }
  }
  SectorBuffer buf_;
  bool atPrimary_ = true;
};

// Sector of a cluster; false when it would overflow.
bool ClusterSector(uint64_t first, uint32_t spc, uint64_t cluster, uint64_t* sector) {
  if (cluster > (std::numeric_limits<uint64_t>::max() - first) / spc) return false;
  *sector = first + cluster * spc;
  return true;
}

int ReadNtfsGeometry() {
  const uint64_t first = g_RangeFirstSector;
  NtfsBootCopies copies;
  if (!copies.ReadEither()) return 0;

  auto spcOf = [&] { return static_cast<uint32_t>(copies.reader().u8(kOffSectorsPerCluster)); };
  // Sectors per MFT record, or 0 when the copy's value is not one we take.
  auto recordSectorsOf = [&](uint32_t spc) -> uint64_t {
    uint32_t v = copies.reader().u32(kOffClustersPerRecord);
    if (v == kRecordSizeCode) return kRecordSizeCodeSectors;
    uint64_t s = static_cast<uint64_t>(v) * spc;
    return MftRecordSectorsOk(s) ? s : 0;
  };

  if (!PowerOfTwoUpTo128(spcOf())) {
    copies.Switch();
    if (!PowerOfTwoUpTo128(spcOf())) return 0;
  }
  uint32_t spc = spcOf();
  uint64_t recordSectors = recordSectorsOf(spc);
  if (recordSectors == 0) {
    copies.Switch();
    spc = spcOf();
    if (!PowerOfTwoUpTo128(spc)) return 0;
    recordSectors = recordSectorsOf(spc);
    if (recordSectors == 0) return 0;
  }

  // Finds a FILE record at the cluster a copy names; tries the other copy
  // once. 0 when neither points at one.
  SectorBuffer probe;
  auto locate = [&](size_t offset) -> uint64_t {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt == 1) copies.Switch();
      uint64_t sector = 0;
      if (!ClusterSector(first, spc, copies.reader().u64(offset), &sector)) continue;
      probe.Read(sector);
      if (probe.StartsWith(kFileSignature)) return sector;
    }
    return 0;
  };
  const uint64_t mft = locate(kOffMftCluster);
  const uint64_t mirror = locate(kOffMftMirrorCluster);
  if (mft == 0 && mirror == 0) return 0;

  const uint32_t indexValue = copies.reader().u32(kOffClustersPerIndex);
  const uint64_t indexSectors =
      indexValue == kIndexSizeCode ? kIndexSizeCodeSectors : static_cast<uint64_t>(indexValue) * spc;

  Members m;
  PartitionGeometry g = g_PartitionGeometry;
  g.sectorsPerCluster = m.Fit(spc);
  g.clusterZeroSector = m.Fit(static_cast<int64_t>(std::min<uint64_t>(first, INT64_MAX)));
  g.mftMirrorSector = m.Fit(static_cast<int64_t>(std::min<uint64_t>(mirror, INT64_MAX)));
  g.mftSector = m.Fit(static_cast<int64_t>(std::min<uint64_t>(mft, INT64_MAX)));
  g.sectorsPerMftRecord = m.Fit(static_cast<int64_t>(recordSectors));
  g.sectorsPerIndexBlock = m.Fit(static_cast<int64_t>(indexSectors));
  if (m.tooLarge()) return RefuseTooLarge();
  g_PartitionGeometry = g;
  return 1;
}

}  // namespace

std::u16string ScanFileSystemName() {
  // A partition search's range starts at no boot sector.
  if (g_SelectedFileSystem != u"FAT16" || g_AppState.partitionMode) return g_SelectedFileSystem;
  SectorBuffer buf;
  buf.Read(g_RangeFirstSector);
  if (!buf.HasBootSignature()) return g_SelectedFileSystem;
  const ByteReader r = buf.reader();
  const FatBoot b = ParseFatBoot(r, false);
  const uint64_t bps = g_BytesPerSector > 0 ? static_cast<uint64_t>(g_BytesPerSector) : 0;
  if (!b.Sane() || bps == 0) return g_SelectedFileSystem;
  const uint64_t total = r.u16(kOffTotalSectors16) ? r.u16(kOffTotalSectors16) : r.u32(kOffTotalSectors32);
  const uint64_t data =
      b.reserved + uint64_t{b.fats} * b.fatSize + (uint64_t{b.entries} * kDirEntryBytes + bps - 1) / bps;
  if (total <= data) return g_SelectedFileSystem;
  return (total - data) / b.spc < kFat12ClusterLimit ? u"FAT12" : g_SelectedFileSystem;
}

int ReadPartitionGeometry() {
  if (g_SelectedFileSystem == u"FAT16") return ReadFat16Geometry();
  if (g_SelectedFileSystem == u"FAT32") return ReadFat32Geometry();
  if (g_SelectedFileSystem == u"NTFS") return ReadNtfsGeometry();
  return 0;
}

void CopyFatMembers(PartitionGeometry& to, const PartitionGeometry& from) {
  to.sectorsPerCluster = from.sectorsPerCluster;
  to.sectorsPerFat = from.sectorsPerFat;
  to.rootLocation = from.rootLocation;
  to.rootDirSectors = from.rootDirSectors;
  to.reservedSectors = from.reservedSectors;
  to.clusterZeroSector = from.clusterZeroSector;
  to.fat1Sector = from.fat1Sector;
  to.fat2Sector = from.fat2Sector;
}

}  // namespace qm
