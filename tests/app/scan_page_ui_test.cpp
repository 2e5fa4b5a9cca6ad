#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <functional>
#include <thread>
#include <vector>

#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/qt_prompt.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "engines/quick_scan_util.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Runs the GUI thread's events until pred holds (or a few seconds pass).
bool ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5000ms) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

QString Text(QLabel* l) { return l->text(); }

// A scan that reports until it is told to stop, then ends its job the way
// the test says.
struct FakeScan {
  std::atomic<int> reports{0};
  std::atomic<int> runs{0};
  std::atomic<bool> onGuiThread{false};
  std::function<void(ScanHost&)> atEnd = [](ScanHost& page) { page.Complete(page.analysisFinished); };
  bool loop = true;

  ScanWorkerProc Proc() {
    return [this] {
      ++runs;
      onGuiThread = QThread::currentThread() == qApp->thread();
      ScanHost& page = *g_AppState.scanPage;
      int32_t counter = 0;
      while (loop && !page.job.checkpoint()) {
        page.UpdateScanStatistics(reports.load(), 1, 2, u"a", &counter, 'n');
        ++reports;
        std::this_thread::sleep_for(200us);
      }
      if (atEnd) atEnd(page);
    };
  }
};

class ScanPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    ResetScanWorkers();
    g_SelectedFileSystem = u"NTFS";
    SetPageRunner(PageHook::kResultsPage, [this] {
      ++resultsPages;
      workerGoneAtResults = g_AppState.workerThread == nullptr || !g_AppState.workerThread->running();
      return IDOK;
    });
  }
  void TearDown() override {
    SetPageRunner(PageHook::kResultsPage, {});
    ResetScanWorkers();
    ClearCatalog();
  }
  // Every job runs the fake.
  void AllJobsRun(FakeScan& fake) {
    for (ScanJob j : {ScanJob::kRawRecovery, ScanJob::kDiskImage, ScanJob::kNtfsQuickScan, ScanJob::kNtfsDeepScan,
                      ScanJob::kPartitionChoice, ScanJob::kFatPartitionSearch, ScanJob::kFatLostFolderScan,
                      ScanJob::kFatQuickScan})
      SetScanWorker(j, fake.Proc());
    SetMftRunsLoader([](uint64_t, const char*, uint64_t, uint32_t) {});
  }

  int resultsPages = 0;
  bool workerGoneAtResults = false;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
};

// --- Which job starts, and with which captions ---

