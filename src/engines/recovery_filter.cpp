#include "engines/recovery_filter.h"

#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "platform/text.h"

namespace qm {

namespace {

// FAT directory-entry date: bits 9-15 years since 1980, 5-8 month, 0-4 day.
constexpr int kFatEpochYear = 1980;

// The extension list compares at most this many characters.
constexpr size_t kExtensionCompareChars = 7;

}  // namespace

int64_t DateKey(int year, int month, int day) {
  return int64_t{year} * 10000 + int64_t{month} * 100 + int64_t{day};
}

bool DateRangeActive(const int32_t range[6]) {
  return range[kToYear] != 0 && range[kToYear] >= range[kFromYear];
}

bool DateInRange(const int32_t range[6], int year, int month, int day) {
  if (!DateRangeActive(range)) return true;
  if (year > range[kToYear] || year < range[kFromYear]) return false;
  const int64_t key = DateKey(year, month, day);
  return key >= DateKey(range[kFromYear], range[kFromMonth], range[kFromDay]) &&
         key <= DateKey(range[kToYear], range[kToMonth], range[kToDay]);
}

bool SlotDate(const uint32_t slot[2], std::u16string_view fileSystem, int* year, int* month, int* day) {
  if (IsFatName(fileSystem)) {
    const uint32_t date = slot[0] & 0xFFFF;
    *year = static_cast<int>(date >> 9) + kFatEpochYear;
    *month = static_cast<int>((date >> 5) & 0x0F);
    *day = static_cast<int>(date & 0x1F);
    return true;
  }
  if (fileSystem == u"NTFS") {
    const CivilTime t = FileTimeToCivil(uint64_t{slot[1]} << 32 | slot[0]);
    *year = t.year;
    *month = t.month;
    *day = t.day;
    return true;
  }
  return false;
}

bool PassesDateFilter(const FileRecord& file, std::u16string_view fileSystem) {
  const struct {
    const uint32_t* slot;
    const int32_t* range;
  } kinds[] = {{file.modifiedTime, g_AppState.modifiedDateRange},
               {file.createdTime, g_AppState.createdDateRange},
               {file.accessedTime, g_AppState.accessedDateRange}};
  for (const auto& k : kinds) {
    if (!DateRangeActive(k.range)) continue;
    int y = 0, m = 0, d = 0;
    if (!SlotDate(k.slot, fileSystem, &y, &m, &d)) return true;
    if (!DateInRange(k.range, y, m, d)) return false;
  }
  return true;
}

bool TakenByCheckScope(char checkFlag) {
  switch (g_AppState.checkScope) {
    case 0: return checkFlag == 'y';
    case 1: return true;
    case 2: return checkFlag != 'y';
    default: return false;
  }
}

bool PassesDeletedOption(bool deleted) {
  switch (g_AppState.deletedFilter) {
    case 1: return !deleted;
    case 2: return deleted;
    default: return true;
  }
}

std::u16string FilterExtension(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  std::u16string_view ext = dot == std::u16string_view::npos ? name : name.substr(dot + 1);
  if (ext.size() > kExtensionCompareChars) ext = ext.substr(0, kExtensionCompareChars);
  return std::u16string(ext);
}

bool PassesExtensionList(std::u16string_view name) {
  const int count = g_AppState.extensionCount;
  if (count <= 0) return true;
  const std::u16string ext = FilterExtension(name);
  for (int i = 0; i < count && i < kExtensionSlots; ++i) {
    const char16_t* slot = g_AppState.extensionFilter[i];
    size_t n = 0;
    while (n < kExtensionChars && slot[n] != 0) ++n;
    if (EqualsIgnoreCaseAscii(ext, std::u16string_view(slot, n))) return true;
  }
  return false;
}

bool FileSelectedForRecovery(const FileRecord& file, std::u16string_view name, std::u16string_view fileSystem) {
  return TakenByCheckScope(file.checkFlag.load()) && PassesDateFilter(file, fileSystem) &&
         PassesDeletedOption(file.IsDeleted()) && PassesExtensionList(name);
}

}  // namespace qm
