#pragma once
// The copy-out: writes the taken items of the selection model into the
// target folder (g_RecoveryTargetFolder), each folder as a folder of the
// same path below it, each file through the FAT or NTFS copier. Runs on one
// worker; reports to the copy progress dialog through CopyProgressSink and
// asks through the prompt. Stop is cooperative (g_CopyJob): a stopped copy
// keeps what it wrote; pause parks the worker between blocks.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engines/ntfs_runs.h"
#include "platform/job_control.h"

namespace qm {

class SelectionModel;
class Worker;

// Controls of the copy progress dialog that the copy-out writes.
enum CopyControl : int {
  kCopyFileBar = 1058,      // progress of the current file
  kCopyOverallBar = 1059,   // progress of the whole copy-out
  kCopyElapsedValue = 1031,
  kCopyTimeLeftValue = 1082,
  kCopyDataSizeValue = 1083,
  kCopyDataCopiedValue = 1084,
  kCopyFolderNameValue = 1085,  // full target path of the file being written
  kCopyDataNameValue = 1086,    // name of the file being written
};

// What the copy-out sees of its progress dialog. The dialog implements it by
// handing every call to its own thread; tests record.
class CopyProgressSink {
 public:
  virtual ~CopyProgressSink() = default;
  virtual void SetControlText(int id, std::u16string_view text) {}
  virtual void SetProgressPos(int id, int pos) {}
  // Hide Details: no text updates at all.
  virtual bool DetailsHidden() const { return false; }
  // The clock of the elapsed and remaining times, in seconds.
  virtual int64_t NowSeconds() const;
  // Seconds spent paused so far (not counted as elapsed).
  virtual int64_t PausedSeconds() const { return 0; }
  // Summed size of the selection (the size evaluation's total).
  virtual uint64_t SelectedBytes() const { return 0; }
  // True when the user stopped the copy: the dialog then says so itself and
  // the walk shows no end message.
  virtual bool StoppedByUser() const { return false; }
  // The worker has finished: the dialog closes.
  virtual void Finish() {}
};

// --- The state of one copy job ---
// The copy-out and the preview's extraction each have their own, so that one
// never stops, skips, counts or reads the runs of the other.
struct CopyJobState {
  // Stop and pause of the job.
  JobControl control;
  // Give up the current file at its next block.
  std::atomic<int> skipCurrentFile{0};
  // Give up silently on every later file that cannot be written.
  std::atomic<int> skipAllCopyErrors{0};
  // Bytes written so far, plus the sizes of files skipped at a collision.
  std::atomic<uint64_t> copiedBytes{0};
  // The runs of the NTFS file being copied.
  ExtentList extents;
  // The sector just past the volume for the FAT and for the NTFS copier,
  // read once per job (see VolumeEndScope); 0 outside one, where each file
  // reads it.
  std::atomic<uint64_t> fatVolumeEnd{0};
  std::atomic<uint64_t> ntfsVolumeEnd{0};
};
extern CopyJobState g_CopyOutJob;
extern CopyJobState g_PreviewJob;
// The job the copiers on this thread serve: the one a CopyJobScope put in
// force, else the copy-out for a normal copy and the preview for a silent one.
CopyJobState& CurrentCopyJob(int normalCopy);
class CopyJobScope {
 public:
  explicit CopyJobScope(CopyJobState& job);
  ~CopyJobScope();
  CopyJobScope(const CopyJobScope&) = delete;
  CopyJobScope& operator=(const CopyJobScope&) = delete;

