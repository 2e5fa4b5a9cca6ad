#pragma once
// The road a user takes through the wizard, walked without the pages: the
// mode buttons, the device tree's fill and clicks, the device page's Next,
// the scan page's choice and start of its one worker, the found-partitions
// page's pick, the scan-log load and the copy-out, each setting the globals
// exactly as the page it stands for does. Workers run on their own thread
// with a recording host and a scripted prompt, and the road waits for them.
//
// The oracle side: catalogue listings as paths, fls and icat of a volume,
// the output tree of a copy-out.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/geometry_store.h"
#include "diskio/partition_table.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/deep_lists.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/fat_partition_search.h"
#include "engines/fat_quick_scan.h"
#include "engines/ntfs_deep_scan.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "engines/scan_log.h"
#include "engines/selection_model.h"
#include "platform/device_map.h"
#include "platform/job_control.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "vdisk/virtual_disk.h"
#include "vdisk/virtual_path.h"

namespace qm::test::road {

// ---------------------------------------------------------------- prompt --

// Answers every question of a road: bad sectors with Skip All, name
// collisions with Overwrite All, copy errors with Skip All.
class RoadPrompt : public ScriptedPrompt {
 public:
  int CopyErrorChoice(std::u16string_view path) override {
    std::lock_guard l(m);
    copyErrors.emplace_back(path);
    return 1;
  }
  int FileReplaceChoice(std::u16string_view) override { return 2; }
  std::vector<std::u16string> Messages() {
    std::lock_guard l(m);
    return messages;
  }
  int BadSectorDialogs() {
    std::lock_guard l(m);
    return badSectorDialogs;
  }
  std::vector<std::u16string> copyErrors;
};

// ----------------------------------------------------------- mode page --

enum class Mode { Deleted, Formatted, Partition, DiskImage };

// What each mode button sets before the device page runs.
inline void PressModeButton(Mode mode) {
  AppState& s = g_AppState;
  s.diskImageMode = 0;
  switch (mode) {
    case Mode::Deleted:
      s.recoveryMode = 1;
      s.formattedMode = 0;
      s.wholeDiskMode = 0;
      break;
    case Mode::Formatted:
      s.recoveryMode = 2;
      s.formattedMode = 1;
      s.wholeDiskMode = 0;
      break;
    case Mode::Partition:
      s.recoveryMode = 3;
      s.wholeDiskMode = 1;
      break;
    case Mode::DiskImage:
      s.recoveryMode = 5;
      s.wholeDiskMode = 1;
      s.diskImageMode = 1;
      break;
  }
}

// --------------------------------------------------------- device tree --

struct TreePartition {
  uint32_t item = 0;
  std::u16string text;        // "Partition - 2 ( NTFS )"
  std::u16string fileSystem;  // as the table names it
  uint32_t first = 0, end = 0;
};

struct TreeDisk {
  int number = 0;
  std::u16string text;   // "Disk0", or the image item's path
  std::u16string value;  // the geometry store's "Disk" n value
  std::vector<TreePartition> partitions;
};

inline uint32_t NewItemId() {
  static uint32_t next = 1000;
  return ++next;
}

inline std::u16string DiskValue(int n) {
  std::u16string v;
  ReadRegistryString(HKEY_CLASSES_ROOT, kGeometryRoot, FormatW("Disk%d", n), &v);
  return v;
}

inline std::u16string GeometryValue(const char16_t* key, const std::u16string& disk) {
  std::u16string v;
  ReadRegistryString(HKEY_CLASSES_ROOT, key, disk, &v);
  return v;
}

inline bool EndsWith(const std::u16string& s, std::u16string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

inline bool StartsWithNoCase(const std::u16string& s, std::u16string_view head) {
  if (s.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); ++i) {
    char16_t a = s[i], b = head[i];
    if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
    if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}

// Reads disk n's table with item insertion, as the tree does for a disk or
// a registered image.
inline std::vector<TreePartition> EnumerateWithItems(int n) {
  std::vector<TreePartition> parts;
  EnumerateDiskPartitions(n, 0, [&](int, std::u16string_view text) {
    parts.push_back({NewItemId(), std::u16string(text)});
    return parts.back().item;
  });
  const DiskPartitionTable& t = g_DiskPartitionTables[n];
  for (size_t i = 0; i < parts.size() && i < t.count; ++i) {
    parts[i].fileSystem = t.fileSystemNames[i];
    parts[i].first = t.entries[i].firstSector;
    parts[i].end = t.entries[i].endSector;
  }
  return parts;
}

// The device tree's fill: rebuilds the geometry store, then lists every
// "Disk" n with its partitions. afterRebuild runs between the two (a virtual
// disk registers itself there).
inline std::vector<TreeDisk> FillDeviceTree(const std::function<void()>& afterRebuild = {}) {
  std::vector<TreeDisk> disks;
  if (!WriteDiskGeometryKeys()) return disks;
  if (afterRebuild) afterRebuild();
  for (int n = 0; n < kPartitionTableDisks; ++n) {
    const std::u16string value = DiskValue(n);
    if (value.empty()) continue;
    std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
    g_RangeEndSector = 0;
    g_SelectedDriveLetter = 0;
    if (value == u"VMM") g_VirtualDiskSource = 1;
    TreeDisk d{n, FormatW("Disk%d", n), value, EnumerateWithItems(n)};
    if (value == u"VMM") g_VirtualDiskSource = 0;
    disks.push_back(std::move(d));
  }
  return disks;
}

// What the virtual-disk chooser leaves behind when OK accepts path: the
// reader open, its kind chosen. Empty on success, else the chooser's message.
inline std::u16string ChooseVirtualDisk(const std::string& path) {
  const int probe = ChooseVirtualPath(path);
  return CheckVirtualPathChoice(probe);
}

// Marks disk n of the store as the virtual disk the tree reads through the
// readers ("VMM", media type "Virtual File", its virtual size).
inline void RegisterVirtualDisk(int n, uint64_t virtualBytes) {
  const std::u16string name = FormatW("Disk%d", n);
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryRoot, name, u"VMM");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryMediaTypeKey, name, u"Virtual File");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometrySizeKey, name, FormatW("%llu", (unsigned long long)virtualBytes));
}

