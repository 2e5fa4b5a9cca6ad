#include "engines/ntfs_deep_scan.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/deep_scan_dump.h"
#include "engines/ntfs_records.h"
#include "engines/scan_progress.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr char kFileSignature[4] = {'F', 'I', 'L', 'E'};
constexpr char kIndxSignature[4] = {'I', 'N', 'D', 'X'};
constexpr size_t kSignatureBytes = 4;

// Signatures are looked for at every 512-byte step, whatever the sector size:
// a 4096-byte sector can hold four 1 KiB MFT records.
constexpr size_t kSignatureStep = 512;

// FILE record header.
constexpr size_t kRecordFlagsField = 0x16;
constexpr size_t kRecordAllocatedField = 0x1C;
constexpr size_t kRecordHeaderBytes = 0x1E;
constexpr uint8_t kRecordInUseFlag = 0x01;
// The $MFT, whose size sizes the tables, and the most records it sizes them for.
constexpr std::u16string_view kMftFileName = u"$MFT";
constexpr uint64_t kMaxSizedRecords = 1u << 20;
// A file reference: record number in the low 48 bits, sequence number above.
constexpr int kSequenceShift = 48;
// Attribute fields the joining of extension records reads.
constexpr size_t kAttrLowestVcnField = 0x10;
constexpr size_t kAttrRealSizeField = 0x30;
// Namespaces in the order the record names are taken.
constexpr int kNameOrder[] = {kNamespacePosix, kNamespaceWin32, kNamespaceWin32AndDos, kNamespaceDos};
// Keys at or above this are the catalogue's own ("Lost" is 0x0FFFFFFF).
constexpr uint64_t kStatedNumberLimit = 0x0FFFFFFF;
constexpr uint8_t kFolderInUse = 3;
constexpr uint8_t kFolderDeleted = 2;
constexpr uint8_t kFileDeleted = 0;
constexpr size_t kMinRecordBytes = 512;
constexpr size_t kMaxRecordBytes = 16384;
// The update sequence number closes the first two 512-byte strides.
constexpr size_t kUsnFirst = 510;
constexpr size_t kUsnSecond = 1022;
constexpr size_t kUsnCheckBytes = 1024;

// INDX block header and index entries.
constexpr size_t kIndxAllocatedField = 0x20;
constexpr size_t kIndexHeader = 24;
constexpr size_t kIndxHeaderBytes = 0x24;
constexpr size_t kIndxOwnerBytes = 512;  // the owner is read from the first 512 bytes
constexpr size_t kEntryLengthField = 8;
constexpr size_t kEntryKeyLengthField = 10;
constexpr size_t kEntryFlagsField = 12;
constexpr size_t kEntryKey = 16;
constexpr size_t kEntryHeaderBytes = 16;
constexpr uint32_t kEntryLast = 0x02;
// $FILE_NAME key of an entry.
constexpr size_t kKeyParent = 0;
constexpr size_t kKeyCreated = 8;
constexpr size_t kKeyFlags = 56;
constexpr size_t kKeyNameLength = 64;
constexpr size_t kKeyName = 66;
constexpr uint32_t kDirectoryFlag = 0x10000000;

// NTFS boot sector.
constexpr size_t kBootBytes = 512;
constexpr size_t kBootSignatureField = 510;
constexpr size_t kOemField = 3;
constexpr char kNtfsOem[4] = {'N', 'T', 'F', 'S'};
constexpr size_t kSpcField = 13;
constexpr size_t kTotalSectorsField = 0x28;
constexpr size_t kMftClusterField = 0x30;
constexpr size_t kMirrorClusterField = 0x38;
constexpr size_t kRecordSizeField = 0x40;
constexpr size_t kIndexSizeField = 0x44;
// A negative size field gives 2^-value bytes; anything beyond a few MiB is not NTFS.
constexpr int kMaxSizeShift = 24;
// Sizes of an MFT record in sectors that are kept; anything else means 1 KiB.
constexpr uint32_t kAcceptedRecordSectors[] = {1, 2, 4, 6, 8};
constexpr uint32_t kDefaultRecordBytes = 1024;

// Step 1 reads 520 sectors of 512 bytes per request (fewer sectors of a
// larger size, the same bytes); without that much memory, one page.
constexpr size_t kChunkBytes = 520 * 512;
constexpr size_t kFallbackChunkBytes = 4096;

struct SystemFile {
  std::u16string_view name;
  uint32_t number;
};
// "$MFT" shares 1 with "$MFTMirr" as the numbering of the scan has it.
constexpr SystemFile kSystemFiles[] = {
    {u"$MFT", 1},    {u"$MFTMirr", 1}, {u"$LogFile", 2}, {u"$Volume", 3},  {u"$AttrDef", 4},
    {u"$Bitmap", 6}, {u"$Boot", 7},    {u"$BadClus", 8}, {u"$Secure", 9}, {u"$UpCase", 10},
};

bool Starts(std::span<const uint8_t> bytes, const char (&sig)[4]) {
  return bytes.size() >= kSignatureBytes && std::memcmp(bytes.data(), sig, kSignatureBytes) == 0;
}

