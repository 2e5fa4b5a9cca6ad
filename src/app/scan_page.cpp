#include "app/scan_page.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "controls/qt_text.h"
#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/startup.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/disk_image.h"
#include "engines/fat_directory.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/fat_partition_search.h"
#include "engines/fat_quick_scan.h"
#include "engines/ntfs_deep_scan.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "engines/raw_carving.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr int kRawRecoveryPageId = 6;
constexpr int kScanPageId = 3;
constexpr int kElapsedInterval = 1000;
constexpr int kResumedInterval = 2000;
constexpr int kMarqueeInterval = 2000;
constexpr int kMarqueeEnd = 100;
constexpr uint32_t kMinuteMs = 60000;

constexpr char16_t kStopQuestion[] =
    u"Do you want to stop Recovery analysis. This may show incomplete data && you may need to run this step again.";
constexpr char16_t kBackQuestion[] = u"Do you want to go back to Previous Step.";
constexpr char16_t kExitQuestion[] = u"Do you want to exit from Quillmoren.";
constexpr char16_t kAnalysingSectors[] = u" Analysing  Sectors :     ";

constexpr char16_t kRawPhase[] =
    u"Quillmoren is doing deep analysis for selected extensions && recovering simultaneously.";
constexpr char16_t kImagePhase[] =
    u"Morva is creating disk image.\nPlease select respective recovery mode for data recovery once imaging is "
    u"completed.";
constexpr char16_t kPartitionPhase[] = u"Morva is doing deep analysis for deleted/lost/re-partitioned partitions.";
constexpr char16_t kFormattedPhase[] = u"Morva is doing deep analysis for formatted data.";
constexpr char16_t kQuickPhase[] = u"Morva is quickly analysing for deleted files and folders.";

// Captions are padded with blanks to the width the page was laid out for.
std::u16string Padded(std::u16string_view text, size_t width) {
  std::u16string s(text);
  if (s.size() < width) s.append(width - s.size(), u' ');
  return s;
}
const std::u16string kCurrentSector = Padded(u"Current Sector", 29);
const std::u16string kBytesRecovered = Padded(u"Bytes Recovered", 29);
const std::u16string kSizeCopied = Padded(u"Size Copied", 29);
const std::u16string kTotalSize = Padded(u"Total Size", 29);
const std::u16string kIndexesFound = Padded(u"Indexes Found", 28);

std::u16string Printf(const char* format, double value, const char* unit) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  std::string text = std::string(buffer) + unit;
  return std::u16string(text.begin(), text.end());
}