// Number of "Disk" 0..25 values in the store.
inline int ExistingDiskValues() {
  int k = 0;
  for (int n = 0; n < kPartitionTableDisks; ++n)
    if (!DiskValue(n).empty()) ++k;
  return k;
}

// The tree's image registration by folder ("Disk Image" clicked, a folder
// chosen). folder without a trailing '/'. Empty message on success.
inline std::u16string RegisterImageFolder(const std::string& folder, TreeDisk* out) {
  const std::string imagePath = folder + "/DiskImage0.dmg";
  g_SelectedImagePath = imagePath;
  g_ImageSource = 1;
  g_BytesPerSector = 512;
  g_ImageFolder = imagePath;
  {
    std::ifstream bps(folder + "/bps.dmg", std::ios::binary);
    uint8_t b[4] = {};
    if (bps.read(reinterpret_cast<char*>(b), 4))
      g_BytesPerSector = static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24);
  }
  struct stat st {};
  if (::stat(g_ImageFolder.c_str(), &st) != 0) {
    g_SelectedItemText.clear();
    return u"Image path not found. Please specify image path.";
  }
  g_ImageFolder.resize(g_ImageFolder.size() - 14);
  uint64_t total = 0;
  int pieces = 0;
  for (;; ++pieces) {
    if (::stat((g_ImageFolder + "DiskImage" + std::to_string(pieces) + ".dmg").c_str(), &st) != 0) break;
    total += static_cast<uint64_t>(st.st_size);
  }
  g_ImageSplit = pieces > 1 ? 1 : 0;
  const int k = ExistingDiskValues();
  const std::u16string model = g_SelectedItemText;
  g_SelectedItemText = FormatW("Disk%d", k);
  const std::u16string name = g_SelectedItemText;
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryRoot, name, u"Image");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryCylinderKey, name,
                      FormatW("%llu", (unsigned long long)(total / g_BytesPerSector / 16065)));
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryHeadKey, name, u"255");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometrySectorsPerTrackKey, name, u"63");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryBytesPerSectorKey, name, FormatW("%d", g_BytesPerSector));
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryMediaTypeKey, name, u"Image");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, name, model);
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometrySizeKey, name, FormatW("%llu", (unsigned long long)total));
  std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
  g_RangeEndSector = 0;
  g_SelectedDriveLetter = 0;
  *out = TreeDisk{k, Utf8ToUtf16(imagePath), u"Image", EnumerateWithItems(k)};
  return {};
}

