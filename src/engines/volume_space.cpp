#include "engines/volume_space.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "platform/byte_reader.h"
#include "platform/file.h"

namespace qm {

namespace {

// Boot-sector fields of FAT and NTFS volumes.
constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
constexpr size_t kReservedSectors = 0x0E;
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kTotalSectors16 = 0x13;
constexpr size_t kSectorsPerFat16 = 0x16;
constexpr size_t kTotalSectors32 = 0x20;
constexpr size_t kSectorsPerFat32 = 0x24;
constexpr size_t kNtfsOem = 0x03;
constexpr size_t kNtfsTotalSectors = 0x28;
constexpr size_t kNtfsMftCluster = 0x30;
constexpr size_t kNtfsClustersPerRecord = 0x40;
constexpr size_t kSignature = 0x1FE;

// FAT12 and FAT16 volumes have fewer clusters than these (the FAT type
// follows from the count, not from the label).
constexpr uint64_t kFat12Clusters = 4085;
constexpr uint64_t kFat16Clusters = 65525;
// The $Bitmap file's record and the largest record read for it.
constexpr uint64_t kBitmapRecord = 6;
constexpr uint32_t kMaxRecordBytes = 64 * 1024;
// The FAT or bitmap is read in pieces of this many bytes.
constexpr size_t kChunk = 1 << 20;

bool ValidSectorSize(uint32_t bps) { return bps >= 512 && bps <= 4096 && std::has_single_bit(bps); }

bool ReadWhole(File& f, std::vector<uint8_t>& buf, uint64_t offset) {
  return f.readAt(buf.data(), buf.size(), offset) == static_cast<int64_t>(buf.size());
}

VolumeSpace FatSpace(File& f, const ByteReader& boot) {
  VolumeSpace s;
  const uint32_t bps = boot.u16(kBytesPerSector);
  const uint32_t spc = boot.u8(kSectorsPerCluster);
  const uint64_t reserved = boot.u16(kReservedSectors);
  const uint64_t fats = boot.u8(kFatCount);
  const uint64_t rootSectors = (uint64_t{boot.u16(kRootEntries)} * 32 + bps - 1) / std::max(bps, 1u);
  const uint64_t total = boot.u16(kTotalSectors16) ? boot.u16(kTotalSectors16) : boot.u32(kTotalSectors32);
  const uint64_t fatSectors = boot.u16(kSectorsPerFat16) ? boot.u16(kSectorsPerFat16) : boot.u32(kSectorsPerFat32);
  if (!ValidSectorSize(bps) || spc == 0 || !std::has_single_bit(spc) || fats == 0 || fatSectors == 0) return s;
  const uint64_t dataStart = reserved + fats * fatSectors + rootSectors;
  if (total <= dataStart) return s;
  const uint64_t clusters = (total - dataStart) / spc;
  // Bits per FAT entry by the cluster count; the FAT must hold every entry.
  const int bits = clusters < kFat12Clusters ? 12 : clusters < kFat16Clusters ? 16 : 32;
  if ((clusters + 2) * bits > fatSectors * bps * 8) return s;
  const uint64_t fatBytes = ((clusters + 2) * bits + 7) / 8;
  uint64_t freeClusters = 0;
  std::vector<uint8_t> buf;
  // Whole entries per piece: a multiple of 3 bytes (two 12-bit entries) and of 4.
  const uint64_t step = kChunk - kChunk % 12;
  for (uint64_t at = 0; at < fatBytes; at += step) {
    buf.assign(static_cast<size_t>(std::min(step, fatBytes - at)), 0);
    if (!ReadWhole(f, buf, reserved * bps + at)) return s;
    const ByteReader r(buf.data(), buf.size());
    const uint64_t first = at * 8 / bits;
    const uint64_t last = std::min<uint64_t>(clusters + 2, (at + buf.size()) * 8 / bits);
    for (uint64_t n = std::max<uint64_t>(first, 2); n < last; ++n) {
      const size_t off = static_cast<size_t>(n * bits / 8 - at);
      uint32_t entry = 0;
      if (bits == 12) entry = (n & 1) ? r.u16(off) >> 4 : r.u16(off) & 0xFFF;
      else if (bits == 16) entry = r.u16(off);
      else entry = r.u32(off) & 0x0FFFFFFF;
      if (r.fail()) return s;
      if (entry == 0) ++freeClusters;
    }
  }
  s.known = true;
  s.capacity = total * bps;
  s.freeBytes = freeClusters * spc * bps;
  return s;
}

VolumeSpace NtfsSpace(File& f, const ByteReader& boot) {
  VolumeSpace s;
  const uint32_t bps = boot.u16(kBytesPerSector);
  const uint32_t spc = boot.u8(kSectorsPerCluster);
  const uint64_t total = boot.u64(kNtfsTotalSectors);
  const uint64_t mftCluster = boot.u64(kNtfsMftCluster);
  const int8_t perRecord = boot.i8(kNtfsClustersPerRecord);
  if (!ValidSectorSize(bps) || spc == 0 || !std::has_single_bit(spc) || total == 0) return s;
  const uint64_t clusterBytes = uint64_t{bps} * spc;
  const uint64_t recordBytes = perRecord < 0 ? (perRecord > -31 ? uint64_t{1} << -perRecord : 0) : perRecord * clusterBytes;
  if (recordBytes < 512 || recordBytes > kMaxRecordBytes) return s;
  const uint64_t clusters = total / spc;
  if (mftCluster >= clusters) return s;
  // $Bitmap's record lies in the MFT's first extent, which always holds the
  // system files.
  std::vector<uint8_t> record(static_cast<size_t>(recordBytes));
  if (!ReadWhole(f, record, mftCluster * clusterBytes + kBitmapRecord * recordBytes)) return s;
  bool intact = false;
  if (record[0] != 'F' || record[1] != 'I' || record[2] != 'L' || record[3] != 'E') return s;
  ApplyFixups(record, &intact);
  if (!intact) return s;
  RunTable runs;
  int64_t bitmapBytes = -1;
  WalkAttributes(record, record.size(), [&](const NtfsAttribute& a) {
    if (a.type() != kAttrData || a.named() || !a.nonResident()) return false;
    bitmapBytes = a.bytes.i64(0x30);  // real size of the stream
    const uint16_t runsAt = a.bytes.u16(0x20);
    DecodeDataRuns(record, runs, 0, a.offset + runsAt, a.offset + a.bytes.size(), 1);
    return true;
  });
  // Sector-less units here: the runs are in clusters (one "sector" each).
  const uint64_t needBytes = (clusters + 7) / 8;
  if (bitmapBytes < 0 || static_cast<uint64_t>(bitmapBytes) < needBytes || runs.count() == 0) return s;
  uint64_t setBits = 0, done = 0;
  std::vector<uint8_t> buf;
  for (size_t i = 0; i < runs.count() && done < needBytes; ++i) {
    if (runs.sparse(i)) return s;  // $Bitmap is never sparse
    const uint64_t runBytes = static_cast<uint64_t>(runs.lengths[i]) * clusterBytes;
    const uint64_t runStart = static_cast<uint64_t>(runs.starts[i]) * clusterBytes;
    if (static_cast<uint64_t>(runs.starts[i]) + static_cast<uint64_t>(runs.lengths[i]) > clusters) return s;
    for (uint64_t at = 0; at < runBytes && done < needBytes; at += kChunk) {
      buf.assign(static_cast<size_t>(std::min<uint64_t>({kChunk, runBytes - at, needBytes - done})), 0);
      if (!ReadWhole(f, buf, runStart + at)) return s;
      for (size_t b = 0; b < buf.size(); ++b) {
        uint8_t byte = buf[b];
        // Bits past the last cluster do not count.
        if (done + b == needBytes - 1 && clusters % 8) byte &= static_cast<uint8_t>((1u << (clusters % 8)) - 1);
        setBits += static_cast<uint64_t>(std::popcount(byte));
      }
      done += buf.size();
    }
  }
  if (done < needBytes) return s;
  s.known = true;
  s.capacity = total * bps;
  s.freeBytes = (clusters - std::min(setBits, clusters)) * clusterBytes;
  return s;
}

}  // namespace

VolumeSpace ReadVolumeSpace(const std::string& path) {
  File f;
  if (!f.open(path, File::Mode::Read)) return {};
  std::vector<uint8_t> sector(512);
  if (!ReadWhole(f, sector, 0)) return {};
  const ByteReader boot(sector.data(), sector.size());
  if (boot.u8(kSignature) != 0x55 || boot.u8(kSignature + 1) != 0xAA) return {};
  const auto oem = boot.bytes(kNtfsOem, 4);
  if (oem.size() == 4 && std::equal(oem.begin(), oem.end(), "NTFS")) return NtfsSpace(f, boot);
  return FatSpace(f, boot);
}

}  // namespace qm
