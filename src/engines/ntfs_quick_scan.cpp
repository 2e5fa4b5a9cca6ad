#include "engines/ntfs_quick_scan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/found_file_queue.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

FollowUpWorker g_NtfsDeepScanHandOver = nullptr;

namespace {

constexpr char kFileSignature[] = "FILE";
constexpr size_t kRecordFlagsOffset = 22;
constexpr uint8_t kRecordInUse = 0x01;
constexpr uint8_t kRecordDirectory = 0x02;

// Largest MFT record accepted (sectors per record x bytes per sector).
constexpr size_t kMaxRecordBytes = 64 * 1024;
// The MFT is read in requests of about this many bytes.
constexpr size_t kMftReadBytes = 1024 * 1024;

// Name spaces in the order a record's name is looked for.
constexpr int kNameSpaceOrder[] = {kNamespacePosix, kNamespaceWin32, kNamespaceWin32AndDos, kNamespaceDos};

constexpr char16_t kLostName[] = u"Lost";
constexpr char16_t kArial[] = u"Arial";
constexpr int kCaptionPointSize = 9;

RecordTimes SlotTimes(const NtfsTimes& t) {
  return {static_cast<uint32_t>(t.modified), static_cast<uint32_t>(t.modified >> 32),
          static_cast<uint32_t>(t.created),  static_cast<uint32_t>(t.created >> 32),
          static_cast<uint32_t>(t.accessed), static_cast<uint32_t>(t.accessed >> 32)};
}

bool IsFileRecord(std::span<const uint8_t> record) {
  return record.size() >= 4 && std::memcmp(record.data(), kFileSignature, 4) == 0;
}

// A folder found by the MFT walk. Folders go into the catalogue after the
// walk, once it is known which of them have no parent, so that each lands
// in its sorted place at once. A file waits in a FoundFileQueue for the
// walk's end: only then is it known whether its parent folder was found.
struct FoundFolder {
  std::u16string name;
  char deleted = 'n';
  uint32_t parent = 0;
  uint32_t own = 0;
  RecordTimes times{};
};

class NtfsQuickScan {
 public:
  NtfsQuickScan() : page_(CurrentScanPage()), device_(SelectedDevicePath()) {}

  int Run() {
    ClearCatalog();
    InsertFolderRecord({}, kLostName, 'n', kNtfsRootKey, kLostFolderKey, 0, RecordTimes{}, 0);
    bool stopped = !WalkMft();
    if (!stopped && folders_.empty() && files_.empty()) {
      HandOver();
      return 0;
    }
    AssignLostFolders(stopped);
    InsertFiles();
    page_.ShowControl(kScanStatusLine, false);
    page_.ShowControl(kScanSectorLine, false);
    page_.Complete(page_.analysisFinished);
    return 0;
  }