// The disk number of a device item as the click takes it: the last value of
// the store for an image item, else the number after "Disk".
inline int ClickedDiskNumber() {
  if (g_ImageSource) {
    const int k = ExistingDiskValues() - 1;
    g_SelectedItemText = FormatW("Disk%d", k);
    return k;
  }
  return g_SelectedItemText.size() > 4 ? std::atoi(Utf16ToUtf8(g_SelectedItemText.substr(4)).c_str()) : 0;
}

// A click on a partition item under disk (or image) item diskText.
inline bool ClickPartition(const TreeDisk& disk, const TreePartition& part) {
  g_SelectedItemText = disk.text;
  g_SelectedVolumeText = part.text;
  g_ImageSource = EndsWith(g_SelectedItemText, u"DiskImage0.dmg") ? 1 : 0;
  const int k = ClickedDiskNumber();
  g_VirtualDiskSource =
      StartsWithNoCase(GeometryValue(kGeometryMediaTypeKey, FormatW("Disk%d", k)), u"Virtual File") ? 1 : 0;
  std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
  g_SelectedDriveLetter = 0;
  g_RangeEndSector = 0;
  EnumerateDiskPartitions(k, 0);
  const DiskPartitionTable& t = g_DiskPartitionTables[k];
  for (uint32_t i = 0; i < t.count; ++i) {
    if (t.entries[i].treeItem != part.item) continue;
    g_SelectedDiskIndex = static_cast<int16_t>(k);
    g_PartitionDiskIndex = static_cast<int16_t>(k);
    g_RangeFirstSector = t.entries[i].firstSector;
    g_RangeEndSector = t.entries[i].endSector;
    g_SelectedPartitionIndex = static_cast<int16_t>(i);
    g_SelectedFileSystem = t.fileSystemNames[i];
    return true;
  }
  return false;
}

// A click on a disk (or image) item: the whole disk, from sector 63.
inline void ClickDisk(const TreeDisk& disk) {
  g_SelectedItemText = disk.text;
  g_SelectedVolumeText.clear();
  g_ImageSource = EndsWith(g_SelectedItemText, u"DiskImage0.dmg") ? 1 : 0;
  g_VirtualDiskSource = 0;
  g_SelectedFileSystem.clear();
  g_RangeFirstSector = g_RangeEndSector = 0;
  g_SelectedPartitionIndex = -1;
  const int k = ClickedDiskNumber();
  const std::u16string name = FormatW("Disk%d", k);
  if (StartsWithNoCase(GeometryValue(kGeometryMediaTypeKey, name), u"Virtual File")) g_VirtualDiskSource = 1;
  const uint64_t size = std::strtoull(Utf16ToUtf8(GeometryValue(kGeometrySizeKey, name)).c_str(), nullptr, 10);
  g_RangeEndSector = size / static_cast<uint64_t>(g_BytesPerSector);
  g_RangeFirstSector = 63;
  g_SelectedFileSystem = u"UNKNOWN";
  g_SelectedDiskModel = GeometryValue(kGeometryModelKey, name);
  g_SelectedDiskIndex = static_cast<int16_t>(k);
}

