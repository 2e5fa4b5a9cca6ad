#include "engines/scan_log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "engines/catalog.h"
#include "diskio/sector_io.h"
#include "engines/deep_lists.h"
#include "platform/file.h"
#include "platform/job_control.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

// --- Layout ---------------------------------------------------------------

constexpr uint64_t kTitleBytes = 62;  // 31 UTF-16 units, no length, no terminator
constexpr uint64_t kModeOffset = 62;
constexpr uint64_t kModelOffset = 64;
constexpr uint64_t kFileSystemEntryBytes = 76;
static_assert(kScanLogTitle.size() * 2 == kTitleBytes && kModeOffset == kTitleBytes);
static_assert(kModelOffset == kModeOffset + 2);
constexpr size_t kShortNameMax = 255;  // u8 length of wstr and bstr
constexpr size_t kStatisticsNameMax = 100;

// Smallest size of each record: the fixed fields plus the two name lengths.
constexpr uint64_t kNtfsFolderMinBytes = 48 + 1 + 1 + 1;
constexpr uint64_t kNtfsFileMinBytes = 52 + 1 + 1 + 1;
constexpr uint64_t kFolderMinBytes = 48 + 1 + 1 + 1 + 1;
constexpr uint64_t kFileMinBytes = 52 + 1 + 1 + 1 + 1;

// Sector sizes a log may set; anything else would size every read buffer.
constexpr int32_t kMinBytesPerSector = 512;
constexpr int32_t kMaxBytesPerSector = 65536;

// PartitionGeometry members in stored order.
constexpr int32_t PartitionGeometry::*kGeometryOrder[12] = {
    &PartitionGeometry::sectorsPerFat,       &PartitionGeometry::sectorsPerCluster,
    &PartitionGeometry::rootDirSectors,      &PartitionGeometry::rootLocation,
    &PartitionGeometry::reservedSectors,     &PartitionGeometry::clusterZeroSector,
    &PartitionGeometry::fat1Sector,          &PartitionGeometry::fat2Sector,
    &PartitionGeometry::mftSector,           &PartitionGeometry::mftMirrorSector,
    &PartitionGeometry::sectorsPerMftRecord, &PartitionGeometry::sectorsPerIndexBlock,
};

constexpr size_t kChunk = 1 << 20;

// --- Checked input --------------------------------------------------------

// Sequential little-endian reads over a log held in memory or in a file.
// A read past the end fails, yields zeros and stays failed.
class LogInput {
 public:
  explicit LogInput(std::span<const uint8_t> bytes) : mem_(bytes.data()), size_(bytes.size()) {}
  LogInput(File& file, uint64_t size) : file_(&file), size_(size) {}

  uint64_t size() const { return size_; }
  uint64_t position() const { return pos_; }
  uint64_t remaining() const { return size_ - pos_; }
  bool failed() const { return failed_; }

  bool seek(uint64_t offset) {
    if (failed_ || offset > size_) return fail();
    pos_ = offset;
    return true;
  }
  bool skip(uint64_t n) { return n <= remaining() ? seek(pos_ + n) : fail(); }
  // True when count records of at least minBytes each can still follow.
  bool canHold(uint64_t count, uint64_t minBytes) const { return !failed_ && count <= remaining() / minBytes; }

  uint8_t u8() {
    const uint8_t* p = take(1);
    return p ? p[0] : 0;
  }
  uint16_t u16() { return static_cast<uint16_t>(le(2)); }
  uint32_t u32() { return static_cast<uint32_t>(le(4)); }
  uint64_t u64() { return le(8); }

  std::u16string units(uint64_t n) {
    std::u16string s;
    if (n > remaining() / 2) {
      fail();
      return s;
    }
    s.resize(static_cast<size_t>(n));
    const uint8_t* p = take(static_cast<size_t>(n * 2));
    if (!p) return {};
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    return s;
  }
  std::string chars(size_t n) {
    const uint8_t* p = take(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
  }
  std::u16string wstr() { return units(u8()); }
  std::string bstr() { return chars(u8()); }

 private:
  bool fail() {
    failed_ = true;
    return false;
  }
  uint64_t le(size_t n) {
    const uint8_t* p = take(n);
    uint64_t v = 0;
    if (p)
      for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
  }
  // n bytes at the position, which then moves past them; null when they are
  // not all in the log (or the file cannot give them).
  const uint8_t* take(size_t n) {
    if (failed_ || n > remaining()) {
      fail();
      return nullptr;
    }
    const uint8_t* p = nullptr;
    if (!file_) {
      p = mem_ + pos_;
    } else {
      if (pos_ < windowStart_ || pos_ + n > windowStart_ + window_.size()) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(n, kChunk), remaining()));
        window_.resize(want);
        if (file_->readAt(window_.data(), want, pos_) != static_cast<int64_t>(want)) {
          window_.clear();
          fail();
          return nullptr;
        }
        windowStart_ = pos_;
      }
      p = window_.data() + (pos_ - windowStart_);
    }
    pos_ += n;
    return p;
  }

  const uint8_t* mem_ = nullptr;
  File* file_ = nullptr;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  bool failed_ = false;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
};

