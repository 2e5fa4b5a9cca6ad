#include "vdisk/vhdx_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr char kFileIdentifier[] = "vhdxfile";
constexpr uint64_t kHeader1Offset = 0x10000, kHeader2Offset = 0x20000, kRegionTableOffset = 0x30000;
constexpr size_t kHeaderBytes = 4096, kHeaderKept = 80;
constexpr size_t kTableBytes = 65536;
constexpr uint32_t kHeaderSignature = 0x64616568;  // "head"
constexpr size_t kOffHeaderSeq = 8, kOffHeaderVersion = 66, kOffLogLength = 68, kOffLogOffset = 72;
constexpr uint16_t kHeaderVersion = 1;
constexpr uint32_t kRegionSignature = 0x69676572;  // "regi"
constexpr size_t kOffRegionCount = 8, kRegionEntries = 16, kRegionEntryBytes = 32;
constexpr uint32_t kMaxEntries = 2047;
constexpr uint32_t kMetadataSig0 = 0x6174656D, kMetadataSig1 = 0x61746164;  // "metadata"
constexpr size_t kOffMetadataCount = 10, kMetadataEntries = 32, kMetadataEntryBytes = 32;
constexpr uint32_t kMetadataRequired = 0x4;
constexpr uint32_t kHasParent = 0x2;
constexpr uint32_t kMinBlockSize = 0x100000, kMaxBlockSize = 0x10000000;
constexpr uint64_t kReservedEnd = 0x100000;  // identifier, headers and region tables
constexpr uint64_t kBatOffsetMask = ~uint64_t{0xFFFFF};
constexpr uint64_t kStateMask = 7;
constexpr uint64_t kFullyPresent = 6, kPartiallyPresent = 7, kStateFour = 4;
constexpr uint64_t kSector = 512;

// A GUID as the file stores it: its first three fields little-endian.
struct Guid {
  uint8_t b[16];
  bool operator==(const uint8_t* p) const { return std::memcmp(b, p, 16) == 0; }
};

Guid FileGuid(const char* text) {
  Uuid u{};
  ParseUuid(text, u);
  Guid g{};
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g.b[i] = u[order[i]];
  return g;
}

const Guid kBatGuid = FileGuid("2dc27766-f623-4200-9d64-115e9bfd4a08");
const Guid kMetadataGuid = FileGuid("8b7ca206-4790-4b9a-b8fe-575f050f886e");

enum Item { kFileParameters, kVirtualDiskSize, kPage83, kLogicalSector, kPhysicalSector, kParentLocator, kItems };
const Guid kItemGuids[kItems] = {
    FileGuid("caa16737-fa36-4d43-b3b6-33f0aa44e76b"), FileGuid("2fa54224-cd1b-4876-b211-5dbed83bf4b8"),
    FileGuid("beca12ab-b2e6-4523-93ef-c309e000c746"), FileGuid("8141bf1d-a96f-4709-ba47-f233a8faab5f"),
    FileGuid("cda348c7-445d-4471-9cc9-e9885251c556"), FileGuid("a8d35f2d-b30b-454d-abf7-d3d84834ab0c")};
constexpr uint32_t kRequiredItems = 0x1F;  // the first five, no parent locator

bool HeaderValid(const ByteReader& h) {
  return h.size() >= kHeaderKept && h.u32(0) == kHeaderSignature && h.u16(kOffHeaderVersion) == kHeaderVersion;
}

}  // namespace

bool VhdxReadHeaders(ByteReader h1, ByteReader h2, VhdxLayout& out) {
  bool v1 = HeaderValid(h1), v2 = HeaderValid(h2);
  if (!v1 && !v2) return false;
  int current = 0;
  if (v1 && v2) {
    uint64_t s1 = h1.u64(kOffHeaderSeq), s2 = h2.u64(kOffHeaderSeq);
    if (s1 == s2) {
      if (std::memcmp(h1.data(), h2.data(), kHeaderKept) != 0) return false;
    } else if (s2 > s1) {
      current = 1;
    }
  } else if (v2) {
    current = 1;
  }
  const ByteReader& h = current ? h2 : h1;
  out.currentHeader = current;
  out.logLength = h.u32(kOffLogLength);
  out.logOffset = h.u64(kOffLogOffset);
  return true;
}

