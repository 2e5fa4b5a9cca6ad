#pragma once
// The prompt of the running program: every question and message runs on
// the GUI thread. A worker that asks waits until the user has answered
// (Qt::BlockingQueuedConnection); on the GUI thread the dialog runs at once.
// The GUI thread must therefore never wait for a worker without running its
// event loop.
#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <functional>

#include "platform/prompt.h"

namespace qm {

class QtPrompt : public Prompt {
 public:
  int ViewMsgBox(std::u16string_view text) override;
  int ViewQuestionMsg(std::u16string_view text) override;
  int BadSectorChoice() override;
  int CopyErrorChoice(std::u16string_view path) override;
  int CopyErrorChoiceFor(std::u16string_view path, int cause) override;
  int FileReplaceChoice(std::u16string_view path) override;
  std::optional<std::string> ChooseFolder(std::u16string_view title) override;
  std::optional<std::string> SaveFilePath(std::u16string_view title, std::u16string_view filter) override;
  void FatalMessage(std::u16string_view text, std::u16string_view caption) override;
};

// Runs fn on the GUI thread and returns its result; without an application
// object (nothing can be shown) returns fallback.
template <typename R>
R RunOnGuiThread(const std::function<R()>& fn, R fallback) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return fallback;
  if (QThread::currentThread() == app->thread()) return fn();
  R result = fallback;
  // Qt's queue hands the call over and back under its own lock, which a
  // thread checker cannot see; the stores state the same order where it can.
  std::atomic<int> handOver{0};
  handOver.store(1, std::memory_order_release);
  QMetaObject::invokeMethod(
      app,
      [&] {
        handOver.load(std::memory_order_acquire);
        result = fn();
        handOver.store(2, std::memory_order_release);
      },
      Qt::BlockingQueuedConnection);
  handOver.load(std::memory_order_acquire);
  return result;
}

// "Description|pattern|Description|pattern|" (the program's filter texts) to
// Qt's "Description (pattern);;..." form; a text without '|' is kept.
QString QtFileFilter(std::u16string_view filter);

}  // namespace qm
