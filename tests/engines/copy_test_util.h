#pragma once
// Test helpers of the copy-out: a FAT or NTFS fixture presented as disk 0
// with its catalogue filled from sleuthkit's view of it (fls for the tree,
// istat for FAT clusters and times, the record routines for NTFS sizes and
// times), the oracle bytes from icat, and a recording progress sink.
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "engines/selection_model.h"
#include "ntfs_volume_util.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm::test {

// One item of the fixture as sleuthkit lists it, with what the catalogue got.
struct CatalogItem {
  std::string path;  // fls path
  bool dir = false;
  bool deleted = false;
  std::string inode;  // for icat
  uint64_t size = 0;
  int64_t modifiedUnix = 0;  // FAT: as the entry reads in UTC; NTFS: the FILETIME
};

inline std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
inline std::string Leaf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "2023-04-05 06:07:08" at the start of text as seconds, read as UTC.
inline int64_t ParseUtc(const std::string& text) {
  struct tm t {};
  if (sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
             &t.tm_sec) != 6)
    return 0;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&t));
}

inline std::string After(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at);
  return text.substr(at + label.size(), end - at - label.size());
}

// Every fls entry the copy-out deals with: no metadata files, labels or orphans.
inline std::vector<FlsEntry> UserEntries(const std::string& flsText) {
  std::vector<FlsEntry> out;
  for (FlsEntry& e : ParseFls(flsText)) {
    if (e.path.empty() || e.path[0] == '$' || e.type.find('v') != std::string::npos ||
        e.type.find('V') != std::string::npos || e.path.find("(Volume Label Entry)") != std::string::npos)
      continue;
    out.push_back(std::move(e));
  }
  return out;
}

// Sets the selection and scan globals for a FAT image read from its boot sector.
inline bool OpenFatImage(const std::string& image, const std::u16string& fsName) {
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> boot(512);
  if (!in.read(reinterpret_cast<char*>(boot.data()), 512)) return false;
  const ByteReader r(boot.data(), boot.size());
  const uint32_t bps = r.u16(11), spc = r.u8(13), reserved = r.u16(14), fats = r.u8(16), entries = r.u16(17);
  const uint32_t fatSize = r.u16(22) ? r.u16(22) : r.u32(36);
  const uint32_t fat1 = reserved, root = fat1 + fats * fatSize;
  const uint32_t rootSectors = (entries * 32 + bps - 1) / bps;
  g_BytesPerSector = static_cast<int32_t>(bps);
  PartitionGeometry& g = g_AppState.scanGeometry;
  g = PartitionGeometry{};
  g.sectorsPerCluster = static_cast<int32_t>(spc);
  g.sectorsPerFat = static_cast<int32_t>(fatSize);
  g.reservedSectors = static_cast<int32_t>(reserved);
  g.fat1Sector = static_cast<int32_t>(fat1);
  g.fat2Sector = static_cast<int32_t>(fat1 + fatSize);
  g.rootDirSectors = static_cast<int32_t>(rootSectors);
  g.clusterZeroSector = static_cast<int32_t>(root + rootSectors) - 2 * static_cast<int32_t>(spc);
  g_PartitionGeometry = g;
  g_SelectedFileSystem = fsName;
  g_AppState.scanFileSystem = fsName;
  g_SelectedDiskIndex = 0;
  return true;
}

// Fills the catalogue with the image's tree as fls and istat see it.
inline std::vector<CatalogItem> CatalogFat(const std::string& image) {
  std::vector<CatalogItem> items;
  std::map<std::string, uint32_t> keys{{"", 0}};
  const PartitionGeometry& g = g_AppState.scanGeometry;
  for (const FlsEntry& e : UserEntries(Capture("TZ=UTC fls -r -p " + ShellQuote(image)))) {
    const std::string istat = Capture("TZ=UTC istat " + ShellQuote(image) + " " + e.inode);
    CatalogItem item{e.path, e.type.back() == 'd', e.deleted, e.inode};
    item.size = std::stoull("0" + After(istat, "Size: "));
    std::istringstream sectors(istat.substr(std::min(istat.size(), istat.find("Sectors:") + 9)));
    uint64_t first = 0;
    sectors >> first;
    const uint32_t cluster =
        first ? static_cast<uint32_t>((first - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster)) : 0;
    auto fatStamp = [&](const std::string& label, uint32_t* date, uint32_t* time) {
      const int64_t t = ParseUtc(After(istat, label));
      const CivilTime c = FileTimeToCivil(UnixToFileTime(t));
      *date = CivilToFatDate(c);
      *time = CivilToFatTime(c);
      return t;
    };
    RecordTimes times{};
    item.modifiedUnix = fatStamp("Written:\t", &times[0], &times[1]);
    fatStamp("Created:\t", &times[2], &times[3]);
    fatStamp("Accessed:\t", &times[4], &times[5]);
    times[5] = 0;
    const uint32_t parentKey = keys[Parent(e.path)];
    const char flag = e.deleted ? 'y' : 'n';
    if (item.dir) {
      keys[e.path] = cluster;
      InsertFolderRecord("", Utf8ToUtf16(Leaf(e.path)), flag, parentKey, cluster, 0, times, 0);
    } else {
      InsertFileRecord("", Utf8ToUtf16(Leaf(e.path)), flag, item.size, parentKey, cluster, 0, times);
      g_AppState.foundBytes += item.size;
    }
    items.push_back(item);
  }
  return items;
}