// The device page's SelectCurrentDevice for a disk item.
inline void SelectCurrentDevice() {
  g_SelectedDiskIndex = static_cast<int16_t>(
      g_SelectedItemText.size() > 4 ? std::atoi(Utf16ToUtf8(g_SelectedItemText.substr(4)).c_str()) : 0);
  std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
  g_SelectedDriveLetter = 0;
}

// Next in the Deleted and Formatted modes: the checks, then the volume's
// geometry. Empty when the scan page would run, else the refusal.
inline std::u16string NextForVolume() {
  g_BadSectorChoice = 0;
  g_AppState.rawRecoveryPage = 0;
  SelectCurrentDevice();
  const std::u16string& fs = g_SelectedFileSystem;
  if (fs != u"FAT32" && fs != u"FAT16" && fs != u"NTFS") return u"Select partition type";
  if (g_RangeEndSector <= g_RangeFirstSector) return u"End lSectorNoRead should be bigger than Start lSectorNoRead";
  ReadPartitionGeometry();
  g_AppState.partitionPass = 0;
  g_AppState.partitionMode = 0;
  return {};
}

// Next in the whole-disk modes, with the range edits and the combo's file
// system ("UNKNOWN" is taken only when imaging).
inline std::u16string NextForWholeDisk(uint64_t first, uint64_t end, const std::u16string& comboFs) {
  g_BadSectorChoice = 0;
  g_AppState.rawRecoveryPage = 0;
  SelectCurrentDevice();
  g_AppState.partitionPass = 0;
  g_PartitionDiskIndex = 0;
  g_AppState.partitionMode = 1;
  g_RangeFirstSector = first;
  g_RangeEndSector = end;
  if (end <= first) return u"End lSectorNoRead should be bigger than start lSectorNoRead.";
  if (comboFs == u"UNKNOWN") {
    if (g_AppState.recoveryMode != 4 && !g_AppState.diskImageMode) return u"Select partition type.";
  } else {
    g_SelectedFileSystem = comboFs;
  }
  g_AppState.partitionPass = 0;
  return {};
}

// ----------------------------------------------------------- scan page --

enum class Ending { None, AnalysisFinished, OpenResults, BackToPartitionList, ClosePage, RecoveryImpossible };

inline const char* EndingName(Ending e) {
  switch (e) {
    case Ending::AnalysisFinished: return "analysisFinished";
    case Ending::OpenResults: return "openResults";
    case Ending::BackToPartitionList: return "backToPartitionList";
    case Ending::ClosePage: return "closePage";
    case Ending::RecoveryImpossible: return "recoveryImpossible";
    default: return "none";
  }
}

// The worker the scan page picks, after copying the selection into the
// scan state; null when it starts none.
inline std::function<int()> PickWorker(const std::function<void()>& imageWorker) {
  AppState& s = g_AppState;
  if (s.diskImageMode) return [imageWorker] {
    imageWorker();
    return 0;
  };
  const std::u16string fs = g_SelectedFileSystem;
  if (fs == u"NTFS") {
    if (!s.loadingScanLog) {
      s.scanGeometry = g_PartitionGeometry;
      s.scanFileSystem = fs;
    }
    if (s.partitionMode && s.partitionPass == 1) return PartitionChoiceThread;
    if (!s.formattedMode && !s.partitionMode) {
      LoadMftRuns(static_cast<uint32_t>(s.scanGeometry.clusterZeroSector), SelectedDevicePath(),
                  static_cast<uint32_t>(s.scanGeometry.mftSector),
                  static_cast<uint32_t>(s.scanGeometry.sectorsPerCluster));
      return NtfsQuickScanThread;
    }
    if (s.partitionMode) ++s.partitionPass;
    return NtfsDeepScanThread;
  }
  if (fs == u"FAT12" || fs == u"FAT16" || fs == u"FAT32") {
    if (!s.loadingScanLog) {
      CopyFatMembers(s.scanGeometry, g_PartitionGeometry);
      s.scanFileSystem = fs;
    }
    if (s.partitionMode) {
      if (s.partitionPass == 0 || s.partitionPass == 1) return FatPartitionThread;
      return {};
    }
    if (s.formattedMode) return FatLostFolderThread;
    return FatQuickScanThread;
  }
  return {};
}