std::u16string Number(uint64_t n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

bool RawRecovery() { return g_AppState.rawRecoveryPage == kRawRecoveryPageId; }

// --- The worker table ---

std::map<ScanJob, ScanWorkerProc>& WorkerTable() {
  static std::map<ScanJob, ScanWorkerProc> table;
  return table;
}
MftRunsLoader& RunsLoader() {
  static MftRunsLoader loader;
  return loader;
}

ScanWorkerProc EngineProc(ScanJob job) {
  switch (job) {
    case ScanJob::kRawRecovery: return [] { RawRecoveryThread(); };
    case ScanJob::kDiskImage: return [] { DiskImageThread(); };
    case ScanJob::kNtfsQuickScan: return [] { NtfsQuickScanThread(); };
    case ScanJob::kNtfsDeepScan: return [] { NtfsDeepScanThread(); };
    case ScanJob::kPartitionChoice: return [] { PartitionChoiceThread(); };
    case ScanJob::kFatPartitionSearch: return [] { FatPartitionThread(); };
    case ScanJob::kFatLostFolderScan: return [] { FatLostFolderThread(); };
    case ScanJob::kFatQuickScan: return [] { FatQuickScanThread(); };
    case ScanJob::kNone: break;
  }
  return {};
}

// The quick scans hand over to these on their own thread when they find
// nothing; they go through the table like every job.
int NtfsDeepScanHandOver() {
  if (ScanWorkerProc proc = ScanWorkerFor(ScanJob::kNtfsDeepScan)) proc();
  return 0;
}
int FatLostFolderHandOver() {
  if (ScanWorkerProc proc = ScanWorkerFor(ScanJob::kFatLostFolderScan)) proc();
  return 0;
}

uint32_t SteadyTicks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void SetScanWorker(ScanJob job, ScanWorkerProc proc) {
  if (proc) WorkerTable()[job] = std::move(proc);
  else WorkerTable().erase(job);
}

ScanWorkerProc ScanWorkerFor(ScanJob job) {
  auto it = WorkerTable().find(job);
  return it != WorkerTable().end() ? it->second : EngineProc(job);
}

void SetMftRunsLoader(MftRunsLoader loader) { RunsLoader() = std::move(loader); }

void ResetScanWorkers() {
  WorkerTable().clear();
  RunsLoader() = nullptr;
}

std::u16string ThreeDecimalSize(uint64_t bytes) {
  // Compared as a signed number, as the byte count arrives.
  const double v = static_cast<double>(static_cast<int64_t>(bytes));
  const double tb = 1099511627776.0, gb = 1073741824.0, mb = 1048576.0;
  if (v > tb) return Printf("%.3f", v / tb, " TB");
  if (v > gb) return Printf("%.3f", v / gb, " GB");
  return Printf("%.3f", v / mb, " MB");
}

ScanPlan PlanScanJob() {
  ScanPlan plan;
  const AppState& s = g_AppState;
  if (RawRecovery()) {
    plan.stepPicture = u"Step-3.bmp";
    plan.phaseText = kRawPhase;
    plan.startElapsed = true;
    plan.firstCaption = kCurrentSector;
    plan.secondCaption = kBytesRecovered;
    plan.job = ScanJob::kRawRecovery;
    return plan;
  }
  if (s.diskImageMode) {
    plan.stepPicture = u"Step-3.bmp";
    plan.phaseText = kImagePhase;
    plan.startElapsed = true;
    plan.hideFileRow = true;
    plan.hideStatusLine = true;
    plan.firstCaption = kCurrentSector;
    plan.secondCaption = kSizeCopied;
    plan.job = ScanJob::kDiskImage;
    return plan;
  }
  plan.stepPicture = u"Step-2.bmp";
  if (s.partitionMode && s.partitionPass == 0) plan.phaseText = kPartitionPhase;
  else if (s.formattedMode) plan.phaseText = kFormattedPhase;
  else plan.phaseText = kQuickPhase;
  plan.scanRows = true;

  const bool loading = s.loadingScanLog != 0;
  const bool quick = !s.formattedMode && !s.partitionMode;
  if (g_SelectedFileSystem == u"NTFS") {
    if (!loading) plan.copyGeometry = ScanPlan::GeometryCopy::kAll;
    plan.startElapsed = true;
    if (s.partitionMode && s.partitionPass == 1) {
      plan.job = ScanJob::kPartitionChoice;
    } else if (quick) {
      plan.firstCaption = kTotalSize;
      plan.hideStatusLine = true;
      plan.loadMftRuns = true;
      plan.job = ScanJob::kNtfsQuickScan;
    } else {
      plan.firstCaption = loading ? kTotalSize : kIndexesFound;
      plan.hideStatusLine = loading;
      plan.nextPartitionPass = s.partitionMode != 0;
      plan.job = ScanJob::kNtfsDeepScan;
    }
  } else if (IsFatName(g_SelectedFileSystem)) {
    if (!loading) plan.copyGeometry = ScanPlan::GeometryCopy::kFatMembers;
    plan.startElapsed = true;
    const std::u16string& searchCaption = loading ? kTotalSize : kCurrentSector;
    if (s.partitionMode) {
      if (s.partitionPass == 0 || s.partitionPass == 1) {
        plan.firstCaption = searchCaption;
        plan.job = ScanJob::kFatPartitionSearch;
      }
    } else if (s.formattedMode) {
      plan.firstCaption = searchCaption;
      plan.job = ScanJob::kFatLostFolderScan;
    } else {
      plan.firstCaption = kTotalSize;
      plan.hideStatusLine = true;
      plan.job = ScanJob::kFatQuickScan;
    }
  }
  return plan;
}

RecoveryAnalysis::RecoveryAnalysis(QWidget* parent) : WorkerPage(parent), ticks_(&SteadyTicks) {
  g_AppState.foundBytes = 0;
  g_AppState.indexBlockCount = 0;
  if (!g_AppState.loadingScanLog) g_AppState.currentVolume = 0;
  // A page's counts start afresh: nothing of an earlier job counts as shown.
  g_AppState.lastShownName.clear();
  ResetCopyFlags();
  BuildControls();

  connect(pauseButton, &QPushButton::clicked, this, &RecoveryAnalysis::OnPauseResume);
  connect(stopButton, &QPushButton::clicked, this, &RecoveryAnalysis::OnStop);
  connect(backButton, &QPushButton::clicked, this, &RecoveryAnalysis::OnBack);
  connect(detailsButton, &QPushButton::clicked, this, &RecoveryAnalysis::OnHideDetails);
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { RunPageHook(PageHook::kHelpPage); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { RunPageHook(PageHook::kProductPage); });
  // "E&xit" stays enabled with nothing behind it while a job runs.
  GrayMenuItems({kCmdSearchData, kCmdRenameData, kCmdRecoverSelected, kCmdFormattedRecovery, kCmdSaveLog,
                 kCmdRecoveryFilter, kCmdLoadLog, kCmdLargeIcons, kCmdDetails, kCmdSmallIcons});
}

RecoveryAnalysis::~RecoveryAnalysis() {
  finished_ = true;
  // Shared data outlives its readers: the worker leaves before the page goes.
  StopAndWaitForWorker();
  if (g_AppState.workerThread == &worker_) g_AppState.workerThread = nullptr;
  if (g_AppState.scanPage == this) g_AppState.scanPage = nullptr;
}

int RecoveryAnalysis::DoModal() {
  StartScanEngine();
  return WizardPage::DoModal();
}

bool RecoveryAnalysis::StartScanEngine() {
  if (started_) return true;
  started_ = true;
  g_CurrentPage = kScanPageId;
  SetUpScanPage();
  g_AppState.scanPage = this;
  g_NtfsDeepScanHandOver = &NtfsDeepScanHandOver;
  g_FatLostFolderHandOver = &FatLostFolderHandOver;

  const ScanPlan plan = PlanScanJob();
  const QPixmap picture(QString::fromStdString(g_AppState.imagesFolder) + u'/' + Q(plan.stepPicture));
  stepPicture->setPixmap(picture);
  phaseText->setText(Q(plan.phaseText));
  if (plan.scanRows) {
    for (QWidget* w : {static_cast<QWidget*>(secondCaption), static_cast<QWidget*>(thirdCaption),
                       static_cast<QWidget*>(secondValue), static_cast<QWidget*>(thirdValue),
                       static_cast<QWidget*>(statusLine)})
      w->show();
  }
  if (plan.hideFileRow) {
    thirdCaption->hide();
    thirdValue->hide();
  }

  switch (plan.copyGeometry) {
    case ScanPlan::GeometryCopy::kAll:
      g_AppState.scanGeometry = g_PartitionGeometry;
      g_AppState.scanFileSystem = ScanFileSystemName();
      break;
    case ScanPlan::GeometryCopy::kFatMembers: {
      CopyFatMembers(g_AppState.scanGeometry, g_PartitionGeometry);
      g_AppState.scanFileSystem = ScanFileSystemName();
      break;
    }
    case ScanPlan::GeometryCopy::kNone: break;
  }
  if (plan.startElapsed) StartElapsedTime();
  if (plan.firstCaption) firstCaption->SetText(Q(*plan.firstCaption));
  if (plan.secondCaption) secondCaption->SetText(Q(*plan.secondCaption));
  if (plan.hideStatusLine) statusLine->hide();
  if (plan.loadMftRuns) {
    const PartitionGeometry& g = g_AppState.scanGeometry;
    const uint64_t volumeStart = static_cast<uint32_t>(g.clusterZeroSector);
    const uint64_t mftSector = static_cast<uint32_t>(g.mftSector);
    const uint32_t spc = static_cast<uint32_t>(g.sectorsPerCluster);
    if (RunsLoader()) RunsLoader()(volumeStart, SelectedDevicePath(), mftSector, spc);
    else LoadMftRuns(volumeStart, SelectedDevicePath(), mftSector, spc);
  }
  // Counted before the worker starts, so the worker never races the count.
  if (plan.nextPartitionPass) ++g_AppState.partitionPass;
  StartWorker(plan.job);
  update();
  return true;
}

void RecoveryAnalysis::StartWorker(ScanJob job) {
  if (job == ScanJob::kNone) return;
  ScanWorkerProc proc = ScanWorkerFor(job);
  if (!proc) return;
  worker_.start(std::move(proc));
  g_AppState.workerThread = &worker_;
}

bool RecoveryAnalysis::WorkerRunning() const { return worker_.running(); }

void RecoveryAnalysis::StartElapsedTime() {
  StartTimer(kElapsedTimer, kElapsedInterval);
  startTick = Now();
}

// --- Reports of the worker ---

void RecoveryAnalysis::ShowStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount,
                                      std::u16string_view name, char form) {
  reportedIndexCount_.store(g_AppState.indexBlockCount);
  WorkerPage::ShowStatistics(value, firstCount, secondCount, name, form);
}

