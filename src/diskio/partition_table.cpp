// Partition-table enumeration: sector-0 volume, MBR, extended chain, GPT.
#include "diskio/partition_table.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/text.h"

namespace qm {

DiskPartitionTable g_DiskPartitionTables[kPartitionTableDisks];

namespace {

// MBR and extended boot record layout.
constexpr size_t kSignatureOffset = 510;
constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;
constexpr size_t kMbrEntriesOffset = 446;
constexpr size_t kMbrEntryBytes = 16;
constexpr int kMbrEntryCount = 4;
constexpr size_t kEntryTypeOffset = 4;
constexpr size_t kEntryStartOffset = 8;
constexpr size_t kEntrySizeOffset = 12;
constexpr size_t kTableSectorBytes = 512;

constexpr uint8_t kTypeEmpty = 0x00;
constexpr uint8_t kTypeFat12 = 0x01;
constexpr uint8_t kTypeFat16Small = 0x04;
constexpr uint8_t kTypeExtended = 0x05;
constexpr uint8_t kTypeFat16 = 0x06;
constexpr uint8_t kTypeNtfs = 0x07;
constexpr uint8_t kTypeFat32 = 0x0B;
constexpr uint8_t kTypeFat32Lba = 0x0C;
constexpr uint8_t kTypeFat16Lba = 0x0E;
constexpr uint8_t kTypeExtendedLba = 0x0F;
constexpr uint8_t kTypeGptProtective = 0xEE;

// Boot-sector marks.
constexpr size_t kOemIdOffset = 3;              // "NTFS"
constexpr size_t kFat16ShortMarkOffset = 57;    // "16" of "FAT16"
constexpr size_t kFat32ShortMarkOffset = 85;    // "32" of "FAT32"
constexpr size_t kFat16TypeOffset = 54;         // "FAT16"
constexpr size_t kFat32TypeOffset = 82;         // "FAT32"
constexpr size_t kFatTotalSectors16Offset = 19;
constexpr size_t kFatTotalSectors32Offset = 32;
constexpr size_t kNtfsTotalSectorsOffset = 40;

// GPT: header and entries.
constexpr char kGptSignature[] = "EFI PART";
constexpr size_t kGptEntrySizeFieldOffset = 84;
constexpr uint32_t kGptEntryBytes = 128;
constexpr size_t kGptTypeGuidHalf = 8;
constexpr size_t kGptStartLbaOffset = 32;
constexpr int kGptEntrySectors = 31;

// Extended chains longer than this are damaged or hostile.
constexpr int kMaxExtendedRecords = 256;

bool Matches(const ByteReader& r, size_t offset, std::string_view text) {
  auto b = r.bytes(offset, text.size());
  return !b.empty() && std::memcmp(b.data(), text.data(), text.size()) == 0;
}

bool AllZero(const ByteReader& r, size_t offset, size_t n) {
  auto b = r.bytes(offset, n);
  return std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0; });
}

// A volume recognised by its boot sector alone (sector 0 and GPT partitions).
struct Volume {
  const char16_t* name = nullptr;
  uint64_t sectors = 0;
};

// Later marks win over earlier ones.
Volume ShortTest(const ByteReader& r) {
  Volume v;
  if (Matches(r, kFat16ShortMarkOffset, "16")) {
    v.name = u"FAT16";
    v.sectors = r.u32(kFatTotalSectors32Offset);
    if (v.sectors == 0) v.sectors = r.u16(kFatTotalSectors16Offset);
  }
  if (Matches(r, kFat32ShortMarkOffset, "32")) {
    // Formatters keep a small FAT32 volume's count in the 16-bit field.
    v = {u"FAT32", r.u32(kFatTotalSectors32Offset)};
    if (v.sectors == 0) v.sectors = r.u16(kFatTotalSectors16Offset);
  }
  if (Matches(r, kOemIdOffset, "NTFS")) v = {u"NTFS", r.u64(kNtfsTotalSectorsOffset)};
  return v;
}

