#include "results/tick_model.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/file_copiers.h"
#include "platform/text.h"

namespace qm {

FolderKeyQueue g_CheckedFolderKeys;

std::u16string MonthName(unsigned month) {
  static const char16_t* const kNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                           u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  return month >= 1 && month <= 12 ? kNames[month - 1] : u"Err";
}

std::u16string FatTimeText(uint32_t date, uint32_t time, bool withTime) {
  const unsigned day = date & 0x1F;
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned year = ((date >> 9) & 0x7F) + 1980;
  std::u16string text = FormatW("%02u-", day) + MonthName(month) + FormatW("-%u", year);
  if (withTime) text += FormatW(" %02u:%02u", (time >> 11) & 0x1F, (time >> 5) & 0x3F);
  return text;
}

std::u16string NtfsTimeText(uint32_t low, uint32_t high) {
  const uint64_t ticks = (static_cast<uint64_t>(high) << 32) | low;
  const uint64_t seconds = ticks / 10000000ULL;
  // Days since 1601-01-01, turned into a civil date (proleptic Gregorian).
  int64_t days = static_cast<int64_t>(seconds / 86400);
  const uint64_t rest = seconds % 86400;
  days -= 134774;  // 1601-01-01 .. 1970-01-01
  days += 719468;  // shift to 0000-03-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  if (month <= 2) ++year;
  return FormatW("%02u-", day) + MonthName(month) +
         FormatW("-%lld %02u:%02u:%02u", static_cast<long long>(year), static_cast<unsigned>(rest / 3600),
                 static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
}

bool RootKeyOf(std::u16string_view fs, uint32_t* key) {
  if (fs == u"FAT12" || fs == u"FAT16" || fs == u"FAT32") {
    *key = kFatRootKey;
    return true;
  }
  if (fs == u"NTFS") {
    *key = kNtfsRootKey;
    return true;
  }
  return false;
}

namespace {

bool EndsWithIgnoreCase(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && EqualsIgnoreCaseAscii(text.substr(text.size() - tail.size()), tail);
}

template <typename Record>
void FillTimes(ResultRow& row, const Record& r, bool ntfs) {
  if (ntfs) {
    row.modified = NtfsTimeText(r.modifiedTime[0], r.modifiedTime[1]);
    row.created = NtfsTimeText(r.createdTime[0], r.createdTime[1]);
    row.accessed = NtfsTimeText(r.accessedTime[0], r.accessedTime[1]);
  } else {
    row.modified = FatTimeText(r.modifiedTime[0], r.modifiedTime[1], true);
    row.created = FatTimeText(r.createdTime[0], r.createdTime[1], true);
    row.accessed = FatTimeText(r.accessedTime[0], r.accessedTime[1], false);
  }
}

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int d = static_cast<int>(FoldCase(a[i])) - static_cast<int>(FoldCase(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

const uint32_t* SlotOf(const ResultRow& row, int column) {
  if (row.folder) {
    const FolderRecord& f = *row.folder;
    return column == 3 ? f.modifiedTime : column == 4 ? f.createdTime : f.accessedTime;
  }
  const FileRecord& f = *row.file;
  return column == 3 ? f.modifiedTime : column == 4 ? f.createdTime : f.accessedTime;
}

}  // namespace

bool IsFolderRowType(std::u16string_view type) { return EndsWithIgnoreCase(type, u"Folder"); }
bool IsFileRowType(std::u16string_view type) { return EndsWithIgnoreCase(type, u"File"); }

ResultRow MakeFolderRow(FolderRecord& folder, bool ntfs) {
  ResultRow row;
  row.folder = &folder;
  row.name = RecordName(folder);
  row.deleted = folder.IsDeleted();
  row.type = row.deleted ? u"Deleted Folder" : u"Folder";
  row.size = u"0";
  FillTimes(row, folder, ntfs);
  row.id = FormatW("%d", static_cast<int>(folder.treeItem));
  row.ticked = folder.checkFlag.load() == 'y';
  return row;
}

ResultRow MakeFileRow(FileRecord& file, bool ntfs, bool beyondVolume) {
  ResultRow row;
  row.file = &file;
  row.name = RecordName(file);
  row.deleted = file.IsDeleted();
  row.type = row.deleted ? u"Deleted File" : u"File";
  row.size = FormatW("%llu", static_cast<unsigned long long>(file.size()));
  if (beyondVolume) row.size += kBeyondVolumeMark;
  FillTimes(row, file, ntfs);
  row.id = FormatW("%d", file.runningNumber());
  row.ticked = file.checkFlag.load() == 'y';
  return row;
}

bool RenameRowRecord(ResultRow& row, std::u16string_view newName, SelectionModel& tree, std::u16string* shown) {
  const std::u16string oldName =
      row.folder ? RecordName(*row.folder) : row.file ? RecordName(*row.file) : std::u16string();
  if (!row.folder && !row.file) {
    *shown = row.name;
    return false;
  }
  if (newName.empty()) {
    *shown = oldName;
    return false;
  }
  *shown = std::u16string(newName);
  const bool changed = newName != oldName;
  // Through the catalogue, which holds the rename back while a scan log is
  // being written from these names.
  auto store = [&](auto& record) {
    if (!changed) return;
    const std::string narrow = Utf16ToCp1252(newName);
    // Only a name that survives the code page stays 8-bit; anything else
    // would be written with replacement characters.
    if (!record.name8.empty() && Cp1252ToUtf16(narrow) == newName)
      SetRecordName(record, narrow, {});
    else
      SetRecordName(record, {}, newName);
  };
  if (row.folder) {
    store(*row.folder);
    if (SelectionNode* node = tree.Node(row.folder->treeItem); node && node->folder == row.folder)
      node->text = std::u16string(newName);
  } else {
    store(*row.file);
  }
  row.name = *shown;
  return changed;
}

int CompareListRows(const ResultRow& x, const ResultRow& y, int column, bool descending, bool ntfs) {
  const ResultRow& a = descending ? y : x;
  const ResultRow& b = descending ? x : y;
  switch (column) {
    case 0: return CompareNames(a.name, b.name);
    case 1: {
      auto letter = [](const ResultRow& r) { return r.folder ? (r.deleted ? 'g' : 'd') : (r.deleted ? 'h' : 'e'); };
      return Order(letter(a), letter(b));
    }
    case 2: {
      auto size = [](const ResultRow& r) { return r.file ? static_cast<int64_t>(r.file->size()) : int64_t{0}; };
      return Order(size(a), size(b));
    }
    case 3:
    case 4:
    case 5: {
      const uint32_t* sa = SlotOf(a, column);
      const uint32_t* sb = SlotOf(b, column);
      if (ntfs)
        return Order((static_cast<uint64_t>(sa[1]) << 32) | sa[0], (static_cast<uint64_t>(sb[1]) << 32) | sb[0]);
      return Order(sa[0], sb[0]);
    }
    case 6: {
      auto id = [](const ResultRow& r) {
        return r.folder ? r.folder->treeItem : static_cast<uint32_t>(r.file->runningNumber());
      };
      return Order(id(a), id(b));
    }
    default: return 0;
  }
}

std::vector<ResultRow> CollectFolderRows(uint32_t key, std::u16string_view fileSystem, bool descending,
                                         const std::function<void(int)>& progress, const VolumeBounds* volume) {
  std::vector<ResultRow> rows;
  const bool ntfs = fileSystem == u"NTFS";
  const bool fat = FatKindOf(fileSystem) != FatKind::kNone;
  auto beyond = [&](const FileRecord& f) {
    return volume != nullptr && (fat || ntfs) && ClaimsBeyondVolume(f.size(), fat ? f.dataKey : 0, fat, *volume);
  };
  const int64_t total = static_cast<int64_t>(g_AppState.folderCount) + g_AppState.fileCount;
  int64_t visited = 0;
  auto step = [&] {
    ++visited;
    if (progress && total > 0 && visited % 256 == 0) progress(static_cast<int>(std::min<int64_t>(100, visited * 100 / total)));
  };
  for (FolderRecord& f : FoldersWithParent(key)) {
    if (f.fileSystemNumber == g_AppState.currentVolume) rows.push_back(MakeFolderRow(f, ntfs));
    step();
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const ResultRow& a, const ResultRow& b) {
    return CompareListRows(a, b, 0, descending, ntfs) < 0;
  });
  for (FileRecord& f : FilesWithParent(key)) {
    rows.push_back(MakeFileRow(f, ntfs, beyond(f)));
    step();
  }
  if (progress) progress(100);
  return rows;
}

void BuildFolderTree(SelectionModel& tree, uint32_t rootKey, const std::function<void(int)>& progress) {
  tree.Clear();
  const int32_t volume = g_AppState.currentVolume;
  const int64_t total = g_AppState.folderCount;
  int64_t inserted = 0;
  // Depth first with an explicit stack: deep chains cannot exhaust the
  // thread's stack, and the keys on the current path stop loops.
  struct Level {
    uint32_t item;
    uint32_t key;
    // Each child with its shown name, made once for the sort and the item.
    std::vector<std::pair<std::u16string, FolderRecord*>> children;
    size_t next = 0;
  };
  std::unordered_set<uint32_t> onPath;
  std::vector<Level> stack;
  auto open = [&](uint32_t item, uint32_t key) {
    Level level{item, key, {}, 0};
    for (FolderRecord& f : FoldersWithParent(key))
      if (f.fileSystemNumber == volume) level.children.emplace_back(RecordName(f), &f);
    std::stable_sort(level.children.begin(), level.children.end(),
                     [](const auto& a, const auto& b) { return CompareNames(a.first, b.first) < 0; });
    onPath.insert(key);
    stack.push_back(std::move(level));
  };
  open(tree.Root(), rootKey);
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next == top.children.size()) {
      onPath.erase(top.key);
      stack.pop_back();
      continue;
    }
    auto& child = top.children[top.next++];
    FolderRecord* f = child.second;
    const uint32_t item = tree.AddItem(top.item, std::move(child.first), f);
    ++inserted;
    if (progress && total > 0 && inserted % 256 == 0) progress(static_cast<int>(std::min<int64_t>(100, inserted * 100 / total)));
    if (!onPath.count(f->ownKey)) open(item, f->ownKey);
  }
  if (progress) progress(100);
}

void FolderKeyQueue::Append(uint32_t key, char flag) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.push_back(FolderKeyNode{key, flag});
}