RecordTimes SlotTimes(const NtfsTimes& t) {
  return {static_cast<uint32_t>(t.modified), static_cast<uint32_t>(t.modified >> 32),
          static_cast<uint32_t>(t.created),  static_cast<uint32_t>(t.created >> 32),
          static_cast<uint32_t>(t.accessed), static_cast<uint32_t>(t.accessed >> 32)};
}

// A size field of the boot sector in sectors: clusters when positive,
// 2^-value bytes when negative (the usual form); 0 when meaningless.
uint32_t SizeFieldSectors(int8_t field, uint32_t spc, uint32_t bps) {
  if (field >= 0) return static_cast<uint32_t>(field) * spc;
  const int shift = -static_cast<int>(field);
  if (shift > kMaxSizeShift || bps == 0) return 0;
  return std::max<uint32_t>(1, (uint32_t{1} << shift) / bps);
}

}  // namespace

// --- Recognition ---

bool ReadNtfsBootValues(std::span<const uint8_t> sector, uint32_t bytesPerSector, NtfsBootValues* out) {
  if (sector.size() < kBootBytes) return false;
  ByteReader r(sector);
  if (r.u8(kBootSignatureField) != 0x55 || r.u8(kBootSignatureField + 1) != 0xAA) return false;
  if (std::memcmp(sector.data() + kOemField, kNtfsOem, sizeof kNtfsOem) != 0) return false;
  NtfsBootValues v;
  v.sectorsPerCluster = r.u8(kSpcField);
  v.sectorsPerIndexBlock = SizeFieldSectors(r.i8(kIndexSizeField), v.sectorsPerCluster, bytesPerSector);
  const uint32_t recordSectors = SizeFieldSectors(r.i8(kRecordSizeField), v.sectorsPerCluster, bytesPerSector);
  const bool accepted = std::find(std::begin(kAcceptedRecordSectors), std::end(kAcceptedRecordSectors),
                                  recordSectors) != std::end(kAcceptedRecordSectors);
  v.sectorsPerMftRecord =
      accepted ? recordSectors : std::max<uint32_t>(1, kDefaultRecordBytes / std::max<uint32_t>(1, bytesPerSector));
  v.totalSectors = r.u64(kTotalSectorsField);
  v.mftCluster = r.u64(kMftClusterField);
  v.mftMirrorCluster = r.u64(kMirrorClusterField);
  if (out) *out = v;
  return true;
}

size_t MftRecordSpan(std::span<const uint8_t> header) {
  if (!Starts(header, kFileSignature)) return 0;
  ByteReader r(header);
  const size_t allocated = r.u16(kRecordAllocatedField);
  if (r.fail() || allocated < kMinRecordBytes || allocated > kMaxRecordBytes || allocated % kMinRecordBytes != 0)
    return 0;
  return std::max(allocated, kUsnCheckBytes);
}

size_t AcceptedMftRecordSize(std::span<const uint8_t> bytes) {
  const size_t span = MftRecordSpan(bytes);
  if (span == 0 || bytes.size() < span) return 0;
  if (bytes[kUsnFirst] != bytes[kUsnSecond] || bytes[kUsnFirst + 1] != bytes[kUsnSecond + 1]) return 0;
  return ByteReader(bytes).u16(kRecordAllocatedField);
}

uint32_t SystemFileNumber(std::u16string_view name) {
  for (const SystemFile& f : kSystemFiles)
    if (f.name == name) return f.number;
  return 0;
}

size_t IndexBlockSpan(std::span<const uint8_t> header) {
  ByteReader r(header);
  const uint64_t bytes = uint64_t{r.u32(kIndxAllocatedField)} + kIndexHeader;
  if (r.fail() || bytes > kMaxIndexBlockBytes) return 0;
  return static_cast<size_t>(bytes);
}

void ReadIndexDirectoryEntries(std::span<const uint8_t> block, std::vector<IndexDirectoryEntry>& out) {
  ByteReader r(block);
  uint64_t pos = uint64_t{kIndexHeader} + r.u32(kIndexHeader);
  if (r.fail()) return;
  // Every step moves on by the entry's own length (at least its header), so
  // the walk ends inside the block.
  while (pos < block.size() && r.has(static_cast<size_t>(pos), kEntryHeaderBytes)) {
    const size_t at = static_cast<size_t>(pos);
    const size_t length = r.u16(at + kEntryLengthField);
    if (length < kEntryHeaderBytes || !r.has(at, length)) return;
    if (r.u32(at + kEntryFlagsField) & kEntryLast) return;
    ByteReader entry = r.sub(at, length);
    const size_t keyLength = entry.u16(kEntryKeyLengthField);
    if (keyLength >= kKeyName && entry.has(kEntryKey, keyLength)) {
      ByteReader key = entry.sub(kEntryKey, keyLength);
      const size_t chars = key.u8(kKeyNameLength);
      if (chars == 0) return;
      if (key.has(kKeyName, chars * 2) && (key.u32(kKeyFlags) & kDirectoryFlag)) {
        IndexDirectoryEntry e;
        e.name.resize(chars);
        for (size_t i = 0; i < chars; ++i) e.name[i] = key.u16(kKeyName + 2 * i);
        e.number = entry.u32(0);
        e.parent = key.u32(kKeyParent);
        e.created[0] = key.u32(kKeyCreated);
        e.created[1] = key.u32(kKeyCreated + 4);
        out.push_back(std::move(e));
      }
    }
    pos += length;
  }
}

