#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "state/app_state.h"
#include "app/message_dialogs.h"
#include "app/page_base.h"
#include "app/qt_prompt.h"
#include "app/startup.h"

namespace qm {
namespace {

enum class Action { Ok, Yes, No, Escape, CloseBox };

struct Seen {
  bool onGuiThread = false;
  QString title, text;
  bool skinned = false;
  int labelPoints = 0;
};

// Waits (on the GUI thread, inside whatever modal loop runs) for a message
// dialog, records what it shows and answers it.
void AnswerNextDialog(Action action, Seen* seen) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, action, seen] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer->stop();
    timer->deleteLater();
    seen->onGuiThread = QThread::currentThread() == qApp->thread() && w->thread() == qApp->thread();
    seen->title = w->windowTitle();
    CHoverButton* accept = nullptr;
    CHoverButton* refuse = nullptr;
    if (auto* box = qobject_cast<ViewMsgBox*>(w)) {
      seen->text = box->MessageLabel().text();
      seen->skinned = box->OkButton().HasStrip();
      seen->labelPoints = box->MessageLabel().KeptFont().pointSize();
      accept = &box->OkButton();
    } else if (auto* q = qobject_cast<ViewQuestionMsg*>(w)) {
      seen->text = q->QuestionLabel().text();
      seen->skinned = q->YesButton().HasStrip() && q->NoButton().HasStrip();
      seen->labelPoints = q->QuestionLabel().KeptFont().pointSize();
      accept = &q->YesButton();
      refuse = &q->NoButton();
    }
    switch (action) {
      case Action::Ok:
      case Action::Yes: QTest::mouseClick(accept, Qt::LeftButton); break;
      case Action::No: QTest::mouseClick(refuse, Qt::LeftButton); break;
      case Action::Escape: QTest::keyClick(w, Qt::Key_Escape); break;
      case Action::CloseBox: w->close(); break;
    }
  });
  timer->start();
}

// Runs ask on a worker thread while the GUI thread keeps its loop running.
int AskFromWorker(const std::function<int()>& ask) {
  std::atomic<bool> done{false};
  int result = -1;
  std::thread worker([&] {
    result = ask();
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  return result;
}

TEST(MessageDialogs, RunOnTheGuiThreadAndReturnTheAnswer) {
  ResetAppState();
  LoadStartupSettings();
  g_AppState.windowTitle = u"Morva Data Recovery Wizard - Deleted Data Recovery";
  QtPrompt prompt;
  struct Case {
    bool question;
    bool fromWorker;
    Action action;
    int expected;
  };
  const Case cases[] = {
      {false, true, Action::Ok, IDOK},          {false, true, Action::Escape, IDCANCEL},
      {false, true, Action::CloseBox, IDCANCEL}, {true, true, Action::Yes, IDOK},
      {true, true, Action::No, IDCANCEL},        {true, true, Action::Escape, IDCANCEL},
      {true, true, Action::CloseBox, IDCANCEL},  {true, false, Action::Yes, IDOK},
      {false, false, Action::Ok, IDOK},
  };
  const std::u16string text = u"Switching to Formatted data recovery for Lost files && folders.";
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "question " << c.question << " worker " << c.fromWorker << " action "
                                      << static_cast<int>(c.action));
    Seen seen;
    AnswerNextDialog(c.action, &seen);
    auto ask = [&] { return c.question ? prompt.ViewQuestionMsg(text) : prompt.ViewMsgBox(text); };
    const int result = c.fromWorker ? AskFromWorker(ask) : ask();
    EXPECT_EQ(result, c.expected);
    EXPECT_TRUE(seen.onGuiThread);
    EXPECT_EQ(seen.title, QStringLiteral("Morva Data Recovery Wizard - Deleted Data Recovery"));
    EXPECT_EQ(seen.text, QString::fromStdU16String(text));
    EXPECT_TRUE(seen.skinned);
    EXPECT_EQ(seen.labelPoints, ScaledPoints(9, ScreenPageGeometry().vFactor));
  }
}

TEST(MessageDialogs, GrabbedForALook) {
  ResetAppState();
  LoadStartupSettings();
  ViewQuestionMsg question;
  question.m_question = QStringLiteral("Do you want to exit.");
  Seen seen;
  // Grab while it is up, then answer.
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer] {
    auto* q = qobject_cast<ViewQuestionMsg*>(QApplication::activeModalWidget());
    if (!q) return;
    timer->stop();
    timer->deleteLater();
    q->grab().toImage().save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/question-dialog.png", "PNG");
    q->reject();
  });
  timer->start();
  EXPECT_EQ(question.DoModal(), IDCANCEL);

  ViewMsgBox empty;  // an empty message still closes with OK
  AnswerNextDialog(Action::Ok, &seen);
  EXPECT_EQ(empty.DoModal(), IDOK);
  EXPECT_TRUE(seen.text.isEmpty());
}

TEST(MessageDialogs, FileFilterTexts) {
  EXPECT_EQ(QtFileFilter(u"Scan Log (*.qmlg)|*.qmlg|"), QStringLiteral("Scan Log (*.qmlg)"));
  EXPECT_EQ(QtFileFilter(u"Log Files|*.qmlg;*.log|All Files|*.*|"),
            QStringLiteral("Log Files (*.qmlg *.log);;All Files (*.*)"));
  EXPECT_EQ(QtFileFilter(u"Images (*.png)"), QStringLiteral("Images (*.png)"));
}

}  // namespace
}  // namespace qm