// --- Checked output -------------------------------------------------------

// Buffered little-endian writes to a file. A failed write, or a value that
// does not fit its field, stops all further output.
class LogOutput {
 public:
  explicit LogOutput(File& file) : file_(file), buf_(kChunk) {}

  bool ok() const { return !writeFailed_ && !tooLarge_; }
  bool tooLarge() const { return tooLarge_; }
  uint64_t position() const { return flushed_ + len_; }

  void u8(uint8_t v) { le(v, 1); }
  void u16(uint16_t v) { le(v, 2); }
  void u32(uint32_t v) { le(v, 4); }
  void u64(uint64_t v) { le(v, 8); }
  // A 64-bit value in memory that the format keeps in 32 bits.
  void u32Of(uint64_t v) {
    if (v > UINT32_MAX) tooLarge_ = true;
    u32(static_cast<uint32_t>(v));
  }
  void units(std::u16string_view s) {
    for (size_t done = 0; done < s.size();) {
      uint8_t* p = room(2);
      if (!p) return;
      size_t n = std::min(s.size() - done, (buf_.size() - len_) / 2);
      for (size_t i = 0; i < n; ++i) {
        p[2 * i] = static_cast<uint8_t>(s[done + i]);
        p[2 * i + 1] = static_cast<uint8_t>(s[done + i] >> 8);
      }
      len_ += 2 * n;
      done += n;
    }
  }
  // u8 length, then the units; cut to 255 units without splitting a pair.
  void wstr(std::u16string_view s) {
    size_t n = std::min(s.size(), kShortNameMax);
    if (n < s.size() && n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
    u8(static_cast<uint8_t>(n));
    units(s.substr(0, n));
  }
  void bstr(std::string_view s) {
    size_t n = std::min(s.size(), kShortNameMax);
    u8(static_cast<uint8_t>(n));
    if (uint8_t* p = room(n)) {
      std::memcpy(p, s.data(), n);
      len_ += n;
    }
  }

  // A value does not fit its field: nothing more is written.
  void refuse() { tooLarge_ = true; }
  // Rewrites a u32 already written at offset (the counts before lists).
  void patchU32(uint64_t offset, uint32_t v) {
    if (!ok()) return;
    uint8_t b[4];
    PutLe(b, v, 4);
    if (offset >= flushed_) {
      std::memcpy(buf_.data() + (offset - flushed_), b, 4);
    } else if (file_.writeAt(b, 4, offset) != 4) {
      writeFailed_ = true;
    }
  }
  bool flush() {
    if (ok() && len_ > 0) {
      if (file_.writeAt(buf_.data(), len_, flushed_) != static_cast<int64_t>(len_)) writeFailed_ = true;
    }
    flushed_ += len_;
    len_ = 0;
    return ok();
  }

 private:
  static void PutLe(uint8_t* p, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // Space for n more bytes (n <= the buffer), flushing first when needed;
  // null once output has stopped.
  uint8_t* room(size_t n) {
    if (ok() && buf_.size() - len_ < n) flush();
    return ok() ? buf_.data() + len_ : nullptr;
  }
  void le(uint64_t v, size_t n) {
    if (uint8_t* p = room(n)) {
      PutLe(p, v, n);
      len_ += n;
    }
  }

  File& file_;
  std::vector<uint8_t> buf_;
  size_t len_ = 0;
  uint64_t flushed_ = 0;
  bool writeFailed_ = false;
  bool tooLarge_ = false;
};

// --- Header ---------------------------------------------------------------

void ReadGeometry(LogInput& in, PartitionGeometry& g) {
  for (auto member : kGeometryOrder) g.*member = static_cast<int32_t>(in.u32());
}

void WriteGeometry(LogOutput& out, const PartitionGeometry& g) {
  for (auto member : kGeometryOrder) out.u32(static_cast<uint32_t>(g.*member));
}

bool IsSectorSize(int32_t v) {
  return v >= kMinBytesPerSector && v <= kMaxBytesPerSector && (v & (v - 1)) == 0;
}

// --- Geometry checks ------------------------------------------------------

// The geometry sizes the readers' buffers and names the sectors they read,
// so a log may set only what a volume can have (0: not known). The limits
// are those of the boot-sector fields the values come from.
constexpr int64_t kMaxSectorsPerCluster = 255;      // a one-byte field
constexpr int64_t kMaxMftRecordBytes = 1 << 20;     // records are 1 or 4 KiB
constexpr int64_t kMaxIndexBlockBytes = 32 << 20;   // 127 clusters of 255 sectors
constexpr int64_t kMaxFatBytes = int64_t{1} << 31;  // 2^28 entries of 4 bytes, with room
constexpr int64_t kMaxRootDirBytes = 65536 * 32;    // 16-bit entry count
constexpr int64_t kMaxReservedSectors = 65535;      // a 16-bit field

bool Within(int64_t v, int64_t max) { return v >= 0 && v <= max; }

// Sizes, for the geometry and for the file-system entries alike.
bool SizesSane(int64_t sectorsPerCluster, int64_t sectorsPerMftRecord, int64_t sectorsPerIndexBlock,
               int64_t sectorsPerFat, int64_t rootDirSectors, int64_t reservedSectors, int64_t bps) {
  return Within(sectorsPerCluster, kMaxSectorsPerCluster) && Within(sectorsPerMftRecord, kMaxMftRecordBytes / bps) &&
         Within(sectorsPerIndexBlock, kMaxIndexBlockBytes / bps) && Within(sectorsPerFat, kMaxFatBytes / bps) &&
         Within(rootDirSectors, kMaxRootDirBytes / bps) && Within(reservedSectors, kMaxReservedSectors);
}

bool GeometrySane(const PartitionGeometry& g, const ScanLogHeader& h) {
  if (!SizesSane(g.sectorsPerCluster, g.sectorsPerMftRecord, g.sectorsPerIndexBlock, g.sectorsPerFat,
                 g.rootDirSectors, g.reservedSectors, h.bytesPerSector))
    return false;
  // Outside partition recovery the geometry was read from the volume the
  // range names, so its sectors lie on it. They are kept in 32 bits: only a
  // volume that ends below 2^32 can be checked this way. (A partition log
  // keeps what the found-partitions page set, which may be older.)
  if (h.partitionMode == 0 && h.rangeEndSector != 0 && h.rangeEndSector <= UINT32_MAX) {
    for (int32_t sector : {g.mftSector, g.mftMirrorSector, g.fat1Sector, g.fat2Sector})
      if (static_cast<uint32_t>(sector) > h.rangeEndSector) return false;
  }
  return true;
}

bool FileSystemSane(const ScanLogFileSystem& fs, int64_t bps) {
  return SizesSane(fs.sectorsPerCluster, fs.sectorsPerMftRecord, fs.sectorsPerIndexBlock, fs.sectorsPerFat,
                   fs.rootDirSectors, fs.reservedSectors, bps) &&
         (fs.endSector == 0 || fs.firstSector <= fs.endSector);
}

// Everything the loader would apply, checked before any of it is.
bool HeaderSane(const ScanLogHeader& h) {
  if (h.rangeEndSector != 0 && h.rangeFirstSector > h.rangeEndSector) return false;
  if (!GeometrySane(h.partitionGeometry, h) || !GeometrySane(h.scanGeometry, h)) return false;
  for (const ScanLogFileSystem& fs : h.fileSystems)
    if (!FileSystemSane(fs, h.bytesPerSector)) return false;
  return true;
}

ScanLogHeaderStatus DecodeHeader(LogInput& in, ScanLogHeader& out) {
  ScanLogHeader h;
  if (!in.seek(kModeOffset)) return ScanLogHeaderStatus::Invalid;
  h.mode = in.u16();
  if (in.failed()) return ScanLogHeaderStatus::Invalid;
  if (h.mode > 1) return ScanLogHeaderStatus::BadMode;

  h.diskModel = in.units(in.u32());
  h.diskIndex = in.u8();
  h.driveLetter = in.u8();
  int32_t bps = static_cast<int32_t>(in.u32());
  h.bytesPerSector = bps <= 0 ? 512 : bps;
  h.partitionDiskIndex = in.u8();
  h.partitionIndex = in.u8();
  h.fileSystem = in.wstr();
  h.volumeText = in.wstr();
  h.rangeFirstSector = in.u64();
  h.rangeEndSector = in.u64();
  ReadGeometry(in, h.partitionGeometry);
  ReadGeometry(in, h.scanGeometry);
  h.scanFileSystem = in.wstr();
  h.formattedMode = static_cast<int32_t>(in.u32());
  h.partitionMode = static_cast<int32_t>(in.u32());
  h.partitionPass = static_cast<int32_t>(in.u32());
  h.currentVolume = static_cast<int32_t>(in.u32());
  if (in.failed() || !IsSectorSize(h.bytesPerSector)) return ScanLogHeaderStatus::Invalid;
  // The mode word decides whether the deep lists follow; they are written
  // only in partition recovery.
  if (h.mode == 1 && h.partitionMode == 0) return ScanLogHeaderStatus::ModeMismatch;

  if (h.partitionMode != 0) {
    uint32_t count = in.u32();
    if (count > INT32_MAX || !in.canHold(count, kFileSystemEntryBytes)) return ScanLogHeaderStatus::Invalid;
    h.fileSystemCount = static_cast<int32_t>(count);
    h.fileSystems.resize(count);
    for (ScanLogFileSystem& fs : h.fileSystems) {
      fs.endSector = in.u64();
      fs.firstSector = in.u64();
      fs.sectorsPerCluster = in.u32();
      fs.clusterZeroSector = in.u32();
      fs.fat1Sector = in.u32();
      fs.reservedSectors = in.u32();
      fs.rootDirSectors = in.u32();
      fs.rootLocation = in.u32();
      fs.fat2Sector = in.u32();
      fs.sectorsPerFat = in.u32();
      for (char16_t& c : fs.name) c = static_cast<char16_t>(in.u16());
      fs.name.back() = 0;  // always terminated, whatever the file holds
      fs.sectorsPerMftRecord = in.u32();
      fs.sectorsPerIndexBlock = in.u32();
    }
    if (in.failed()) return ScanLogHeaderStatus::Invalid;
  }
  if (!HeaderSane(h)) return ScanLogHeaderStatus::Invalid;
  h.recordsOffset = in.position();
  out = std::move(h);
  return ScanLogHeaderStatus::Ok;
}

void WriteHeader(LogOutput& out, ScanLogOrigin origin) {
  out.units(kScanLogTitle);
  out.u16(static_cast<uint16_t>(origin));
  out.u32(static_cast<uint32_t>(g_SelectedDiskModel.size()));
  out.units(g_SelectedDiskModel);
  out.u8(static_cast<uint8_t>(g_SelectedDiskIndex));
  out.u8(static_cast<uint8_t>(g_SelectedDriveLetter));
  out.u32(static_cast<uint32_t>(g_BytesPerSector));
  out.u8(static_cast<uint8_t>(g_PartitionDiskIndex));
  out.u8(static_cast<uint8_t>(g_SelectedPartitionIndex));
  out.wstr(g_SelectedFileSystem);
  out.wstr(g_SelectedVolumeText);
  out.u64(g_RangeFirstSector);
  out.u64(g_RangeEndSector);
  WriteGeometry(out, g_PartitionGeometry);
  WriteGeometry(out, g_AppState.scanGeometry);
  out.wstr(g_AppState.scanFileSystem);
  out.u32(static_cast<uint32_t>(g_AppState.formattedMode));
  out.u32(static_cast<uint32_t>(g_AppState.partitionMode));
  out.u32(static_cast<uint32_t>(g_AppState.partitionPass));
  out.u32(static_cast<uint32_t>(g_AppState.currentVolume));
}

// --- Lists: writing -------------------------------------------------------

// Writes a count, then each record of range; the count is the number of
// records actually written, so a stale counter cannot misalign the log.
template <typename Range, typename WriteOne>
void WriteList(LogOutput& out, const Range& range, WriteOne writeOne) {
  uint64_t at = out.position();
  out.u32(0);
  uint64_t n = 0;
  for (auto& r : range) {
    if (!out.ok()) return;
    writeOne(r);
    ++n;
  }
  if (n > UINT32_MAX)
    out.refuse();
  else
    out.patchU32(at, static_cast<uint32_t>(n));
}

void WriteFileSystem(LogOutput& out, const FileSystemRecord& fs) {
  out.u64(fs.endSector);
  out.u64(fs.firstSector);
  out.u32(fs.sectorsPerCluster);
  out.u32Of(fs.clusterZeroSector);
  out.u32Of(fs.fat1Sector);
  out.u32(fs.reservedSectors);
  out.u32(fs.rootDirSectors);
  out.u32Of(fs.rootLocation);
  out.u32Of(fs.fat2Sector);
  out.u32(fs.sectorsPerFat);
  for (char16_t c : fs.name) out.u16(static_cast<uint16_t>(c));
  out.u32(fs.sectorsPerMftRecord);
  out.u32(fs.sectorsPerIndexBlock);
}

void WriteNtfsFolder(LogOutput& out, const NtfsFolderRecord& r) {
  out.u32(r.times[4]);
  out.u32(r.times[5]);
  out.u32(r.times[2]);
  out.u32(r.times[3]);
  out.u32(static_cast<uint32_t>(r.fileSystemNumber));
  out.u32(r.times[0]);
  out.u32(r.times[1]);
  out.u32(r.indexLcn);
  out.u32(r.parentKey);
  out.u32Of(r.recordSector);
  out.u32(r.indexLcn);
  out.u32(r.ownKey);
  out.u8(static_cast<uint8_t>(r.deletedFlag));
  out.wstr(r.name);
  out.u8(0);
}

void WriteNtfsFile(LogOutput& out, const NtfsFileRecord& r) {
  out.u32(r.times[4]);
  out.u32(r.times[5]);
  out.u32(r.times[2]);
  out.u32(r.times[3]);
  out.u32(static_cast<uint32_t>(r.stamp));
  out.u32(r.times[0]);
  out.u32(r.times[1]);
  out.u64(r.size);
  out.u32(r.parentKey);
  out.u32Of(r.recordSector);
  out.u32(r.recordOffset);  // spare field: where the record lies in a sector that holds several
  out.u32(r.ownKey);
  out.u8(static_cast<uint8_t>(r.deletedFlag));
  out.wstr(r.name);
  out.u8(0);
}

void WriteFolder(LogOutput& out, const FolderRecord& r) {
  const auto check = static_cast<uint8_t>(r.checkFlag.load());
  const auto volume = static_cast<uint16_t>(r.fileSystemNumber);
  out.u32(r.treeItem);
  out.u32(r.accessedTime[0]);
  out.u32(r.accessedTime[1]);
  out.u32(r.createdTime[0]);
  out.u32(r.createdTime[1]);
  out.u16(volume);
  out.u8(check);
  out.u8(0);
  out.u32(r.modifiedTime[0]);
  out.u32(r.modifiedTime[1]);
  out.u32(r.parentKey);
  out.u32Of(r.recordSector);
  out.u16(volume);
  out.u8(check);
  out.u8(0);
  out.u32(r.ownKey);
  out.u8(static_cast<uint8_t>(r.kind));
  out.u8(static_cast<uint8_t>(r.deletedFlag));
  out.wstr(r.wideName.str());
  out.bstr(r.name8);
}

void WriteFile(LogOutput& out, const FileRecord& r) {
  out.u32(r.accessedTime[0]);
  out.u32(r.accessedTime[1]);
  out.u32(r.createdTime[0]);
  out.u32(r.createdTime[1]);
  out.u32(static_cast<uint32_t>(r.runningNumber()));
  out.u32(r.modifiedTime[0]);
  out.u32(r.modifiedTime[1]);
  out.u64(r.size());
  out.u32(r.parentKey);
  out.u32Of(r.recordSector());
  out.u8(static_cast<uint8_t>(r.checkFlag.load()));
  // Spare byte: the record's place within its sector, in 512-byte steps
  // (records start on such a step; a 64 KiB sector holds 128).
  out.u8(static_cast<uint8_t>(std::min<uint32_t>(r.recordOffset() / 512, 255)));
  out.u8(0);
  out.u8(0);
  out.u32(r.dataKey);
  out.u8(static_cast<uint8_t>(r.kind));
  out.u8(static_cast<uint8_t>(r.deletedFlag));
  out.wstr(r.wideName.str());
  out.bstr(r.name8);
}

void WriteBody(LogOutput& out, ScanLogOrigin origin) {
  WriteHeader(out, origin);
  if (g_AppState.partitionMode != 0) {
    WriteList(out, FileSystems(), [&](const FileSystemRecord& r) { WriteFileSystem(out, r); });
    if (origin == ScanLogOrigin::FoundPartitionsPage) {
      WriteList(out, NtfsFolders(), [&](const NtfsFolderRecord& r) { WriteNtfsFolder(out, r); });
      WriteList(out, NtfsFiles(), [&](const NtfsFileRecord& r) { WriteNtfsFile(out, r); });
    }
  }
  WriteList(out, AllFolders(), [&](const FolderRecord& r) { WriteFolder(out, r); });
  WriteList(out, AllFiles(), [&](const FileRecord& r) { WriteFile(out, r); });
}

// --- Lists: reading -------------------------------------------------------

struct TimesIn {
  uint32_t accessed[2], created[2], modified[2];
  RecordTimes SlotOrder() const {
    return {modified[0], modified[1], created[0], created[1], accessed[0], accessed[1]};
  }
};

std::u16string StatisticsName(std::string_view name8, std::u16string_view wide) {
  std::u16string s = name8.empty() ? std::u16string(wide) : Cp1252ToUtf16(name8);
  if (s.size() > kStatisticsNameMax) s.resize(kStatisticsNameMax);
  return s;
}

// Reads one list: a count checked against the bytes left, then each record
// whole before it is stored. False when the log proved invalid.
class RecordReader {
 public:
  RecordReader(LogInput& in, ScanHost* page) : in_(in), page_(page) {}

  template <typename ReadOne>
  bool List(uint64_t minBytes, const int32_t& firstCount, const int32_t& secondCount, ReadOne readOne) {
    if (stopped_) return true;
    uint32_t count = in_.u32();
    if (!in_.canHold(count, minBytes)) return false;
    std::u16string shown;
    // The name is made only for a page that shows it.
    std::u16string* name = page_ ? &shown : nullptr;
    for (uint32_t i = 0; i < count; ++i) {
      if (!readOne(name)) return false;
      Report(firstCount, secondCount, shown);
      if (page_ && page_->job.checkpoint()) {
        // The rest of this list would have to be parsed to find the next
        // one, so a stop ends the whole load.
        stopped_ = true;
        break;
      }
    }
    return true;
  }

 private:
  void Report(int32_t firstCount, int32_t secondCount, std::u16string_view name) {
    if (!page_) return;
    page_->UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(firstCount),
                                static_cast<uint32_t>(secondCount), name, &counter_, 'n');
    int pos = in_.size() ? static_cast<int>(std::min<uint64_t>(100, in_.position() * 100 / in_.size())) : 100;
    if (pos != lastPos_) {
      page_->SetProgressPos(kScanProgressBar, pos);
      lastPos_ = pos;
    }
  }

  LogInput& in_;
  ScanHost* page_;
  int32_t counter_ = 0;
  int lastPos_ = -1;
  bool stopped_ = false;
};

TimesIn ReadTimesAround(LogInput& in, uint32_t& middle) {
  TimesIn t{};
  t.accessed[0] = in.u32();
  t.accessed[1] = in.u32();
  t.created[0] = in.u32();
  t.created[1] = in.u32();
  middle = in.u32();
  t.modified[0] = in.u32();
  t.modified[1] = in.u32();
  return t;
}

bool ReadDeepLists(LogInput& in, RecordReader& reader) {
  bool ok = reader.List(kNtfsFolderMinBytes, g_AppState.ntfsFolderCount, g_AppState.ntfsFileCount,
                        [&](std::u16string* shown) {
                          uint32_t fsNumber = 0;
                          TimesIn t = ReadTimesAround(in, fsNumber);
                          uint32_t indexLcn = in.u32();
                          uint32_t parent = in.u32();
                          uint32_t sector = in.u32();
                          in.u32();  // the index LCN again
                          uint32_t own = in.u32();
                          char deleted = static_cast<char>(in.u8());
                          std::u16string name = in.wstr();
                          in.bstr();
                          if (in.failed()) return false;
                          AppendNtfsFolder(name, deleted, parent, own, sector, t.SlotOrder(), indexLcn,
                                           static_cast<int32_t>(fsNumber));
                          if (shown) *shown = StatisticsName({}, name);
                          return true;
                        });
  if (!ok) return false;
  return reader.List(kNtfsFileMinBytes, g_AppState.ntfsFolderCount, g_AppState.ntfsFileCount,
                     [&](std::u16string* shown) {
                       uint32_t stamp = 0;
                       TimesIn t = ReadTimesAround(in, stamp);
                       uint64_t size = in.u64();
                       uint32_t parent = in.u32();
                       uint32_t sector = in.u32();
                       uint32_t within = in.u32();
                       uint32_t own = in.u32();
                       char deleted = static_cast<char>(in.u8());
                       std::u16string name = in.wstr();
                       in.bstr();
                       if (in.failed()) return false;
                       AppendNtfsFile(name, deleted, size, parent, own, sector, t.SlotOrder(),
                                      within < 65536 ? within : 0);
                       g_AppState.foundBytes += size;
                       if (shown) *shown = StatisticsName({}, name);
                       return true;
                     });
}

bool ReadDisplayLists(LogInput& in, RecordReader& reader) {
  bool ok = reader.List(kFolderMinBytes, g_AppState.folderCount, g_AppState.fileCount, [&](std::u16string* shown) {
    in.u32();  // results-tree item: the tree makes its own
    uint32_t volumeWord = 0;
    TimesIn t = ReadTimesAround(in, volumeWord);
    uint32_t parent = in.u32();
    uint32_t sector = in.u32();
    in.u32();  // file-system number and check flag again
    uint32_t own = in.u32();
    in.u8();  // kind
    char deleted = static_cast<char>(in.u8());
    std::u16string wide = in.wstr();
    std::string name8 = in.bstr();
    if (in.failed()) return false;
    InsertFolderRecord(name8, wide, deleted, parent, own, sector, t.SlotOrder(),
                       static_cast<int16_t>(volumeWord & 0xFFFF));
    if (shown) *shown = StatisticsName(name8, wide);
    return true;
  });
  if (!ok) return false;
  return reader.List(kFileMinBytes, g_AppState.folderCount, g_AppState.fileCount, [&](std::u16string* shown) {
    uint32_t runningNumber = 0;  // the insert numbers files anew
    TimesIn t = ReadTimesAround(in, runningNumber);
    uint64_t size = in.u64();
    uint32_t parent = in.u32();
    uint32_t sector = in.u32();
    uint32_t flags = in.u32();  // check flag; the record's 512-byte step within its sector
    uint32_t dataKey = in.u32();
    in.u8();  // kind
    char deleted = static_cast<char>(in.u8());
    std::u16string wide = in.wstr();
    std::string name8 = in.bstr();
    if (in.failed()) return false;
    InsertFileRecord(name8, wide, deleted, size, parent, dataKey, sector, t.SlotOrder(), ((flags >> 8) & 0xFF) * 512);
    g_AppState.foundBytes += size;
    if (shown) *shown = StatisticsName(name8, wide);
    return true;
  });
}

bool ReadRecords(LogInput& in, uint64_t offset, bool wholeDisk, ScanHost* page) {
  RecordReader reader(in, page);
  bool ok = in.seek(offset) && (wholeDisk ? ReadDeepLists(in, reader) : ReadDisplayLists(in, reader));
  if (!ok) {
    ShowMessage(kScanLogInvalidText);
    return false;
  }
  if (wholeDisk) g_AppState.loadingScanLog = 0;
  if (page) page->analysisFinished.store(0);
  return true;
}

// --- The writer's single instance -----------------------------------------

std::mutex g_writerMutex;
std::atomic<bool> g_writerRunning{false};
Worker g_SaveLogThread;

std::atomic<uint32_t> g_tempCounter{0};

// A name beside path that nobody can guess ahead (it is created with
// O_EXCL, so a guessed one would only make the save fail, never redirect it).
std::string TempPathFor(const std::string& path) {
  static std::mt19937_64 random{std::random_device{}()};
  static std::mutex randomMutex;
  uint64_t bits = 0;
  {
    std::lock_guard lock(randomMutex);
    bits = random();
  }
  return path + Format(".part-%d-%u-%016llx", static_cast<int>(::getpid()), g_tempCounter.fetch_add(1),
                       static_cast<unsigned long long>(bits));
}

// A link (or a second name of a file) where the log is to go: the save
// fails rather than replace it, as every writer treats a link in its way.
bool LinkInPlace(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink != 1);
}

}  // namespace