// The boot sector's own word on a table entry's type; the first mark wins.
uint8_t LongTest(const ByteReader& r, uint8_t type) {
  if (Matches(r, kFat32TypeOffset, "FAT32")) return kTypeFat32;
  if (Matches(r, kFat16TypeOffset, "FAT16")) return kTypeFat16;
  if (Matches(r, kOemIdOffset, "NTFS")) return kTypeNtfs;
  return type;
}

const char16_t* NameOfType(uint8_t type, bool logical) {
  switch (type) {
    case kTypeNtfs: return u"NTFS";
    case kTypeFat16Small:
    case kTypeFat16:
    case kTypeFat16Lba: return u"FAT16";
    case kTypeFat32:
    case kTypeFat32Lba: return u"FAT32";
    case kTypeFat12: return logical ? u"FAT16" : nullptr;
    default: return nullptr;
  }
}

bool IsExtended(uint8_t type) { return type == kTypeExtended || type == kTypeExtendedLba; }

// Entry k of a partition table sector (MBR or extended boot record).
struct TableEntry {
  uint8_t type;
  uint32_t start, size;  // sectors
};
TableEntry EntryAt(const ByteReader& r, int k) {
  const size_t e = kMbrEntriesOffset + kMbrEntryBytes * static_cast<size_t>(k);
  return {r.u8(e + kEntryTypeOffset), r.u32(e + kEntryStartOffset), r.u32(e + kEntrySizeOffset)};
}

class Enumerator {
 public:
  Enumerator(const char* path, uint32_t bps, DiskPartitionTable& table, const PartitionItemInserter& insert)
      : path_(path), bps_(bps), table_(table), insert_(insert) {}

  int Run(uint64_t tableSector) {
    const std::vector<uint8_t> s = Read(tableSector);
    const ByteReader r(s.data(), s.size());
    if (r.u8(kSignatureOffset) != kSignature0 || r.u8(kSignatureOffset + 1) != kSignature1) return 0;

    if (Volume v = ShortTest(r); v.name) {
      Record(v.name, 0, v.sectors);
      return 1;
    }
    bool haveExtended = false;
    uint64_t extendedStart = 0;
    for (int k = 0; k < kMbrEntryCount && !Full(); ++k) {
      auto [type, start, size] = EntryAt(r, k);
      if (type == kTypeEmpty) continue;
      if (type == kTypeGptProtective) WalkGpt(start);
      if (IsExtended(type)) {
        haveExtended = true;
        extendedStart = start;
        continue;
      }
      type = LongTestAt(start, type);
      if (const char16_t* name = NameOfType(type, false)) Record(name, start, size);
    }
    if (haveExtended) WalkExtended(extendedStart);
    return 1;
  }

 private:
  // One sector into a zeroed buffer (of at least 512 bytes, so the table
  // offsets stay inside it whatever the sector size).
  std::vector<uint8_t> Read(uint64_t sector) const {
    std::vector<uint8_t> buffer(std::max<size_t>(bps_, kTableSectorBytes));
    ReadSectors(path_, sector, 1, buffer.data());
    return buffer;
  }

  uint8_t LongTestAt(uint64_t sector, uint8_t type) const {
    const std::vector<uint8_t> boot = Read(sector);
    return LongTest(ByteReader(boot.data(), boot.size()), type);
  }

  bool Full() const { return table_.count >= static_cast<uint32_t>(kMaxRecordedPartitions); }

  // Takes the next position; a partition beyond 32-bit sector numbers
  // cannot be kept in the table and takes none.
  void Record(const char16_t* name, uint64_t first, uint64_t sectors) {
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    if (Full() || first > kMax || sectors > kMax - first) return;
    const uint32_t i = table_.count;
    PartitionEntry& e = table_.entries[i];
    table_.fileSystemNames[i] = name;
    e.index = i;
    e.firstSector = static_cast<uint32_t>(first);
    e.endSector = static_cast<uint32_t>(first + sectors);
    table_.count = i + 1;
    if (insert_) e.treeItem = insert_(static_cast<int>(i), u"Partition - " + FormatW("%u", i + 1) + u" ( " + name + u" )");
  }