// One run of the scan page: picks and starts the worker, waits for it to
// leave, and says which completion flag it set.
struct ScanPage {
  RecordingHost host;
  Worker worker;
  bool started = false;

  Ending Run(const std::function<void()>& imageWorker = {}) {
    AppState& s = g_AppState;
    s.foundBytes = 0;
    s.indexBlockCount = 0;
    if (!s.loadingScanLog) s.currentVolume = 0;
    ResetCopyFlags();
    // The scans hand over to the deep scans on the same thread.
    g_NtfsDeepScanHandOver = NtfsDeepScanThread;
    g_FatLostFolderHandOver = FatLostFolderThread;
    s.scanPage = &host;
    std::function<int()> body = PickWorker(imageWorker);
    if (body) {
      started = true;
      s.workerThread = &worker;
      worker.start([body] { body(); });
      worker.join();
      s.workerThread = nullptr;
    }
    s.scanPage = nullptr;
    if (host.recoveryImpossible.load()) return Ending::RecoveryImpossible;
    if (host.closePage.load()) return Ending::ClosePage;
    if (host.backToPartitionList.load()) return Ending::BackToPartitionList;
    if (host.openResults.load()) return Ending::OpenResults;
    if (host.analysisFinished.load()) return Ending::AnalysisFinished;
    return Ending::None;
  }
};

// ------------------------------------------------- found-partitions page --

// The picked file system's text and geometry, as the page's selection of
// item n (from 1) writes them; false when the list has no n-th record.
inline bool PickFoundFileSystem(int n) {
  int i = 0;
  for (FileSystemRecord& r : FileSystems()) {
    if (++i != n) continue;
    std::u16string name(r.name);
    name = name.substr(0, name.find(u'\0'));
    g_SelectedVolumeText = FormatW("File System %d - ", n) + (g_SelectedFileSystem == u"NTFS" ? u"NTFS" : name);
    PartitionGeometry& g = g_PartitionGeometry;
    if (g_SelectedFileSystem == u"NTFS") {
      g.sectorsPerCluster = static_cast<int32_t>(r.sectorsPerCluster);
      g.clusterZeroSector = static_cast<int32_t>(r.firstSector);
      g.sectorsPerMftRecord = static_cast<int32_t>(r.sectorsPerMftRecord);
      g.sectorsPerIndexBlock = static_cast<int32_t>(r.sectorsPerIndexBlock);
      return true;
    }
    g.clusterZeroSector = static_cast<int32_t>(r.clusterZeroSector);
    g_SelectedFileSystem = name;
    if (r.fat1Sector == 0) {
      const uint64_t back = name == u"FAT16" ? 550 : 30000;
      uint64_t start = r.clusterZeroSector > back ? r.clusterZeroSector - back : 63;
      if (start == 0) start = 63;
      std::vector<uint8_t> sector(static_cast<size_t>(g_BytesPerSector));
      int found = 0;
      for (uint64_t s = start; s < r.clusterZeroSector && found < 2; ++s) {
        ReadSectors(SelectedDevicePath(), s, 1, sector.data());
        if (sector[0] != 0xF8 || sector[1] != 0xFF || sector[2] != 0xFF) continue;
        if (found++ == 0) {
          r.fat1Sector = s;
        } else {
          r.fat2Sector = s;
          r.sectorsPerFat = static_cast<uint32_t>(r.fat2Sector - r.fat1Sector);
          r.rootLocation = name == u"FAT32" ? 2 : r.fat2Sector + r.sectorsPerFat;
        }
      }
    }
    g.fat1Sector = static_cast<int32_t>(r.fat1Sector);
    g.reservedSectors = static_cast<int32_t>(r.reservedSectors);
    g.rootDirSectors = static_cast<int32_t>(r.rootDirSectors ? r.rootDirSectors : name == u"FAT16" ? 32 : 0);
    g.rootLocation = static_cast<int32_t>(r.rootLocation ? r.rootLocation : 2);
    g.fat2Sector = static_cast<int32_t>(r.fat2Sector);
    g.sectorsPerCluster = static_cast<int32_t>(r.sectorsPerCluster);
    g.sectorsPerFat = static_cast<int32_t>(r.sectorsPerFat);
    if (r.endSector == 0) r.endSector = g_RangeEndSector;
    if (r.firstSector == 0) r.firstSector = r.clusterZeroSector;
    return true;
  }
  return false;
}