std::vector<FolderKeyNode> FolderKeyQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<FolderKeyNode> taken;
  taken.swap(nodes_);
  return taken;
}

void FolderKeyQueue::Clear() { Take(); }

size_t FolderKeyQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.size();
}

void AppendFolderId(FolderKeyQueue& queue, uint32_t key, char flag) { queue.Append(key, flag); }
void FreeCheckedFolderKeys() { g_CheckedFolderKeys.Clear(); }

void MarkQueuedFolderFiles(const std::function<void(int)>& progress) {
  // Checks and unchecks share the queue; each key keeps the flag it was
  // queued with last, so an untick queued behind a tick is not overturned.
  std::unordered_map<uint32_t, char> flags;
  for (const FolderKeyNode& node : g_CheckedFolderKeys.Take()) flags[node.folderKey] = node.flag;
  const int64_t total = g_AppState.fileCount;
  int64_t n = 0;
  int last = 0;
  if (!flags.empty()) {
    for (FileRecord& f : AllFiles()) {
      ++n;
      auto it = flags.find(f.parentKey);
      if (it != flags.end()) f.checkFlag.store(it->second);
      if (total > 0) last = static_cast<int>(std::min<int64_t>(100, n * 100 / total));
      if (progress && n % 1024 == 0) progress(last);
    }
  }
  if (progress) progress(total > 0 && !flags.empty() ? last : 100);
}