  void WalkGpt(uint64_t headerSector) {
    const std::vector<uint8_t> header = Read(headerSector);
    const ByteReader h(header.data(), header.size());
    if (!Matches(h, 0, std::string_view(kGptSignature, 8))) return;
    uint32_t entryBytes = h.u32(kGptEntrySizeFieldOffset);
    const bool sane = entryBytes >= kGptEntryBytes && entryBytes <= bps_ && (entryBytes & (entryBytes - 1)) == 0;
    if (!sane) entryBytes = kGptEntryBytes;
    for (int j = 1; j <= kGptEntrySectors; ++j) {
      const std::vector<uint8_t> sector = Read(headerSector + static_cast<uint64_t>(j));
      const ByteReader s(sector.data(), bps_);
      for (size_t o = 0; o + kGptEntryBytes <= bps_; o += entryBytes) {
        if (AllZero(s, o, kGptTypeGuidHalf) || AllZero(s, o + kGptTypeGuidHalf, kGptTypeGuidHalf)) return;
        const uint64_t start = s.u64(o + kGptStartLbaOffset);
        if (start == 0) return;
        const std::vector<uint8_t> boot = Read(start);
        const Volume v = ShortTest(ByteReader(boot.data(), boot.size()));
        if (v.name) Record(v.name, start, v.sectors);
        if (Full()) return;
      }
    }
  }

  // Each extended boot record lists logical partitions relative to itself
  // and the next record relative to the extended partition's start.
  void WalkExtended(uint64_t extendedStart) {
    std::set<uint64_t> visited;
    uint64_t link = 0;
    for (int hop = 0; hop < kMaxExtendedRecords && !Full(); ++hop) {
      const uint64_t ebr = extendedStart + link;
      if (!visited.insert(ebr).second) return;
      const std::vector<uint8_t> s = Read(ebr);
      const ByteReader r(s.data(), s.size());
      bool more = false;
      for (int k = 0; k < kMbrEntryCount && !Full(); ++k) {
        auto [type, start, size] = EntryAt(r, k);
        if (type == kTypeEmpty) continue;
        if (IsExtended(type)) {
          link = start;
          more = true;
          continue;
        }
        type = LongTestAt(ebr + start, type);
        if (const char16_t* name = NameOfType(type, true)) Record(name, ebr + start, size);
      }
      if (!more) return;
    }
  }

  const char* path_;
  uint32_t bps_;
  DiskPartitionTable& table_;
  const PartitionItemInserter& insert_;
};

}  // namespace

int EnumerateDiskPartitions(int diskNumber, uint64_t tableSector, const PartitionItemInserter& insert) {
  if (diskNumber < 0 || diskNumber >= kPartitionTableDisks) return 0;
  DiskPartitionTable& table = g_DiskPartitionTables[diskNumber];
  // Afresh: nothing of an earlier run survives but the tree items, which
  // stay until an inserting run replaces them.
  table.count = 0;
  for (auto& name : table.fileSystemNames) name.clear();
  for (auto& e : table.entries) e = PartitionEntry{0, e.treeItem, 0, 0};

  const uint32_t bps = SourceSectorBytes();
  if (bps == 0) return 0;
  // Numbers 10 and up are images, read without a device path.
  const char* path = diskNumber < 10 ? g_DevicePathTable[diskNumber] : "";
  if (diskNumber >= 10 && !g_ImageSource && !g_VirtualDiskSource) return 0;
  return Enumerator(path, bps, table, insert).Run(tableSector);
}

}  // namespace qm