void RecoveryAnalysis::ShowValueTexts(bool visible) {
  for (QWidget* w : {static_cast<QWidget*>(elapsedValue), static_cast<QWidget*>(firstValue),
                     static_cast<QWidget*>(secondValue), static_cast<QWidget*>(thirdValue),
                     static_cast<QWidget*>(nameValue)})
    w->setVisible(visible);
}

void RecoveryAnalysis::OnStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount,
                                    const std::u16string& name, char form) {
  const bool raw = RawRecovery();
  if (detailsHidden) {
    if (detailsHidePending == 1) {
      detailsHidePending = 0;
      ShowValueTexts(false);
      if (raw) secondValue->show();
    }
    return;
  }
  if (form != 'e') {
    firstValue->setText(Q(ThreeDecimalSize(value)));
    if (!raw) secondValue->setText(Q(Number(firstCount)));
    thirdValue->setText(Q(Number(secondCount)));
    nameValue->setText(Q(name));
    return;
  }

  const bool image = g_AppState.diskImageMode != 0;
  // Whole 64-bit sector numbers: a disk beyond 2 TiB must not show wrapped ones.
  const uint64_t current = image ? firstCount : value;
  const std::u16string sectorText = Number(current) + u"/" + Number(g_RangeEndSector);
  if (raw || image) {
    firstValue->setText(Q(sectorText));
  } else {
    const int32_t indexCount = reportedIndexCount_.load();
    if (g_SelectedFileSystem == u"NTFS") {
      if (indexCount != lastIndexCount_ || lastIndexCount_ == -1)
        firstValue->setText(Q(Number(static_cast<uint32_t>(indexCount))));
      sectorLine->setText(Q(kAnalysingSectors + sectorText));
    } else {
      firstValue->setText(Q(sectorText));
    }
    if (firstCount != lastFolderCount_ || lastFolderCount_ == -1) secondValue->setText(Q(Number(firstCount)));
    lastFolderCount_ = firstCount;
    lastIndexCount_ = indexCount;
  }
  if (image) {
    const double bytes = static_cast<double>(value) * static_cast<double>(std::max(0, g_BytesPerSector));
    secondValue->setText(Q(SizeText1(bytes)));
  }
  if (secondCount != lastFileCount_ || lastFileCount_ == -1) thirdValue->setText(Q(Number(secondCount)));
  lastFileCount_ = secondCount;
  if (Q(name).compare(Q(g_AppState.lastShownName), Qt::CaseInsensitive) != 0) nameValue->setText(Q(name));
  g_AppState.lastShownName = name;
}