bool VhdxReadRegionTable(ByteReader t, VhdxLayout& out) {
  if (t.u32(0) != kRegionSignature) return false;
  uint32_t count = t.u32(kOffRegionCount);
  if (count > kMaxEntries) return false;
  bool haveBat = false, haveMetadata = false;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = kRegionEntries + size_t{i} * kRegionEntryBytes;
    ByteReader e = t.sub(at, kRegionEntryBytes);
    if (t.fail()) return false;
    uint64_t offset = e.u64(16);
    uint32_t length = e.u32(24);
    bool required = e.u32(28) & 1;
    if (kBatGuid == e.data()) {
      if (haveBat) return false;
      haveBat = true;
      out.batOffset = offset;
      out.batLength = length;
    } else if (kMetadataGuid == e.data()) {
      if (haveMetadata) return false;
      haveMetadata = true;
      out.metadataOffset = offset;
      out.metadataLength = length;
    } else if (required) {
      return false;
    }
  }
  return haveBat && haveMetadata;
}

bool VhdxReadMetadata(ByteReader t, VhdxLayout& out,
                      const std::function<bool(uint64_t offset, size_t length, uint8_t* dest)>& item) {
  if (t.u32(0) != kMetadataSig0 || t.u32(4) != kMetadataSig1) return false;
  uint16_t count = t.u16(kOffMetadataCount);
  if (count > kMaxEntries) return false;
  uint32_t seen = 0;
  uint32_t itemOffset[kItems] = {}, itemLength[kItems] = {};
  for (uint32_t i = 0; i < count; ++i) {
    ByteReader e = t.sub(kMetadataEntries + size_t{i} * kMetadataEntryBytes, kMetadataEntryBytes);
    if (t.fail()) return false;
    int known = -1;
    for (int k = 0; k < kItems; ++k)
      if (kItemGuids[k] == e.data()) known = k;
    if (known < 0) {
      if (e.u32(24) & kMetadataRequired) return false;
      continue;
    }
    if (seen & (1u << known)) return false;
    seen |= 1u << known;
    itemOffset[known] = e.u32(16);
    itemLength[known] = e.u32(20);
  }
  if (seen != kRequiredItems) return false;
  uint8_t buf[8];
  auto get = [&](Item which, size_t n) {
    // An item must lie inside the metadata region and hold what is read.
    if (itemLength[which] < n || itemOffset[which] > out.metadataLength ||
        n > out.metadataLength - itemOffset[which])
      return false;
    return item(itemOffset[which], n, buf);
  };
  if (!get(kFileParameters, 8)) return false;
  out.blockSize = ByteReader(buf, 8).u32(0);
  out.fileParameterFlags = ByteReader(buf, 8).u32(4);
  if (out.fileParameterFlags & kHasParent) return false;
  if (!get(kVirtualDiskSize, 8)) return false;
  out.virtualSize = ByteReader(buf, 8).u64(0);
  if (!get(kLogicalSector, 4)) return false;
  out.logicalSectorSize = ByteReader(buf, 4).u32(0);
  if (!get(kPhysicalSector, 4)) return false;
  out.physicalSectorSize = ByteReader(buf, 4).u32(0);
  if (out.blockSize < kMinBlockSize || out.blockSize > kMaxBlockSize || !IsPowerOfTwo(out.blockSize)) return false;
  if (out.logicalSectorSize != 512 && out.logicalSectorSize != 4096) return false;
  out.chunkRatio = ((uint64_t{1} << 23) * out.logicalSectorSize) / out.blockSize;
  if (!IsPowerOfTwo(out.chunkRatio)) return false;
  return true;
}

bool VhdxCheckLayout(uint64_t fileSize, VhdxLayout& out) {
  uint64_t dataBlocks = out.virtualSize / out.blockSize + (out.virtualSize % out.blockSize ? 1 : 0);
  out.batEntries = dataBlocks == 0 ? 0 : dataBlocks + (dataBlocks - 1) / out.chunkRatio;
  if (out.batLength / 8 < out.batEntries) return false;
  if (out.batOffset > fileSize || out.batLength > fileSize - out.batOffset) return false;
  if (out.metadataOffset > fileSize || kTableBytes > fileSize - out.metadataOffset) return false;
  // The log and the regions must not overlap one another or the file's start.
  struct Range { uint64_t start, end; };
  Range ranges[] = {{out.logOffset, out.logOffset + out.logLength},
                    {out.batOffset, out.batOffset + out.batLength},
                    {out.metadataOffset, out.metadataOffset + out.metadataLength}};
  for (size_t i = 0; i < 3; ++i) {
    if (ranges[i].end == ranges[i].start) continue;
    if (ranges[i].end < ranges[i].start || ranges[i].start < kReservedEnd) return false;
    for (size_t k = 0; k < i; ++k)
      if (ranges[k].end != ranges[k].start && ranges[i].start < ranges[k].end && ranges[k].start < ranges[i].end)
        return false;
  }
  return true;
}

