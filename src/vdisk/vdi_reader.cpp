#include "vdisk/vdi_reader.h"

#include <cstring>
#include <new>

#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr uint32_t kVdiSignature = 0xBEDA107F;
constexpr size_t kPreHeaderBytes = 72;
constexpr size_t kOffSignature = 64, kOffVersion = 68;
constexpr size_t kHeaderBytes = 384, kLongHeaderBytes = 400;
constexpr size_t kReadBytes = kPreHeaderBytes + kLongHeaderBytes;
constexpr uint32_t kOldVersion = 0x00000002;
// Offsets inside the version-1 header, which starts after the pre-header.
constexpr size_t kOffHeaderSize = 0, kOffType = 4, kOffFlags = 8, kOffBlocksOffset = 268, kOffDataOffset = 272,
                 kOffDiskSize = 296, kOffBlockSize = 304, kOffBlockExtra = 308, kOffBlockCount = 312,
                 kOffLchs = 384;
constexpr uint32_t kMinBlocksOffset = 456;
constexpr uint32_t kMinBlockSize = 512;
constexpr uint32_t kBlockFree = 0xFFFFFFFF;
constexpr uint32_t kBlockZero = 0xFFFFFFFE;

}  // namespace

int DecodeVdiHeader(ByteReader r, uint64_t fileSize, VdiHeader& h) {
  if (r.size() < kPreHeaderBytes || r.u32(kOffSignature) != kVdiSignature) return kVdNotThisFormat;
  h = VdiHeader{};
  h.version = r.u32(kOffVersion);
  if ((h.version >> 16) != 1 && h.version != kOldVersion) return kVdNotThisFormat;
  if (h.version == kOldVersion) return kVdDamaged;  // the major-0 layout is recognised, not read
  if (r.size() < kPreHeaderBytes + kHeaderBytes) return kVdDamaged;
  ByteReader hd = r.sub(kPreHeaderBytes, r.size() - kPreHeaderBytes);
  h.headerSize = hd.u32(kOffHeaderSize);
  h.imageType = hd.u32(kOffType);
  h.imageFlags = hd.u32(kOffFlags);
  h.offBlocks = hd.u32(kOffBlocksOffset);
  h.offData = hd.u32(kOffDataOffset);
  h.diskSize = hd.u64(kOffDiskSize);
  h.blockSize = hd.u32(kOffBlockSize);
  h.blockExtra = hd.u32(kOffBlockExtra);
  h.blocks = hd.u32(kOffBlockCount);
  if (h.headerSize < kHeaderBytes) return kVdDamaged;
  if (h.headerSize >= kLongHeaderBytes) {
    if (!hd.has(kOffLchs, sizeof h.lchsGeometry)) return kVdDamaged;
    hd.copy(kOffLchs, h.lchsGeometry, sizeof h.lchsGeometry);
  }
  if (h.offBlocks < kMinBlocksOffset) return kVdDamaged;
  uint64_t mapBytes = uint64_t{h.blocks} * 4;
  if (h.offData < h.offBlocks + mapBytes) return kVdDamaged;
  if (h.offBlocks > fileSize || mapBytes > fileSize - h.offBlocks) return kVdDamaged;
  // Blocks are located by shifting, so their size must be a power of two.
  if (!IsPowerOfTwo(h.blockSize) || h.blockSize < kMinBlockSize) return kVdDamaged;
  return kVdOpened;
}

void VdiReader::CloseLocked() {
  file_.close();
  open_ = false;
  blockMap_.clear();
  blockMap_.shrink_to_fit();
}

void VdiReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

VdiHeader VdiReader::header() {
  std::lock_guard lock(mutex_);
  return h_;
}

int VdiReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  CloseLocked();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t size = file_.size();
  uint8_t raw[kReadBytes] = {};
  int64_t got = file_.readAt(raw, sizeof raw, 0);
  if (got < static_cast<int64_t>(kPreHeaderBytes)) return kVdNotThisFormat;
  VdiHeader h;
  uint64_t fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
  int decoded = DecodeVdiHeader(ByteReader(raw, static_cast<size_t>(got)), fileSize, h);
  if (decoded != kVdOpened) return decoded;
  try {
    std::vector<uint8_t> rawMap(size_t{h.blocks} * 4);
    if (file_.readAt(rawMap.data(), rawMap.size(), h.offBlocks) != static_cast<int64_t>(rawMap.size()))
      return kVdDamaged;
    ByteReader br(rawMap.data(), rawMap.size());
    blockMap_.resize(h.blocks);
    for (uint32_t i = 0; i < h.blocks; ++i) blockMap_[i] = br.u32(size_t{i} * 4);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  h_ = h;
  open_ = true;
  return kVdOpened;
}

int VdiReader::Read(uint64_t offset, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (!open_) {
    std::memset(buffer, 0, count);
    return 0;
  }
  const uint64_t block = h_.blockSize;
  const uint32_t shift = Log2(block);
  const uint64_t stride = uint64_t{h_.blockSize} + h_.blockExtra;
  auto map = [&](uint64_t off, uint64_t) -> DiskRun {
    DiskRun run;
    run.length = ToUnitEnd(off, block);
    uint64_t index = off >> shift;
    if (index >= blockMap_.size()) return run;
    uint32_t entry = blockMap_[index];
    if (entry == kBlockFree || entry == kBlockZero) {
      run.kind = DiskRun::Zero;
      return run;
    }
    run.kind = DiskRun::Data;
    run.file = &file_;
    run.filePos = entry * stride + h_.blockExtra + h_.offData + (off & (block - 1));
    return run;
  };
  return ReadWithinDisk(h_.diskSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
    return ReadMappedRuns(off, n, dest, map);
  });
}

}  // namespace qm