// --- Folder numbers from INDX entries ---

size_t FolderNumberMatcher::KeyHash::operator()(const Key& k) const {
  size_t h = std::hash<std::u16string>()(k.name);
  for (uint64_t v : {uint64_t{k.parent}, uint64_t{k.created[0]}, uint64_t{k.created[1]}})
    h ^= std::hash<uint64_t>()(v) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  return h;
}

FolderNumberMatcher::FolderNumberMatcher(std::span<NtfsFolderRecord* const> folders) {
  for (NtfsFolderRecord* f : folders) {
    Key k{f->name, f->parentKey, {f->times[2], f->times[3]}};
    buckets_[std::move(k)].folders.push_back(f);
  }
}

void FolderNumberMatcher::Offer(const IndexDirectoryEntry& entry) {
  auto it = buckets_.find(Key{entry.name, entry.parent, {entry.created[0], entry.created[1]}});
  if (it == buckets_.end()) return;
  Bucket& b = it->second;
  while (b.next < b.folders.size() && b.folders[b.next]->ownKey != 0) ++b.next;
  if (b.next == b.folders.size()) return;
  // A number of 0 leaves the folder waiting for the next entry.
  if (entry.number == 0) return;
  b.folders[b.next++]->ownKey = entry.number;
}

// --- Numbering by position ---

void NumberRecordsByPosition(std::span<const uint64_t> folderPositions, std::span<uint32_t* const> folderKeys,
                             std::span<const uint64_t> filePositions, std::span<uint32_t* const> fileKeys,
                             const std::function<bool(uint64_t step)>& progress) {
  const size_t folders = std::min(folderPositions.size(), folderKeys.size());
  const size_t files = std::min(filePositions.size(), fileKeys.size());
  size_t i = 0, j = 0;
  uint32_t running = 1;
  uint64_t step = 0;
  while (i < folders || j < files) {
    const bool takeFile = j < files && (i == folders || filePositions[j] < folderPositions[i]);
    if (takeFile) {
      uint32_t& key = *fileKeys[j++];
      if (key == 0) key = running + 1;
      running = key;
    } else {
      uint32_t& key = *folderKeys[i++];
      if (key == 0 || key == UINT32_MAX) key = running + 1;
      running = key;
    }
    ++step;
    if (progress && progress(step)) return;
  }
}

// --- The sector examiner ---

NtfsSectorExaminer::NtfsSectorExaminer(uint32_t bytesPerSector, Fetch fetch)
    : bps_(bytesPerSector), fetch_(std::move(fetch)) {
  // Sectors that are not a multiple of 512 bytes are looked at whole.
  step_ = (bps_ >= kSignatureStep && bps_ % kSignatureStep == 0) ? kSignatureStep : std::max<uint32_t>(1, bps_);
}

std::span<const uint8_t> NtfsSectorExaminer::View(std::span<const uint8_t> bytes, size_t offset, size_t length,
                                                  uint64_t byteOffset, std::vector<uint8_t>& spare) {
  // Only bytes read for this chunk are used; the rest comes from the source.
  if (offset <= bytes.size() && length <= bytes.size() - offset) return bytes.subspan(offset, length);
  spare = fetch_ ? fetch_(byteOffset, length) : std::vector<uint8_t>();
  spare.resize(length, 0);
  return spare;
}

namespace {

// The MFT number a record states for the file it belongs to: the base record
// named by an extension record, else the record's own number where its
// header holds one. 0 when it states none (or names record 0, which the
// system-file names cover).
uint32_t StatedRecordNumber(std::span<const uint8_t> record) {
  ByteReader r(record);
  const uint64_t base = r.u64(kRecordBaseReferenceField) & kReferenceMask;
  if (r.fail()) return 0;
  if (base != 0) return base < kStatedNumberLimit ? static_cast<uint32_t>(base) : 0;
  if (r.u16(kRecordUsaOffsetField) < kUsaOffsetWithOwnNumber) return 0;
  const uint32_t own = r.u32(kRecordOwnNumberField);
  return !r.fail() && own < kStatedNumberLimit ? own : 0;
}

// The record's identity as its header states it: its own number and its
// sequence number, for a base record of NTFS 3.1. False when it states none.
bool RecordIdentity(std::span<const uint8_t> record, uint64_t* key) {
  ByteReader r(record);
  if (r.u64(kRecordBaseReferenceField) & kReferenceMask) return false;
  if (r.u16(kRecordUsaOffsetField) < kUsaOffsetWithOwnNumber) return false;
  const uint64_t own = r.u32(kRecordOwnNumberField);
  const uint64_t sequence = r.u16(kRecordSequenceField);
  if (r.fail()) return false;
  *key = own << 16 | sequence;
  return true;
}

// The file reference of a base record of NTFS 3.1 as its extension records
// name it: own number, sequence number in the top 16 bits.
bool OwnReference(std::span<const uint8_t> record, uint64_t* reference) {
  ByteReader r(record);
  if (r.u16(kRecordUsaOffsetField) < kUsaOffsetWithOwnNumber) return false;
  const uint64_t own = r.u32(kRecordOwnNumberField);
  const uint64_t sequence = r.u16(kRecordSequenceField);
  if (r.fail()) return false;
  *reference = sequence << kSequenceShift | own;
  return true;
}

bool HasAttributeList(std::span<const uint8_t> record) {
  return WalkAttributes(record, record.size(),
                        [](const NtfsAttribute& a) { return a.type() == kAttrAttributeList; });
}

// The size of a file as the first extent of its unnamed $DATA states it
// (only that extent carries the size); false when the record holds none.
bool FirstExtentSize(std::span<const uint8_t> record, uint64_t* size) {
  return WalkAttributes(record, record.size(), [&](const NtfsAttribute& a) {
    if (a.type() != kAttrData || a.named()) return false;
    if (!a.nonResident()) {
      *size = a.bytes.u32(kAttrValueLengthField);
      return !a.bytes.fail();
    }
    if (a.bytes.u64(kAttrLowestVcnField) != 0) return false;
    const int64_t real = a.bytes.i64(kAttrRealSizeField);
    if (a.bytes.fail() || real < 0) return false;
    *size = static_cast<uint64_t>(real);
    return true;
  });
}

}  // namespace

