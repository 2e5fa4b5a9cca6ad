#include "vdisk/qcow_reader.h"

#include <cstring>
#include <new>

#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr uint32_t kQcowMagic = 0x514649FB;  // "QFI\xfb"
constexpr size_t kHeaderBytes = 72;
constexpr size_t kV1HeaderBytes = 48;
// Header field offsets (big-endian).
constexpr size_t kOffMagic = 0, kOffVersion = 4, kOffSize = 24, kOffL1Offset = 40;
constexpr size_t kV1OffClusterBits = 32, kV1OffL2Bits = 33, kV1OffCrypt = 36;
constexpr size_t kV2OffClusterBits = 20, kV2OffCrypt = 32, kV2OffL1Size = 36, kV2OffSnapshots = 60;
constexpr uint32_t kMinClusterBits = 9, kMaxClusterBits = 21;
// The L1 table is held in memory: 32 MiB of entries covers any real image.
constexpr uint64_t kMaxL1Entries = 4u << 20;
constexpr uint64_t kV2FlagBits = 3ull << 62;      // copied, compressed
constexpr uint64_t kV2Compressed = 1ull << 62;
constexpr uint64_t kV1Compressed = 1ull << 63;

}  // namespace

int DecodeQcowHeader(ByteReader r, uint64_t fileSize, QcowHeader& h) {
  if (r.size() < kV1HeaderBytes || r.be32(kOffMagic) != kQcowMagic) return kVdNotThisFormat;
  h = QcowHeader{};
  h.version = r.be32(kOffVersion);
  if (h.version != 1 && h.version != 2) return kVdNotThisFormat;
  if (h.version == 2 && r.size() < kHeaderBytes) return kVdNotThisFormat;
  h.virtualSize = r.be64(kOffSize);
  h.l1TableOffset = r.be64(kOffL1Offset);
  if (h.version == 1) {
    h.clusterBits = r.u8(kV1OffClusterBits);
    h.l2Bits = r.u8(kV1OffL2Bits);
    if (r.be32(kV1OffCrypt) != 0) return kVdDamaged;
  } else {
    h.clusterBits = r.be32(kV2OffClusterBits);
    if (r.be32(kV2OffCrypt) != 0 || r.be32(kV2OffSnapshots) != 0) return kVdDamaged;
  }
  if (h.clusterBits < kMinClusterBits || h.clusterBits > kMaxClusterBits) return kVdDamaged;
  if (h.version == 2) h.l2Bits = h.clusterBits - 3;  // 8-byte entries filling one cluster
  if (h.l2Bits < 1 || h.l2Bits > h.clusterBits) return kVdDamaged;
  uint32_t l1Shift = h.clusterBits + h.l2Bits;
  // Entries the disk needs; the L1 table must cover every byte of it.
  uint64_t needed = (h.virtualSize >> l1Shift) + ((h.virtualSize & ((1ull << l1Shift) - 1)) ? 1 : 0);
  if (needed > kMaxL1Entries) return kVdDamaged;
  if (h.version == 1) {
    h.l1Size = static_cast<uint32_t>(needed);
  } else {
    uint32_t stored = r.be32(kV2OffL1Size);
    if (stored < needed || stored > kMaxL1Entries) return kVdDamaged;
    h.l1Size = stored;
  }
  // Only the entries themselves are read: a fresh image's table may end the file.
  uint64_t l1Bytes = uint64_t{h.l1Size} * 8;
  if (h.l1TableOffset > fileSize || l1Bytes > fileSize - h.l1TableOffset) return kVdDamaged;
  h.l2TableBytes = static_cast<uint32_t>(8ull << h.l2Bits);
  if (h.l2TableBytes > TableCache::kMaxBytes) return kVdDamaged;
  return r.fail() ? kVdNotThisFormat : kVdOpened;
}

void QcowReader::CloseLocked() {
  file_.close();
  t_.reset();
  fileSize_ = 0;
}

void QcowReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

int QcowReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  CloseLocked();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t size = file_.size();
  fileSize_ = size > 0 ? static_cast<uint64_t>(size) : 0;
  uint8_t raw[kHeaderBytes] = {};
  int64_t got = file_.readAt(raw, sizeof raw, 0);
  if (got <= 0) return kVdNotThisFormat;
  QcowHeader h;
  int decoded = DecodeQcowHeader(ByteReader(raw, static_cast<size_t>(got)), fileSize_, h);
  if (decoded != kVdOpened) return decoded;
  try {
    auto t = std::make_unique<Tables>();
    t->h = h;
    std::vector<uint8_t> l1Raw(size_t{h.l1Size} * 8);
    if (file_.readAt(l1Raw.data(), l1Raw.size(), h.l1TableOffset) != static_cast<int64_t>(l1Raw.size()))
      return kVdDamaged;
    ByteReader raw(l1Raw.data(), l1Raw.size());
    std::vector<uint64_t> l1(h.l1Size);
    for (uint32_t i = 0; i < h.l1Size; ++i) {
      uint64_t e = raw.be64(size_t{i} * 8);
      l1[i] = h.version == 2 ? e & ~kV2FlagBits : e;
    }
    t->clusters.Reset(std::move(l1), h.clusterBits, h.l2Bits, h.l2TableBytes);
    t_ = std::move(t);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  return kVdOpened;
}

int QcowReader::Read(uint64_t offset, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (!t_) {
    std::memset(buffer, 0, count);
    return 0;
  }
  Tables& t = *t_;
  const uint32_t version = t.h.version;
  auto decode = [version](ByteReader table, uint64_t index) {
    const uint64_t e = table.be64(index * 8);
    if (e == 0) return ClusterEntry{ClusterEntry::Zero, 0};
    // Compressed clusters are not decompressed: they read as a failure.
    if (version == 2) {
      if (e & kV2Compressed) return ClusterEntry{};
      return ClusterEntry{ClusterEntry::Data, e & ~kV2FlagBits};
    }
    if (e & kV1Compressed) return ClusterEntry{};
    return ClusterEntry{ClusterEntry::Data, e};
  };
  auto map = [&](uint64_t off, uint64_t) { return t.clusters.Map(file_, off, decode); };
  return ReadWithinDisk(t.h.virtualSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
    return ReadMappedRuns(off, n, dest, map);
  });
}

}  // namespace qm