TEST_F(ScanPageTest, PlanFollowsTheModeFieldsAndTheFileSystem) {
  using G = ScanPlan::GeometryCopy;
  const std::u16string total = u"Total Size                   ";
  const std::u16string sector = u"Current Sector               ";
  const std::u16string indexes = u"Indexes Found               ";
  struct Case {
    const char* name;
    int raw, image;
    const char16_t* fs;
    int formatted, partition, pass, loading;
    ScanJob job;
    std::optional<std::u16string> caption;
    bool hideStatus, mftRuns, nextPass;
    G copy;
  };
  const Case cases[] = {
      {"raw beats everything", 6, 1, u"NTFS", 0, 0, 0, 0, ScanJob::kRawRecovery, sector, false, false, false, G::kNone},
      {"imaging beats the file system", 0, 1, u"NTFS", 0, 0, 0, 0, ScanJob::kDiskImage, sector, true, false, false,
       G::kNone},
      {"ntfs quick", 0, 0, u"NTFS", 0, 0, 0, 0, ScanJob::kNtfsQuickScan, total, true, true, false, G::kAll},
      {"ntfs quick from a log", 0, 0, u"NTFS", 0, 0, 0, 1, ScanJob::kNtfsQuickScan, total, true, true, false,
       G::kNone},
      {"ntfs formatted", 0, 0, u"NTFS", 1, 0, 0, 0, ScanJob::kNtfsDeepScan, indexes, false, false, false, G::kAll},
      {"ntfs formatted from a log", 0, 0, u"NTFS", 1, 0, 0, 1, ScanJob::kNtfsDeepScan, total, true, false, false,
       G::kNone},
      {"ntfs partition search", 0, 0, u"NTFS", 0, 1, 0, 0, ScanJob::kNtfsDeepScan, indexes, false, false, true,
       G::kAll},
      {"ntfs partition choice", 0, 0, u"NTFS", 0, 1, 1, 0, ScanJob::kPartitionChoice, std::nullopt, false, false,
       false, G::kAll},
      {"ntfs log, stored pass 2 searches", 0, 0, u"NTFS", 0, 1, 2, 1, ScanJob::kNtfsDeepScan, total, true, false,
       true, G::kNone},
      {"fat quick", 0, 0, u"FAT32", 0, 0, 0, 0, ScanJob::kFatQuickScan, total, true, false, false, G::kFatMembers},
      {"fat12 formatted", 0, 0, u"FAT12", 1, 0, 0, 0, ScanJob::kFatLostFolderScan, sector, false, false, false,
       G::kFatMembers},
      {"fat16 formatted from a log", 0, 0, u"FAT16", 1, 0, 0, 1, ScanJob::kFatLostFolderScan, total, false, false,
       false, G::kNone},
      {"fat partition pass 0", 0, 0, u"FAT32", 0, 1, 0, 0, ScanJob::kFatPartitionSearch, sector, false, false,
       false, G::kFatMembers},
      {"fat partition pass 1 from a log", 0, 0, u"FAT32", 0, 1, 1, 1, ScanJob::kFatPartitionSearch, total, false,
       false, false, G::kNone},
      {"fat log with pass 2 starts nothing", 0, 0, u"FAT32", 0, 1, 2, 1, ScanJob::kNone, std::nullopt, false, false,
       false, G::kNone},
      {"unknown file system", 0, 0, u"UNKNOWN", 0, 0, 0, 0, ScanJob::kNone, std::nullopt, false, false, false,
       G::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    g_AppState.rawRecoveryPage = c.raw;
    g_AppState.diskImageMode = c.image;
    g_SelectedFileSystem = c.fs;
    g_AppState.formattedMode = c.formatted;
    g_AppState.partitionMode = c.partition;
    g_AppState.partitionPass = c.pass;
    g_AppState.loadingScanLog = c.loading;
    const ScanPlan plan = PlanScanJob();
    EXPECT_EQ(plan.job, c.job);
    EXPECT_EQ(plan.firstCaption, c.caption);
    EXPECT_EQ(plan.hideStatusLine, c.hideStatus);
    EXPECT_EQ(plan.loadMftRuns, c.mftRuns);
    EXPECT_EQ(plan.nextPartitionPass, c.nextPass);
    EXPECT_EQ(plan.copyGeometry, c.copy);
    EXPECT_EQ(plan.startElapsed, c.job != ScanJob::kNone || c.fs != std::u16string(u"UNKNOWN"));
  }
  // Phase texts.
  ResetAppState();
  g_SelectedFileSystem = u"NTFS";
  EXPECT_EQ(PlanScanJob().phaseText, u"Morva is quickly analysing for deleted files and folders.");
  g_AppState.formattedMode = 1;
  EXPECT_EQ(PlanScanJob().phaseText, u"Morva is doing deep analysis for formatted data.");
  g_AppState.partitionMode = 1;
  EXPECT_EQ(PlanScanJob().phaseText, u"Morva is doing deep analysis for deleted/lost/re-partitioned partitions.");
  g_AppState.rawRecoveryPage = 6;
  EXPECT_EQ(PlanScanJob().secondCaption, u"Bytes Recovered              ");
  g_AppState.rawRecoveryPage = 0;
  g_AppState.diskImageMode = 1;
  EXPECT_EQ(PlanScanJob().secondCaption, u"Size Copied                  ");
}

TEST_F(ScanPageTest, StartRunsTheChosenWorkerOnItsOwnThread) {
  struct Case {
    const char16_t* fs;
    int formatted, partition, pass;
    ScanJob job;
    int passAfter;
  };
  const Case cases[] = {
      {u"NTFS", 0, 0, 0, ScanJob::kNtfsQuickScan, 0},    {u"NTFS", 1, 0, 0, ScanJob::kNtfsDeepScan, 0},
      {u"NTFS", 0, 1, 0, ScanJob::kNtfsDeepScan, 1},     {u"NTFS", 0, 1, 1, ScanJob::kPartitionChoice, 1},
      {u"FAT16", 0, 0, 0, ScanJob::kFatQuickScan, 0},    {u"FAT32", 1, 0, 0, ScanJob::kFatLostFolderScan, 0},
      {u"FAT32", 0, 1, 0, ScanJob::kFatPartitionSearch, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.job));
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = c.fs;
    g_AppState.formattedMode = c.formatted;
    g_AppState.partitionMode = c.partition;
    g_AppState.partitionPass = c.pass;
    g_PartitionGeometry.mftSector = 77;
    g_PartitionGeometry.sectorsPerCluster = 8;
    g_PartitionGeometry.clusterZeroSector = 2048;
    g_PartitionGeometry.sectorsPerMftRecord = 2;
    std::vector<ScanJob> started;
    std::atomic<bool> offGui{false};
    for (ScanJob j : {ScanJob::kNtfsQuickScan, ScanJob::kNtfsDeepScan, ScanJob::kPartitionChoice,
                      ScanJob::kFatQuickScan, ScanJob::kFatLostFolderScan, ScanJob::kFatPartitionSearch})
      SetScanWorker(j, [j, &started, &offGui] {
        started.push_back(j);
        offGui = QThread::currentThread() != qApp->thread();
      });
    std::vector<uint64_t> runsArgs;
    SetMftRunsLoader([&](uint64_t start, const char* device, uint64_t mft, uint32_t spc) {
      runsArgs = {start, mft, spc};
      EXPECT_STREQ(device, g_DevicePathTable[0]);
    });
    {
      RecoveryAnalysis page;
      page.StartScanEngine();
      EXPECT_EQ(g_AppState.scanPage, &page);
      EXPECT_EQ(g_AppState.workerThread, &page.JobWorker());
      EXPECT_EQ(g_CurrentPage, 3);
      page.JobWorker().join();
      EXPECT_EQ(started, std::vector<ScanJob>{c.job});
      EXPECT_TRUE(offGui);
      EXPECT_EQ(g_AppState.partitionPass, c.passAfter);
      EXPECT_EQ(g_AppState.scanFileSystem, std::u16string(c.fs));
      EXPECT_EQ(g_AppState.scanGeometry.mftSector, c.fs[0] == u'N' ? 77 : 0);  // FAT copies members 4..11
      EXPECT_EQ(g_AppState.scanGeometry.clusterZeroSector, 2048);
      if (c.job == ScanJob::kNtfsQuickScan) EXPECT_EQ(runsArgs, (std::vector<uint64_t>{2048, 77, 8}));
      else EXPECT_TRUE(runsArgs.empty());
      QApplication::processEvents();
      EXPECT_EQ(page.TimerInterval(kElapsedTimer), 1000);
    }
    EXPECT_EQ(g_AppState.scanPage, nullptr);
    EXPECT_EQ(g_AppState.workerThread, nullptr);
  }

  // No known file system: nothing starts, no clock runs, and Back still works.
  ResetAppState();
  LoadStartupSettings();
  g_SelectedFileSystem = u"UNKNOWN";
  RecoveryAnalysis page;
  page.StartScanEngine();
  QApplication::processEvents();
  EXPECT_FALSE(page.JobWorker().joinable());
  EXPECT_EQ(page.TimerInterval(kElapsedTimer), 0);
  prompt.answers = {IDOK};
  page.OnBack();
  EXPECT_EQ(page.result(), QDialog::Rejected);
}