const NtfsBootRecord* NtfsSectorExaminer::VolumeOf(uint64_t sector) const {
  const NtfsBootRecord* found = nullptr;
  for (const NtfsBootRecord& b : bootSectors_)
    if (b.bootSector <= sector && sector - b.bootSector < b.totalSectors) found = &b;
  return found;
}

bool NtfsSectorExaminer::TakeMftRecord(std::span<const uint8_t> bytes, size_t offset, uint64_t byteOffset,
                                       uint64_t sector) {
  const size_t span = MftRecordSpan(bytes.subspan(offset, std::min(kRecordHeaderBytes, bytes.size() - offset)));
  if (span == 0) return false;
  std::span<const uint8_t> view = View(bytes, offset, span, byteOffset, spare_);
  const size_t allocated = AcceptedMftRecordSize(view);
  if (allocated == 0) return false;
  record_.assign(view.begin(), view.begin() + static_cast<std::ptrdiff_t>(allocated));
  bool intact = false;
  ApplyFixups(record_, &intact);
  // An extension record holds more attributes of another record (names of
  // hard links, runs of a fragmented file) and no data of its own: listed,
  // it would be saved as an empty file beside the whole one. What it holds
  // is kept for its base record.
  if (ByteReader(record_).u64(kRecordBaseReferenceField) & kReferenceMask) {
    TakeExtensionRecord(sector, byteOffset);
    return true;
  }

  std::u16string name;
  uint32_t parent = 0;
  NtfsTimes times;
  ReadMftRecordName(record_, &name, &parent, &times);

  // Another copy of a record already found in the same volume ($MFTMirr
  // holds the first records twice) states the same number, sequence number
  // and creation time: a damaged copy gives way to a whole one.
  SeenRecord* earlier = nullptr;
  SeenRecord* first = nullptr;  // this record's entry when it is the first copy seen
  uint64_t key = 0;
  if (RecordIdentity(record_, &key)) {
    auto [it, added] = seen_.try_emplace(key);
    SeenRecord& seen = it->second;
    const bool sameVolume = !added && VolumeOf(seen.sector) == VolumeOf(sector);
    if (sameVolume && seen.created == times.created) {
      earlier = &seen;
    } else if (!sameVolume) {
      seen = SeenRecord{nullptr, nullptr, sector, times.created, intact};
      first = &seen;
    }
  }
  if (earlier && earlier->intact && !intact) return true;
  const uint8_t flags = record_[kRecordFlagsField];
  // A base record with an attribute list may have given its name or its
  // data to extension records: it waits for them.
  Unjoined wait;
  const bool listed = HasAttributeList(record_) && OwnReference(record_, &wait.reference);
  wait.needsName = name.empty() && parent == 0;
  wait.inUse = (flags & kRecordInUseFlag) != 0;
  wait.volume = VolumeOf(sector);
  if (flags == kFolderInUse || flags == kFolderDeleted) {
    // The index root's owner, else the number the record states.
    const uint32_t rootOwner = GetIndexRootOwner(record_);
    const uint32_t stated = StatedRecordNumber(record_);
    const uint32_t own = rootOwner != 0 ? rootOwner : stated;
    const uint64_t lcn = GetIndexAllocationLcn(record_.size(), record_);
    // The list keeps 32-bit clusters; a larger one cannot be checked later.
    const uint32_t lcn32 = lcn <= UINT32_MAX ? static_cast<uint32_t>(lcn) : 0;
    const char deleted = flags == kFolderInUse ? 'n' : 'y';
    if (earlier && earlier->folder && !earlier->intact && intact) {
      NtfsFolderRecord& f = *earlier->folder;
      f.name = name;
      f.deletedFlag = deleted;
      f.parentKey = parent;
      f.ownKey = own;
      f.recordSector = sector;
      f.times = SlotTimes(times);
      f.indexLcn = lcn32;
      *earlier = SeenRecord{&f, nullptr, sector, times.created, true};
      wait.folder = &f;
    } else {
      AppendNtfsFolder(name, deleted, parent, own, sector, SlotTimes(times), lcn32, 0);
      folderPositions_.push_back(byteOffset);
      if (first) first->folder = g_AppState.ntfsFolderTail;
      wait.folder = g_AppState.ntfsFolderTail;
    }
  } else {
    int64_t size = 0;
    wait.needsSize = !GetDataAttributeSize(record_, &size, RecordBound::kHeader);
    if (wait.needsSize) size = 0;
    if (size < 0) return false;
    // System files keep their fixed numbers; any other record the number it
    // states, so that numbering by position is left to records without one.
    uint32_t own = SystemFileNumber(name);
    if (own == 0) own = StatedRecordNumber(record_);
    if (!sized_ && size > 0 && name == kMftFileName) SizeTables(static_cast<uint64_t>(size) / allocated);
    const char deleted = flags == kFileDeleted ? 'y' : 'n';
    const uint32_t within = static_cast<uint32_t>(byteOffset % bps_);
    if (earlier && earlier->file && !earlier->intact && intact) {
      NtfsFileRecord& f = *earlier->file;
      f.name = name;
      f.deletedFlag = deleted;
      f.size = static_cast<uint64_t>(size);
      f.parentKey = parent;
      f.ownKey = own;
      f.recordSector = sector;
      f.recordOffset = within;
      f.times = SlotTimes(times);
      *earlier = SeenRecord{nullptr, &f, sector, times.created, true};
      wait.file = &f;
    } else {
      AppendNtfsFile(name, deleted, static_cast<uint64_t>(size), parent, own, sector, SlotTimes(times), within);
      filePositions_.push_back(byteOffset);
      if (first) first->file = g_AppState.ntfsFileTail;
      wait.file = g_AppState.ntfsFileTail;
    }
  }
  if (listed && (wait.needsName || wait.needsSize)) unjoined_.push_back(wait);
  lastName_ = std::move(name);
  return true;
}