// --- Public ---------------------------------------------------------------

std::u16string ScanLogFileSystem::Name() const {
  size_t n = 0;
  while (n < name.size() && name[n] != 0) ++n;
  return std::u16string(name.data(), n);
}

ScanLogHeaderStatus ReadScanLogHeader(std::span<const uint8_t> bytes, ScanLogHeader& out) {
  LogInput in(bytes);
  return DecodeHeader(in, out);
}

ScanLogHeaderStatus ReadScanLogHeader(const std::string& path, ScanLogHeader& out) {
  File file;
  if (!file.open(path, File::Mode::Read)) return ScanLogHeaderStatus::CannotOpen;
  int64_t size = file.size();
  if (size < 0) return ScanLogHeaderStatus::CannotOpen;
  LogInput in(file, static_cast<uint64_t>(size));
  return DecodeHeader(in, out);
}

std::u16string_view ScanLogHeaderMessage(ScanLogHeaderStatus status) {
  switch (status) {
    case ScanLogHeaderStatus::CannotOpen: return kScanLogOpenErrorText;
    case ScanLogHeaderStatus::Invalid:
    case ScanLogHeaderStatus::ModeMismatch: return kScanLogInvalidText;
    case ScanLogHeaderStatus::Ok:
    case ScanLogHeaderStatus::BadMode: break;
  }
  return {};
}