TEST_F(ScanPageTest, CaptionsAndVisibilityOfEachKindOfJob) {
  FakeScan fake;
  fake.loop = false;
  fake.atEnd = nullptr;
  AllJobsRun(fake);
  {  // imaging: no file row, no status line
    g_AppState.diskImageMode = 1;
    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    EXPECT_EQ(Text(page.firstCaption), QStringLiteral("Current Sector               "));
    EXPECT_EQ(Text(page.secondCaption), QStringLiteral("Size Copied                  "));
    EXPECT_TRUE(page.thirdCaption->isHidden());
    EXPECT_TRUE(page.thirdValue->isHidden());
    EXPECT_TRUE(page.statusLine->isHidden());
    EXPECT_EQ(page.phaseText->text(),
              QStringLiteral("Morva is creating disk image.\nPlease select respective recovery mode for data "
                             "recovery once imaging is completed."));
    EXPECT_FALSE(page.stepPicture->pixmap().isNull());
    page.JobWorker().join();
  }
  {  // a formatted NTFS scan keeps the status line and counts indexes
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = u"NTFS";
    g_AppState.formattedMode = 1;
    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    EXPECT_EQ(Text(page.firstCaption), QStringLiteral("Indexes Found               "));
    EXPECT_FALSE(page.statusLine->isHidden());
    EXPECT_FALSE(page.thirdCaption->isHidden());
    EXPECT_TRUE(page.sectorLine->isHidden());
    EXPECT_FALSE(page.nextButton->isEnabled());
    page.JobWorker().join();

    // A worker that hands over rewrites the caption and gives it its font.
    page.firstCaption->SetFontName(QStringLiteral("Verdana")).SetFontSize(20).SetFontBold(false);
    std::thread([&] {
      page.SetControlText(kScanFirstCaption, u"Total Size");
      page.SetControlFont(kScanFirstCaption, u"Arial", 9, true);
    }).join();
    QApplication::processEvents();
    EXPECT_EQ(Text(page.firstCaption), QStringLiteral("Total Size"));
    EXPECT_EQ(page.firstCaption->KeptFont().family(), QStringLiteral("Arial"));
    EXPECT_EQ(page.firstCaption->KeptFont().pointSize(), ScaledPoints(9, page.VFactor()));
    EXPECT_TRUE(page.firstCaption->KeptFont().bold());
    EXPECT_TRUE(page.firstCaption->Transparent());
  }
}

// --- Statistics ---

TEST_F(ScanPageTest, SizeTexts) {
  const uint64_t gb = 1ull << 30, tb = 1ull << 40;
  struct Three {
    uint64_t bytes;
    const char16_t* text;
  };
  for (const Three& c : {Three{0, u"0.000 MB"}, Three{gb, u"1024.000 MB"}, Three{gb + 1, u"1.000 GB"},
                         Three{tb, u"1024.000 GB"}, Three{tb * 3, u"3.000 TB"}})
    EXPECT_EQ(ThreeDecimalSize(c.bytes), c.text) << c.bytes;
  struct One {
    double bytes;
    const char16_t* text;
  };
  for (const One& c : {One{0, u"0"}, One{512, u"0.5 KB"}, One{1048576, u"1.0 MB"}, One{double(gb), u"1.0 GB"},
                       One{double(gb) * 512, u"512.0 GB"}, One{double(tb) * 2, u"2.0 TB"}})
    EXPECT_EQ(SizeText1(c.bytes), c.text) << c.bytes;

  struct Capacity {
    uint64_t first, end;
    int virtualDisk;
    const char* device;
    const char* capacity;
  };
  const Capacity caps[] = {
      {0, 1ull << 30, 0, "Device   :  \\\\.\\PhysicalDrive0", "Capacity :  512.0 GB"},
      {100, 101, 0, "Device   :  \\\\.\\PhysicalDrive0", "Capacity :  0.5 KB"},
      {100, 100, 1, "Device   :  Virtual Disk", "Capacity :  0"},
      {100, 50, 0, "Device   :  \\\\.\\PhysicalDrive0", "Capacity :  0"},  // never a wrapped size
  };
  for (const Capacity& c : caps) {
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = u"UNKNOWN";
    g_AppState.recoveryMode = 2;
    std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
    g_RangeFirstSector = c.first;
    g_RangeEndSector = c.end;
    g_VirtualDiskSource = c.virtualDisk;
    RecoveryAnalysis page;
    page.StartScanEngine();
    EXPECT_EQ(Text(page.modeLabel), QStringLiteral("Mode     :  Formatted Data Recovery"));
    EXPECT_EQ(Text(page.deviceLabel), QString::fromLatin1(c.device));
    EXPECT_EQ(Text(page.capacityLabel), QString::fromLatin1(c.capacity));
  }
}