void NtfsSectorExaminer::SizeTables(uint64_t records) {
  // The $MFT's own size gives the number of records to expect; a damaged
  // one sizes them for a million records at most.
  sized_ = true;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(records, kMaxSizedRecords));
  seen_.reserve(n);
  filePositions_.reserve(n);
}

void NtfsSectorExaminer::TakeExtensionRecord(uint64_t sector, uint64_t byteOffset) {
  ByteReader r(record_);
  const uint64_t base = r.u64(kRecordBaseReferenceField);
  // Its own number places it for the copier, which follows the base
  // record's attribute list to it.
  if (r.u16(kRecordUsaOffsetField) >= kUsaOffsetWithOwnNumber) {
    const uint32_t own = r.u32(kRecordOwnNumberField);
    if (!r.fail() && own < kStatedNumberLimit)
      AppendNtfsExtension(own, sector, static_cast<uint32_t>(byteOffset % bps_));
  }
  ExtensionFinding found;
  found.baseReference = base;
  for (int rank = 0; rank < kNoName; ++rank) {
    NtfsTimes unused;
    if (GetFileNameInNamespace(record_, kNameOrder[rank], &found.name, &found.parent, &unused,
                               RecordBound::kHeader)) {
      found.rank = rank;
      break;
    }
  }
  if (found.rank == kNoName) found.name.clear();
  found.hasSize = FirstExtentSize(record_, &found.size);
  if (found.rank == kNoName && !found.hasSize) return;
  found.volume = VolumeOf(sector);
  extensions_.push_back(std::move(found));
}

void NtfsSectorExaminer::JoinExtensionRecords() {
  if (unjoined_.empty() || extensions_.empty()) return;
  std::unordered_map<uint64_t, std::vector<const ExtensionFinding*>> byBase;
  for (const ExtensionFinding& e : extensions_) byBase[e.baseReference].push_back(&e);
  for (const Unjoined& u : unjoined_) {
    const ExtensionFinding* name = nullptr;
    const ExtensionFinding* size = nullptr;
    auto look = [&](uint64_t reference) {
      auto it = byBase.find(reference);
      if (it == byBase.end()) return;
      for (const ExtensionFinding* e : it->second) {
        if (e->volume != u.volume) continue;
        if (e->rank < (name ? name->rank : kNoName)) name = e;
        if (e->hasSize && !size) size = e;
      }
    };
    look(u.reference);
    // Freeing a record moves its sequence number on; its extension records
    // still name the number it had in use.
    if (!name && !size && !u.inUse) {
      uint64_t sequence = u.reference >> kSequenceShift;
      sequence = sequence == 1 ? 0xFFFF : sequence - 1;
      look(sequence << kSequenceShift | (u.reference & kReferenceMask));
    }
    if (u.needsName && name) {
      if (u.folder) {
        u.folder->name = name->name;
        u.folder->parentKey = name->parent;
      }
      if (u.file) {
        u.file->name = name->name;
        u.file->parentKey = name->parent;
      }
    }
    if (u.needsSize && size && u.file) u.file->size = size->size;
  }
  unjoined_.clear();
  extensions_.clear();
}

