#include "vdisk/vhd_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr char kFooterCookie[] = "conectix";
constexpr char kDynamicCookie[] = "cxsparse";
constexpr size_t kCookieBytes = 8;
constexpr size_t kFooterBytes = 512, kDynamicBytes = 1024;
constexpr size_t kOffDataOffset = 16, kOffCurrentSize = 48, kOffDiskType = 60;
constexpr size_t kOffTableOffset = 16, kOffMaxEntries = 28, kOffBlockSize = 32, kOffParentName = 64;
constexpr size_t kParentNameUnits = 256;
constexpr uint32_t kUnallocated = 0xFFFFFFFF;
constexpr uint64_t kSector = 512;
// A block holds at least 8 sectors (one bitmap byte).
constexpr uint32_t kMinBlockSize = 4096;
constexpr uint32_t kMaxBlockSize = 1u << 30;

}  // namespace

int DecodeVhdFooter(ByteReader r, VhdFooter& f) {
  if (r.size() < kFooterBytes || std::memcmp(r.data(), kFooterCookie, kCookieBytes) != 0) return kVdNotThisFormat;
  f = VhdFooter{};
  f.dataOffset = r.be64(kOffDataOffset);
  f.currentSize = r.be64(kOffCurrentSize);
  f.diskType = r.be32(kOffDiskType);
  if (f.diskType != kVhdFixed && f.diskType != kVhdDynamic && f.diskType != kVhdDifferencing) return kVdDamaged;
  return kVdOpened;
}

bool DecodeVhdDynamicHeader(ByteReader r, uint64_t fileSize, VhdDynamicHeader& d) {
  if (r.size() < kDynamicBytes || std::memcmp(r.data(), kDynamicCookie, kCookieBytes) != 0) return false;
  d = VhdDynamicHeader{};
  d.tableOffset = r.be64(kOffTableOffset);
  d.maxTableEntries = r.be32(kOffMaxEntries);
  d.blockSize = r.be32(kOffBlockSize);
  for (size_t i = 0; i < kParentNameUnits; ++i) {
    char16_t c = r.be16(kOffParentName + 2 * i);
    if (c == 0) break;
    d.parentName.push_back(c);
  }
  if (!IsPowerOfTwo(d.blockSize) || d.blockSize < kMinBlockSize || d.blockSize > kMaxBlockSize) return false;
  uint64_t batBytes = uint64_t{d.maxTableEntries} * 4;
  if (d.tableOffset > fileSize || batBytes > fileSize - d.tableOffset) return false;
  return true;
}

void VhdReader::CloseLocked() {
  file_.close();
  open_ = false;
  bat_.clear();
  bat_.shrink_to_fit();
  sectorBitmap_.clear();
  bitmapBlock_ = UINT64_MAX;
  footer_ = VhdFooter{};
  dyn_ = VhdDynamicHeader{};
}

void VhdReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

uint32_t VhdReader::diskType() {
  std::lock_guard lock(mutex_);
  return open_ ? footer_.diskType : 0;
}

std::u16string VhdReader::parentName() {
  std::lock_guard lock(mutex_);
  return dyn_.parentName;
}

int VhdReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  CloseLocked();
  for (VhdReader* r = next_; r; r = r->next_) r->Close();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t ssize = file_.size();
  uint64_t size = ssize > 0 ? static_cast<uint64_t>(ssize) : 0;
  uint8_t raw[kFooterBytes];
  int decoded = kVdNotThisFormat;
  // The footer ends the file; dynamic images keep a copy at its start.
  if (size >= kFooterBytes && file_.readAt(raw, sizeof raw, size - kFooterBytes) == static_cast<int64_t>(sizeof raw))
    decoded = DecodeVhdFooter(ByteReader(raw, sizeof raw), footer_);
  if (decoded == kVdNotThisFormat) {
    if (file_.readAt(raw, sizeof raw, 0) != static_cast<int64_t>(sizeof raw)) return kVdNotThisFormat;
    decoded = DecodeVhdFooter(ByteReader(raw, sizeof raw), footer_);
  }
  if (decoded != kVdOpened) return decoded;
  if (footer_.diskType == kVhdFixed) {
    open_ = true;
    return kVdOpened;
  }
  uint8_t dynRaw[kDynamicBytes];
  if (file_.readAt(dynRaw, sizeof dynRaw, footer_.dataOffset) != static_cast<int64_t>(sizeof dynRaw) ||
      !DecodeVhdDynamicHeader(ByteReader(dynRaw, sizeof dynRaw), size, dyn_))
    return kVdDamaged;
  sectorsPerBlock_ = dyn_.blockSize / kSector;
  bitmapBytes_ = sectorsPerBlock_ / 8;
  bitmapSectors_ = (bitmapBytes_ + kSector - 1) / kSector;
  try {
    std::vector<uint8_t> rawBat(size_t{dyn_.maxTableEntries} * 4);
    if (file_.readAt(rawBat.data(), rawBat.size(), dyn_.tableOffset) != static_cast<int64_t>(rawBat.size()))
      return kVdDamaged;
    ByteReader br(rawBat.data(), rawBat.size());
    bat_.resize(dyn_.maxTableEntries);
    for (uint32_t i = 0; i < dyn_.maxTableEntries; ++i) bat_[i] = br.be32(size_t{i} * 4);
    sectorBitmap_.resize(bitmapBytes_);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  open_ = true;
  return kVdOpened;
}