void ApplyScanLogHeader(const ScanLogHeader& h) {
  auto setLowByte = [](int16_t& value, uint8_t low) {
    value = static_cast<int16_t>((static_cast<uint16_t>(value) & 0xFF00u) | low);
  };
  g_AppState.wholeDiskMode = h.mode;
  setLowByte(g_SelectedDiskIndex, h.diskIndex);
  g_SelectedDriveLetter = static_cast<char>(h.driveLetter);
  SetDevicePath0(static_cast<char>(h.driveLetter));
  g_BytesPerSector = h.bytesPerSector;
  setLowByte(g_PartitionDiskIndex, h.partitionDiskIndex);
  setLowByte(g_SelectedPartitionIndex, h.partitionIndex);
  g_SelectedFileSystem = h.fileSystem;
  g_SelectedVolumeText = h.volumeText;
  g_RangeFirstSector = h.rangeFirstSector;
  g_RangeEndSector = h.rangeEndSector;
  g_PartitionGeometry = h.partitionGeometry;
  g_AppState.scanGeometry = h.scanGeometry;
  g_AppState.scanFileSystem = h.scanFileSystem;
  g_AppState.formattedMode = h.formattedMode;
  g_AppState.partitionMode = h.partitionMode;
  g_AppState.currentVolume = h.currentVolume;
  if (h.partitionMode != 0) {
    g_AppState.fileSystemCount = h.fileSystemCount;
    AppendScanLogFileSystems(h);
  }
  g_AppState.partitionPass = 0;
  g_AppState.scanLogRecordsOffset = static_cast<int64_t>(h.recordsOffset);
}