bool NtfsSectorExaminer::TakeIndexBlock(std::span<const uint8_t> bytes, size_t offset, uint64_t byteOffset,
                                        uint64_t sector) {
  std::span<const uint8_t> head = View(bytes, offset, kIndxOwnerBytes, byteOffset, spare_);
  uint32_t owner = 0, vcn = 0;
  if (!ReadIndexBlockOwner(head, &owner, &vcn)) return false;
  AppendIndexBlock(indexBlocks_, sector, owner, vcn, -1);
  if (byteOffset % bps_ == 0) known_.owners.emplace(sector, owner);
  std::vector<IndexDirectoryEntry>& entries = blockEntries_.emplace_back();
  const size_t span = IndexBlockSpan(head.first(std::min(head.size(), kIndxHeaderBytes)));
  if (span == 0) return true;
  std::span<const uint8_t> view = View(bytes, offset, span, byteOffset, spare_);
  record_.assign(view.begin(), view.end());
  ApplyFixups(record_);
  ReadIndexDirectoryEntries(record_, entries);
  return true;
}

void NtfsSectorExaminer::Examine(std::span<const uint8_t> bytes, uint64_t firstSector) {
  ScanHost* page = g_AppState.scanPage;
  const size_t usable = bytes.size() - bytes.size() % step_;
  // Chunks come in order, one after the other.
  if (!examined_) known_.first = firstSector;
  examined_ = true;
  known_.end = firstSector + bytes.size() / bps_;
  for (size_t off = 0; off < usable; off += step_) {
    const uint64_t sector = firstSector + off / bps_;
    const uint64_t byteOffset = firstSector * bps_ + off;
    std::span<const uint8_t> here = bytes.subspan(off);
    bool passedOver = false;
    if (Starts(here, kFileSignature)) {
      passedOver = !TakeMftRecord(bytes, off, byteOffset, sector);
    } else if (Starts(here, kIndxSignature)) {
      TakeIndexBlock(bytes, off, byteOffset, sector);
    } else if (off % bps_ == 0) {
      NtfsBootValues v;
      if (ReadNtfsBootValues(here.first(std::min<size_t>(here.size(), bps_)), bps_, &v))
        AppendNtfsBoot(bootSectors_, sector, v.sectorsPerCluster, v.sectorsPerIndexBlock, v.sectorsPerMftRecord,
                       v.totalSectors, v.mftCluster, v.mftMirrorCluster);
    }
    if (!passedOver && page)
      page->UpdateScanStatistics(sector, static_cast<uint32_t>(g_AppState.ntfsFolderCount),
                                 static_cast<uint32_t>(g_AppState.ntfsFileCount), lastName_, &statsCounter_, 'e');
  }
}

// --- The worker ---

namespace {

// Requests of the sector pass gathered into one hand-over between the
// reading thread and the examination: few enough hand-overs that waking the
// other thread costs nothing against the bytes moved.
constexpr size_t kRequestsPerSlot = 4;

// Reads the range ahead of the examination: a thread of its own fills one of
// two slots, request by request through ReadSectors, while the scan examines
// the other, so that reading and examining overlap. Every read, this
// thread's and the scan's own (a record that runs past a slot), takes
// readLock, so that the source is never read from two threads at once. The
// reader is never more than one slot ahead: a paused scan stops it there, a
// stopped one ends it.
class ReadAhead {
 public:
  struct Slot {
    std::vector<uint8_t> bytes;
    uint64_t first = 0;    // sector of bytes[0]
    uint64_t sectors = 0;  // sectors read into it
    bool full = false;
  };

  // Throws std::bad_alloc when the slots cannot be had.
  ReadAhead(const char* device, uint32_t bps, uint64_t first, uint64_t end, uint64_t requestSectors,
            std::mutex& readLock)
      : device_(device), bps_(bps), first_(first), end_(end), request_(requestSectors), readLock_(readLock) {
    for (Slot& s : slots_) s.bytes.resize(static_cast<size_t>(request_ * kRequestsPerSlot * bps_));
    thread_ = std::thread([this] { Run(); });
  }
  ~ReadAhead() { Stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next slot in the order of the range; null at its end.
  Slot* Next() {
    Slot& slot = slots_[taken_];
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return slot.full || finished_; });
    return slot.full ? &slot : nullptr;
  }
  // Hands the slot from Next back for the next read.
  void Done(Slot* slot) {
    {
      std::lock_guard lock(mutex_);
      slot->full = false;
      taken_ ^= 1;
    }
    free_.notify_all();
  }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    free_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    const uint64_t slotSectors = request_ * kRequestsPerSlot;
    int k = 0;
    for (uint64_t s = first_; s < end_; s += slotSectors, k ^= 1) {
      Slot& slot = slots_[k];
      {
        std::unique_lock lock(mutex_);
        free_.wait(lock, [&] { return !slot.full || stop_; });
        if (stop_) break;
      }
      const uint64_t n = std::min(slotSectors, end_ - s);
      for (uint64_t done = 0; done < n; done += request_) {
        const uint64_t count = std::min(request_, n - done);
        // A failed read leaves zeros, which match no signature.
        std::lock_guard read(readLock_);
        ReadSectors(device_, s + done, static_cast<uint32_t>(count), slot.bytes.data() + done * bps_);
      }
      {
        std::lock_guard lock(mutex_);
        slot.first = s;
        slot.sectors = n;
        slot.full = true;
      }
      ready_.notify_all();
    }
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    ready_.notify_all();
  }

  const char* device_;
  uint64_t bps_;
  uint64_t first_, end_, request_;
  std::mutex& readLock_;
  Slot slots_[2];
  std::mutex mutex_;
  std::condition_variable ready_;  // a slot was filled, or the reading ended
  std::condition_variable free_;   // a slot was handed back, or stop
  int taken_ = 0;
  bool stop_ = false;
  bool finished_ = false;
  std::thread thread_;
};

