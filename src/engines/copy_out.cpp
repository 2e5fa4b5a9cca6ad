#include "engines/copy_out.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/file_copiers.h"
#include "engines/recovery_filter.h"
#include "engines/selection_model.h"
#include "platform/file.h"
#include "platform/percent.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

CopyJobState g_CopyOutJob;
CopyJobState g_PreviewJob;
std::atomic<uint64_t>& g_CopiedBytes = g_CopyOutJob.copiedBytes;
ExtentList& g_CopyExtentList = g_CopyOutJob.extents;

namespace {
thread_local CopyJobState* t_CopyJob = nullptr;
}  // namespace

CopyJobState& CurrentCopyJob(int normalCopy) {
  if (t_CopyJob) return *t_CopyJob;
  return normalCopy == 1 ? g_CopyOutJob : g_PreviewJob;
}

CopyJobScope::CopyJobScope(CopyJobState& job) : previous_(t_CopyJob) { t_CopyJob = &job; }
CopyJobScope::~CopyJobScope() { t_CopyJob = previous_; }

std::atomic<int> g_FilesCopied{0};
std::atomic<int> g_ReplaceDecision{0};
JobControl& g_CopyJob = g_CopyOutJob.control;
std::atomic<int>& g_StopCopy = g_CopyOutJob.control.stop;
std::atomic<int>& g_SkipCurrentFile = g_CopyOutJob.skipCurrentFile;
std::atomic<int>& g_SkipAllCopyErrors = g_CopyOutJob.skipAllCopyErrors;
std::atomic<int> g_CopyWriteErrors{0};
std::atomic<int> g_CopyReadErrors{0};

namespace {
std::mutex g_UnreadableMutex;
std::vector<std::string> g_UnreadableFiles;
std::vector<std::string> g_IncompleteFiles;
std::set<std::string> g_IncompleteSeen;

void NoteIncompleteLocked(const std::string& path) {
  if (g_IncompleteSeen.insert(path).second) g_IncompleteFiles.push_back(path);
}

// Files of the walk, in copy order, that the copy-out came to: after a stop
// the rest were never tried, and are named with the incomplete ones.
std::atomic<uint64_t> g_FilesReached{0};

// The file a stop cut short: it must not carry the original's time, which
// would make it look whole. Stamped with the time it was cut, once the end
// knows that the user stopped the copy.
struct CutFile {
  std::string path;
  uint64_t size = 0;
  struct timespec cutAt {};
};
std::vector<CutFile> g_CutFiles;

size_t IncompleteCount() {
  std::lock_guard lock(g_UnreadableMutex);
  return g_IncompleteFiles.size();
}

// The files noted incomplete since `from` while the stop came in: the file
// in writing, unless it was already whole.
void NoteCutFiles(size_t from, uint64_t size) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::lock_guard lock(g_UnreadableMutex);
  for (size_t i = from; i < g_IncompleteFiles.size(); ++i) g_CutFiles.push_back({g_IncompleteFiles[i], size, now});
}
}  // namespace

std::vector<std::string> IncompleteCopiedFiles() {
  std::lock_guard lock(g_UnreadableMutex);
  return g_IncompleteFiles;
}

void NoteIncompleteCopiedFile(const std::string& path) {
  std::lock_guard lock(g_UnreadableMutex);
  NoteIncompleteLocked(path);
}

std::vector<std::string> UnreadableCopiedFiles() {
  std::lock_guard lock(g_UnreadableMutex);
  return g_UnreadableFiles;
}

void NoteUnreadableCopiedFile(const std::string& path) {
  std::lock_guard lock(g_UnreadableMutex);
  ++g_CopyReadErrors;
  if (g_UnreadableFiles.empty() || g_UnreadableFiles.back() != path) g_UnreadableFiles.push_back(path);
  NoteIncompleteLocked(path);
}
std::atomic<int64_t> g_CopyStartTime{0};
std::atomic<int> g_FolderArgIsTreeItem{0};
std::atomic<CopyProgressSink*> g_CopyProgressDlg{nullptr};
std::atomic<Worker*> g_CopyThread{nullptr};
std::atomic<Worker*> g_PreviewThread{nullptr};