void RecoveryAnalysis::SetControlFont(int id, std::u16string_view family, int pointSize, bool bold) {
  QMetaObject::invokeMethod(
      this,
      [this, id, face = Q(family), pointSize, bold] {
        auto* label = qobject_cast<CLabel*>(Control(id));
        if (!label) return;
        label->SetFontName(face).SetFontSize(ScaledPoints(pointSize, VFactor())).SetFontBold(bold);
        label->SetTransparent(true);
      },
      Qt::QueuedConnection);
}

void RecoveryAnalysis::StartTimer(int id, int milliseconds) {
  WorkerPage::StartTimer(id, milliseconds);
  QMetaObject::invokeMethod(this, [this, id, milliseconds] { timerIntervals_[id] = milliseconds; },
                            Qt::QueuedConnection);
}

void RecoveryAnalysis::KillTimer(int id) {
  WorkerPage::KillTimer(id);
  QMetaObject::invokeMethod(this, [this, id] { timerIntervals_[id] = 0; }, Qt::QueuedConnection);
}

int RecoveryAnalysis::TimerInterval(int id) const {
  auto it = timerIntervals_.find(id);
  return it == timerIntervals_.end() ? 0 : it->second;
}

void RecoveryAnalysis::OnTimer(int id) { TimerTick(id); }