class NtfsDeepScan {
 public:
  NtfsDeepScan() : page_(CurrentScanPage()), device_(SelectedDevicePath()), bps_(SourceSectorBytes()) {}

  int Run() {
    page_.job.stop.store(0);
    page_.ShowControl(kScanStatusLine, true);
    page_.ShowControl(kScanSectorLine, true);
    if (g_AppState.loadingScanLog) {
      LoadScanLog(&page_);
      Finish(false);
      return 0;
    }
    // A new search starts from empty lists.
    ClearNtfsLists();
    ClearFileSystemList();
    g_AppState.currentVolume = 1;
    page_.SetControlText(kScanStatusLine, kDeepStep1Text);

    NtfsSectorExaminer examiner(bps_, [this](uint64_t at, size_t n) { return ReadBytes(at, n); });
    if (!ScanSectors(examiner)) return 0;
    examiner.JoinExtensionRecords();
    page_.job.stop.store(0);
    NumberFolders(examiner);
    NumberByPosition(examiner);
    IndexBlockList firstBlocks;
    KeepFirstBlocks(examiner.indexBlocks(), firstBlocks);
    FindFileSystems(examiner.bootSectors(), firstBlocks, examiner.knownIndexBlocks());
    Finish(true);
    return 0;
  }

 private:
  void Finish(bool dump) {
    if (g_AppState.partitionMode) {
      page_.KillTimer(kElapsedTimer);
      page_.Complete(page_.backToPartitionList);
      return;
    }
    if (dump) DumpSelectedFileSystem(1);
    page_.Complete(page_.openResults);
  }

  // length bytes at a byte offset of the source, zeros where nothing was read.
  std::vector<uint8_t> ReadBytes(uint64_t byteOffset, size_t length) {
    std::vector<uint8_t> out(length, 0);
    if (bps_ == 0 || length == 0) return out;
    const uint64_t sector = byteOffset / bps_;
    const size_t within = static_cast<size_t>(byteOffset % bps_);
    const size_t count = (within + length + bps_ - 1) / bps_;
    std::vector<uint8_t> sectors(count * bps_, 0);
    std::lock_guard read(readLock_);
    ReadSectors(device_, sector, static_cast<uint32_t>(count), sectors.data());
    std::memcpy(out.data(), sectors.data() + within, length);
    return out;
  }