TEST_F(ScanPageTest, StatisticsActOnThe1000thThenEvery999thReportAndWriteBothForms) {
  g_SelectedFileSystem = u"UNKNOWN";  // no worker: the test reports itself
  RecoveryAnalysis page;
  page.StartScanEngine();
  int32_t counter = 0;
  std::thread([&] {
    for (int i = 1; i <= 2500; ++i) page.UpdateScanStatistics(i, i, i + 1, u"x", &counter, 'n');
  }).join();
  QApplication::processEvents();
  // The acting calls were the 1000th and the 1999th.
  EXPECT_EQ(Text(page.secondValue), QStringLiteral("1999"));
  EXPECT_EQ(Text(page.thirdValue), QStringLiteral("2000"));
  EXPECT_EQ(counter, 502);

  auto report = [&](uint64_t value, uint32_t first, uint32_t second, std::u16string name, char form) {
    std::thread([&] {
      int32_t c = 999;
      page.UpdateScanStatistics(value, first, second, name, &c, form);
    }).join();
    QApplication::processEvents();
  };
  report(3ull << 30, 5, 6, u"Report.DOC", 'n');
  EXPECT_EQ(Text(page.firstValue), QStringLiteral("3.000 GB"));
  EXPECT_EQ(Text(page.secondValue), QStringLiteral("5"));
  EXPECT_EQ(Text(page.nameValue), QStringLiteral("Report.DOC"));

  // Sector form on NTFS: index count, sector line, whole 64-bit sector numbers.
  g_SelectedFileSystem = u"NTFS";
  g_RangeEndSector = 6000000000ull;
  g_AppState.indexBlockCount = 42;
  report(4999999999ull, 7, 8, u"Report.DOC", 'e');
  report(5000000000ull, 7, 8, u"report.doc", 'e');
  EXPECT_EQ(Text(page.firstValue), QStringLiteral("42"));
  EXPECT_EQ(Text(page.sectorLine), QStringLiteral(" Analysing  Sectors :     5000000000/6000000000"));
  EXPECT_EQ(Text(page.secondValue), QStringLiteral("7"));
  EXPECT_EQ(Text(page.thirdValue), QStringLiteral("8"));
  // A name that differs only in case is not written again.
  EXPECT_EQ(Text(page.nameValue), QStringLiteral("Report.DOC"));
  report(5000000001ull, 7, 8, u"next.txt", 'e');
  EXPECT_EQ(Text(page.nameValue), QStringLiteral("next.txt"));

  g_SelectedFileSystem = u"FAT32";
  report(12, 7, 8, u"next.txt", 'e');
  EXPECT_EQ(Text(page.firstValue), QStringLiteral("12/6000000000"));

  // Imaging: the current sector is the first count, the second value the size copied.
  g_AppState.diskImageMode = 1;
  report(2097152, 99, 0, u"next.txt", 'e');
  EXPECT_EQ(Text(page.firstValue), QStringLiteral("99/6000000000"));
  EXPECT_EQ(Text(page.secondValue), QStringLiteral("1.0 GB"));
  g_AppState.diskImageMode = 0;

  // Hidden details: nothing is written, the values are hidden once more.
  page.show();
  page.OnHideDetails();
  EXPECT_EQ(page.detailsButton->text(), QStringLiteral("&Show Details"));
  EXPECT_TRUE(page.firstCaption->isHidden());
  page.firstValue->show();
  report(1, 1, 1, u"hidden", 'n');
  EXPECT_TRUE(page.firstValue->isHidden());
  EXPECT_EQ(page.detailsHidePending, 0);
  EXPECT_EQ(Text(page.nameValue), QStringLiteral("next.txt"));
  page.OnHideDetails();
  EXPECT_EQ(page.detailsButton->text(), QStringLiteral("&Hide Details"));
  EXPECT_FALSE(page.firstValue->isHidden());
  EXPECT_FALSE(page.firstCaption->isHidden());
  report(1, 1, 1, u"shown", 'n');
  EXPECT_EQ(Text(page.nameValue), QStringLiteral("shown"));
}

TEST_F(ScanPageTest, HideDetailsHidesTheDeepScansSectorCounterToo) {
  g_SelectedFileSystem = u"UNKNOWN";  // no worker: the test reports itself
  g_AppState.formattedMode = 1;
  RecoveryAnalysis page;
  page.StartScanEngine();
  page.show();
  auto fromWorker = [&](const std::function<void()>& fn) {
    std::thread(fn).join();
    QApplication::processEvents();
  };
  // A formatted scan shows its sector line and counts in it.
  fromWorker([&] {
    page.ShowControl(kScanSectorLine, true);
    page.SetControlText(kScanSectorLine, u"Analysing 10 of 100");
  });
  ASSERT_TRUE(page.sectorLine->isVisible());

  page.detailsButton->click();
  EXPECT_FALSE(page.sectorLine->isVisible());
  EXPECT_FALSE(page.firstValue->isVisible());
  // The worker's next step shows its line again: it stays hidden.
  fromWorker([&] { page.ShowControl(kScanSectorLine, true); });
  EXPECT_FALSE(page.sectorLine->isVisible());

  page.detailsButton->click();
  EXPECT_TRUE(page.sectorLine->isVisible());
  EXPECT_TRUE(page.firstCaption->isVisible());

  // A button text that the desktop re-marked does not turn the button around.
  page.detailsButton->setText(QStringLiteral("Hide &Details"));
  page.detailsButton->click();
  EXPECT_EQ(page.detailsHidden, 1);
  EXPECT_FALSE(page.sectorLine->isVisible());
  EXPECT_EQ(page.detailsButton->text(), QStringLiteral("&Show Details"));
}