// --- TickModel ---

int TickModel::GetItemCheckState(uint32_t item) const {
  const SelectionNode* node = tree_.Node(item);
  if (!node) return -1;
  return node->tickState.load() == kTickTicked ? 1 : 0;
}

bool TickModel::HasBoldChild(uint32_t item) const {
  const SelectionNode* node = tree_.Node(item);
  if (!node) return false;
  return std::any_of(node->children.begin(), node->children.end(), [&](uint32_t c) { return IsBold(c); });
}

bool TickModel::AllChildrenChecked(uint32_t item) const {
  const SelectionNode* node = tree_.Node(item);
  if (!node) return true;
  return std::none_of(node->children.begin(), node->children.end(),
                      [&](uint32_t c) { return GetItemCheckState(c) == 0; });
}

bool TickModel::ItemKey(uint32_t item, uint32_t* key, FolderRecord** record) const {
  *record = nullptr;
  if (item == tree_.Root()) return RootKeyOf(fileSystem_, key);
  const SelectionNode* node = tree_.Node(item);
  FolderRecord* f = node ? node->folder : nullptr;
  if (!f || f->fileSystemNumber != g_AppState.currentVolume) return false;
  *record = f;
  *key = f->ownKey;
  return true;
}

void TickModel::RequestFolderFiles(uint32_t item, char flag) {
  if (item == tree_.Root()) {
    // The whole volume at once, without the queue.
    for (FolderRecord& f : AllFolders())
      if (f.fileSystemNumber == g_AppState.currentVolume) f.checkFlag.store(flag);
    for (FileRecord& f : AllFiles()) f.checkFlag.store(flag);
    return;
  }
  MarkQueuedFolderFiles(progress_);
}

