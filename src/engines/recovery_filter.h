#pragma once
// The recovery filter as the copy-out and the size evaluation apply it: the
// tick scope, the three date ranges, the deleted-data option and the
// extension list, all read from the filter fields of g_AppState. Both callers
// go through these predicates so that the bytes counted before a copy are
// exactly the bytes the copy takes.
#include <cstdint>
#include <string>
#include <string_view>

#include "state/app_state.h"

namespace qm {

struct FileRecord;

// Indexes into a date range of g_AppState (six ints).
enum DateRangeField { kFromDay = 0, kFromMonth, kFromYear, kToDay, kToMonth, kToYear };

// One calendar day as an ordered number: year x 10000 + month x 100 + day.
// Every day of a month stays below the first of the next.
int64_t DateKey(int year, int month, int day);

// A range filters when its to-year is set and not below its from-year.
bool DateRangeActive(const int32_t range[6]);
// True when the day lies inside an active range (ends inclusive), or the
// range is not active.
bool DateInRange(const int32_t range[6], int year, int month, int day);

// The date of one time slot (two 32-bit values) on the given file system:
// FAT "FAT12"/"FAT16"/"FAT32": the directory entry's date in the first value;
// "NTFS": a FILETIME (low, high), taken as its UTC calendar date. False for
// any other file system, which has no date filter.
bool SlotDate(const uint32_t slot[2], std::u16string_view fileSystem, int* year, int* month, int* day);

// The modified, created and accessed ranges, in that order.
bool PassesDateFilter(const FileRecord& file, std::u16string_view fileSystem);

// checkScope: 0 takes ticked records, 1 all, 2 unticked ones.
bool TakenByCheckScope(char checkFlag);

// deletedFilter: 0 takes all, 1 live files only, 2 deleted files only.
bool PassesDeletedOption(bool deleted);

// The text after the last '.' of a name (the whole name without one), cut
// to 7 characters when it has 8 or more.
std::u16string FilterExtension(std::u16string_view name);
// True when no extension list is in force or the name's extension equals an
// entry, case ignored.
bool PassesExtensionList(std::u16string_view name);

// Every rule above for one catalogue file with its shown name.
bool FileSelectedForRecovery(const FileRecord& file, std::u16string_view name, std::u16string_view fileSystem);

}  // namespace qm