TEST_F(ScanPageTest, ElapsedTimeCountsWithoutPausesAndSurvivesLateTicks) {
  g_SelectedFileSystem = u"UNKNOWN";
  uint32_t now = 0xFFFFF000u;  // the tick count wraps during the test
  RecoveryAnalysis page;
  page.SetTickSource([&] { return now; });
  page.StartScanEngine();
  page.startTick = now;
  const uint32_t start = now;
  // A tick every second for 3725 seconds.
  for (int s = 1; s <= 3725; ++s) {
    now = start + s * 1000u;
    page.TimerTick(kElapsedTimer);
  }
  EXPECT_EQ(Text(page.elapsedValue), QStringLiteral("1 : 2 : 5"));

  // One late tick tells the same time as regular ones.
  RecoveryAnalysis late;
  late.SetTickSource([&] { return now; });
  late.startTick = start;
  late.TimerTick(kElapsedTimer);
  EXPECT_EQ(Text(late.elapsedValue), QStringLiteral("1 : 2 : 5"));

  // Time spent paused does not count, also while the pause lasts.
  g_AppState.formattedMode = 1;  // the timer keeps ticking through a pause here
  RecoveryAnalysis paused;
  paused.SetTickSource([&] { return now; });
  now = start;
  paused.startTick = start;
  now = start + 50000;
  paused.OnPauseResume();
  now = start + 80000;
  paused.TimerTick(kElapsedTimer);
  EXPECT_EQ(Text(paused.elapsedValue), QStringLiteral("0 : 0 : 50"));
  paused.OnPauseResume();
  now = start + 95000;
  paused.TimerTick(kElapsedTimer);
  EXPECT_EQ(Text(paused.elapsedValue), QStringLiteral("0 : 1 : 5"));
  now = start + 96000;
  paused.TimerTick(kElapsedTimer);
  EXPECT_EQ(Text(paused.elapsedValue), QStringLiteral("0 : 1 : 6"));

  // The marquee cycles 1..100.
  for (int i = 0; i < 100; ++i) page.TimerTick(kMarqueeTimer);
  EXPECT_EQ(page.progressBar->GetPos(), 100);
  EXPECT_EQ(page.marqueeStep, 0);
  page.TimerTick(kMarqueeTimer);
  EXPECT_EQ(page.progressBar->GetPos(), 1);
}

// --- Pause, Stop, Back ---

TEST_F(ScanPageTest, PauseParksTheWorkerAndResumeReleasesIt) {
  FakeScan fake;
  AllJobsRun(fake);
  RecoveryAnalysis page;
  page.StartScanEngine();
  page.show();
  ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > 5; }));

  page.OnPauseResume();
  EXPECT_EQ(page.pauseButton->text(), QStringLiteral("&Resume"));
  EXPECT_FALSE(page.stopButton->isEnabled());
  ASSERT_TRUE(ProcessUntil([&] { return page.job.parked(); }));
  const int parkedAt = fake.reports.load();
  QThread::msleep(30);
  QApplication::processEvents();
  EXPECT_EQ(fake.reports.load(), parkedAt);
  // A quick scan stops both clocks while paused.
  EXPECT_EQ(page.TimerInterval(kElapsedTimer), 0);
  EXPECT_EQ(page.TimerInterval(kMarqueeTimer), 0);

  page.OnPauseResume();
  EXPECT_EQ(page.pauseButton->text(), QStringLiteral("&Pause"));
  EXPECT_TRUE(page.stopButton->isEnabled());
  ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > parkedAt + 5; }));
  EXPECT_EQ(page.TimerInterval(kElapsedTimer), 2000);
  EXPECT_EQ(page.TimerInterval(kMarqueeTimer), 2000);
  EXPECT_FALSE(fake.onGuiThread);
}

TEST_F(ScanPageTest, StopAndBackStopAndJoinOnYesAndResumeOnNo) {
  struct Case {
    const char* name;
    bool back;
    int answer;
    int formatted;
    bool pausedFirst;
    int results;        // results pages run
    int result;         // the page's result, -1 while it stays open
    bool workerGoes;
  };
  const Case cases[] = {
      {"stop no", false, IDCANCEL, 0, false, 0, -1, false},
      {"stop yes in a quick scan", false, IDOK, 0, false, 1, QDialog::Accepted, true},
      {"stop yes in a formatted scan", false, IDOK, 1, false, 1, QDialog::Rejected, true},
      {"back no", true, IDCANCEL, 0, false, 0, -1, false},
      {"back no while paused", true, IDCANCEL, 0, true, 0, -1, false},
      {"back yes", true, IDOK, 0, false, 0, QDialog::Rejected, true},
      {"back yes while paused", true, IDOK, 1, true, 0, QDialog::Rejected, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = u"NTFS";
    g_AppState.formattedMode = c.formatted;
    g_AppState.loadingScanLog = 1;
    resultsPages = 0;
    workerGoneAtResults = false;
    InsertFolderRecord({}, u"found", 'n', 5, 40, 0, RecordTimes{}, 0);
    FakeScan fake;
    // A formatted scan obeys the stop and opens the results itself.
    if (c.formatted) fake.atEnd = [](ScanHost& p) { p.Complete(p.openResults); };
    AllJobsRun(fake);
    prompt.answers = {c.answer};
    prompt.questions.clear();

    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > 3; }));
    if (c.pausedFirst) {
      page.OnPauseResume();
      ASSERT_TRUE(ProcessUntil([&] { return page.job.parked(); }));
    }
    if (c.back) page.reject();  // Escape is Back
    else page.OnStop();
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0], c.back ? u"Do you want to go back to Previous Step."
                                          : u"Do you want to stop Recovery analysis. This may show incomplete data "
                                            u"&& you may need to run this step again.");
    if (c.result >= 0) {
      ASSERT_TRUE(ProcessUntil([&] { return !page.isVisible(); }));
      EXPECT_EQ(page.result(), c.result);
    } else {
      QApplication::processEvents();
      EXPECT_TRUE(page.isVisible());
    }
    EXPECT_EQ(resultsPages, c.results);
    if (c.results) {
      EXPECT_TRUE(workerGoneAtResults);
    }
    if (c.workerGoes) {
      ASSERT_TRUE(ProcessUntil([&] { return !page.WorkerRunning(); }));
    } else if (c.pausedFirst) {
      // No leaves a paused page paused.
      const int at = fake.reports.load();
      QThread::msleep(30);
      EXPECT_EQ(fake.reports.load(), at);
      EXPECT_TRUE(page.job.parked());
    } else {
      const int at = fake.reports.load();
      ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > at + 3; }));
    }
    if (c.back && c.answer == IDOK) {
      EXPECT_EQ(g_AppState.folderList, nullptr);
      EXPECT_EQ(g_AppState.folderCount, 0);
      EXPECT_EQ(g_AppState.loadingScanLog, 0);
    } else {
      EXPECT_NE(g_AppState.folderList, nullptr);
    }
    if (c.name == std::string("stop yes in a quick scan")) {
      EXPECT_EQ(page.analysisFinished.load(), 0);
      EXPECT_EQ(g_AppState.workerThread, nullptr);
    }
  }
}

