#pragma once
// The search dialog's matching: the name pattern, the date range, the size
// range and the two passes over the catalogue that produce result rows.
// Runs on the search worker; rows go to a callback that the dialog turns
// into list rows.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

struct FolderRecord;
struct FileRecord;
class JobControl;
class SelectionModel;

// Upper-cases for matching: ASCII and the Latin-1 letters.
std::u16string SearchUpperCase(std::u16string_view text);

// 1 when name matches pattern (both already upper-cased), else 0.
// No wildcard: pattern occurs in name. "*": everything. "*.*": names with a
// dot. Otherwise "*" stands for any run of characters and "?" for exactly
// one, over the whole name.
int MatchSearchName(std::u16string_view name, std::u16string_view pattern);

// The deleted-state radios.
enum class DeletedChoice { kInclude, kExclude, kOnly };
// The date kinds of the date combo.
enum class DateKind { kNone = -1, kCreated = 0, kModified = 1, kAccessed = 2 };

struct SearchCriteria {
  std::u16string pattern;  // upper-cased
  DeletedChoice deleted = DeletedChoice::kInclude;
  DateKind dateKind = DateKind::kNone;
  int fromDay = 1, fromMonth = 1, fromYear = 1970;
  int toDay = 31, toMonth = 12, toYear = 2030;
  // Both 0: no size test (the "Size" box is not ticked, or the upper bound is 0).
  uint64_t sizeLow = 0;
  uint64_t sizeHigh = 0;
  std::u16string fileSystem;  // g_SelectedFileSystem
};

// 1 when the time slot lies in the criteria's date range, else 0. Always 1
// on a file system that is neither FAT nor NTFS.
int MatchDateRange(uint32_t first, uint32_t second, const SearchCriteria& criteria);

// A size bound as typed: the unsigned decimal in text times the unit ("KB",
// "MB", "GB"; any other unit is bytes). Non-digits end the number; a value
// beyond 64 bits is held at the largest one.
uint64_t SearchSizeBound(std::u16string_view text, std::u16string_view unit);

// One result row.
struct SearchRow {
  const FolderRecord* folder = nullptr;  // set for a folder row
  const FileRecord* file = nullptr;      // set for a file row
  std::u16string name;
  std::u16string type;  // "Deleted Folder", "Folder", "Deleted File", "File"
  std::u16string path;
  std::u16string size;  // "0" for folders
  int32_t id = 0;       // folder: tree item; file: running number
};

// Where a pass gets a tree item's path and sends its rows. Count is the
// running match count after the row.
struct SearchOutput {
  std::function<std::u16string(uint32_t treeItem)> itemPath;
  std::function<void(const SearchRow& row, int count)> addRow;
};

// The backslash-joined texts of an item and its ancestors below the root,
// without a leading "This PC\".
std::u16string BuildItemPath(const SelectionModel& tree, uint32_t item);

// The passes. Each adds to *matchCount and stops early only when job asks.
void SearchFolderRecords(const SearchCriteria& criteria, int32_t currentVolume, const SearchOutput& out,
                         int* matchCount, JobControl* job = nullptr);
void SearchFileRecords(const SearchCriteria& criteria, const SearchOutput& out, int* matchCount,
                       JobControl* job = nullptr);

}  // namespace qm