void AppendScanLogFileSystems(const ScanLogHeader& header) {
  for (const ScanLogFileSystem& fs : header.fileSystems) {
    AppendFileSystem(fs.firstSector, fs.endSector, fs.sectorsPerCluster, fs.Name(), fs.sectorsPerFat,
                     fs.rootDirSectors, fs.rootLocation, fs.reservedSectors, fs.clusterZeroSector, fs.fat1Sector,
                     fs.fat2Sector, fs.sectorsPerMftRecord, fs.sectorsPerIndexBlock);
  }
}

std::string ScanLogPathFor(std::string_view chosen) {
  std::string path(chosen);
  const std::string ext = Utf16ToUtf8(kScanLogExtension);
  if (path.size() < ext.size() || !EqualsIgnoreCaseAscii(std::string_view(path).substr(path.size() - ext.size()), ext))
    path += ext;
  return path;
}

bool WriteScanLog(const std::string& path, ScanLogOrigin origin) {
  // Found-partitions logs carry the deep lists, which exist only in
  // partition recovery; a mode word of 1 without them could not be read back.
  if (origin == ScanLogOrigin::FoundPartitionsPage && g_AppState.partitionMode == 0) {
    ShowMessage(kScanLogCreateErrorText);
    return false;
  }
  const std::string temp = TempPathFor(path);
  bool tooLarge = false;
  bool ok = false;
  bool created = false;
  {
    File file;
    if (!LinkInPlace(path) && file.create(FolderOfPath(path), temp, Create::New)) {
      created = true;
      LogOutput out(file);
      {
        // Pages and workers stay live while the log is written: the walk
        // makes every change to the catalogue wait until the lists are out.
        CatalogWalk walk;
        WriteBody(out, origin);
      }
      ok = out.flush() && file.sync();
      tooLarge = out.tooLarge();
      file.close();
      ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    }
  }
  if (!ok) {
    // Only what this save made is removed; a name found taken is not ours.
    if (created) std::remove(temp.c_str());
    ShowMessage(tooLarge ? kScanLogTooLargeText : kScanLogCreateErrorText);
  }
  return ok;
}