bool VhdReader::ReadBytesLocked(uint64_t offset, size_t count, uint8_t* buffer) {
  if (!open_) {
    std::memset(buffer, 0, count);
    return false;
  }
  if (footer_.diskType == kVhdFixed) {
    return ReadWithinDisk(footer_.currentSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
      return ReadMappedRuns(off, n, dest, [&](uint64_t o, uint64_t len) {
        return DiskRun{DiskRun::Data, len, &file_, o};
      });
    }) != 0;
  }
  const bool differencing = footer_.diskType == kVhdDifferencing;
  const uint64_t blockBytes = dyn_.blockSize;
  auto map = [&](uint64_t off, uint64_t) -> DiskRun {
    DiskRun run;
    run.length = ToUnitEnd(off, blockBytes);
    uint64_t block = off / blockBytes;
    if (block >= bat_.size()) return run;
    uint32_t start = bat_[block];
    if (start == kUnallocated) {
      run.kind = differencing ? DiskRun::Parent : DiskRun::Zero;
      return run;
    }
    uint64_t dataPos = (uint64_t{start} + bitmapSectors_) * kSector;
    uint64_t inBlock = off & (blockBytes - 1);
    if (!differencing) {
      run.kind = DiskRun::Data;
      run.file = &file_;
      run.filePos = dataPos + inBlock;
      return run;
    }
    if (bitmapBlock_ != block) {
      if (file_.readAt(sectorBitmap_.data(), bitmapBytes_, uint64_t{start} * kSector) !=
          static_cast<int64_t>(bitmapBytes_)) {
        bitmapBlock_ = UINT64_MAX;
        return run;
      }
      bitmapBlock_ = block;
    }
    // A run of sectors whose bits agree: set bits are this image's, clear ones the parent's.
    uint64_t first = inBlock / kSector;
    auto bit = [&](uint64_t s) { return (sectorBitmap_[s / 8] >> (7 - s % 8)) & 1; };
    int mine = bit(first);
    uint64_t last = first + 1;
    while (last < sectorsPerBlock_ && bit(last) == mine) ++last;
    run.length = last * kSector - inBlock;
    if (mine) {
      run.kind = DiskRun::Data;
      run.file = &file_;
      run.filePos = dataPos + inBlock;
    } else {
      run.kind = DiskRun::Parent;
    }
    return run;
  };
  auto parent = [&](uint64_t off, size_t n, uint8_t* dest) {
    if (!next_) {  // the end of the chain: what no image holds is unknown
      std::memset(dest, 0, n);
      return false;
    }
    return next_->ReadBytes(off, n, dest);
  };
  return ReadWithinDisk(footer_.currentSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
    return ReadMappedRuns(off, n, dest, map, parent);
  }) != 0;
}

bool VhdReader::ReadBytes(uint64_t offset, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  return ReadBytesLocked(offset, count, buffer);
}

int VhdReader::Read(uint64_t sector, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (sector > (UINT64_MAX >> 9)) {
    std::memset(buffer, 0, count);
    return 0;
  }
  if (count == 0) return 0;
  return ReadBytesLocked(sector * kSector, count, buffer) ? 1 : 0;
}

}  // namespace qm
