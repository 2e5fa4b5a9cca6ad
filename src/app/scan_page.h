#pragma once
// The scan page: runs one job of the wizard (a quick, formatted or partition
// scan, the imaging of a disk, or carving) on one worker thread, shows what
// the worker reports, and lets the user pause, stop, go back, hide the
// details or leave. The worker ends its job by setting one completion flag;
// the page acts on it on the GUI thread (OnCompletion), never from a paint.
#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/worker_page.h"
#include "platform/job_control.h"

class QFrame;
class QLabel;
class QPushButton;

namespace qm {

class CGradientProgressCtrl;
class CHoverButton;
class CLabel;
class CTransparentStatic;

// Control ids of the scan page beyond those the workers write.
enum ScanPageControl : int {
  kScanStepPicture = 1158,
  kScanBackButton = 1093,
  kScanNextButton = 1164,
  kScanStopButton = 1048,
  kScanPauseButton = 1012,
  kScanDetailsButton = 1014,
  kScanHintLabel = 1051,
  kScanHeadingText = 1111,
  kScanElapsedCaption = 1046,
  kScanNameCaption = 1042,
  kScanModeLabel = 1049,
  kScanDeviceLabel = 1050,
  kScanCapacityLabel = 1054,
  kScanFrame = 1202,
  kScanHeadingBar = 1259,
  kScanBottomBar = 1258,
  kScanToolbarRule2 = 1211,
  kScanBottomRule1 = 1207,
  kScanBottomRule2 = 1212,
  kScanPlaceholder = 1204,
};

// The jobs the page can start.
enum class ScanJob {
  kNone,
  kRawRecovery,
  kDiskImage,
  kNtfsQuickScan,
  kNtfsDeepScan,
  kPartitionChoice,
  kFatPartitionSearch,
  kFatLostFolderScan,
  kFatQuickScan,
};

// The worker procedure of each job; tests put fakes here. An empty
// procedure restores the engine's.
using ScanWorkerProc = std::function<void()>;
void SetScanWorker(ScanJob job, ScanWorkerProc proc);
ScanWorkerProc ScanWorkerFor(ScanJob job);
// The $MFT run loader a quick NTFS scan needs before its worker starts.
using MftRunsLoader = std::function<void(uint64_t volumeStart, const char* devicePath, uint64_t mftSector,
                                         uint32_t sectorsPerCluster)>;
void SetMftRunsLoader(MftRunsLoader loader);
// Every job back to its engine.
void ResetScanWorkers();

// What the page sets up for the job that the mode fields and the selection
// ask for.
struct ScanPlan {
  enum class GeometryCopy { kNone, kAll, kFatMembers };
  ScanJob job = ScanJob::kNone;
  std::u16string stepPicture;  // file name in the images folder
  std::u16string phaseText;
  std::optional<std::u16string> firstCaption;   // 1047
  std::optional<std::u16string> secondCaption;  // 1040
  bool scanRows = false;         // show the folder and file rows and the status line
  bool hideFileRow = false;      // imaging: no file count, no status line
  bool hideStatusLine = false;
  bool startElapsed = false;
  bool loadMftRuns = false;
  bool nextPartitionPass = false;
  GeometryCopy copyGeometry = GeometryCopy::kNone;
};
ScanPlan PlanScanJob();

// The byte form of the statistics: "%.3f" in TB, GB or MB. Capacity and size
// copied use SizeText1.
std::u16string ThreeDecimalSize(uint64_t bytes);

// The page's look: where each control goes (Layout of the statistics rows,
// frame, buttons). Pure arithmetic over the page's size and place.
struct ScanLayoutInput {
  QRect window;           // page position and size on the desktop
  QSize client;           // the client area
  QRect toolbarButton;    // the first toolbar button (Save log)
  bool large = false;     // the largest desktop case
  double vFactor = 1;     // 96 / logical DPI
  bool diskImage = false;
  int secondRowWidth = 0;  // what the widest figure of the second row needs
  int buttonWidth = 0;     // Pause and Stop as their skin draws them
};
std::map<int, QRect> ComputeScanLayout(const ScanLayoutInput& in);

class RecoveryAnalysis : public WorkerPage {
  Q_OBJECT

 public:
  explicit RecoveryAnalysis(QWidget* parent = nullptr);
  ~RecoveryAnalysis() override;

  // Sets up the page and starts the job's worker; called by DoModal and by
  // tests that drive the page without a modal loop.
  bool StartScanEngine();
  int DoModal();