void TickModel::MarkFolder(uint32_t item, char flag) {
  uint32_t key = 0;
  FolderRecord* record = nullptr;
  if (!ItemKey(item, &key, &record)) return;
  if (!record) {
    suppressMarking = 1;
    RequestFolderFiles(item, flag);
    return;
  }
  record->checkFlag.store(flag);
  AppendFolderId(g_CheckedFolderKeys, key, flag);
}

void TickModel::MarkFolderForList(uint32_t item, bool tick) {
  uint32_t key = 0;
  FolderRecord* record = nullptr;
  if (!ItemKey(item, &key, &record)) return;
  if (record) record->checkFlag.store(tick ? 'y' : 'n');
  if (listRows_) listRows_(item, key, tick);
}

void TickModel::CheckTreeItem(uint32_t item) {
  if (!tree_.Node(item)) return;
  tree_.SetTick(item, kTickTicked);
  bold_.insert(item);
  if (MarkingOn()) MarkFolder(item, 'y');
}

void TickModel::UncheckTreeItem(uint32_t item) {
  if (!tree_.Node(item)) return;
  tree_.SetTick(item, kTickUnticked);
  bold_.erase(item);
  if (MarkingOn()) MarkFolder(item, 'n');
}

void TickModel::CheckSubtree(uint32_t item) {
  const SelectionNode* node = tree_.Node(item);
  if (!node) return;
  const std::vector<uint32_t> children = node->children;
  for (uint32_t c : children) {
    CheckTreeItem(c);
    CheckSubtree(c);
  }
}

void TickModel::UncheckSubtree(uint32_t item) {
  const SelectionNode* node = tree_.Node(item);
  if (!node) return;
  const std::vector<uint32_t> children = node->children;
  for (uint32_t c : children) {
    UncheckTreeItem(c);
    UncheckSubtree(c);
  }
}

void TickModel::PropagateUncheckToParents(uint32_t item) {
  const SelectionNode* node = tree_.Node(item);
  for (uint32_t up = node && item != tree_.Root() ? node->parent : 0; up != 0;) {
    if (AllChildrenChecked(up)) CheckTreeItem(up);
    else UncheckTreeItem(up);
    if (up == tree_.Root()) break;
    up = tree_.Node(up)->parent;
  }
}