void VhdxReader::CloseLocked() {
  file_.close();
  open_ = false;
  bat_.clear();
  bat_.shrink_to_fit();
  layout_ = VhdxLayout{};
}

void VhdxReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

int VhdxReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  CloseLocked();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t ssize = file_.size();
  uint64_t size = ssize > 0 ? static_cast<uint64_t>(ssize) : 0;
  char id[10] = {};
  if (file_.readAt(id, sizeof id, 0) != static_cast<int64_t>(sizeof id) || std::memcmp(id, kFileIdentifier, 8) != 0)
    return kVdNotThisFormat;
  NewUuid(openGuid_);
  VhdxLayout layout;
  try {
    std::vector<uint8_t> h1(kHeaderBytes), h2(kHeaderBytes), table(kTableBytes);
    if (file_.readAt(h1.data(), kHeaderBytes, kHeader1Offset) != static_cast<int64_t>(kHeaderBytes) ||
        file_.readAt(h2.data(), kHeaderBytes, kHeader2Offset) != static_cast<int64_t>(kHeaderBytes) ||
        !VhdxReadHeaders(ByteReader(h1.data(), kHeaderKept), ByteReader(h2.data(), kHeaderKept), layout))
      return kVdDamaged;
    if (file_.readAt(table.data(), kTableBytes, kRegionTableOffset) != static_cast<int64_t>(kTableBytes) ||
        !VhdxReadRegionTable(ByteReader(table.data(), kTableBytes), layout))
      return kVdDamaged;
    if (file_.readAt(table.data(), kTableBytes, layout.metadataOffset) != static_cast<int64_t>(kTableBytes))
      return kVdDamaged;
    auto item = [&](uint64_t offset, size_t n, uint8_t* dest) {
      return file_.readAt(dest, n, layout.metadataOffset + offset) == static_cast<int64_t>(n);
    };
    if (!VhdxReadMetadata(ByteReader(table.data(), kTableBytes), layout, item)) return kVdDamaged;
    if (!VhdxCheckLayout(size, layout)) return kVdDamaged;
    std::vector<uint8_t> rawBat(layout.batLength);
    if (file_.readAt(rawBat.data(), rawBat.size(), layout.batOffset) != static_cast<int64_t>(rawBat.size()))
      return kVdDamaged;
    ByteReader br(rawBat.data(), rawBat.size());
    bat_.resize(layout.batEntries);
    for (uint64_t i = 0; i < layout.batEntries; ++i) bat_[i] = br.u64(i * 8);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  layout_ = layout;
  open_ = true;
  return kVdOpened;
}

int VhdxReader::Read(uint64_t sector, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (!open_ || sector > (UINT64_MAX >> 9)) {
    std::memset(buffer, 0, count);
    return 0;
  }
  const uint64_t block = layout_.blockSize;
  auto map = [&](uint64_t off, uint64_t) -> DiskRun {
    DiskRun run;
    run.length = ToUnitEnd(off, block);
    uint64_t index = off / block;
    uint64_t batIndex = index + index / layout_.chunkRatio;
    if (batIndex >= bat_.size()) return run;
    uint64_t e = bat_[batIndex];
    uint64_t state = e & kStateMask;
    if (state == kPartiallyPresent || state == kStateFour) return run;
    if (state != kFullyPresent) {
      run.kind = DiskRun::Zero;
      return run;
    }
    run.kind = DiskRun::Data;
    run.file = &file_;
    run.filePos = (e & kBatOffsetMask) + (off & (block - 1));
    return run;
  };
  return ReadWithinDisk(layout_.virtualSize, sector * kSector, count, buffer,
                        [&](uint64_t off, size_t n, uint8_t* dest) { return ReadMappedRuns(off, n, dest, map); });
}

}  // namespace qm
