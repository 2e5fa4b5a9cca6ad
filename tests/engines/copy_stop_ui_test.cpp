// Stop pressed in the copy progress dialog just as the copy ends: the stop
// question and the end of the walk must agree on one outcome with one
// message, never a success message under the question.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "copy_test_util.h"
#include "engines/copy_progress_dialog_ui.h"
#include "engines/file_copiers.h"
#include "platform/file.h"
#include "support/fakes.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Answers the stop question only after the worker has had time to reach the
// end of its walk.
class SlowAnswer : public test::ScriptedPrompt {
 public:
  int ViewQuestionMsg(std::u16string_view text) override {
    asked = true;
    std::this_thread::sleep_for(150ms);
    return ScriptedPrompt::ViewQuestionMsg(text);
  }
  std::atomic<bool> asked{false};
};

// The last file's close waits until the stop question is open, so the
// question is asked after the walk's last checkpoint.
class LastFileWaits : public TargetFile {
 public:
  LastFileWaits(std::atomic<int>& closes, int files, std::atomic<bool>& lastClosing, SlowAnswer& prompt)
      : closes_(closes), files_(files), lastClosing_(lastClosing), prompt_(prompt) {}
  bool Create(const std::string& path) override { return f_.open(path, File::Mode::CreateTruncate); }
  size_t Write(const void* d, size_t n) override {
    const int64_t got = f_.writeAt(d, n, at_);
    at_ += static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
  bool Close() override {
    if (closes_.fetch_add(1) + 1 == files_) {
      lastClosing_ = true;
      for (int i = 0; i < 400 && !prompt_.asked.load(); ++i) std::this_thread::sleep_for(5ms);
    }
    return f_.closeChecked();
  }

 private:
  std::atomic<int>& closes_;
  int files_;
  std::atomic<bool>& lastClosing_;
  SlowAnswer& prompt_;
  File f_;
  uint64_t at_ = 0;
};

TEST(CopyProgressStop, StopAtTheVeryEndHasOneOutcomeAndOneMessage) {
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(fat);
  test::FreshState();
  ResetAppState();
  g_AppState.imagesFolder = QM_BUILD_IMAGES_DIR;
  SlowAnswer prompt;
  SetPrompt(&prompt);
  prompt.answers = {IDOK};
  test::PresentImages present({fat.path("fat16.img")});
  SelectionModel model;
  ASSERT_TRUE(test::SelectWholeFat(fat.path("fat16.img"), u"FAT16", model));
  ASSERT_GT(model.selectedFileCount.load(), 0);
  ResetCopyTotals();
  g_RecoveryTargetFolder = dir.file("out");

  std::atomic<int> closes{0};
  std::atomic<bool> lastClosing{false};
  const int files = static_cast<int>(model.selectedFileCount.load());
  SetTargetFileFactory(
      [&] { return std::make_unique<LastFileWaits>(closes, files, lastClosing, prompt); });
  bool clicked = false;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* d = qobject_cast<DataCopyProgress*>(QApplication::activeModalWidget());
    if (!d || clicked || !lastClosing.load()) return;
    clicked = true;
    QTest::mouseClick(&d->StopButton(), Qt::LeftButton);
  });
  poll.start();
  {
    DataCopyProgress dialog(model);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(dialog.WorkerRunning());
  }
  poll.stop();
  SetTargetFileFactory(nullptr);
  SetPrompt(nullptr);

  EXPECT_TRUE(clicked);
  EXPECT_TRUE(prompt.asked.load());
  std::lock_guard lock(prompt.m);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], kSavingAborted);
  test::FreshState();
}

}  // namespace
}  // namespace qm