// --------------------------------------------------------- back buttons --

// Back on the results or scan page: the display lists go, a load ends.
inline void FreeDisplayLists() {
  ClearCatalog();
  g_AppState.loadingScanLog = 0;
}

// Back on the found-partitions page: everything the search found goes.
inline void FreeScanResults() {
  ClearNtfsLists();
  ClearCatalog();
  ClearFileSystemList();
  g_AppState.loadingScanLog = 0;
}

// ------------------------------------------------------------ scan log --

// The device page's load of a log: header checked and applied, then the
// scan page reads its records. Empty on success, else the message shown.
inline std::u16string ApplyScanLog(const std::string& path) {
  g_AppState.loadingScanLog = 1;
  ScanLogHeader h;
  const ScanLogHeaderStatus status = ReadScanLogHeader(path, h);
  if (status != ScanLogHeaderStatus::Ok) {
    g_AppState.loadingScanLog = 0;
    return std::u16string(ScanLogHeaderMessage(status));
  }
  AppState& s = g_AppState;
  if (h.diskModel != g_SelectedDiskModel) {
    s.loadingScanLog = 0;
    return u"Please select proper device.";
  }
  ApplyScanLogHeader(h);
  s.scanLogPath = path;
  s.recoveryMode = s.partitionMode ? 3 : s.formattedMode ? 2 : 1;
  return {};
}

// ------------------------------------------------------------ listings --

// One catalogue entry with its full path below the root.
struct Entry {
  std::string path;
  bool folder = false;
  bool deleted = false;
  uint64_t size = 0;
  uint32_t key = 0;
  bool operator<(const Entry& o) const { return std::tie(path, folder, deleted, size, key) < std::tie(o.path, o.folder, o.deleted, o.size, o.key); }
  bool operator==(const Entry& o) const { return !(*this < o) && !(o < *this); }
};

inline std::string NameOf(std::string_view name8, std::u16string_view wide) {
  return name8.empty() ? Utf16ToUtf8(wide) : Utf16ToUtf8(Cp1252ToUtf16(name8));
}

// Every catalogue record of the current volume as a path from the root
// key (folders under "Lost" begin with "Lost/"), sorted.
inline std::vector<Entry> CatalogEntries(uint32_t rootKey) {
  std::map<uint32_t, const FolderRecord*> byKey;
  for (const FolderRecord& f : AllFolders()) byKey.emplace(f.ownKey, &f);
  auto pathOf = [&](uint32_t parent, std::string p) {
    for (int depth = 0; parent != rootKey && depth < 128; ++depth) {
      auto it = byKey.find(parent);
      if (it == byKey.end()) return "?/" + p;
      p = NameOf(it->second->name8, it->second->wideName.str()) + "/" + p;
      parent = it->second->parentKey;
    }
    return p;
  };
  std::vector<Entry> out;
  for (const FolderRecord& f : AllFolders())
    out.push_back({pathOf(f.parentKey, NameOf(f.name8, f.wideName.str())), true, f.IsDeleted(), 0, f.ownKey});
  for (const FileRecord& f : AllFiles())
    out.push_back({pathOf(f.parentKey, NameOf(f.name8, f.wideName.str())), false, f.IsDeleted(), f.size(), f.dataKey});
  std::sort(out.begin(), out.end());
  return out;
}