void RecoveryAnalysis::TimerTick(int id) {
  if (id == kMarqueeTimer) {
    ++marqueeStep;
    progressBar->SetPos(marqueeStep);
    if (marqueeStep >= kMarqueeEnd) marqueeStep = 0;
    return;
  }
  if (id != kElapsedTimer) return;
  const uint32_t now = Now();
  int64_t ms = static_cast<int64_t>(static_cast<uint32_t>(now - startTick)) - pausedTotal;
  // A pause in progress does not count (the timer keeps running in some modes).
  if (paused) ms -= static_cast<uint32_t>(now - pauseStart);
  if (ms < 0) ms = 0;
  int64_t seconds = ms / 1000;
  if (seconds >= 60) {
    // Whole minutes move from the clock into the count, however late the
    // tick comes; the start moves by exactly the time counted.
    const int64_t minutes = seconds / 60;
    elapsedMinutes += static_cast<int>(minutes);
    seconds -= minutes * 60;
    startTick += pausedTotal + static_cast<uint32_t>(minutes) * kMinuteMs;
    pausedTotal = 0;
  }
  while (elapsedMinutes >= 60) {
    elapsedMinutes -= 60;
    ++elapsedHours;
  }
  elapsedSeconds = static_cast<int>(seconds);
  elapsedValue->setText(QStringLiteral("%1 : %2 : %3").arg(elapsedHours).arg(elapsedMinutes).arg(elapsedSeconds));
}

void RecoveryAnalysis::OnResetStartTick() {
  startTick = Now();
  // Pauses before the new start must not shorten the time after it.
  pausedTotal = 0;
}

// --- Commands ---

