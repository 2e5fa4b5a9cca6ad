#include "results/search_match.h"

#include <limits>
#include <unordered_map>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/recovery_filter.h"
#include "engines/selection_model.h"
#include "platform/job_control.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr std::u16string_view kThisPc = u"This PC";
// "This PC\" is cut from the front of a path.
constexpr size_t kThisPcPrefixChars = 8;

bool HasWildcard(std::u16string_view p) { return p.find_first_of(u"*?") != std::u16string_view::npos; }

// Whole-name match of '*' (any run) and '?' (one character). Backtracks only
// to the last '*', so the cost stays within length(name) x length(pattern).
bool GlobMatch(std::u16string_view name, std::u16string_view pattern) {
  size_t n = 0, p = 0;
  size_t starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && pattern[p] == name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool PassesDeleted(const SearchCriteria& c, bool deleted) {
  switch (c.deleted) {
    case DeletedChoice::kInclude: return true;
    case DeletedChoice::kExclude: return !deleted;
    case DeletedChoice::kOnly: return deleted;
  }
  return true;
}

const uint32_t* DateSlot(DateKind kind, const uint32_t* created, const uint32_t* modified, const uint32_t* accessed) {
  switch (kind) {
    case DateKind::kCreated: return created;
    case DateKind::kModified: return modified;
    case DateKind::kAccessed: return accessed;
    case DateKind::kNone: break;
  }
  return nullptr;
}

bool PassesDate(const SearchCriteria& c, const uint32_t* slot) {
  return !slot || MatchDateRange(slot[0], slot[1], c) == 1;
}

bool Stopped(JobControl* job) { return job && job->checkpoint(); }

void Emit(const SearchOutput& out, const SearchRow& row, int* matchCount) {
  ++*matchCount;
  if (out.addRow) out.addRow(row, *matchCount);
}

}  // namespace

std::u16string SearchUpperCase(std::u16string_view text) {
  std::u16string s(text);
  for (char16_t& c : s) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - 0x20);
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c = static_cast<char16_t>(c - 0x20);
    }
  }
  return s;
}

int MatchSearchName(std::u16string_view name, std::u16string_view pattern) {
  if (name.empty() || pattern.empty()) return 0;
  const bool star = pattern.find(u'*') != std::u16string_view::npos;
  if (!star && pattern.size() > name.size()) return 0;
  if (pattern == u"*") return 1;
  if (pattern == u"*.*") return name.find(u'.') != std::u16string_view::npos ? 1 : 0;
  if (!HasWildcard(pattern)) return name.find(pattern) != std::u16string_view::npos ? 1 : 0;
  return GlobMatch(name, pattern) ? 1 : 0;
}

int MatchDateRange(uint32_t first, uint32_t second, const SearchCriteria& c) {
  const bool fat = IsFatName(c.fileSystem);
  if (!fat && c.fileSystem != u"NTFS") return 1;
  if (c.toYear < c.fromYear) return 0;
  const uint32_t slot[2] = {first, second};
  int year = 0, month = 0, day = 0;
  if (!SlotDate(slot, c.fileSystem, &year, &month, &day)) return 1;
  if (year < c.fromYear || year > c.toYear) return 0;
  const int64_t key = DateKey(year, month, day);
  return DateKey(c.fromYear, c.fromMonth, c.fromDay) <= key && key <= DateKey(c.toYear, c.toMonth, c.toDay) ? 1 : 0;
}

uint64_t SearchSizeBound(std::u16string_view text, std::u16string_view unit) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
    v = (v > (kMax - digit) / 10) ? kMax : v * 10 + digit;
  }
  int shift = 0;
  if (unit == u"KB") shift = 10;
  else if (unit == u"MB") shift = 20;
  else if (unit == u"GB") shift = 30;
  if (shift && v > (kMax >> shift)) return kMax;
  return v << shift;
}

std::u16string BuildItemPath(const SelectionModel& tree, uint32_t item) {
  std::u16string path;
  for (const std::u16string& text : tree.ItemPath(item)) {
    if (!path.empty()) path += u'\\';
    path += text;
  }
  // The joined texts carry no trailing separator, so only the prefix goes.
  if (path.starts_with(kThisPc)) path = path.size() > kThisPcPrefixChars ? path.substr(kThisPcPrefixChars) : u"";
  return path;
}

void SearchFolderRecords(const SearchCriteria& c, int32_t currentVolume, const SearchOutput& out, int* matchCount,
                         JobControl* job) {
  for (const FolderRecord& folder : AllFolders()) {
    if (Stopped(job)) return;
    if (folder.fileSystemNumber != currentVolume) continue;
    const std::u16string name = RecordName(folder);
    if (!MatchSearchName(SearchUpperCase(name), c.pattern)) continue;
    if (!PassesDeleted(c, folder.IsDeleted())) continue;
    if (!PassesDate(c, DateSlot(c.dateKind, folder.createdTime, folder.modifiedTime, folder.accessedTime))) continue;
    SearchRow row;
    row.path = out.itemPath ? out.itemPath(folder.treeItem) : std::u16string();
    if (row.path.empty()) continue;
    row.folder = &folder;
    row.name = name;
    row.type = folder.IsDeleted() ? u"Deleted Folder" : u"Folder";
    row.size = u"0";
    row.id = static_cast<int32_t>(folder.treeItem);
    Emit(out, row, matchCount);
  }
}

void SearchFileRecords(const SearchCriteria& c, const SearchOutput& out, int* matchCount, JobControl* job) {
  // The first folder (any volume) with each own key, in list order.
  std::unordered_map<uint32_t, const FolderRecord*> folderByKey;
  for (const FolderRecord& folder : AllFolders()) folderByKey.emplace(folder.ownKey, &folder);
  const bool hasRoot = IsFatName(c.fileSystem) || c.fileSystem == u"NTFS";
  const uint32_t rootKey = IsFatName(c.fileSystem) ? kFatRootKey : kNtfsRootKey;

  for (const FileRecord& file : AllFiles()) {
    if (Stopped(job)) return;
    const std::u16string name = RecordName(file);
    if (!MatchSearchName(SearchUpperCase(name), c.pattern)) continue;
    if (c.sizeHigh != 0 && (file.size() < c.sizeLow || file.size() > c.sizeHigh)) continue;
    if (!PassesDeleted(c, file.IsDeleted())) continue;
    if (!PassesDate(c, DateSlot(c.dateKind, file.createdTime, file.modifiedTime, file.accessedTime))) continue;
    // A file directly under the volume's root is listed with the root's
    // (empty) path; any other parent key is a folder of the catalogue, on
    // FAT a key of 5 too.
    SearchRow row;
    if (!(hasRoot && file.parentKey == rootKey)) {
      const auto found = folderByKey.find(file.parentKey);
      if (found == folderByKey.end()) continue;
      row.path = out.itemPath ? out.itemPath(found->second->treeItem) : std::u16string();
      if (row.path.empty()) continue;
    }
    row.file = &file;
    row.name = name;
    row.type = file.IsDeleted() ? u"Deleted File" : u"File";
    row.size = FormatW("%lld", static_cast<long long>(file.size()));
    row.id = file.runningNumber();
    Emit(out, row, matchCount);
  }
}

}  // namespace qm
