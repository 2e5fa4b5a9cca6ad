#pragma once
// What the results page shows and how ticks travel, apart from its widgets:
// the folder tree built from the catalogue into the selection model, the
// rows of one folder's listing with their time texts, the list sort, and the
// tick model that keeps tree marks, list ticks and the catalogue's check
// flags in step. The copy-out and the size evaluation read the same
// selection model and check flags.
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engines/selection_model.h"

namespace qm {

struct VolumeBounds;

struct FileRecord;
struct FolderRecord;

// --- Time texts of the list ---
// "Jan" to "Dec" for 1 to 12, "Err" for anything else.
std::u16string MonthName(unsigned month);
// A FAT date and time: "dd-Mon-yyyy hh:mm", or the date alone.
std::u16string FatTimeText(uint32_t date, uint32_t time, bool withTime);
// A FILETIME in UTC: "dd-Mon-yyyy hh:mm:ss".
std::u16string NtfsTimeText(uint32_t low, uint32_t high);

// The root key of a file-system name: 0 for FAT12/16/32, 5 for NTFS; false
// for any other name.
bool RootKeyOf(std::u16string_view fileSystem, uint32_t* key);

// --- Rows of the file list ---
struct ResultRow {
  FolderRecord* folder = nullptr;  // exactly one of folder and file is set
  FileRecord* file = nullptr;
  std::u16string name, type, size, modified, created, accessed, id;
  bool deleted = false;
  bool ticked = false;
};
// A row's "Type" ends in "Folder" / in "File", in any letter case: the lists
// show "Folder" and "Deleted Folder", and a list that upper-cases its types
// must still open and tick the same rows.
bool IsFolderRowType(std::u16string_view type);
bool IsFileRowType(std::u16string_view type);
ResultRow MakeFolderRow(FolderRecord& folder, bool ntfs);
// beyondVolume: what the file claims lies beyond its volume (see
// ClaimsBeyondVolume), so its copy cannot be whole; its size says so.
ResultRow MakeFileRow(FileRecord& file, bool ntfs, bool beyondVolume = false);
// Follows the size of a file whose claim lies beyond its volume.
inline constexpr std::u16string_view kBeyondVolumeMark = u" (beyond the volume)";

// The rename of a row's record. An empty name is refused: shown gets the
// old name and nothing changes. Otherwise the record takes the new name (as
// its 8-bit name when it held one and the name fits the code page, else as
// its UTF-16 name), the row shows it, and a folder's selection item takes
// it too, so the recovery writes the new name. False when nothing changed.
bool RenameRowRecord(ResultRow& row, std::u16string_view newName, SelectionModel& tree, std::u16string* shown);

// Sort of the list by one column (0 Name ... 6 ID). Negative, 0 or
// positive; descending swaps the two rows.
int CompareListRows(const ResultRow& a, const ResultRow& b, int column, bool descending, bool ntfs);

// The listing of the folder with this key: its sub-folders of the current
// volume sorted by name in the given direction, then its files in catalogue
// order. progress gets 0..100. With volume given, files whose claim lies
// beyond it are marked so.
std::vector<ResultRow> CollectFolderRows(uint32_t key, std::u16string_view fileSystem, bool descending,
                                         const std::function<void(int)>& progress = {},
                                         const VolumeBounds* volume = nullptr);

// Builds the folder tree of the current volume below rootKey into tree
// (cleared first): one item per folder, siblings sorted by name, each
// folder's tree item set. A key met again on the current path is not
// descended into (damaged file systems can loop). progress gets 0..100.
void BuildFolderTree(SelectionModel& tree, uint32_t rootKey, const std::function<void(int)>& progress = {});

// --- Queue of ticked folder keys ---
struct FolderKeyNode {
  uint32_t folderKey = 0;
  char flag = 'y';  // the check flag the folder's files take
};
class FolderKeyQueue {
 public:
  void Append(uint32_t key, char flag);
  std::vector<FolderKeyNode> Take();  // empties the queue
  void Clear();
  size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::vector<FolderKeyNode> nodes_;
};
extern FolderKeyQueue g_CheckedFolderKeys;
void AppendFolderId(FolderKeyQueue& queue, uint32_t key, char flag);
void FreeCheckedFolderKeys();

// Sets the check flag of every file whose parent key is in the queue to the
// flag its key was queued with (the latest entry of a key wins), in one
// pass over the file list, and empties the queue. progress gets 0..100.
void MarkQueuedFolderFiles(const std::function<void(int)>& progress = {});

// --- The tick model ---
class TickModel {
 public:
  // Asked to tick (true) or untick the list rows that belong to a folder.
  using ListRowsRequest = std::function<void(uint32_t item, uint32_t key, bool tick)>;
  // Progress of a marking pass, 0..100.
  using Progress = std::function<void(int)>;

  explicit TickModel(SelectionModel& tree) : tree_(tree) {}

  void SetListRowsRequest(ListRowsRequest request) { listRows_ = std::move(request); }
  void SetProgress(Progress progress) { progress_ = std::move(progress); }
  // True on the results page: ticks change the catalogue's flags too.
  void SetOnResultsPage(bool on) { onResultsPage_ = on; }
  // The file system whose root key the root item stands for.
  void SetFileSystem(std::u16string fs) { fileSystem_ = std::move(fs); }

  SelectionModel& Tree() { return tree_; }
  // -1 no such item, 0 unchecked, 1 checked.
  int GetItemCheckState(uint32_t item) const;
  bool IsBold(uint32_t item) const { return bold_.count(item) != 0; }
  bool HasBoldChild(uint32_t item) const;
  bool AllChildrenChecked(uint32_t item) const;

  int suppressMarking = 0;

  void CheckTreeItem(uint32_t item);
  void UncheckTreeItem(uint32_t item);
  void CheckSubtree(uint32_t item);
  void UncheckSubtree(uint32_t item);
  void PropagateUncheckToParents(uint32_t item);
  void PropagateCheckToParents(uint32_t item);

  // True when the folder has a ticked sub-folder (current volume) or file;
  // otherwise its own record is unticked.
  bool FolderHasCheckedContent(uint32_t item);

  // A click on an item's check box (or Space on it).
  void SelectData(uint32_t item);
  // A list row's box changed. currentItem is the folder the list shows.
  void FileRowToggled(FileRecord& file, bool ticked, uint32_t currentItem);
  // The marks that follow a file's new flag: ticked, its folder and every
  // ancestor tick; unticked, the folder and its ancestors untick until one
  // still holds ticked content.
  void FileTicked(uint32_t folderItem, bool ticked);
  void FolderRowToggled(uint32_t item, bool ticked);

 private:
  bool MarkingOn() const { return onResultsPage_ && suppressMarking != 1; }
  // The key the item stands for; false without a record.
  bool ItemKey(uint32_t item, uint32_t* key, FolderRecord** record) const;
  void MarkFolder(uint32_t item, char flag);
  void MarkFolderForList(uint32_t item, bool tick);
  void RequestFolderFiles(uint32_t item, char flag);
  void UncheckUpward(uint32_t from);

  SelectionModel& tree_;
  std::set<uint32_t> bold_;
  bool onResultsPage_ = true;
  std::u16string fileSystem_;
  ListRowsRequest listRows_;
  Progress progress_;
};

}  // namespace qm