void TickModel::PropagateCheckToParents(uint32_t item) {
  const SelectionNode* node = tree_.Node(item);
  for (uint32_t up = node && item != tree_.Root() ? node->parent : 0; up != 0;) {
    if (HasBoldChild(up)) CheckTreeItem(up);
    else bold_.erase(up);
    if (up == tree_.Root()) break;
    up = tree_.Node(up)->parent;
  }
}

bool TickModel::FolderHasCheckedContent(uint32_t item) {
  uint32_t key = 0;
  FolderRecord* record = nullptr;
  if (!ItemKey(item, &key, &record)) return false;
  for (const FolderRecord& f : FoldersWithParent(key))
    if (f.checkFlag.load() == 'y' && f.fileSystemNumber == g_AppState.currentVolume) return true;
  for (const FileRecord& f : FilesWithParent(key))
    if (f.checkFlag.load() == 'y') return true;
  if (record) record->checkFlag.store('n');
  return false;
}

void TickModel::SelectData(uint32_t item) {
  if (!tree_.Node(item)) return;
  const bool untick = GetItemCheckState(item) != 0;
  suppressMarking = 0;
  if (untick) {
    UncheckTreeItem(item);
    UncheckSubtree(item);
  } else {
    CheckTreeItem(item);
    CheckSubtree(item);
  }
  if (onResultsPage_) {
    if (item != tree_.Root()) RequestFolderFiles(item, untick ? 'n' : 'y');
    MarkFolderForList(item, !untick);
  }
  suppressMarking = onResultsPage_ ? 1 : 0;
  PropagateUncheckToParents(item);
  PropagateCheckToParents(item);
}

void TickModel::UncheckUpward(uint32_t from) {
  // Untick the folder and each ancestor below the root until one still holds
  // ticked content; the root last, when the walk reached it.
  UncheckTreeItem(from);
  if (from == tree_.Root()) return;
  uint32_t up = tree_.Node(from)->parent;
  while (up != 0 && up != tree_.Root()) {
    if (FolderHasCheckedContent(up)) return;
    UncheckTreeItem(up);
    up = tree_.Node(up)->parent;
  }
  if (!FolderHasCheckedContent(tree_.Root())) UncheckTreeItem(tree_.Root());
}

void TickModel::FileRowToggled(FileRecord& file, bool ticked, uint32_t currentItem) {
  if (!tree_.Node(currentItem)) return;
  file.checkFlag.store(ticked ? 'y' : 'n');
  FileTicked(currentItem, ticked);
}

void TickModel::FileTicked(uint32_t currentItem, bool ticked) {
  if (!tree_.Node(currentItem)) return;
  suppressMarking = 1;
  if (ticked) {
    std::vector<uint32_t> ancestors;
    for (uint32_t up = currentItem == tree_.Root() ? 0 : tree_.Node(currentItem)->parent;
         up != 0 && up != tree_.Root(); up = tree_.Node(up)->parent)
      ancestors.push_back(up);
    for (uint32_t a : ancestors) CheckTreeItem(a);
    CheckTreeItem(currentItem);
    CheckTreeItem(tree_.Root());
  } else if (!FolderHasCheckedContent(currentItem)) {
    UncheckUpward(currentItem);
  }
}

void TickModel::FolderRowToggled(uint32_t item, bool ticked) {
  const SelectionNode* node = tree_.Node(item);
  FolderRecord* record = node ? node->folder : nullptr;
  if (!record) return;
  record->checkFlag.store(ticked ? 'y' : 'n');
  suppressMarking = 0;
  if (ticked) {
    CheckTreeItem(item);
    CheckSubtree(item);
    if (item != tree_.Root()) RequestFolderFiles(item, 'y');
  } else {
    UncheckTreeItem(item);
    UncheckSubtree(item);
    if (item != tree_.Root()) RequestFolderFiles(item, 'n');
    suppressMarking = onResultsPage_ ? 1 : 0;
    if (!FolderHasCheckedContent(item)) UncheckUpward(item);
  }
  suppressMarking = onResultsPage_ ? 1 : 0;
  PropagateUncheckToParents(item);
  PropagateCheckToParents(item);
}

}  // namespace qm
