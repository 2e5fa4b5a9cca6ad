// The copy-out's dialogs offscreen: the replace and copy-error buttons set
// the answers the copiers read, the progress dialog shows the worker's
// reports with an injected clock, and a whole copy runs and closes it.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "app/qt_prompt.h"
#include "copy_test_util.h"
#include "engines/copy_dialogs_ui.h"
#include "engines/copy_progress_dialog_ui.h"
#include "engines/file_copiers.h"
#include "platform/file.h"
#include "support/fakes.h"

namespace qm {
namespace {

// Acts on the next modal dialog of type D from inside its loop.
template <typename D>
void ActOnNext(std::function<void(D*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
    if (!d) return;
    timer->stop();
    timer->deleteLater();
    act(d);
  });
  timer->start();
}

void UseSkin() {
  ResetAppState();
  g_AppState.windowTitle = u"Morva Data Recovery Wizard";
  g_AppState.imagesFolder = QM_BUILD_IMAGES_DIR;
}

enum class Press { Yes, Skip, Rename, Escape, CloseBox };

TEST(FileReplaceOptionsDialog, ButtonsSetTheDecision) {
  UseSkin();
  const struct {
    Press press;
    bool forAll;
    int decision;  // g_ReplaceDecision afterwards
    int answer;    // what the copier acts on
  } cases[] = {
      {Press::Yes, false, 0, 0},    {Press::Skip, false, 1, 1},   {Press::Rename, false, 4, 4},
      {Press::Yes, true, 2, 2},     {Press::Skip, true, 3, 3},    {Press::Rename, true, 5, 5},
      // Closed: the standing value stays, and this file is skipped.
      {Press::Escape, false, 4, 1}, {Press::CloseBox, true, 4, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.press) * 10 + c.forAll);
    g_ReplaceDecision = 4;
    QString title;
    ActOnNext<FileReplaceOptions>([&](FileReplaceOptions* d) {
      title = d->windowTitle();
      EXPECT_EQ(d->MessageLabel().text(),
                "The destination already has this file. Please choose appropriate action.");
      d->ForAllBox().setChecked(c.forAll);
      switch (c.press) {
        case Press::Yes: QTest::mouseClick(&d->YesButton(), Qt::LeftButton); break;
        case Press::Skip: QTest::mouseClick(&d->SkipButton(), Qt::LeftButton); break;
        case Press::Rename: QTest::mouseClick(&d->RenameButton(), Qt::LeftButton); break;
        case Press::Escape: QTest::keyClick(d, Qt::Key_Escape); break;
        case Press::CloseBox: d->close(); break;
      }
    });
    EXPECT_EQ(RunFileReplaceOptions(), c.answer);
    EXPECT_EQ(g_ReplaceDecision.load(), c.decision);
    EXPECT_EQ(title, "Morva Data Recovery Wizard");
  }
}

TEST(ErrorCopyingDialog, ButtonsSetTheCopyFlags) {
  UseSkin();
  enum Button { Skip, SkipAll, Abort, Escape };
  const struct {
    Button button;
    int choice, skipCurrent, skipAll, stop;
  } cases[] = {
      {Skip, 0, 1, 0, 0}, {SkipAll, 1, 0, 1, 0}, {Abort, 2, 0, 0, 1},
      {Escape, 0, 7, 7, 7},  // nothing set
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    g_SkipCurrentFile = 7;
    g_SkipAllCopyErrors = 7;
    g_StopCopy = 7;
    ActOnNext<ErrorCopying>([&](ErrorCopying* d) {
      switch (c.button) {
        case Skip: QTest::mouseClick(&d->SkipButton(), Qt::LeftButton); break;
        case SkipAll: QTest::mouseClick(&d->SkipAllButton(), Qt::LeftButton); break;
        case Abort: QTest::mouseClick(&d->AbortButton(), Qt::LeftButton); break;
        case Escape: QTest::keyClick(d, Qt::Key_Escape); break;
      }
    });
    EXPECT_EQ(RunErrorCopying(), c.choice);
    EXPECT_EQ(g_SkipCurrentFile.load(), c.skipCurrent);
    EXPECT_EQ(g_SkipAllCopyErrors.load(), c.skipAll);
    EXPECT_EQ(g_StopCopy.load(), c.stop);
  }
  ResetCopyFlags();
}