void RecoveryAnalysis::SetPauseText(bool pausedNow) {
  pauseButton->setText(pausedNow ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
  const QPoint at = pauseButton->pos();
  pauseButton->LoadFourStateBitmap(QString::fromStdString(g_AppState.imagesFolder) +
                                   (pausedNow ? QStringLiteral("/Resume-btn.bmp") : QStringLiteral("/Pause-btn.bmp")));
  pauseButton->move(at);
  pauseButton->update();
}

void RecoveryAnalysis::KillJobTimers() {
  const bool partition = g_AppState.partitionMode != 0, formatted = g_AppState.formattedMode != 0;
  if ((partition && !formatted) || RawRecovery()) {
    KillTimer(kElapsedTimer);
  } else if (!formatted && !partition) {
    KillTimer(kElapsedTimer);
    KillTimer(kMarqueeTimer);
  }
}

void RecoveryAnalysis::RestartJobTimers() {
  if (g_AppState.partitionMode || RawRecovery()) {
    StartTimer(kElapsedTimer, kResumedInterval);
  } else {
    StartTimer(kElapsedTimer, kResumedInterval);
    StartTimer(kMarqueeTimer, kResumedInterval);
  }
}

void RecoveryAnalysis::OnPauseResume() {
  if (!paused) {
    paused = 1;
    SetPauseText(true);
    stopButton->EnableButton(stopButton, 0);
    if (WorkerRunning()) {
      job.pause();
      ++jobPauses_;
    }
    KillJobTimers();
    pauseStart = Now();
    return;
  }
  paused = 0;
  SetPauseText(false);
  stopButton->EnableButton(stopButton, 1);
  if (jobPauses_ > 0) {
    job.resume();
    --jobPauses_;
  }
  pausedTotal += Now() - pauseStart;
  if (WorkerRunning() && !g_AppState.formattedMode) RestartJobTimers();
}

void RecoveryAnalysis::OnStop() {
  busy_ = true;
  const bool held = WorkerRunning();
  if (held) job.pause();
  KillJobTimers();
  const int answer = AskQuestion(kStopQuestion);
  if (answer == IDOK) {
    job.requestStop();
    if (held) job.resume();
    const bool quick = !g_AppState.diskImageMode && !g_AppState.formattedMode && !g_AppState.partitionMode &&
                       !RawRecovery();
    if (quick) {
      // The results page reads what the scan found: the scan leaves first.
      WaitForWorker();
      busy_ = false;
      completionPending_ = false;
      ActOnCompletion();
      return;
    }
  } else {
    if (held) job.resume();
    if (WorkerRunning() && !g_AppState.formattedMode) RestartJobTimers();
  }
  busy_ = false;
  if (completionPending_) {
    completionPending_ = false;
    ActOnCompletion();
  }
}

void RecoveryAnalysis::OnBack() {
  busy_ = true;
  const bool held = WorkerRunning();
  if (held) job.pause();
  if (!g_AppState.formattedMode) KillTimer(kMarqueeTimer);
  if (AskQuestion(kBackQuestion) == IDOK) {
    finished_ = true;
    // The question's own pause goes too: a worker that obeys the stop only
    // to go on with its next step would otherwise park there for ever.
    if (held) job.resume();
    StopAndWaitForWorker();
    // Only now that the worker has left is what it built freed.
    ClearCatalog();
    g_AppState.loadingScanLog = 0;
    busy_ = false;
    EndPage(*this, QDialog::Rejected);
    return;
  }
  if (!g_AppState.formattedMode) StartTimer(kMarqueeTimer, kMarqueeInterval);
  if (held) job.resume();
  busy_ = false;
  if (completionPending_) {
    completionPending_ = false;
    ActOnCompletion();
  }
}

void RecoveryAnalysis::reject() { OnBack(); }

void RecoveryAnalysis::ShowControl(int id, bool visible) {
  if (id != kScanSectorLine) {
    WorkerPage::ShowControl(id, visible);
    return;
  }
  // While the details are hidden the sector line only remembers what the worker wants.
  QMetaObject::invokeMethod(
      this,
      [this, visible] {
        sectorLineWanted_ = visible;
        if (detailsHidden == 0) sectorLine->setVisible(visible);
      },
      Qt::QueuedConnection);
}

void RecoveryAnalysis::OnHideDetails() {
  QWidget* captions[] = {elapsedCaption, firstCaption, secondCaption, thirdCaption, nameCaption};
  // The state, not the button's text, says which way the button goes.
  if (detailsHidden == 0) {
    detailsHidden = 1;
    detailsHidePending = 1;
    for (QWidget* c : captions) c->hide();
    KillTimer(kElapsedTimer);
    ShowValueTexts(false);
    // The deep scans' running sector counter is a detail too.
    sectorLineWanted_ = !sectorLine->isHidden();
    sectorLine->hide();
    detailsButton->setText(QStringLiteral("&Show Details"));
  } else {
    detailsHidden = 0;
    detailsHidePending = 0;
    for (QWidget* c : captions) c->show();
    StartTimer(kElapsedTimer, kElapsedInterval);
    ShowValueTexts(true);
    sectorLine->setVisible(sectorLineWanted_);
    if (g_AppState.diskImageMode && !RawRecovery()) {
      thirdCaption->hide();
      thirdValue->hide();
      statusLine->hide();
    }
    detailsButton->setText(QStringLiteral("&Hide Details"));
  }
  update();
}

void RecoveryAnalysis::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (AskQuestion(kExitQuestion) == IDOK) ExitApplication();
}

