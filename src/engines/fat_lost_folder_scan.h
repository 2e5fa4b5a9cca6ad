#pragma once
// The lost-folder scan of a FAT12, FAT16 or FAT32 volume: the formatted
// recovery, and the second half of a FAT partition recovery's second pass.
// A formatted volume no longer leads from its root to its folders, so every
// cluster of the data area is tested for the "." and ".." entries that open a
// directory; each one whose "." entry names its own cluster is a folder
// ("Dir" + a number), tied to its parent through "..". Then the root and
// every found folder are read: a folder that a parent still lists gets its
// name back, and the files of every folder go into the catalogue.
//
// Runs on the scan job's thread over g_AppState and the selection globals
// and reports through g_AppState.scanPage. Stop is obeyed at every cluster
// of the search and every folder read; a stop during the search goes on with
// what was found.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engines/catalog.h"
#include "engines/fat_directory.h"  // ReadDotEntries

namespace qm {

inline constexpr std::u16string_view kRecoveryImpossibleText =
    u"Recovery is not possible using this option. Choose other mode for data recovery.";
inline constexpr std::u16string_view kLostFolderTotalSizeCaption = u"Total Size                   ";
inline constexpr std::u16string_view kLostFolderStep1Text = u"Step 1/5 :- Searching Folders signatures. Please Wait...";
inline constexpr std::u16string_view kLostFolderStep2Text = u"Step 2/5 :- Searching Lost Folders. Please Wait...  ";
inline constexpr std::u16string_view kLostFolderStep3Text = u"Step 3/5 :- Inserting Root Data. Please Wait...  ";
inline constexpr std::u16string_view kLostFolderStep4Text =
    u"Step 4/5 :- Inserting Sub Directories Data. Please Wait...  ";

// The worker. Returns 1 after "Recovery is not possible ..." (a geometry
// without sectors per cluster), else 0.
int FatLostFolderThread();

}  // namespace qm