  // Step 1. False when no buffer could be had.
  bool ScanSectors(NtfsSectorExaminer& examiner) {
    const uint64_t first = g_RangeFirstSector;
    const uint64_t end = g_RangeEndSector;
    if (bps_ == 0 || end <= first) return true;
    const uint64_t requestSectors = std::max<uint64_t>(1, kChunkBytes / bps_);
    ScanProgress progress(page_);
    std::optional<ReadAhead> ahead;
    try {
      ahead.emplace(device_, bps_, first, end, requestSectors, readLock_);
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
    if (ahead) {
      while (ReadAhead::Slot* slot = ahead->Next()) {
        examiner.Examine(std::span<const uint8_t>(slot->bytes.data(), static_cast<size_t>(slot->sectors * bps_)),
                         slot->first);
        const uint64_t next = slot->first + slot->sectors;
        ahead->Done(slot);
        progress.Report(next, end);
        if (page_.job.checkpoint()) break;
      }
      ahead.reset();
      return true;
    }

    // Without memory or a thread for reading ahead: one request at a time.
    std::vector<uint8_t> chunk;
    uint64_t chunkSectors = requestSectors;
    try {
      chunk.resize(chunkSectors * bps_);
    } catch (const std::bad_alloc&) {
      chunkSectors = std::max<uint64_t>(1, kFallbackChunkBytes / bps_);
      try {
        chunk.resize(chunkSectors * bps_);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    for (uint64_t s = first; s < end;) {
      const uint64_t n = std::min(chunkSectors, end - s);
      const size_t bytes = static_cast<size_t>(n * bps_);
      // A failed read leaves zeros, which match no signature.
      ReadSectors(device_, s, static_cast<uint32_t>(n), chunk.data());
      examiner.Examine(std::span<const uint8_t>(chunk.data(), bytes), s);
      s += n;
      progress.Report(s, end);
      if (page_.job.checkpoint()) break;
    }
    return true;
  }

  // Step 2: folders without a number take the one their parent's INDX
  // entries give them.
  void NumberFolders(NtfsSectorExaminer& examiner) {
    page_.SetControlText(kScanStatusLine, kDeepStep2Text);
    std::vector<NtfsFolderRecord*> unnumbered;
    for (NtfsFolderRecord& f : NtfsFolders())
      if (f.ownKey == 0) unnumbered.push_back(&f);
    FolderNumberMatcher matcher(unnumbered);
    ScanProgress progress(page_, "Assigning Folders Mft Number's : %lld/%lld");
    const auto& blocks = examiner.blockEntries();
    const uint64_t total = static_cast<uint64_t>(std::max(0, g_AppState.indexBlockCount));
    for (size_t b = 0; b < blocks.size(); ++b) {
      if (!unnumbered.empty())
        for (const IndexDirectoryEntry& e : blocks[b]) matcher.Offer(e);
      progress.Report(b + 1, total);
      if (page_.job.checkpoint()) break;
    }
  }

  // Step 3: whatever still has no number is numbered by its position.
  void NumberByPosition(NtfsSectorExaminer& examiner) {
    page_.SetControlText(kScanStatusLine, kDeepStep3Text);
    std::vector<uint32_t*> folderKeys, fileKeys;
    folderKeys.reserve(examiner.folderPositions().size());
    fileKeys.reserve(examiner.filePositions().size());
    for (NtfsFolderRecord& f : NtfsFolders()) folderKeys.push_back(&f.ownKey);
    for (NtfsFileRecord& f : NtfsFiles()) fileKeys.push_back(&f.ownKey);
    const uint64_t total = folderKeys.size() + fileKeys.size() + static_cast<uint64_t>(std::max(0, g_AppState.indexBlockCount));
    ScanProgress progress(page_, "Assigning File Mft Number's : %lld/%lld");
    NumberRecordsByPosition(examiner.folderPositions(), folderKeys, examiner.filePositions(), fileKeys,
                            [&](uint64_t step) {
                              progress.Report(step, total);
                              return page_.job.checkpoint();
                            });
  }

  // Step 3b: the first block (VCN 0) of each directory.
  void KeepFirstBlocks(const IndexBlockList& all, IndexBlockList& first) {
    g_AppState.indexBlockCount = 0;
    for (const IndexBlockRecord& b : all)
      if (b.vcn == 0) AppendIndexBlock(first, b.sector, b.owner, b.vcn, b.tag);
    page_.SetProgressPos(kScanProgressBar, 100);
  }

  // Step 4.1: the file systems whose folders their INDX blocks confirm.
  void FindFileSystems(const NtfsBootList& boots, IndexBlockList& blocks, const KnownIndexBlocks& known) {
    page_.SetControlText(kScanStatusLine, kDeepStep41Text);
    FolderAssigner assigner(blocks, known);
    auto found = [&](uint64_t firstSector, uint64_t endSector, uint32_t spc, uint32_t perRecord, uint32_t perIndex) {
      if (assigner.Assign(spc, firstSector, endSector)) {
        ++g_AppState.fileSystemCount;
        AppendFileSystem(firstSector, endSector, spc, u"NTFS", 0, 0, 0, 0, 0, 0, 0, perRecord, perIndex);
      }
      page_.SetControlText(kScanStatusLine, std::u16string(kDeepEnumeratedText) +
                                                FormatW("%d", static_cast<int>(g_AppState.fileSystemCount)));
    };
    if (!boots.empty()) {
      for (const NtfsBootRecord& b : boots) {
        if (b.sectorsPerCluster == 0) break;
        const uint64_t end = b.totalSectors > UINT64_MAX - b.bootSector ? UINT64_MAX : b.bootSector + b.totalSectors;
        found(b.bootSector, end, b.sectorsPerCluster, b.sectorsPerMftRecord, b.sectorsPerIndexBlock);
        if (page_.job.checkpoint()) break;
      }
    } else {
      const PartitionGeometry& g = g_AppState.scanGeometry;
      auto positive = [](int32_t v) { return v > 0 ? static_cast<uint32_t>(v) : 0u; };
      found(g_RangeFirstSector, g_RangeEndSector, positive(g.sectorsPerCluster), positive(g.sectorsPerMftRecord),
            positive(g.sectorsPerIndexBlock));
    }
    // Folders no file system claimed belong with the one found before them.
    int32_t current = 1;
    for (NtfsFolderRecord& f : NtfsFolders()) {
      if (f.fileSystemNumber == 0 || f.fileSystemNumber == -1)
        f.fileSystemNumber = current;
      else
        current = f.fileSystemNumber;
    }
    page_.job.stop.store(0);
  }

  ScanHost& page_;
  const char* device_;
  uint32_t bps_;
  // Held by every read of the sector pass (see ReadAhead).
  std::mutex readLock_;
};

}  // namespace

int NtfsDeepScanThread() {
  NtfsDeepScan scan;
  return scan.Run();
}

}  // namespace qm