// --- Completion ---

void RecoveryAnalysis::WaitForWorker() {
  if (worker_.running() && QCoreApplication::instance()) {
    // The worker may be waiting on a question that this thread must show.
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
      if (!worker_.running()) loop.quit();
    });
    poll.start(5);
    if (worker_.running()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  worker_.join();
}

void RecoveryAnalysis::ReleaseJobPauses() {
  while (jobPauses_ > 0) {
    job.resume();
    --jobPauses_;
  }
}

void RecoveryAnalysis::StopAndWaitForWorker() {
  if (!worker_.joinable()) return;
  // Not a plain stop request: the formatted and partition workers clear that
  // one after a step and go on with the next.
  job.abandon();
  ReleaseJobPauses();
  WaitForWorker();
}

void RecoveryAnalysis::OnCompletion() { ActOnCompletion(); }

void RecoveryAnalysis::paintEvent(QPaintEvent* event) {
  setWindowTitle(Q(g_AppState.windowTitle));
  WorkerPage::paintEvent(event);
}

void RecoveryAnalysis::resizeEvent(QResizeEvent* event) {
  WorkerPage::resizeEvent(event);
  LayOut();
}

void RecoveryAnalysis::RunResultsAndClose(int result) {
  HideForNextPage(*this);
  // The worker set its flag as its last act; it leaves before the results
  // page reads the catalogue.
  ReleaseJobPauses();
  WaitForWorker();
  RunPageHook(PageHook::kResultsPage);
  EndPage(*this, result);
}

void RecoveryAnalysis::ActOnCompletion() {
  if (finished_) return;
  if (busy_) {
    completionPending_ = true;
    return;
  }
  setWindowTitle(Q(g_AppState.windowTitle));
  if (recoveryImpossible.load()) {
    finished_ = true;
    ReleaseJobPauses();
    WaitForWorker();
    ClearCatalog();
    EndPage(*this, QDialog::Rejected);
    return;
  }
  if (RawRecovery()) {
    if (closePage.load()) {
      finished_ = true;
      EndPage(*this, QDialog::Rejected);
    }
    return;
  }
  if (g_AppState.diskImageMode && closePage.load()) {
    finished_ = true;
    EndPage(*this, QDialog::Rejected);
  }
  if (backToPartitionList.load()) {
    finished_ = true;
    EndPage(*this, QDialog::Rejected);
    return;
  }
  const bool quick = !g_AppState.formattedMode && !g_AppState.partitionMode && !g_AppState.diskImageMode;
  if (analysisFinished.load() && quick) {
    finished_ = true;
    KillTimer(kMarqueeTimer);
    KillTimer(kElapsedTimer);
    RunResultsAndClose(QDialog::Accepted);
    if (g_AppState.workerThread == &worker_) g_AppState.workerThread = nullptr;
    analysisFinished.store(0);
    return;
  }
  if (openResults.load()) {
    finished_ = true;
    KillTimer(kElapsedTimer);
    RunResultsAndClose(QDialog::Rejected);
    openResults.store(0);
  }
}

}  // namespace qm
