#pragma once
// The dump of a deep scan's findings into the scan catalogue: every folder of
// the NTFS folder list (NTFS folders, or the FAT directory candidates of the
// partition search) and, for NTFS, every file goes into the sorted display
// lists, with a "Lost" folder that collects the folders of the chosen file
// system whose parent is not among them.
//
// Runs on the scan job's thread at the end of the NTFS deep scan and in the
// second pass of partition recovery; reports through g_AppState.scanPage.
// The branch follows g_SelectedFileSystem: "FAT12", "FAT16" and "FAT32" take
// the FAT branch (folders named "Dir" + a number), anything else NTFS.
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

inline constexpr std::u16string_view kDumpSizeCaption = u"Total Size                   ";
inline constexpr std::u16string_view kDumpNtfsText =
    u"Step 4.3/5 :- Dumping Files/Folders information for Selected File System. Please Wait...  ";
inline constexpr std::u16string_view kDumpFatText =
    u"Step 4/5 :- Dumping Folders information for Selected File System. Please Wait...  ";
inline constexpr std::u16string_view kDumpLostText = u"Step 5/5 :- Searching lost directories. Please Wait...  ";

// Dumps file system `key` (only its folders are checked for a lost parent;
// folders of other file systems go in with their numbers). A folder lies
// under "Lost" when its parent is not a folder of the same file system, or
// when its parents lead round in a circle that never reaches the root.
// On NTFS the $MFT run table (engines/ntfs_runs.h) is made anew from where
// the scan found the file system's extension records, so that the copier
// finds a file's later runs with no $MFT to map them.
//
// Outside partition recovery the deep lists are emptied afterwards (their
// counters keep their values); in partition recovery they stay, so that
// another file system can be picked from the same search. A stop request ends
// the loop it interrupts; the steps after it run on what was dumped, and the
// lists are then kept.
void DumpSelectedFileSystem(int32_t key);

// Which folders of one file system go under "Lost", over the folders as the
// catalogue will hold them (one per own key; a live one replaces a deleted
// one): a folder whose parent is not among them, and the folder that closes
// a circle of parents that never reaches the root (a ".." naming its own
// folder, two folders naming each other), so that no folder hangs where the
// tree cannot reach it. Shared by the dump and the FAT lost-folder scan.
class LostFolderPlan {
 public:
  explicit LostFolderPlan(uint32_t rootKey) : root_(rootKey) {}
  void Add(uint32_t ownKey, uint32_t parentKey, bool deleted);
  // Whether the folder (ownKey, parentKey) goes under "Lost". A folder
  // without a number of its own (0) is lost only when its parent is missing.
  bool IsLost(uint32_t ownKey, uint32_t parentKey);

 private:
  struct Node {
    uint32_t parent = 0;
    bool deleted = false;
    uint8_t state = 0;  // 0 not yet followed, 1 on the chain being followed, 2 settled
    bool lost = false;
  };
  // Follows the parents from key until the root, a settled folder, a missing
  // parent or a circle; the folder whose parent is missing, or that closes
  // the circle, is lost.
  void Resolve(uint32_t key);

  uint32_t root_;
  std::unordered_map<uint32_t, Node> nodes_;
  std::vector<uint32_t> chain_;
};

}  // namespace qm