 private:
  CopyJobState* previous_;
};

// --- Copy-out state (all zero at start); the copy-out job's own fields ---
// Bytes written so far, plus the sizes of files skipped at a name collision.
extern std::atomic<uint64_t>& g_CopiedBytes;
// Files that passed the filter and reached the writing stage.
extern std::atomic<int> g_FilesCopied;
// Last answer of the file-replace dialog, 0 to 5 (see Prompt::FileReplaceChoice).
extern std::atomic<int> g_ReplaceDecision;
// Stop and pause of the running copy-out; g_StopCopy is its stop flag.
extern JobControl& g_CopyJob;
extern std::atomic<int>& g_StopCopy;
// Give up the current file at its next block (Skip, copy-error Skip).
extern std::atomic<int>& g_SkipCurrentFile;
// Give up silently on every later file that cannot be written.
extern std::atomic<int>& g_SkipAllCopyErrors;
// Writes or closes that failed in this copy-out: the end message then says
// "not completed" even when the byte total matches.
extern std::atomic<int> g_CopyWriteErrors;
// Files written with sectors the source could not give (zeros in their
// place): the end message then says "not completed". Names in copy order.
extern std::atomic<int> g_CopyReadErrors;
std::vector<std::string> UnreadableCopiedFiles();
void NoteUnreadableCopiedFile(const std::string& path);
// Target paths of files this copy-out left short, damaged or not written
// (in copy order, each once): the user is told to distrust them.
std::vector<std::string> IncompleteCopiedFiles();
void NoteIncompleteCopiedFile(const std::string& path);
// The list written into the target folder when some file is incomplete.
inline constexpr char kIncompleteListName[] = "incomplete-files.txt";
// Names of the incomplete files shown in the end message; the rest are
// only counted there (the list file holds them all).
inline constexpr size_t kIncompleteNamesShown = 10;
// Start of the copy-out on the sink's clock, seconds.
extern std::atomic<int64_t> g_CopyStartTime;
// 1: the folder argument of CopyFolderFiles is a selection item; 0: a folder key.
extern std::atomic<int> g_FolderArgIsTreeItem;
// The dialog that receives progress, while one runs.
extern std::atomic<CopyProgressSink*> g_CopyProgressDlg;
// The running copy-out worker, and the preview's extracting worker.
extern std::atomic<Worker*> g_CopyThread;
extern std::atomic<Worker*> g_PreviewThread;

// The progress dialog's start: clears g_SkipCurrentFile, g_SkipAllCopyErrors
// and the stop request (and any pause) of g_CopyJob.
void ResetCopyFlags();
// The target-folder dialog's start: g_CopiedBytes, g_FilesCopied,
// g_ReplaceDecision and g_CopyWriteErrors back to 0.
void ResetCopyTotals();

// The end messages.
inline constexpr std::u16string_view kSavingCompleted = u"Saving completed successfully.";
inline constexpr std::u16string_view kSavingNotCompleted = u"Saving not completed successfully.";
inline constexpr std::u16string_view kSavingAborted = u"Saving aborted.";

// The worker: walks the selection from its root, then (unless the user
// stopped it) tells whether every selected byte was written, naming the
// incomplete files (and writing their list into the target folder), and
// finishes the dialog. After a stop or an abort the files never tried are
// named too, and a file the user's stop cut short keeps the time of the
// copy, not the original's. Returns 0.
int CopyThread(CopyProgressSink* dialog, SelectionModel& tree);

// The walk below one item (the root for 0): depth first, a folder's own
// files before its sub-folders, with an explicit stack.
void RecoverCheckedItems(SelectionModel& tree, uint32_t item);

// Copies the files of one folder into folderPath (which ends with '/').
// folder is a selection item when g_FolderArgIsTreeItem is 1, else a key.
void CopyFolderFiles(SelectionModel& tree, const std::string& folderPath, uint32_t folder);

// Creates every missing level of a path. True when it is a folder at the end.
bool CreateFolderPath(const std::string& path);

// True when a folder level of path below the target folder is a link: the
// copy-out then writes nothing there, so a planted link never leads it out.
bool LinkBelowTarget(const std::string& path);

// The count and summed size of the catalogue files the copy-out would take
// from the selection with the filter now in force (the size evaluation's
// rules), written into the model's totals.
void EvaluateSelectedTotals(SelectionModel& tree);

// The progress report of the copiers, after every block and before a
// file-replace question: bars always, texts on the 1000th call of a file or
// at its end. counter is the copier's own, 0 at the start of each file.
void UpdateCopyProgress(std::u16string_view fullPath, std::u16string_view name, uint64_t written, uint64_t size,
                        int* counter);

// "M Min S Sec".
std::u16string MinutesText(int64_t seconds);

}  // namespace qm