// The formatted, partition and log-loading workers obey a stop by ending
// their current step and going on with the next. Every answer to Back and
// Stop must leave such a worker released: gone after Back's Yes, running
// after No, on to its next step after Stop's Yes.
TEST_F(ScanPageTest, BackAndStopReleaseAWorkerThatGoesOnAfterAStop) {
  struct Case {
    const char* name;
    const char16_t* fs;
    int formatted, partition, pass, loading;
    bool back;
    int answer;
  };
  const Case cases[] = {
      {"FAT lost folders, back yes", u"FAT32", 1, 0, 0, 0, true, IDOK},
      {"NTFS deep scan, back yes", u"NTFS", 1, 0, 0, 0, true, IDOK},
      {"partition search, back yes", u"FAT32", 0, 1, 0, 0, true, IDOK},
      {"second pass, back yes", u"NTFS", 0, 1, 1, 0, true, IDOK},
      {"log load, back yes", u"FAT32", 0, 0, 0, 1, true, IDOK},
      {"quick, back yes", u"FAT32", 0, 0, 0, 0, true, IDOK},
      {"FAT lost folders, back no", u"FAT32", 1, 0, 0, 0, true, IDCANCEL},
      {"partition search, stop yes", u"FAT32", 0, 1, 0, 0, false, IDOK},
      {"NTFS deep scan, stop yes", u"NTFS", 1, 0, 0, 0, false, IDOK},
      {"FAT lost folders, stop no", u"FAT32", 1, 0, 0, 0, false, IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = c.fs;
    g_AppState.formattedMode = c.formatted;
    g_AppState.partitionMode = c.partition;
    g_AppState.partitionPass = c.pass;
    g_AppState.loadingScanLog = c.loading;
    std::atomic<int> firstStep{0}, secondStep{0};
    const ScanWorkerProc stepwise = [&] {
      ScanHost& host = *g_AppState.scanPage;
      int32_t counter = 0;
      while (!host.job.checkpoint()) {
        host.UpdateScanStatistics(0, 0, 0, u"", &counter, 'e');
        ++firstStep;
        std::this_thread::sleep_for(200us);
      }
      host.analysisFinished.store(0);
      while (!host.job.checkpoint()) {
        host.UpdateScanStatistics(0, 0, 0, u"", &counter, 'e');
        ++secondStep;
        std::this_thread::sleep_for(200us);
        if (secondStep.load() > 20 && !c.back) break;
      }
      host.Complete(host.openResults);
    };
    for (ScanJob j : {ScanJob::kNtfsQuickScan, ScanJob::kNtfsDeepScan, ScanJob::kPartitionChoice,
                      ScanJob::kFatPartitionSearch, ScanJob::kFatLostFolderScan, ScanJob::kFatQuickScan})
      SetScanWorker(j, stepwise);
    prompt.answers = {c.answer};
    prompt.questions.clear();
    resultsPages = 0;

    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    ASSERT_TRUE(page.WorkerRunning());
    ASSERT_TRUE(ProcessUntil([&] { return firstStep.load() > 3; }));
    // A page stuck waiting for a parked worker fails here instead of hanging.
    std::atomic<bool> answered{false}, rescued{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 500 && !answered.load(); ++i) std::this_thread::sleep_for(10ms);
      if (!answered.load()) {
        rescued = true;
        page.job.requestStop();
      }
    });
    if (c.back) page.OnBack();
    else page.OnStop();
    answered = true;
    watchdog.join();
    EXPECT_FALSE(rescued.load()) << "the worker stayed parked after the answer";
    ASSERT_EQ(prompt.questions.size(), 1u);

    if (c.back && c.answer == IDOK) {
      EXPECT_FALSE(page.WorkerRunning());
      EXPECT_EQ(secondStep.load(), 0) << "a worker sent back runs no further step";
      EXPECT_EQ(page.result(), QDialog::Rejected);
      EXPECT_EQ(resultsPages, 0);
    } else if (c.answer == IDOK) {
      // Stop ends the step; the worker goes on and ends its job itself.
      EXPECT_TRUE(ProcessUntil([&] { return resultsPages == 1; }));
      EXPECT_GT(secondStep.load(), 0);
    } else {
      const int at = firstStep.load();
      EXPECT_TRUE(ProcessUntil([&] { return firstStep.load() > at + 3; })) << "No must resume the worker";
      EXPECT_FALSE(page.job.paused());
    }
  }
}

// A prompt that shows its messages on the GUI thread, as the program's does:
// a worker that asks blocks until the GUI thread gets to it.
class GuiThreadPrompt : public test::ScriptedPrompt {
 public:
  int ViewMsgBox(std::u16string_view text) override {
    const std::u16string t(text);
    return RunOnGuiThread<int>([&] { return ScriptedPrompt::ViewMsgBox(t); }, IDCANCEL);
  }
};