  // Commands.
  void OnPauseResume();
  void OnStop();
  void OnBack();
  void OnHideDetails();
  // Timer ticks (1 marquee, 2 elapsed time).
  void TimerTick(int id);

  // The clock of the elapsed time, in milliseconds (wraps at 2^32).
  void SetTickSource(std::function<uint32_t()> ticks) { ticks_ = std::move(ticks); }
  // The interval a page timer runs at, 0 when it is stopped.
  int TimerInterval(int id) const;
  // The worker of this page (also in g_AppState.workerThread while set).
  Worker& JobWorker() { return worker_; }
  // True while the worker thread has not left.
  bool WorkerRunning() const;

  // Workers give captions a font.
  void SetControlFont(int id, std::u16string_view family, int pointSize, bool bold) override;
  void ShowStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, std::u16string_view name,
                      char form) override;
  void StartTimer(int id, int milliseconds) override;
  void KillTimer(int id) override;
  void ShowControl(int id, bool visible) override;

  // State of the job, read and written plainly.
  int detailsHidden = 0;
  int detailsHidePending = 0;
  int marqueeStep = 0;
  uint32_t startTick = 0;
  uint32_t pausedTotal = 0;
  uint32_t pauseStart = 0;
  int elapsedMinutes = 0;
  int elapsedHours = 0;
  int elapsedSeconds = 0;
  int paused = 0;

  // Controls (owned by the page).
  CTransparentStatic* phaseText = nullptr;
  QLabel* stepPicture = nullptr;
  CHoverButton* backButton = nullptr;
  CHoverButton* nextButton = nullptr;
  CHoverButton* stopButton = nullptr;
  CHoverButton* pauseButton = nullptr;
  QPushButton* detailsButton = nullptr;
  CLabel* hintLabel = nullptr;
  CTransparentStatic* headingText = nullptr;
  CTransparentStatic* statusLine = nullptr;
  CGradientProgressCtrl* progressBar = nullptr;
  CLabel* elapsedCaption = nullptr;
  CLabel* firstCaption = nullptr;
  CLabel* secondCaption = nullptr;
  CLabel* thirdCaption = nullptr;
  CLabel* nameCaption = nullptr;
  CTransparentStatic* elapsedValue = nullptr;
  CTransparentStatic* firstValue = nullptr;
  CTransparentStatic* secondValue = nullptr;
  CTransparentStatic* thirdValue = nullptr;
  CTransparentStatic* nameValue = nullptr;
  CTransparentStatic* sectorLine = nullptr;
  CLabel* modeLabel = nullptr;
  CLabel* deviceLabel = nullptr;
  CLabel* capacityLabel = nullptr;

  // Escape: the Back question.
  void reject() override;

 protected:
  void OnStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, const std::u16string& name,
                    char form) override;
  void OnTimer(int id) override;
  void OnResetStartTick() override;
  void OnCompletion() override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool sectorLineWanted_ = false;
  void BuildControls();
  void SetUpScanPage();
  void LayOut();
  void SetJobTexts();
  void StartWorker(ScanJob job);
  void StartElapsedTime();
  // Timer changes of Pause, Stop and Back.
  void KillJobTimers();
  void RestartJobTimers();
  void SetPauseText(bool pausedNow);
  // Ends the job for good and keeps the GUI thread's events running until the
  // worker has left (it may be waiting on a question to this thread).
  void StopAndWaitForWorker();
  void ReleaseJobPauses();
  void WaitForWorker();
  void ActOnCompletion();
  void RunResultsAndClose(int result);
  void ShowValueTexts(bool visible);
  uint32_t Now() const { return ticks_(); }

  Worker worker_;
  std::function<uint32_t()> ticks_;
  std::map<int, int> timerIntervals_;
  std::map<int, QWidget*> layoutControls_;
  // The last counts shown, so unchanged numbers are not written again.
  int64_t lastIndexCount_ = -1;
  int64_t lastFolderCount_ = -1;
  int64_t lastFileCount_ = -1;
  bool started_ = false;
  bool busy_ = false;       // a question or a wait is in progress
  bool finished_ = false;   // the page has acted on a completion or is closing
  bool completionPending_ = false;
  int jobPauses_ = 0;       // pauses this page holds on the job
  // The index-block count when the worker last reported (read on its thread).
  std::atomic<int32_t> reportedIndexCount_{0};
};

}  // namespace qm