 private:
  // One pass over the $MFT runs as one stream of sectors: record N is
  // sectors [N s, (N + 1) s) of the stream, whatever the run boundaries, so
  // a record that straddles two runs is put together from both. False when
  // stopped.
  bool WalkMft() {
    const uint32_t bps = SourceSectorBytes();
    const int32_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
    if (bps == 0 || spr <= 0 || size_t{static_cast<uint32_t>(spr)} * bps > kMaxRecordBytes) return true;
    spr_ = static_cast<uint32_t>(spr);
    recordBytes_ = size_t{spr_} * bps;
    bps_ = bps;

    const size_t runs = std::min({g_MftRunSectors.size(), g_MftRunLengths.size(),
                                  static_cast<size_t>(std::max<int32_t>(g_MftRunCount, 0))});
    total_ = 0;
    for (size_t i = 0; i < runs; ++i)
      if (g_MftRunLengths[i] > 0) total_ += static_cast<uint64_t>(g_MftRunLengths[i]);

    const uint64_t chunkSectors = std::max<uint64_t>(spr_, kMftReadBytes / bps);
    std::vector<uint8_t> chunk(chunkSectors * bps);
    std::vector<uint8_t> carry(recordBytes_);
    size_t carried = 0;
    for (size_t i = 0; i < runs; ++i) {
      const int64_t length = g_MftRunLengths[i];
      const int64_t start = g_MftRunSectors[i];
      for (int64_t off = 0; off < length;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length - off, chunkSectors));
        const size_t bytes = size_t{count} * bps;
        std::fill_n(chunk.begin(), bytes, 0);
        if (start != kSparseRunStart) ReadSectors(device_, static_cast<uint64_t>(start + off), count, chunk.data());
        size_t pos = 0;
        if (carried > 0) {
          size_t take = std::min(recordBytes_ - carried, bytes);
          std::memcpy(carry.data() + carried, chunk.data(), take);
          carried += take;
          pos = take;
          if (carried == recordBytes_) {
            carried = 0;
            if (!Record(carry)) return false;
          }
        }
        while (bytes - pos >= recordBytes_) {
          if (!Record(std::span<uint8_t>(chunk.data() + pos, recordBytes_))) return false;
          pos += recordBytes_;
        }
        if (pos < bytes) {
          std::memcpy(carry.data(), chunk.data() + pos, bytes - pos);
          carried = bytes - pos;
        }
        off += count;
      }
    }
    return true;
  }

  // Handles record number next_ (already fetched whole). False when stopped.
  bool Record(std::span<uint8_t> record) {
    const uint64_t n = next_++;
    processed_ += spr_;
    if (page_.job.checkpoint()) return false;
    // Catalogue keys are 32-bit and 0x0FFFFFFF is the "Lost" folder's: a
    // record numbered beyond cannot be listed.
    if (n == kNtfsRootKey || n >= kLostFolderKey) return true;

    bool intact = false;
    if (IsFileRecord(record)) ApplyFixups(record, &intact);
    // A damaged record of those $MFTMirr holds is read from there when that
    // copy is whole.
    std::vector<uint8_t> mirror;
    if (!intact && n < kMirroredRecords) {
      mirror = ReadIntactMirrorRecord(VolumeStart(), device_, n);
      if (mirror.size() == record.size()) record = mirror;
    }
    if (!IsFileRecord(record)) return true;
    // An extension record holds more attributes of another record (names of
    // hard links, runs of a fragmented file); it is not a file of its own.
    if (ByteReader(record).u64(kRecordBaseReferenceField) & kReferenceMask) return true;
    g_AppState.mftRecordNumbers[0] = static_cast<int32_t>(n);
    g_AppState.mftRecordCount = 1;
    CollectDataExtentRecords(record);
    const uint8_t flags = record[kRecordFlagsOffset];

    // The records that hold this file's attributes, read on demand. The
    // lists and the name keep their storage from record to record.
    const uint16_t held = std::min<uint16_t>(g_AppState.mftRecordCount, 100);
    std::vector<uint32_t>& numbers = numbers_;
    numbers.resize(held);
    for (uint16_t i = 0; i < held; ++i) numbers[i] = static_cast<uint32_t>(g_AppState.mftRecordNumbers[i]);
    std::vector<std::optional<std::vector<uint8_t>>>& others = others_;
    others.clear();
    others.resize(held);
    // A record that names another base (a stale list after the record was
    // reused) holds nothing of this file.
    auto recordAt = [&](size_t i) -> std::span<const uint8_t> {
      if (numbers[i] == n) return record;
      if (!others[i]) {
        std::vector<uint8_t> other = ReadOtherRecord(numbers[i]);
        if (!other.empty() && (ByteReader(other).u64(kRecordBaseReferenceField) & kReferenceMask) != n) other.clear();
        others[i] = std::move(other);
      }
      return *others[i];
    };

    std::u16string& name = name_;
    uint32_t parent = 0;
    NtfsTimes times;
    bool named = false;
    for (size_t i = 0; i < held && !named; ++i) {
      std::span<const uint8_t> r = recordAt(i);
      if (r.empty()) continue;
      for (int ns : kNameSpaceOrder) {
        if (GetFileNameInNamespace(r, ns, &name, &parent, &times)) {
          named = true;
          break;
        }
      }
    }
    if (!named) return true;

    if (flags & kRecordDirectory) {
      folders_.push_back({name, (flags & kRecordInUse) ? 'n' : 'y', parent, static_cast<uint32_t>(n), SlotTimes(times)});
    } else {
      int64_t size = 0;
      for (size_t i = 0; i < held; ++i) {
        std::span<const uint8_t> r = recordAt(i);
        if (!r.empty() && GetDataAttributeSize(r, &size)) break;
      }
      const uint64_t bytes = size < 0 ? 0 : static_cast<uint64_t>(size);
      files_.Push({bytes, SlotTimes(times), parent, static_cast<uint32_t>(n), (flags & kRecordInUse) ? 'n' : 'y'},
                  name);
      g_AppState.foundBytes += bytes;
    }
    page_.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(folders_.size() + 1),
                               static_cast<uint32_t>(g_AppState.fileCount + files_.size()), name, &counter_, 'n');
    Progress(total_ ? static_cast<int>(std::min<uint64_t>(100, processed_ * 100 / total_)) : 0);
    return true;
  }

  uint64_t VolumeStart() const { return static_cast<uint32_t>(g_AppState.scanGeometry.clusterZeroSector); }

  // Another record of the MFT (an extension record named by an attribute
  // list), sector by sector through the run table; empty when it is not a
  // FILE record.
  std::vector<uint8_t> ReadOtherRecord(uint32_t number) {
    std::vector<uint8_t> buf(recordBytes_, 0);
    const size_t runs = std::min({g_MftRunSectors.size(), g_MftRunLengths.size(),
                                  static_cast<size_t>(std::max<int32_t>(g_MftRunCount, 0))});
    std::span<const int64_t> lengths(g_MftRunLengths.data(), runs), starts(g_MftRunSectors.data(), runs);
    uint32_t k = 0;
    while (k < spr_) {
      uint64_t first = 0;
      if (!LookupRunSector(uint64_t{number} * spr_ + k, lengths, starts, 1, &first)) {
        ++k;
        continue;
      }
      // Extend over the sectors that follow on disk too.
      uint32_t n = 1;
      uint64_t s = 0;
      while (k + n < spr_ && LookupRunSector(uint64_t{number} * spr_ + k + n, lengths, starts, 1, &s) &&
             s == first + n)
        ++n;
      ReadSectors(device_, first, n, buf.data() + size_t{k} * bps_);
      k += n;
    }
    if (!IsFileRecord(buf)) return {};
    ApplyFixups(buf);
    return buf;
  }

  void Progress(int pos) {
    if (pos == lastProgress_) return;
    lastProgress_ = pos;
    page_.SetProgressPos(kScanProgressBar, pos);
  }

  // Folders whose parent is not among the found folders, or whose parents
  // lead round in a circle and never reach the root, go under "Lost". Then
  // every folder goes into the catalogue: the others in the order found, the
  // lost ones after them in the order of their former parents.
  void AssignLostFolders(bool walkStopped) {
    if (walkStopped) page_.job.stop.store(0);
    page_.ShowControl(kScanStatusLine, true);
    page_.ShowControl(kScanSectorLine, true);
    page_.SetControlText(kScanStatusLine, kSearchingLostText);

    std::unordered_map<uint32_t, size_t> byKey;
    byKey.reserve(folders_.size());
    for (size_t i = 0; i < folders_.size(); ++i) byKey.emplace(folders_[i].own, i);
    std::vector<uint32_t> formerParent(folders_.size());
    for (size_t i = 0; i < folders_.size(); ++i) formerParent[i] = folders_[i].parent;

    // 0 not yet known, 1 on the chain being followed, 2 settled.
    std::vector<uint8_t> state(folders_.size(), 0);
    std::vector<size_t> chain;
    const int n = static_cast<int>(std::min<size_t>(folders_.size() + 1, INT32_MAX));
    lastProgress_ = -1;
    for (size_t i = 0; i < folders_.size(); ++i) {
      chain.clear();
      for (size_t j = i; state[j] == 0;) {
        state[j] = 1;
        chain.push_back(j);
        const uint32_t p = folders_[j].parent;
        if (p == kNtfsRootKey || p == kLostFolderKey) break;
        auto it = byKey.find(p);
        if (it == byKey.end() || state[it->second] == 1) {
          folders_[j].parent = kLostFolderKey;
          break;
        }
        j = it->second;
      }
      for (size_t j : chain) state[j] = 2;

      const int k = static_cast<int>(std::min<size_t>(i + 1, INT32_MAX));
      const int pos = static_cast<int>(std::min<int64_t>(100, int64_t{100} * k / n));
      if (pos != lastProgress_ || i + 1 == folders_.size()) {
        Progress(pos);
        page_.SetControlText(kScanSectorLine, FormatW("Assigning Lost Folders : %d/%d", k, n));
      }
      if (page_.job.checkpoint()) break;
    }
    page_.job.stop.store(0);

    std::vector<size_t> lost;
    for (const FoundFolder& f : folders_) folderKeys_.insert(f.own);
    for (size_t i = 0; i < folders_.size(); ++i) {
      const FoundFolder& f = folders_[i];
      if (f.parent == kLostFolderKey && formerParent[i] != kLostFolderKey) {
        lost.push_back(i);
        continue;
      }
      InsertFolderRecord({}, f.name, f.deleted, f.parent, f.own, 0, f.times, 0);
    }
    std::stable_sort(lost.begin(), lost.end(), [&](size_t a, size_t b) { return formerParent[a] < formerParent[b]; });
    for (size_t i : lost) {
      const FoundFolder& f = folders_[i];
      InsertFolderRecord({}, f.name, f.deleted, f.parent, f.own, 0, f.times, 0);
    }
    folders_.clear();
  }

  // Files in the order found; one whose parent folder was not found (its
  // record reused or damaged) goes under "Lost", where it can be seen and
  // recovered. The queue gives its memory back as the catalogue takes the
  // files, so the two together stay about the size of the larger.
  void InsertFiles() {
    files_.Drain([&](const FoundFileEntry& f, std::u16string_view name) {
      const bool known = f.parent == kNtfsRootKey || f.parent == kLostFolderKey || folderKeys_.count(f.parent);
      InsertFileRecord({}, name, f.deleted, f.bytes, known ? f.parent : kLostFolderKey, f.own, 0, f.times);
    });
    folderKeys_.clear();
  }

  // Nothing found: tell the user and go on with the deep scan on this thread.
  void HandOver() {
    ShowMessage(kQuickScanSwitchText);
    page_.KillTimer(kMarqueeTimer);
    page_.KillTimer(kElapsedTimer);
    page_.SetControlText(kScanFirstCaption, kIndexesFoundCaption);
    page_.SetControlFont(kScanFirstCaption, kArial, kCaptionPointSize, true);
    page_.StartTimer(kElapsedTimer, 1000);
    page_.ResetStartTick();
    g_AppState.formattedMode = 1;
    if (FollowUpWorker next = g_NtfsDeepScanHandOver) {
      next();
      return;
    }
    page_.Complete(page_.analysisFinished);
  }

  ScanHost& page_;
  const char* device_;
  uint32_t bps_ = 0;
  uint32_t spr_ = 0;
  size_t recordBytes_ = 0;
  uint64_t next_ = 0;
  uint64_t processed_ = 0;
  uint64_t total_ = 0;
  int32_t counter_ = 0;
  int lastProgress_ = -1;
  std::vector<FoundFolder> folders_;
  FoundFileQueue files_;
  std::unordered_set<uint32_t> folderKeys_;
  std::vector<uint32_t> numbers_;
  std::vector<std::optional<std::vector<uint8_t>>> others_;
  std::u16string name_;
};

// Reads the catalogue records of the scan log being loaded.
int LoadLogRecords() {
  ScanHost& page = CurrentScanPage();
  File file;
  if (!file.open(g_AppState.scanLogPath, File::Mode::Read)) {
    ShowMessage(kScanLogUnableToOpenText);
    return 0;
  }
  const int64_t size = file.size();
  std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
  if (size < 0 || file.readAt(bytes.data(), bytes.size(), 0) != static_cast<int64_t>(bytes.size())) {
    ShowMessage(kScanLogUnableToOpenText);
    return 0;
  }
  file.close();
  const uint64_t offset =
      g_AppState.scanLogRecordsOffset < 0 ? UINT64_MAX : static_cast<uint64_t>(g_AppState.scanLogRecordsOffset);
  // An invalid log has shown its message; the page stays for the user to go back.
  if (!LoadScanLogRecords(bytes, offset, false, &page)) return 0;
  page.Complete(page.analysisFinished);
  return 0;
}

}  // namespace

int NtfsQuickScanThread() {
  if (g_AppState.loadingScanLog) return LoadLogRecords();
  NtfsQuickScan scan;
  return scan.Run();
}

}  // namespace qm
