#include "vdisk/qed_reader.h"

#include <cstring>
#include <new>

#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr uint32_t kQedMagic = 0x00444551;  // "QED\0"
constexpr size_t kHeaderBytes = 64;
constexpr size_t kOffMagic = 0, kOffClusterSize = 4, kOffTableSize = 8, kOffL1Offset = 40, kOffImageSize = 48;
constexpr uint32_t kMinClusterSize = 4096, kMaxClusterSize = 64u << 20;
constexpr uint32_t kMaxTableSize = 16;
constexpr uint64_t kZeroCluster = 1;

}  // namespace

int DecodeQedHeader(ByteReader r, uint64_t fileSize, QedHeader& h) {
  if (r.size() < kHeaderBytes || r.u32(kOffMagic) != kQedMagic) return kVdNotThisFormat;
  h = QedHeader{};
  h.imageSize = r.u64(kOffImageSize);
  if (h.imageSize % 512 != 0) return kVdNotThisFormat;
  h.clusterSize = r.u32(kOffClusterSize);
  h.tableSize = r.u32(kOffTableSize);
  h.l1TableOffset = r.u64(kOffL1Offset);
  if (!IsPowerOfTwo(h.clusterSize) || h.clusterSize < kMinClusterSize || h.clusterSize > kMaxClusterSize)
    return kVdDamaged;
  if (!IsPowerOfTwo(h.tableSize) || h.tableSize > kMaxTableSize) return kVdDamaged;
  uint64_t tableBytes = uint64_t{h.clusterSize} * h.tableSize;
  // L2 tables go through the cache, which must hold at least one.
  if (tableBytes > TableCache::kMaxBytes) return kVdDamaged;
  h.tableBytes = static_cast<uint32_t>(tableBytes);
  h.tableEntries = h.tableBytes / 8;
  uint32_t l1Shift = Log2(h.clusterSize) + Log2(h.tableEntries);
  if (l1Shift + Log2(h.tableEntries) < 64 && h.imageSize > (uint64_t{h.tableEntries} << l1Shift)) return kVdDamaged;
  if (h.l1TableOffset > fileSize || h.tableBytes > fileSize - h.l1TableOffset) return kVdDamaged;
  return kVdOpened;
}

void QedReader::CloseLocked() {
  file_.close();
  t_.reset();
}

void QedReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

int QedReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  CloseLocked();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t size = file_.size();
  uint8_t raw[kHeaderBytes] = {};
  if (file_.readAt(raw, sizeof raw, 0) != static_cast<int64_t>(sizeof raw)) return kVdNotThisFormat;
  QedHeader h;
  int decoded = DecodeQedHeader(ByteReader(raw, sizeof raw), size > 0 ? static_cast<uint64_t>(size) : 0, h);
  if (decoded != kVdOpened) return decoded;
  try {
    auto t = std::make_unique<Tables>();
    t->h = h;
    std::vector<uint8_t> l1Raw(h.tableBytes);
    if (file_.readAt(l1Raw.data(), l1Raw.size(), h.l1TableOffset) != static_cast<int64_t>(l1Raw.size()))
      return kVdDamaged;
    ByteReader raw(l1Raw.data(), l1Raw.size());
    std::vector<uint64_t> l1(h.tableEntries);
    for (uint32_t i = 0; i < h.tableEntries; ++i) l1[i] = raw.u64(size_t{i} * 8);
    t->clusters.Reset(std::move(l1), Log2(h.clusterSize), Log2(h.tableEntries), h.tableBytes);
    t_ = std::move(t);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  return kVdOpened;
}

int QedReader::Read(uint64_t offset, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (!t_) {
    std::memset(buffer, 0, count);
    return 0;
  }
  Tables& t = *t_;
  auto decode = [](ByteReader table, uint64_t index) {
    const uint64_t e = table.u64(index * 8);
    if (e == 0 || e == kZeroCluster) return ClusterEntry{ClusterEntry::Zero, 0};
    return ClusterEntry{ClusterEntry::Data, e};
  };
  auto map = [&](uint64_t off, uint64_t) { return t.clusters.Map(file_, off, decode); };
  return ReadWithinDisk(t.h.imageSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
    return ReadMappedRuns(off, n, dest, map);
  });
}

}  // namespace qm