TEST(ErrorCopyingDialog, SaysWhatHappened) {
  UseSkin();
  QtPrompt prompt;
  const struct {
    int cause;
    std::u16string text;
  } cases[] = {{ENOSPC, std::u16string(kCopyErrorSpaceText)}, {EROFS, CopyErrorText(EROFS)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cause);
    QString shown;
    ActOnNext<ErrorCopying>([&](ErrorCopying* d) {
      shown = d->MessageLabel().text();
      QTest::mouseClick(&d->SkipButton(), Qt::LeftButton);
    });
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = prompt.CopyErrorChoiceFor(u"/t/a.txt", c.cause); });
    while (answer < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    EXPECT_EQ(answer.load(), 0);
    EXPECT_EQ(shown.toStdU16String(), c.text);
  }
  EXPECT_NE(CopyErrorText(EROFS), kCopyErrorSpaceText);
  ResetCopyFlags();
}

TEST(CopyQuestionsFromAWorker, RunOnTheGuiThread) {
  UseSkin();
  QtPrompt prompt;
  bool onGui = false;
  ActOnNext<FileReplaceOptions>([&](FileReplaceOptions* d) {
    onGui = QThread::currentThread() == qApp->thread();
    d->ForAllBox().setChecked(true);
    QTest::mouseClick(&d->RenameButton(), Qt::LeftButton);
  });
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = prompt.FileReplaceChoice(u"/t/a.txt"); });
  while (answer < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_EQ(answer.load(), 5);
  EXPECT_TRUE(onGui);
}

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    UseSkin();
    SetPrompt(&prompt_);
  }
  void TearDown() override {
    SetPrompt(nullptr);
    SetTargetFileFactory(nullptr);
    test::FreshState();
  }
  test::ScriptedPrompt prompt_;
};

TEST_F(ProgressDialogTest, ReportsFromTheWorkerWithAnInjectedClock) {
  SelectionModel model;
  const uint64_t GiB = uint64_t{1} << 30;
  model.selectedBytes = 3 * GiB;
  DataCopyProgress dialog(model);
  EXPECT_EQ(g_CopyProgressDlg.load(), &dialog);
  int64_t now = 1000;
  dialog.SetClock([&] { return now; });
  g_CopyStartTime = 1000;

  // A minute of pause is left out of the elapsed time.
  now = 1040;
  QTest::mouseClick(&dialog.PauseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.PauseButton().text(), "&Resume");
  EXPECT_TRUE(g_CopyJob.paused());
  now = 1100;
  QTest::mouseClick(&dialog.PauseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.PauseButton().text(), "&Pause");
  EXPECT_FALSE(g_CopyJob.paused());
  EXPECT_EQ(dialog.PausedSeconds(), 60);

  now = 1160;  // 100 s of copying
  g_CopiedBytes = GiB + GiB / 2;
  std::thread worker([] {
    int counter = 0;
    UpdateCopyProgress(u"/t/a.bin", u"a.bin", 50, 100, &counter);
    counter = 999;
    UpdateCopyProgress(u"/t/a.bin", u"a.bin", 60, 100, &counter);
  });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.Static(kCopyDataCopiedValue)->text(), "1.500 GB size in");
  EXPECT_EQ(dialog.Static(kCopyTimeLeftValue)->text(), "1 Min 40 Sec");
  EXPECT_EQ(dialog.Static(kCopyElapsedValue)->text(), "1 Min 40 Sec");
  EXPECT_EQ(dialog.FileBar().GetPos(), 60);
  EXPECT_EQ(dialog.OverallBar().GetPos(), 50);

  // Skip asks the copier to end the current file.
  QTest::mouseClick(&dialog.SkipButton(), Qt::LeftButton);
  EXPECT_EQ(g_SkipCurrentFile.load(), 1);

  // Hide Details hides the twelve statics and stops the texts.
  QTest::mouseClick(&dialog.DetailsButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.DetailsHidden());
  EXPECT_EQ(dialog.DetailsButton().text(), "Show Details");
  EXPECT_TRUE(dialog.Static(kCopyDataNameValue)->isHidden());
  EXPECT_FALSE(dialog.Static(DataCopyProgress::kHintId)->isHidden());
  QTest::mouseClick(&dialog.DetailsButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog.DetailsHidden());
  EXPECT_FALSE(dialog.Static(kCopyDataNameValue)->isHidden());
  ResetCopyTotals();
}