int SaveScanLogThread(ScanLogOrigin origin, const std::function<void()>& done) {
  std::optional<std::string> chosen = CurrentPrompt().SaveFilePath(u"Save Log", u"*.qmlg");
  if (chosen) {
    if (chosen->empty())
      ShowMessage(kScanLogNoPathText);
    else
      WriteScanLog(ScanLogPathFor(*chosen), origin);
  }
  if (done) done();
  return 0;
}

bool StartSaveScanLog(ScanLogOrigin origin, std::function<void()> done) {
  std::lock_guard lock(g_writerMutex);
  if (g_writerRunning.load()) return false;
  g_writerRunning.store(true);
  g_SaveLogThread.start([origin, done = std::move(done)] {
    SaveScanLogThread(origin, done);
    g_writerRunning.store(false);
  });
  return true;
}

bool ScanLogWriterRunning() { return g_writerRunning.load(); }

void WaitForScanLogWriter() {
  std::lock_guard lock(g_writerMutex);
  g_SaveLogThread.join();
}

int LoadScanLog(ScanHost* page) {
  File file;
  if (!file.open(g_AppState.scanLogPath, File::Mode::Read)) {
    ShowMessage(kScanLogUnableToOpenText);
    return 0;
  }
  int64_t size = file.size();
  LogInput in(file, size < 0 ? 0 : static_cast<uint64_t>(size));
  uint64_t offset = g_AppState.scanLogRecordsOffset < 0 ? UINT64_MAX : static_cast<uint64_t>(g_AppState.scanLogRecordsOffset);
  ReadRecords(in, offset, g_AppState.wholeDiskMode != 0, page);
  return 0;
}

bool LoadScanLogRecords(std::span<const uint8_t> bytes, uint64_t offset, bool wholeDisk, ScanHost* page) {
  LogInput in(bytes);
  return ReadRecords(in, offset, wholeDisk, page);
}

}  // namespace qm
