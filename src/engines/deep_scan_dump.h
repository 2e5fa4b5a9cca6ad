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
//
// Outside partition recovery the deep lists are emptied afterwards (their
// counters keep their values); in partition recovery they stay, so that
// another file system can be picked from the same search. A stop request ends
// the loop it interrupts; the steps after it run on what was dumped, and the
// lists are then kept.
void DumpSelectedFileSystem(int32_t key);

}  // namespace qm