// The frame of the skin strip (four frames, below the images folder) that
// the button shows, pixel for pixel; -1 when it shows none of them.
int SkinFrameShown(CHoverButton& button, const char* strip) {
  const QImage skin = QImage(QStringLiteral(QM_BUILD_IMAGES_DIR) + QLatin1String(strip))
                          .convertToFormat(QImage::Format_RGB32);
  if (skin.isNull()) return -1;
  const int w = skin.width() / 4;
  const QImage shot = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
  if (shot.size() != QSize(w, skin.height())) return -1;
  for (int f = 0; f < 4; ++f)
    if (shot == skin.copy(f * w, 0, w, skin.height())) return f;
  return -1;
}

// Holds the copy's first write until the test lets it go, so the dialog is
// worked while its worker is surely running.
class GatedFile : public TargetFile {
 public:
  explicit GatedFile(std::atomic<bool>* open) : open_(open) {}
  bool Create(const std::string& path) override { return f_.open(path, File::Mode::CreateTruncate); }
  size_t Write(const void* d, size_t n) override {
    while (!open_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int64_t got = f_.writeAt(d, n, at_);
    at_ += static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
  bool Close() override { return f_.closeChecked(); }

 private:
  std::atomic<bool>* open_;
  File f_;
  uint64_t at_ = 0;
};

TEST_F(ProgressDialogTest, PauseAndDetailsWearTheirSkinAndSwapItWithTheirCaption) {
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat16"});
  ASSERT_TRUE(fat.ok()) << fat.skipReason;
  ASSERT_TRUE(test::HaveTools({"fls", "istat"})) << "sleuthkit is needed to catalogue the fixture";
  test::PresentImages present({fat.path("fat16.img")});
  SelectionModel model;
  ASSERT_TRUE(test::SelectWholeFat(fat.path("fat16.img"), u"FAT16", model));
  ResetCopyTotals();
  const std::string out = dir.file("out");
  g_RecoveryTargetFolder = out;
  std::atomic<bool> open{false};
  SetTargetFileFactory([&] { return std::make_unique<GatedFile>(&open); });

  // What each button wore at each step: the frame of its own strip, and of
  // the strip of its other caption.
  struct Worn {
    const char* step;
    int own = -1, other = -1;
  };
  std::vector<Worn> worn;
  auto look = [&](const char* step, CHoverButton& b, const char* own, const char* other) {
    worn.push_back({step, SkinFrameShown(b, own), SkinFrameShown(b, other)});
  };
  bool paused = false, hidden = false, shown = false, resumed = false, stayed = true;
  ActOnNext<DataCopyProgress>([&](DataCopyProgress* d) {
    CHoverButton& pause = d->PauseButton();
    CHoverButton& details = d->DetailsButton();
    const QPoint pauseAt = pause.pos(), detailsAt = details.pos();
    const char* P = DataCopyProgress::kPauseStrip;
    const char* R = DataCopyProgress::kResumeStrip;
    const char* H = DataCopyProgress::kHideDetailsStrip;
    const char* S = DataCopyProgress::kShowDetailsStrip;
    look("pause at the start", pause, P, R);
    look("hide details at the start", details, H, S);

    QTest::mouseClick(&pause, Qt::LeftButton);
    paused = pause.text() == "&Resume" && g_CopyJob.paused();
    look("resume", pause, R, P);
    QTest::mouseClick(&details, Qt::LeftButton);
    hidden = details.text() == "Show Details" && d->DetailsHidden() && d->Static(kCopyDataNameValue)->isHidden();
    look("show details", details, S, H);

    QTest::mouseClick(&details, Qt::LeftButton);
    shown = details.text() == "Hide Details" && !d->DetailsHidden() && !d->Static(kCopyDataNameValue)->isHidden();
    look("hide details again", details, H, S);
    QTest::mouseClick(&pause, Qt::LeftButton);
    resumed = pause.text() == "&Pause" && !g_CopyJob.paused();
    look("pause again", pause, P, R);
    stayed = pause.pos() == pauseAt && details.pos() == detailsAt;
    open = true;
  });
  {
    DataCopyProgress dialog(model);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  }
  SetTargetFileFactory(nullptr);

  // Each step shows a frame of the strip of its caption (normal, or hover
  // under the pointer), never one of the other strip.
  ASSERT_EQ(worn.size(), 6u);
  for (const Worn& w : worn) {
    SCOPED_TRACE(w.step);
    EXPECT_TRUE(w.own == CHoverButton::kNormalFrame || w.own == CHoverButton::kHoverFrame) << w.own;
    EXPECT_EQ(w.other, -1);
  }
  // The buttons keep their places and still do their work.
  EXPECT_TRUE(stayed);
  EXPECT_TRUE(paused);
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(resumed);
  ASSERT_FALSE(prompt_.messages.empty());
  EXPECT_EQ(prompt_.messages.back(), kSavingCompleted);
  EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/README.TXT"), test::FixtureContent("readme", 300)));
}

// A fixture copied through the dialog, left to finish or stopped with Esc.
class SlowFile : public TargetFile {
 public:
  bool Create(const std::string& path) override { return f_.open(path, File::Mode::CreateTruncate); }
  size_t Write(const void* d, size_t n) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int64_t got = f_.writeAt(d, n, at_);
    at_ += static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
  bool Close() override { return f_.closeChecked(); }
  File f_;
  uint64_t at_ = 0;
};

TEST_F(ProgressDialogTest, RunsTheCopyAndClosesOrStopsOnEscape) {
  QM_REQUIRE_TOOLS("fls", "istat");
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(fat);
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped" : "finished");
    test::FreshState();
    UseSkin();
    test::PresentImages present({fat.path("fat16.img")});
    SelectionModel model;
    ASSERT_TRUE(test::SelectWholeFat(fat.path("fat16.img"), u"FAT16", model));
    const std::string out = dir.file(stop ? "stopped" : "finished");
    ResetCopyTotals();
    g_RecoveryTargetFolder = out;
    prompt_.messages.clear();
    prompt_.answers = {IDOK};
    if (stop) {
      SetTargetFileFactory([] { return std::make_unique<SlowFile>(); });
      ActOnNext<DataCopyProgress>([](DataCopyProgress* d) { QTest::keyClick(d, Qt::Key_Escape); });
    }
    {
      DataCopyProgress dialog(model);
      EXPECT_EQ(dialog.DoModal(), IDCANCEL);
      EXPECT_FALSE(dialog.WorkerRunning());
      EXPECT_EQ(dialog.TargetFolder(), out);
    }
    SetTargetFileFactory(nullptr);
    EXPECT_EQ(g_CopyProgressDlg.load(), nullptr);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    if (stop) {
      EXPECT_EQ(prompt_.questions.back(), u"Do you want to stop this process. This may give you incomplete data.");
      EXPECT_EQ(prompt_.messages[0], kSavingAborted);
      EXPECT_LT(g_CopiedBytes.load(), model.selectedBytes.load());
    } else {
      EXPECT_EQ(prompt_.messages[0], kSavingCompleted);
      EXPECT_TRUE(test::SameBytes(test::FileBytes(out + "/README.TXT"), test::FixtureContent("readme", 300)));
    }
  }
}

}  // namespace
}  // namespace qm
