#include <QApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

#include "state/app_state.h"
#include "app/startup.h"
#include "app/worker_page.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"

namespace qm {
namespace {

// A small page run by a worker: a status line, a progress bar, a button.
class TestPage : public WorkerPage {
 public:
  TestPage() {
    status.setParent(this);
    bar.setParent(this);
    stop.setParent(this);
    RegisterControl(kScanStatusLine, &status);
    RegisterControl(kScanProgressBar, &bar);
    RegisterControl(2, &stop);
  }
  CLabel status;
  CGradientProgressCtrl bar;
  CHoverButton stop{QStringLiteral("&Stop")};

  int completions = 0;
  bool completionOnGui = false;
  int openResultsSeen = 0;
  std::vector<uint64_t> statistics;
  std::vector<int> timerTicks;
  int startTickResets = 0;
  int* completionsOutside = nullptr;  // a count that outlives the page

 protected:
  void OnCompletion() override {
    ++completions;
    if (completionsOutside) ++*completionsOutside;
    completionOnGui = QThread::currentThread() == qApp->thread();
    openResultsSeen = openResults.load();
  }
  void OnStatistics(uint64_t value, uint32_t, uint32_t, const std::u16string&, char) override {
    statistics.push_back(value);
  }
  void OnTimer(int id) override { timerTicks.push_back(id); }
  void OnResetStartTick() override { ++startTickResets; }
};

TEST(WorkerPage, DisplayCallsAreQueuedInOrderAndNeverBlock) {
  ResetAppState();
  LoadStartupSettings();
  TestPage page;
  std::thread worker([&] {
    page.SetControlText(kScanStatusLine, u"Reading sector 1");
    page.SetControlText(kScanStatusLine, u"Lost files && folders");
    page.SetProgressPos(kScanProgressBar, 42);
    page.ShowControl(2, false);
    page.stop.EnableButton(&page.stop, 0);
    page.SetControlText(9999, u"nobody listens");  // unknown id: ignored
    page.StartTimer(kElapsedTimer, 10);
    page.ResetStartTick();
    int32_t counter = 0;
    for (int i = 0; i < 2500; ++i) page.UpdateScanStatistics(i, 0, 0, u"", &counter, 'e');
    page.Complete(page.openResults);
  });
  worker.join();  // the worker is through before the GUI thread ran its loop
  EXPECT_EQ(page.status.text(), QString());
  EXPECT_EQ(page.completions, 0);

  QApplication::processEvents();
  EXPECT_EQ(page.status.text(), QStringLiteral("Lost files && folders"));
  EXPECT_EQ(page.bar.GetPos(), 42);
  EXPECT_TRUE(page.stop.isHidden());
  EXPECT_FALSE(page.stop.isEnabled());
  EXPECT_EQ(page.statistics, (std::vector<uint64_t>{999, 1998}));  // the 1000th call, then 999 later
  EXPECT_EQ(page.startTickResets, 1);
  EXPECT_EQ(page.completions, 1);
  EXPECT_TRUE(page.completionOnGui);
  EXPECT_EQ(page.openResultsSeen, 1);

  // The timer the worker started ticks on the GUI thread until killed.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (page.timerTicks.empty() && std::chrono::steady_clock::now() < until)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(page.timerTicks.empty());
  EXPECT_EQ(page.timerTicks.front(), kElapsedTimer);
  std::thread([&] { page.KillTimer(kElapsedTimer); }).join();
  QApplication::processEvents();
  const size_t ticks = page.timerTicks.size();
  QThread::msleep(50);
  QApplication::processEvents();
  EXPECT_EQ(page.timerTicks.size(), ticks);
}

// A page closed while the worker's calls still wait in the queue takes them
// with it: none reaches a control that outlives the page, and no completion
// runs. The same calls to a page left open do arrive.
TEST(WorkerPage, QueuedCallsToAClosedPageAreDropped) {
  CLabel outsideText;
  CGradientProgressCtrl outsideBar;
  int completions = 0;
  auto run = [&](bool closeFirst) {
    auto page = std::make_unique<TestPage>();
    page->completionsOutside = &completions;
    page->RegisterControl(100, &outsideText);
    page->RegisterControl(101, &outsideBar);
    std::thread([&] {
      page->SetControlText(100, u"late");
      page->SetProgressPos(101, 37);
      page->Complete(page->closePage);
    }).join();
    if (closeFirst) page.reset();
    QApplication::processEvents();
  };
  run(true);
  EXPECT_EQ(outsideText.text(), QString());
  EXPECT_EQ(outsideBar.GetPos(), 0);
  EXPECT_EQ(completions, 0);
  run(false);
  EXPECT_EQ(outsideText.text(), QStringLiteral("late"));
  EXPECT_EQ(outsideBar.GetPos(), 37);
  EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace qm