inline std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// fls of the volume at start, without sleuthkit's virtual entries.
inline std::vector<FlsEntry> VolumeFls(const std::string& disk, uint64_t start) {
  std::vector<FlsEntry> out;
  for (FlsEntry& e : ParseFls(Capture("fls -r -p -o " + std::to_string(start) + " " + ShellQuote(disk) + " 2>/dev/null"))) {
    if (e.type == "v/v" || e.type == "V/V" || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    if (e.path.rfind("$OrphanFiles", 0) == 0) continue;
    out.push_back(std::move(e));
  }
  return out;
}

// fls's record number of an inode text ("83-128-2" -> 83).
inline uint32_t InodeNumber(const std::string& inode) { return static_cast<uint32_t>(std::stoul(inode)); }

// Bytes of a file.
inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The bytes icat prints for an inode of the volume at start.
inline std::string Icat(const std::string& disk, uint64_t start, const std::string& inode) {
  return Capture("icat -o " + std::to_string(start) + " " + ShellQuote(disk) + " " + inode + " 2>/dev/null");
}

// Every path below root (relative, sorted), folders ending in '/'.
inline std::set<std::string> TreeOf(const std::string& root) {
  std::string listing = Capture("cd " + ShellQuote(root) + " && find . -mindepth 1 -printf '%P%y\\n' 2>/dev/null");
  std::set<std::string> out;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const char kind = line.back();
    line.pop_back();
    out.insert(kind == 'd' ? line + "/" : line);
  }
  return out;
}

// ------------------------------------------------------------ copy-out --

// The results page's "everything ticked", then Recover into target: the
// size evaluation, the progress dialog's start, the copy worker.
struct CopyOutcome {
  std::vector<std::u16string> messages;  // what the copy showed
  uint64_t selectedBytes = 0;
  uint64_t copiedBytes = 0;
  int filesCopied = 0;
};

inline CopyOutcome CopyEverything(const std::string& target, uint32_t rootKey, RoadPrompt& prompt) {
  for (FileRecord& f : AllFiles()) f.checkFlag = 'y';
  for (FolderRecord& f : AllFolders()) f.checkFlag = 'y';
  SelectionModel model;
  model.SetTick(model.Root(), kTickTicked);
  model.BuildFromCatalog(rootKey, kTickTicked);
  ResetCopyTotals();
  EvaluateSelectedTotals(model);
  g_RecoveryTargetFolder = target;
  ResetCopyFlags();
  const size_t before = prompt.Messages().size();
  Worker copy;
  g_CopyThread = &copy;
  copy.start([&model] { CopyThread(nullptr, model); });
  copy.join();
  g_CopyThread = nullptr;
  CopyOutcome out;
  const auto all = prompt.Messages();
  out.messages.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  out.selectedBytes = model.selectedBytes.load();
  out.copiedBytes = g_CopiedBytes.load();
  out.filesCopied = g_FilesCopied.load();
  return out;
}

// ------------------------------------------------------------- fixture --

// Checksums of source files, taken when a road starts and compared when it
// ends: nothing may write to a source.
inline std::map<std::string, std::string> Checksums(const std::vector<std::string>& files) {
  std::map<std::string, std::string> out;
  for (const std::string& f : files) out[f] = Sha256OfFile(f);
  return out;
}

// Process state back to program start, for one road.
inline void FreshProcessState() {
  ClearCatalog();
  ClearNtfsLists();
  ClearFileSystemList();
  ClearMftRuns();
  ResetAppState();
  ResetCopyTotals();
  ResetCopyFlags();
  std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
  g_BadSectorChoice = 0;
  g_VirtualDiskSource = 0;
  g_ImageSource = 0;
  g_ImageSplit = 0;
  g_BytesPerSector = 512;
  for (auto& t : g_DiskPartitionTables) t = DiskPartitionTable{};
}

}  // namespace qm::test::road
