#include "diskio/bad_sector_dialog_ui.h"

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "state/app_state.h"
#include "app/qt_prompt.h"
#include "diskio/sector_io.h"
#include "diskio_test_util.h"
#include "platform/prompt.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

enum class Action { Retry, RetryAll, Skip, SkipAll, Escape, CloseBox };

struct Seen {
  bool shown = false;
  bool onGuiThread = false;
  QString title;
};

// Answers the next bad-sector dialog from inside its modal loop. The timer
// deletes itself once it has answered.
QTimer* AnswerNextDialog(Action action, Seen* seen) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, action, seen] {
    auto* d = qobject_cast<SectorsBadStatusAction*>(QApplication::activeModalWidget());
    if (!d) return;
    timer->stop();
    timer->deleteLater();
    seen->shown = true;
    seen->onGuiThread = QThread::currentThread() == qApp->thread();
    seen->title = d->windowTitle();
    switch (action) {
      case Action::Retry: QTest::mouseClick(&d->RetryButton(), Qt::LeftButton); break;
      case Action::RetryAll: QTest::mouseClick(&d->RetryAllButton(), Qt::LeftButton); break;
      case Action::Skip: QTest::mouseClick(&d->SkipButton(), Qt::LeftButton); break;
      case Action::SkipAll: QTest::mouseClick(&d->SkipAllButton(), Qt::LeftButton); break;
      case Action::Escape: QTest::keyClick(d, Qt::Key_Escape); break;
      case Action::CloseBox: d->close(); break;
    }
  });
  timer->start();
  return timer;
}

void UseSkin(bool present) {
  ResetAppState();
  g_AppState.windowTitle = u"Morva Data Recovery Wizard - Deleted Data Recovery";
  g_AppState.imagesFolder = present ? QM_BUILD_IMAGES_DIR : "/nonexistent/images";
  g_BadSectorChoice = 0;
}

TEST(BadSectorDialog, TextsLayoutAndSkin) {
  UseSkin(true);
  SectorsBadStatusAction dialog;
  Seen seen;
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, &dialog] {
    if (QApplication::activeModalWidget() != &dialog) return;
    timer->stop();
    timer->deleteLater();
    dialog.grab().toImage().save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/bad-sector-dialog.png", "PNG");
    dialog.reject();
  });
  timer->start();
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);

  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Morva Data Recovery Wizard - Deleted Data Recovery"));
  EXPECT_TRUE(dialog.MessageLabel().text().startsWith(QStringLiteral(
      "Error found while reading sector. This may be due to bad sectors. Please choose appropriate action.")));
  EXPECT_EQ(dialog.MessageLabel().TemplateStyle(), kSsRight);
  EXPECT_EQ(dialog.MessageLabel().KeptFont().family(), QStringLiteral("Arial"));
  EXPECT_TRUE(dialog.MessageLabel().KeptFont().bold());
  EXPECT_TRUE(dialog.MessageLabel().Transparent());
  EXPECT_FALSE(dialog.Picture().pixmap().isNull());

  CHoverButton* buttons[] = {&dialog.RetryButton(), &dialog.RetryAllButton(), &dialog.SkipButton(),
                             &dialog.SkipAllButton()};
  const char* captions[] = {"&Retry", "Retry &All", "&Skip", "S&kip All"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(buttons[i]->text(), QString::fromLatin1(captions[i]));
    EXPECT_TRUE(buttons[i]->HasStrip()) << captions[i];
    // One column right of the message, top to bottom in the template's order.
    EXPECT_GT(buttons[i]->x(), dialog.MessageLabel().geometry().right());
    if (i > 0) {
      EXPECT_GT(buttons[i]->y(), buttons[i - 1]->y());
    }
    EXPECT_LE(buttons[i]->geometry().right(), dialog.width());
  }
  EXPECT_LT(dialog.Picture().x(), dialog.MessageLabel().x());
}

TEST(BadSectorDialog, ButtonsSetTheChoiceAndClosingKeepsIt) {
  struct Case {
    Action action;
    int before, after;
    int result;
  };
  for (bool skin : {true, false}) {
    for (const Case& c : {Case{Action::Retry, 3, 0, IDOK}, Case{Action::RetryAll, 0, 2, IDOK},
                          Case{Action::Skip, 0, 1, IDOK}, Case{Action::SkipAll, 0, 3, IDOK},
                          Case{Action::CloseBox, 0, 0, IDCANCEL}, Case{Action::Escape, 1, 1, IDCANCEL}}) {
      SCOPED_TRACE(::testing::Message() << "skin " << skin << " action " << static_cast<int>(c.action));
      UseSkin(skin);
      g_BadSectorChoice = c.before;
      Seen seen;
      AnswerNextDialog(c.action, &seen);
      SectorsBadStatusAction dialog;
      EXPECT_EQ(dialog.DoModal(), c.result);
      EXPECT_EQ(g_BadSectorChoice, c.after);
      EXPECT_EQ(dialog.RetryButton().HasStrip(), skin);
    }
  }
}

// A worker meets bad sectors: the question runs on the GUI thread through
// the prompt, and the answer steers the reader.
TEST(BadSectorDialog, WorkerReadAskedThroughThePrompt) {
  test::TempDir dir;
  const std::string disk = dir.file("disk.img");
  test::WritePattern(disk, 0, 200);
  test::DisksScope disks(disk);
  std::set<uint64_t> dead{3, 45, 90};
  SetDeviceReadHook([&](File& f, void* buf, size_t n, uint64_t off) -> int64_t {
    for (uint64_t s = off / 512; s < (off + n) / 512; ++s)
      if (dead.count(s)) return -1;
    return f.readAt(buf, n, off);
  });
  QtPrompt prompt;
  SetPrompt(&prompt);

  struct Case {
    Action action;
    int dialogs;  // how many questions 120 sectors with three bad chunks raise
    bool retried;
  };
  for (const Case& c : {Case{Action::Retry, 3, true}, Case{Action::RetryAll, 1, true},
                        Case{Action::SkipAll, 1, false}, Case{Action::CloseBox, 3, true}}) {
    SCOPED_TRACE(static_cast<int>(c.action));
    UseSkin(true);
    std::atomic<bool> done{false};
    int result = -1;
    std::vector<uint8_t> buf(120 * 512, 0xCC);
    // One watcher answers every dialog that comes up until the read is over.
    int shown = 0;
    QTimer watcher;
    watcher.setInterval(2);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      auto* d = qobject_cast<SectorsBadStatusAction*>(QApplication::activeModalWidget());
      if (!d || !d->isVisible()) return;
      ++shown;
      EXPECT_EQ(d->windowTitle(), QStringLiteral("Morva Data Recovery Wizard - Deleted Data Recovery"));
      if (c.action == Action::CloseBox)
        d->close();
      else
        QTest::mouseClick(c.action == Action::Retry      ? &d->RetryButton()
                          : c.action == Action::RetryAll ? &d->RetryAllButton()
                                                         : &d->SkipAllButton(),
                          Qt::LeftButton);
    });
    watcher.start();
    std::thread worker([&] {
      result = ReadSectors("\\\\.\\PhysicalDrive0", 0, 120, buf.data());
      done = true;
    });
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown, c.dialogs);
    const auto want = test::PatternSectors(0, 120, 512);
    EXPECT_EQ(std::memcmp(buf.data() + 10 * 512, want.data() + 10 * 512, 512) == 0, c.retried);
  }
  SetPrompt(nullptr);
  SetDeviceReadHook({});
}

}  // namespace
}  // namespace qm