TEST_F(ScanPageTest, BackWaitsForAWorkerThatAsksTheGuiThread) {
  GuiThreadPrompt gui;
  test::PromptScope guiScope(&gui);
  gui.answers = {IDOK};
  FakeScan fake;
  fake.atEnd = [](ScanHost&) { ShowMessage(u"left after the stop"); };
  AllJobsRun(fake);
  RecoveryAnalysis page;
  page.StartScanEngine();
  page.show();
  ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > 3; }));
  page.OnBack();  // must not deadlock with the worker's message
  EXPECT_FALSE(page.WorkerRunning());
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], u"left after the stop");
  EXPECT_EQ(page.result(), QDialog::Rejected);
}

TEST_F(ScanPageTest, CloseBoxAsksToExitAndNoKeepsThePage) {
  g_SelectedFileSystem = u"UNKNOWN";
  prompt.answers = {IDCANCEL};
  RecoveryAnalysis page;
  page.StartScanEngine();
  page.show();
  page.close();
  ASSERT_EQ(prompt.questions.size(), 1u);
  EXPECT_EQ(prompt.questions[0], u"Do you want to exit from Quillmoren.");
  EXPECT_TRUE(page.isVisible());
}

// --- Completion ---

TEST_F(ScanPageTest, CompletionFlagsLeadToThePagesAction) {
  enum Flag { kAnalysis, kOpen, kBack, kClose, kImpossible };
  struct Case {
    const char* name;
    Flag flag;
    int formatted, partition, image, raw;
    int results;
    int result;  // -1: the page stays open
    bool catalogFreed;
  };
  const Case cases[] = {
      {"quick scan done", kAnalysis, 0, 0, 0, 0, 1, QDialog::Accepted, false},
      {"analysis flag outside a quick scan", kAnalysis, 1, 0, 0, 0, 0, -1, false},
      {"deep scan opens results", kOpen, 1, 0, 0, 0, 1, QDialog::Rejected, false},
      {"partition search done", kBack, 0, 1, 0, 0, 0, QDialog::Rejected, false},
      {"imaging done", kClose, 0, 0, 1, 0, 0, QDialog::Rejected, false},
      {"carving done", kClose, 0, 0, 0, 6, 0, QDialog::Rejected, false},
      {"carving ignores other flags", kOpen, 0, 0, 0, 6, 0, -1, false},
      {"nothing to recover", kImpossible, 1, 0, 0, 0, 0, QDialog::Rejected, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    g_SelectedFileSystem = u"FAT32";
    g_AppState.formattedMode = c.formatted;
    g_AppState.partitionMode = c.partition;
    g_AppState.diskImageMode = c.image;
    g_AppState.rawRecoveryPage = c.raw;
    InsertFolderRecord({}, u"found", 'n', 0, 40, 0, RecordTimes{}, 0);
    resultsPages = 0;
    FakeScan fake;
    fake.loop = false;
    fake.atEnd = [flag = c.flag](ScanHost& p) {
      std::atomic<int>* flags[] = {&p.analysisFinished, &p.openResults, &p.backToPartitionList, &p.closePage,
                                   &p.recoveryImpossible};
      p.Complete(*flags[flag]);
    };
    AllJobsRun(fake);
    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    ASSERT_TRUE(ProcessUntil([&] { return fake.runs.load() == 1 && !page.WorkerRunning(); }));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    EXPECT_EQ(resultsPages, c.results);
    if (c.result < 0) {
      EXPECT_TRUE(page.isVisible());
    } else {
      EXPECT_FALSE(page.isVisible());
      EXPECT_EQ(page.result(), c.result);
    }
    EXPECT_EQ(g_AppState.folderList == nullptr, c.catalogFreed);
  }
}

TEST_F(ScanPageTest, ThePageWhileAWorkerReports) {
  FakeScan fake;
  fake.atEnd = nullptr;
  AllJobsRun(fake);
  g_SelectedFileSystem = u"FAT32";
  g_AppState.recoveryMode = 1;
  std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
  g_RangeEndSector = 4194304;
  RecoveryAnalysis page;
  page.StartScanEngine();
  page.resize(1080, 668);
  page.show();
  ASSERT_TRUE(ProcessUntil([&] { return fake.reports.load() > 2500; }));
  page.SetControlText(kScanStatusLine, u"Searching lost directories. Please Wait...");
  page.SetProgressPos(kScanProgressBar, 40);
  page.TimerTick(kElapsedTimer);
  QApplication::processEvents();
  EXPECT_FALSE(Text(page.firstValue).isEmpty());
  // Everything sits inside the page, the skinned buttons with their frames.
  for (QWidget* w : {static_cast<QWidget*>(page.backButton), static_cast<QWidget*>(page.stopButton),
                     static_cast<QWidget*>(page.pauseButton), static_cast<QWidget*>(page.detailsButton),
                     static_cast<QWidget*>(page.progressBar), static_cast<QWidget*>(page.nameValue)})
    EXPECT_TRUE(page.rect().contains(w->geometry())) << w->metaObject()->className();
  EXPECT_TRUE(page.backButton->HasStrip());
  EXPECT_LT(page.progressBar->geometry().bottom(), page.phaseText->y());
  const QImage shot = page.grab().toImage();
  ASSERT_TRUE(shot.save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/scan-page.png", "PNG"));
}

TEST_F(ScanPageTest, ARealQuickScanEndsInTheResultsPage) {
  test::TempDir dir;
  auto set = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("fat16.img");
  setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  DeviceMap::Instance().Refresh();
  g_SelectedDiskIndex = 0;
  g_SelectedFileSystem = u"FAT16";
  g_RangeFirstSector = 0;
  g_RangeEndSector = std::filesystem::file_size(image) / 512;
  ASSERT_EQ(ReadPartitionGeometry(), 1);
  g_AppState.recoveryMode = 1;
  int folders = 0, files = 0;
  SetPageRunner(PageHook::kResultsPage, [&] {
    ++resultsPages;
    workerGoneAtResults = !g_AppState.workerThread || !g_AppState.workerThread->running();
    folders = g_AppState.folderCount;
    files = g_AppState.fileCount;
    return IDOK;
  });
  int result = 0;
  {
    RecoveryAnalysis page;
    // A page that never closes fails here instead of hanging the run.
    QTimer::singleShot(30000, &page, [&] {
      ADD_FAILURE() << "the scan page did not close";
      EndPage(page, QDialog::Rejected);
    });
    result = page.DoModal();
  }
  setenv("QUILLMOREN_DISKS", "", 1);
  DeviceMap::Instance().Refresh();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(resultsPages, 1);
  EXPECT_TRUE(workerGoneAtResults);
  EXPECT_GT(folders, 0);
  EXPECT_GT(files, 0);
  EXPECT_EQ(g_AppState.scanFileSystem, u"FAT16");
}

// A FAT12 logical partition (type 0x01) is selected under the name "FAT16";
// the scan reads its FAT with 12-bit entries, as its cluster count says.
TEST_F(ScanPageTest, AFat12LogicalPartitionIsScannedWithTwelveBitEntries) {
  QM_REQUIRE_TOOLS("sfdisk", "mkfs.fat", "mmd", "mcopy", "fls");
  test::TempDir dir;
  const std::string image = dir.file("disk.img"), file = dir.file("x.txt");
  std::ofstream(file, std::ios::binary) << "twelve";
  const uint64_t start = 4096, sectors = 4096;
  const std::string q = test::ShellQuote(image), at = q + "@@" + std::to_string(start * 512);
  // One sector per cluster: the folder's 40 entries fill three clusters.
  std::string cmd = "truncate -s 8M " + q + " && printf 'label: dos\\n2048,,5\\n" + std::to_string(start) + "," +
                    std::to_string(sectors) + ",1\\n' | PATH=$PATH:/usr/sbin:/sbin sfdisk -q " + q +
                    " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 12 -s 1 --offset " + std::to_string(start) + " " + q +
                    " " + std::to_string(sectors / 2) + " >/dev/null 2>&1 && mmd -i " + at + " ::/DIR";
  for (int i = 1; i <= 40; ++i)
    cmd += " && mcopy -i " + at + " " + test::ShellQuote(file) + " ::/DIR/F" + std::to_string(i) + ".TXT";
  ASSERT_EQ(test::Run(cmd), 0);
  std::set<std::string> want;
  for (const test::FlsEntry& e :
       test::ParseFls(test::Capture("fls -r -p -o " + std::to_string(start) + " " + q)))
    if (e.type == "r/r" || e.type == "d/d") want.insert(e.path);
  ASSERT_EQ(want.size(), 41u);

  setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  DeviceMap::Instance().Refresh();
  g_SelectedDiskIndex = 0;
  g_SelectedFileSystem = u"FAT16";  // the name of type 0x01 in the extended chain
  g_RangeFirstSector = start;
  g_RangeEndSector = start + sectors;
  ASSERT_EQ(ReadPartitionGeometry(), 1);
  g_AppState.recoveryMode = 1;
  std::set<std::string> got;
  SetPageRunner(PageHook::kResultsPage, [&] {
    ++resultsPages;
    for (const test::Listed& l : test::Listing(kFatRootKey)) got.insert(l.path);
    return IDOK;
  });
  {
    RecoveryAnalysis page;
    QTimer::singleShot(30000, &page, [&] {
      ADD_FAILURE() << "the scan page did not close";
      EndPage(page, QDialog::Rejected);
    });
    page.DoModal();
  }
  setenv("QUILLMOREN_DISKS", "", 1);
  DeviceMap::Instance().Refresh();
  EXPECT_EQ(resultsPages, 1);
  EXPECT_EQ(got, want);
  EXPECT_EQ(g_AppState.scanFileSystem, u"FAT12");
  EXPECT_EQ(g_SelectedFileSystem, u"FAT16");
}

TEST_F(ScanPageTest, LayoutOfAFullHdDesktop) {
  ScanLayoutInput in;
  in.window = QRect(100, 50, 1080, 668);
  in.client = QSize(1080, 668);
  in.toolbarButton = QRect(10, 8, 40, 40);
  const auto places = ComputeScanLayout(in);
  EXPECT_EQ(places.at(kScanBackButton), QRect(824, 570, 108, 19));
  EXPECT_EQ(places.at(kScanNextButton).topLeft(), QPoint(942, 570));
  // Rows 40 pixels apart, values right of their captions.
  const int rows[] = {kScanElapsedCaption, kScanFirstCaption, kScanSecondCaption, kScanThirdCaption,
                      kScanNameCaption};
  for (int i = 1; i < 5; ++i) EXPECT_EQ(places.at(rows[i]).y() - places.at(rows[i - 1]).y(), 40);
  EXPECT_EQ(places.at(kScanFirstValue).x() - places.at(kScanFirstCaption).x(), 160);
  EXPECT_EQ(places.at(kScanPauseButton).size(), QSize(87, 26));
  EXPECT_EQ(places.at(kScanStopButton).y() - places.at(kScanPauseButton).y(), 40);
  // Imaging leaves out the file row; the name row moves up.
  in.diskImage = true;
  const auto image = ComputeScanLayout(in);
  EXPECT_EQ(image.count(kScanThirdCaption), 0u);
  EXPECT_EQ(image.at(kScanNameCaption).y(), places.at(kScanThirdCaption).y());
}

}  // namespace
}  // namespace qm