// Fills the catalogue from fls paths and the records' own sizes and times.
inline std::vector<CatalogItem> CatalogNtfs(const NtfsVolume& v) {
  std::vector<CatalogItem> items;
  std::map<std::string, uint32_t> keys{{"", kNtfsRootKey}};
  for (const FlsEntry& e : UserEntries(Capture("fls -r -p " + ShellQuote(v.image)))) {
    const uint32_t record = static_cast<uint32_t>(std::stoul(e.inode));
    std::vector<uint8_t> buf = ReadRecord(v, record);
    std::u16string name;
    uint32_t parent = 0;
    NtfsTimes t;
    ReadMftRecordName(buf, &name, &parent, &t);
    int64_t size = 0;
    CatalogItem item{e.path, e.type.back() == 'd', e.deleted, e.inode};
    if (!item.dir && GetDataAttributeSize(buf, &size)) item.size = static_cast<uint64_t>(size);
    item.modifiedUnix = FileTimeToUnix(t.modified);
    const RecordTimes times{static_cast<uint32_t>(t.modified), static_cast<uint32_t>(t.modified >> 32),
                            static_cast<uint32_t>(t.created), static_cast<uint32_t>(t.created >> 32),
                            static_cast<uint32_t>(t.accessed), static_cast<uint32_t>(t.accessed >> 32)};
    const uint32_t parentKey = keys[Parent(e.path)];
    const char flag = e.deleted ? 'y' : 'n';
    if (item.dir) {
      keys[e.path] = record;
      InsertFolderRecord("", Utf8ToUtf16(Leaf(e.path)), flag, parentKey, record, 0, times, 0);
    } else {
      InsertFileRecord("", Utf8ToUtf16(Leaf(e.path)), flag, item.size, parentKey, record, 0, times);
    }
    items.push_back(item);
  }
  g_SelectedFileSystem = u"NTFS";
  g_AppState.scanFileSystem = u"NTFS";
  g_PartitionGeometry = g_AppState.scanGeometry;
  g_SelectedDiskIndex = 0;
  return items;
}

// Ticks every catalogue file (check flag 'y').
inline void TickAllFiles() {
  for (FileRecord& f : AllFiles()) f.checkFlag = 'y';
}

// Every catalogue file ticked and model built from the catalogue below
// rootKey with everything ticked, as the results page's tick on the root
// leaves it.
inline void TickEverything(SelectionModel& model, uint32_t rootKey) {
  TickAllFiles();
  model.SetTick(model.Root(), kTickTicked);
  model.BuildFromCatalog(rootKey, kTickTicked);
}

// The FAT image (already presented as disk 0) opened and catalogued, all of
// it ticked into model and the totals evaluated: the results page ready for
// Recover. False when the image's boot sector cannot be read.
inline bool SelectWholeFat(const std::string& image, const std::u16string& fsName, SelectionModel& model) {
  if (!OpenFatImage(image, fsName)) return false;
  CatalogFat(image);
  TickEverything(model, kFatRootKey);
  EvaluateSelectedTotals(model);
  return true;
}

// What icat prints for an item (-r: recover a deleted FAT file).
inline std::string IcatBytes(const std::string& image, const CatalogItem& item, bool recover) {
  return Capture(std::string("icat ") + (recover ? "-r " : "") + ShellQuote(image) + " " + item.inode);
}

inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Equal bytes, or where they part (without printing them).
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size() << ", first difference at "
                                       << at;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

inline int64_t MTime(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtim.tv_sec) : -1;
}

// Every path below root (relative, sorted), folders ending in '/'.
inline std::vector<std::string> TreeOf(const std::string& root) {
  std::string listing = Capture("cd " + ShellQuote(root) + " && find . -mindepth 1 -printf '%P%y\\n' | LC_ALL=C sort");
  std::vector<std::string> out;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const char kind = line.back();
    line.pop_back();
    out.push_back(kind == 'd' ? line + "/" : line);
  }
  return out;
}

// Records what the copy-out shows; the clock is set by the test.
class RecordingSink : public CopyProgressSink {
 public:
  void SetControlText(int id, std::u16string_view text) override {
    std::lock_guard l(m);
    texts[id] = std::u16string(text);
    ++textCalls;
  }
  void SetProgressPos(int id, int pos) override {
    std::lock_guard l(m);
    bars[id] = pos;
  }
  bool DetailsHidden() const override { return hidden; }
  int64_t NowSeconds() const override { return now; }
  int64_t PausedSeconds() const override { return paused; }
  uint64_t SelectedBytes() const override { return selected; }
  bool StoppedByUser() const override { return stoppedByUser; }
  void Finish() override { ++finished; }

  std::mutex m;
  std::map<int, std::u16string> texts;
  std::map<int, int> bars;
  int textCalls = 0;
  std::atomic<bool> hidden{false};
  std::atomic<int64_t> now{1000};
  std::atomic<int64_t> paused{0};
  std::atomic<uint64_t> selected{0};
  std::atomic<bool> stoppedByUser{false};
  std::atomic<int> finished{0};
};

// Sets the copy-out up as the target-folder and progress dialogs do.
inline void StartCopyOut(const std::string& target) {
  ResetCopyTotals();
  ResetCopyFlags();
  g_RecoveryTargetFolder = target;
}

// A fresh process state with an empty catalogue.
inline void FreshState() {
  ClearCatalog();
  ClearMftRuns();
  ResetAppState();
  ResetCopyTotals();
  ResetCopyFlags();
  g_CopyProgressDlg = nullptr;
}

}  // namespace qm::test