namespace {

// Texts are redrawn on this call of a file's reports (and at its end).
constexpr int kTextEveryCalls = 1000;

int64_t SteadySeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The key of the catalogue folder the root stands for.
bool RootKey(uint32_t* key) {
  if (IsFatName(g_SelectedFileSystem)) {
    *key = kFatRootKey;
    return true;
  }
  if (g_SelectedFileSystem == u"NTFS") {
    *key = kNtfsRootKey;
    return true;
  }
  return false;
}

// The folder key of a selection item: its folder record's own key when the
// record belongs to the current volume. Key 0 is the FAT root itself, whose
// files the walk takes at the root.
bool ItemKey(const SelectionModel& tree, uint32_t item, uint32_t* key) {
  const SelectionNode* node = tree.Node(item);
  if (!node || !node->folder || node->folder->fileSystemNumber != g_AppState.currentVolume) return false;
  *key = node->folder->ownKey;
  return *key != 0;
}

bool ScanFileSystemCopies() {
  const std::u16string& fs = g_AppState.scanFileSystem;
  return IsFatName(fs) || fs == u"NTFS";
}

bool IsTaken(int state) {
  switch (g_AppState.checkScope) {
    case 0: return state == kTickTicked;
    case 1: return true;
    case 2: return state == kTickUnticked;
    default: return false;
  }
}

bool SkipsSubtree(int state) { return g_AppState.checkScope == 0 && state == kTickUnticked; }

// The walk shared by the copy-out and the count: visitRoot() for the root
// (unless it is left out), visitItem(id) for every taken item below it, in
// copy order; each returns false to end the walk.
template <typename VisitRoot, typename VisitItem>
void WalkTaken(SelectionModel& tree, uint32_t item, VisitRoot visitRoot, VisitItem visitItem) {
  const uint32_t start = item ? item : tree.Root();
  const SelectionNode* node = tree.Node(start);
  if (!node || SkipsSubtree(node->tickState.load())) return;
  if (start == tree.Root() && !visitRoot()) return;
  std::vector<uint32_t> pending(node->children.rbegin(), node->children.rend());
  while (!pending.empty()) {
    const uint32_t id = pending.back();
    pending.pop_back();
    const SelectionNode* child = tree.Node(id);
    if (!child) continue;
    const int state = child->tickState.load();
    if (IsTaken(state) && !visitItem(id)) return;
    if (!SkipsSubtree(state)) pending.insert(pending.end(), child->children.rbegin(), child->children.rend());
  }
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string TargetRoot() { return WithSlash(g_RecoveryTargetFolder); }

std::string ItemFolderPath(const SelectionModel& tree, uint32_t item) {
  std::string path = TargetRoot();
  for (const std::u16string& text : tree.ItemPath(item)) path += SafePathComponent(text) + '/';
  return path;
}

// Every catalogue folder the copy-out takes files from, in copy order:
// visit(key, isRoot, item). Nothing is copied on an unknown file system.
template <typename Visit>
void ForEachCopiedFolder(SelectionModel& tree, Visit visit) {
  const std::u16string fs = g_SelectedFileSystem;
  if (!IsFatName(fs) && fs != u"NTFS") return;
  WalkTaken(
      tree, 0,
      [&] {
        uint32_t key = 0;
        if (RootKey(&key)) visit(key, true, tree.Root());
        return true;
      },
      [&](uint32_t id) {
        uint32_t key = 0;
        if (ScanFileSystemCopies() && ItemKey(tree, id, &key)) visit(key, false, id);
        return true;
      });
}

}  // namespace

int64_t CopyProgressSink::NowSeconds() const { return SteadySeconds(); }

void ResetCopyFlags() {
  g_SkipCurrentFile = 0;
  g_SkipAllCopyErrors = 0;
  g_CopyJob.stop = 0;
  while (g_CopyJob.paused()) g_CopyJob.resume();
}

void ResetCopyTotals() {
  g_CopiedBytes = 0;
  g_FilesCopied = 0;
  g_ReplaceDecision = 0;
  g_CopyWriteErrors = 0;
  std::lock_guard lock(g_UnreadableMutex);
  g_CopyReadErrors = 0;
  g_UnreadableFiles.clear();
  g_IncompleteFiles.clear();
  g_IncompleteSeen.clear();
  g_CutFiles.clear();
  g_FilesReached = 0;
}

std::u16string MinutesText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  return FormatW("%lld Min %lld Sec", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

void UpdateCopyProgress(std::u16string_view, std::u16string_view, uint64_t written, uint64_t size, int* counter) {
  CopyProgressSink* sink = g_CopyProgressDlg.load();
  if (!sink) return;
  int filePercent = -1;
  if (written != 0 && size != 0) {
    filePercent = Percent(written, size);
    sink->SetProgressPos(kCopyFileBar, filePercent);
  }
  const uint64_t copied = g_CopiedBytes.load();
  const uint64_t selected = sink->SelectedBytes();
  // Unlike the other bars, the overall bar reads 0 while no total is known.
  if (copied != 0) sink->SetProgressPos(kCopyOverallBar, selected == 0 ? 0 : Percent(copied, selected));

  int local = 0;
  if (!counter) counter = &local;
  ++*counter;
  if (*counter < kTextEveryCalls && filePercent != 100) return;
  *counter = 0;
  if (sink->DetailsHidden()) return;

  sink->SetControlText(kCopyDataCopiedValue, SizeText3(copied, " size in"));
  const int64_t elapsed = sink->NowSeconds() - sink->PausedSeconds() - g_CopyStartTime.load();
  if (elapsed <= 0) {
    sink->SetControlText(kCopyTimeLeftValue, u"00:00:00");
    sink->SetControlText(kCopyElapsedValue, u"00:00:00");
    return;
  }
  const uint64_t rate = copied / static_cast<uint64_t>(elapsed);
  if (rate == 0) return;
  const uint64_t left = selected > copied ? (selected - copied) / rate : 0;
  sink->SetControlText(kCopyTimeLeftValue, MinutesText(static_cast<int64_t>(std::min<uint64_t>(left, INT64_MAX))));
  sink->SetControlText(kCopyElapsedValue, MinutesText(elapsed));
}

bool CreateFolderPath(const std::string& path) {
  // The target itself is made as the user named it; below it, through the
  // creating path, which never goes through a link.
  const std::string root = TargetRoot();
  return CreateFoldersBelow(path.rfind(root, 0) == 0 ? root : path, path) == 0;
}

bool LinkBelowTarget(const std::string& path) {
  const std::string root = TargetRoot();
  if (path.rfind(root, 0) != 0) return false;
  for (size_t slash = path.find('/', root.size()); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    struct stat st {};
    if (::lstat(path.substr(0, slash).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

void CopyFolderFiles(SelectionModel& tree, const std::string& folderPath, uint32_t folder) {
  if (g_StopCopy.load()) return;
  uint32_t key = folder;
  if (g_FolderArgIsTreeItem.load() && !ItemKey(tree, folder, &key)) return;
  const std::u16string fs = g_SelectedFileSystem;
  const bool fat = IsFatName(fs);
  if (!fat && fs != u"NTFS") return;

  // Names of the sub-folders the walk may make here: a file never takes one
  // (the NTFS dump's empty "Lost" marker beside the folder "Lost").
  std::set<std::string> folderNames;
  const SelectionNode* node = tree.Node(g_FolderArgIsTreeItem.load() ? folder : tree.Root());
  if (node)
    for (uint32_t id : node->children)
      if (const SelectionNode* child = tree.Node(id); child && !SkipsSubtree(child->tickState.load()))
        folderNames.insert(SafePathComponent(child->text));

  for (const FileRecord& file : FilesWithParent(key)) {
    if (!TakenByCheckScope(file.checkFlag.load()) || !PassesDateFilter(file, fs)) continue;
    ++g_FilesReached;
    std::u16string name = RecordName(file);
    std::string fullPath = folderPath + SafePathComponent(name);
    struct stat st {};
    if (folderNames.count(SafePathComponent(name)) ||
        (::lstat(fullPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
      // The folder wins. An empty file loses nothing; one with data is
      // written under a free name beside it.
      if (file.size() == 0) continue;
      if (!MakeUniqueName(&fullPath, &name)) {
        NoteIncompleteCopiedFile(fullPath);
        continue;
      }
    }
    const int deleted = file.IsDeleted() ? 1 : 0;
    const size_t notedBefore = IncompleteCount();
    uint64_t copySize = file.size();
    if (fat) {
      const auto size = static_cast<uint32_t>(std::min<uint64_t>(file.size(), UINT32_MAX));
      copySize = size;
      CopyFatFile(fullPath, name, size, file.dataKey, 1, deleted, static_cast<uint16_t>(file.modifiedTime[1]),
                  static_cast<uint16_t>(file.modifiedTime[0]));
    } else {
      const NtfsRecordPlace place = NtfsFileRecordPlace(file);
      CopyNtfsFile(fullPath, name, file.size(), place.sector, file.parentKey, file.dataKey, 1, deleted,
                   file.modifiedTime[1], file.modifiedTime[0], place.offset);
    }
    if (g_StopCopy.load()) {
      NoteCutFiles(notedBefore, copySize);
      return;
    }
  }
}

void RecoverCheckedItems(SelectionModel& tree, uint32_t item) {
  WalkTaken(
      tree, item,
      [&] {
        const std::string target = TargetRoot();
        CreateFolderPath(target);
        uint32_t key = 0;
        if (RootKey(&key)) {
          g_FolderArgIsTreeItem = 0;
          CopyFolderFiles(tree, target, key);
          g_FolderArgIsTreeItem = 1;
        }
        return true;
      },
      [&](uint32_t id) {
        if (g_StopCopy.load()) return false;
        const std::string path = ItemFolderPath(tree, id);
        CreateFolderPath(path);
        if (ScanFileSystemCopies()) {
          g_FolderArgIsTreeItem = 1;
          CopyFolderFiles(tree, path, id);
        }
        return !g_StopCopy.load();
      });
}

void EvaluateSelectedTotals(SelectionModel& tree) {
  int count = 0;
  uint64_t bytes = 0;
  const std::u16string fs = g_SelectedFileSystem;
  ForEachCopiedFolder(tree, [&](uint32_t key, bool, uint32_t) {
    for (const FileRecord& file : FilesWithParent(key)) {
      if (!FileSelectedForRecovery(file, RecordName(file), fs)) continue;
      ++count;
      bytes += file.size();
    }
  });
  tree.selectedFileCount = count;
  tree.selectedBytes = bytes;
}

namespace {

// A target path as the user finds it below the target folder.
std::string BelowTarget(const std::string& path) {
  const std::string root = TargetRoot();
  return path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
}

// The names of the files not written whole: the first few for the message,
// every one for the list file.
struct IncompleteNames {
  std::vector<std::string> shown;
  size_t count = 0;
  std::string lines;
  void Add(const std::string& name) {
    if (shown.size() < kIncompleteNamesShown) shown.push_back(name);
    ++count;
    lines += name;
    lines += '\n';
  }
};

// After a stop: the files the walk never came to, in copy order, by the
// names they would have had (the counting rules of the size evaluation).
void AddUntriedFiles(SelectionModel& tree, IncompleteNames* names) {
  const std::u16string fs = g_SelectedFileSystem;
  const uint64_t reached = g_FilesReached.load();
  uint64_t index = 0;
  ForEachCopiedFolder(tree, [&](uint32_t key, bool isRoot, uint32_t item) {
    std::string folder;
    for (const FileRecord& file : FilesWithParent(key)) {
      if (!TakenByCheckScope(file.checkFlag.load()) || !PassesDateFilter(file, fs)) continue;
      if (index++ < reached) continue;
      const std::u16string name = RecordName(file);
      if (!PassesDeletedOption(file.IsDeleted()) || !PassesExtensionList(name)) continue;
      if (folder.empty()) folder = isRoot ? TargetRoot() : ItemFolderPath(tree, item);
      names->Add(BelowTarget(folder + SafePathComponent(name)));
    }
  });
}

// The file a user's stop cut short keeps the time it was cut, not the
// original's: only a whole file may look like the original.
void StampCutFiles() {
  std::vector<CutFile> cut;
  {
    std::lock_guard lock(g_UnreadableMutex);
    cut.swap(g_CutFiles);
  }
  for (const CutFile& file : cut) {
    struct stat st {};
    if (LinkBelowTarget(file.path) || ::lstat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) >= file.size)
      continue;
    const struct timespec times[2] = {{0, UTIME_OMIT}, file.cutAt};
    ::utimensat(AT_FDCWD, file.path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

// Writes the list into the target folder; a recovered file of the same
// name is never written over. The list's own name, or empty when it could
// not be written.
std::string WriteIncompleteList(const std::string& text) {
  std::string path = TargetRoot() + kIncompleteListName;
  std::u16string shown = Utf8ToUtf16(kIncompleteListName);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !MakeUniqueName(&path, &shown)) return {};
  File file;
  if (!file.create(TargetRoot(), path, Create::Replace)) return {};
  const bool written = file.writeAt(text.data(), text.size(), 0) == static_cast<int64_t>(text.size());
  if (!file.closeChecked() || !written) return {};
  return Utf16ToUtf8(shown);
}

// The not-completed message with the incomplete files named.
std::u16string NotCompletedText(const IncompleteNames& names, const std::string& listName) {
  std::u16string text(kSavingNotCompleted);
  if (names.count == 0) return text;
  text += u"\n\nThese files were not fully recovered:";
  for (const std::string& name : names.shown) text += u"\n" + Utf8ToUtf16(name);
  if (names.count > names.shown.size()) text += FormatW("\n... and %zu more.", names.count - names.shown.size());
  if (!listName.empty()) text += u"\n\nTheir list is in " + Utf8ToUtf16(listName) + u" in the target folder.";
  return text;
}

}  // namespace

int CopyThread(CopyProgressSink* dialog, SelectionModel& tree) {
  g_CopyStartTime = dialog ? dialog->NowSeconds() : SteadySeconds();
  g_FilesReached = 0;
  {
    std::lock_guard lock(g_UnreadableMutex);
    g_CutFiles.clear();
  }
  {
    VolumeEndScope volumeEnd(CurrentCopyJob(1));
    RecoverCheckedItems(tree, 0);
  }
  // Asked once: an open stop question decides first.
  const bool stoppedByUser = dialog && dialog->StoppedByUser();
  if (stoppedByUser) StampCutFiles();
  IncompleteNames incomplete;
  for (const std::string& path : IncompleteCopiedFiles()) incomplete.Add(BelowTarget(path));
  if (g_StopCopy.load()) AddUntriedFiles(tree, &incomplete);
  // Kept even after a stop: the user still needs to know what to distrust.
  const std::string listName = incomplete.count == 0 ? std::string() : WriteIncompleteList(incomplete.lines);
  if (!stoppedByUser) {
    const bool complete = g_CopiedBytes.load() == tree.selectedBytes.load() && g_CopyWriteErrors.load() == 0 &&
                          g_CopyReadErrors.load() == 0 && incomplete.count == 0;
    ShowMessage(complete ? std::u16string(kSavingCompleted) : NotCompletedText(incomplete, listName));
  }
  if (dialog) dialog->Finish();
  return 0;
}

}  // namespace qm
