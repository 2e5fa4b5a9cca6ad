// The wizard end to end, driven as a user drives it: mouse clicks and key
// presses on the real pages and the program's own message dialogs, with FAT
// images presented as the machine's volumes. A script waits for what the
// user would see next (a page or a dialog) and then acts on it; a step that
// never comes fails the test, and the pages are unwound instead of hanging.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/device_tree.h"
#include "app/message_dialogs.h"
#include "app/mode_page.h"
#include "app/page_chain.h"
#include "app/qt_prompt.h"
#include "app/scan_page.h"
#include "app/setup_pages.h"
#include "app/startup.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/scan_log.h"
#include "results/data_copy_path_ui.h"
#include "results/results_page_ui.h"
#include "results/results_tree_ui.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The visible window of type W (optionally the one that passes a test).
template <typename W>
W* Shown(const std::function<bool(W*)>& also = {}) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<W*>(w);
    if (d && d->isVisible() && (!also || also(d))) return d;
  }
  return nullptr;
}

ViewMsgBox* Message(const QString& text) {
  return Shown<ViewMsgBox>([&](ViewMsgBox* m) { return m->MessageLabel().text() == text; });
}
ViewQuestionMsg* Question(const QString& text) {
  return Shown<ViewQuestionMsg>([&](ViewQuestionMsg* q) { return q->QuestionLabel().text() == text; });
}

// A user's act runs from its own timer: the page it opens may run a modal
// loop of its own, and the script must go on ticking inside it.
void Later(QWidget* target, std::function<void()> act) { QTimer::singleShot(0, target, std::move(act)); }
void Click(QAbstractButton* b) {
  Later(b, [b] { QTest::mouseClick(b, Qt::LeftButton); });
}
void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  tree->scrollToItem(item);
  Later(tree, [tree, item] {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  });
}

CHoverButton* ButtonNamed(QWidget* page, const QString& text) {
  for (CHoverButton* b : page->findChildren<CHoverButton*>())
    if (b->text() == text && b->isVisible()) return b;
  return nullptr;
}

QTreeWidgetItem* VolumeItem(DeletedFilesRecovery* page, const QString& label) {
  QTreeWidget* tree = page->Tree();
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->text(0).startsWith(label + QStringLiteral(" ("))) return *it;
  return nullptr;
}

// Steps run in order; each returns true once it has found what it waits
// for and acted. A step that does not come within its time fails the test
// and unwinds every page.
class Script {
 public:
  void Step(std::string name, std::function<bool()> act, std::chrono::milliseconds limit = 20s) {
    steps_.push_back({std::move(name), std::move(act), limit});
  }

  // Runs the first page modally under the script; true when every step came.
  bool Run(QDialog& first, const std::function<void()>& open) {
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] { Tick(first); });
    stepStart_ = Clock::now();
    tick.start();
    open();
    tick.stop();
    return !failed_ && next_ == steps_.size();
  }

 private:
  struct Entry {
    std::string name;
    std::function<bool()> act;
    std::chrono::milliseconds limit;
  };

  void Tick(QDialog& first) {
    if (failed_) {
      Unwind(first);
      return;
    }
    if (next_ == steps_.size()) return;
    if (steps_[next_].act()) {
      ++next_;
      stepStart_ = Clock::now();
      if (next_ == steps_.size()) Later(&first, [&first] { EndPage(first, QDialog::Accepted); });
      return;
    }
    if (Clock::now() - stepStart_ > steps_[next_].limit) {
      ADD_FAILURE() << "never came: " << steps_[next_].name;
      failed_ = true;
    }
  }

  // Ends every page and dialog, innermost first as their loops return, and
  // lets a scan worker that waits for ever go.
  static void Unwind(QDialog& first) {
    if (g_AppState.scanPage) {
      g_AppState.scanPage->job.requestStop();
      for (int i = 0; i < 4; ++i) g_AppState.scanPage->job.resume();
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<QDialog*>(w);
      if (d && d != &first) EndPage(*d, QDialog::Rejected);
    }
    EndPage(first, QDialog::Rejected);
  }

  std::vector<Entry> steps_;
  size_t next_ = 0;
  bool failed_ = false;
  Clock::time_point stepStart_;
};

class WizardFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCatalog();
    ResetAppState();
    LoadStartupSettings();
    SetPrompt(&prompt_);
    InstallDevicePageRunner();
    InstallSetupPageRunners();
    InstallResultsPageRunner();
  }
  void TearDown() override {
    SetPageRunner(PageHook::kDevicePage, {});
    SetPageRunner(PageHook::kResultsPage, {});
    SetPrompt(nullptr);
    ClearCatalog();
  }

  // The steps from the mode page's button to a device page whose tree is filled.
  void ToDevicePage(Script& s, CRecoveryMode& mode, int button) {
    s.Step("mode page", [&mode, button] {
      if (!mode.isVisible()) return false;
      Click(mode.ModeButton(button));
      return true;
    });
    s.Step("device page", [] {
      auto* d = Shown<DeletedFilesRecovery>();
      return d && d->TreeFilled();
    });
  }

  // Chooses a volume by its label and presses Next.
  void ScanVolume(Script& s, const QString& label) {
    s.Step("volume " + label.toStdString(), [label] {
      auto* d = Shown<DeletedFilesRecovery>();
      QTreeWidgetItem* item = d ? VolumeItem(d, label) : nullptr;
      if (!item) return false;
      ClickItem(d->Tree(), item);
      return true;
    });
    s.Step("chosen " + label.toStdString(), [label] {
      auto* d = Shown<DeletedFilesRecovery>();
      if (!d || !QString::fromStdU16String(g_SelectedItemText).startsWith(label)) return false;
      Click(d->NextButton());
      return true;
    });
  }

  // Answers a question of the program with Yes.
  static void Yes(Script& s, const QString& question) {
    s.Step("question " + question.toStdString(), [question] {
      ViewQuestionMsg* q = Question(question);
      if (!q) return false;
      Click(&q->YesButton());
      return true;
    });
  }
  static void Ok(Script& s, const QString& message, std::chrono::milliseconds limit = 20s) {
    s.Step(
        "message " + message.toStdString(),
        [message] {
          ViewMsgBox* m = Message(message);
          if (!m) return false;
          Click(&m->OkButton());
          return true;
        },
        limit);
  }

  // The results page of a quick scan: its hint answered, its tree built.
  void ResultsShown(Script& s, const std::u16string& fileSystem) {
    Ok(s, QString::fromUtf16(kFormattedHint));
    s.Step("results of " + QString::fromStdU16String(fileSystem).toStdString(), [fileSystem] {
      auto* r = Shown<ViewDataInControls>();
      return r && g_AppState.scanFileSystem == fileSystem && r->Tree().RootItem() &&
             r->Tree().RootItem()->childCount() > 0;
    });
  }

  void BackToDevicePage(Script& s) {
    s.Step("results back", [] {
      auto* r = Shown<ViewDataInControls>();
      CHoverButton* back = r ? ButtonNamed(r, QStringLiteral("Back")) : nullptr;
      if (!back || Shown<DataCopyPath>()) return false;
      Click(back);
      return true;
    });
    Yes(s, QStringLiteral("Do you want to go back to Previous Step."));
    s.Step("device page again", [] { return Shown<DeletedFilesRecovery>() != nullptr; });
  }

  void BackToModePage(Script& s, CRecoveryMode& mode) {
    s.Step("device back", [] {
      auto* d = Shown<DeletedFilesRecovery>();
      if (!d) return false;
      Click(d->BackButton());
      return true;
    });
    s.Step("mode page again", [&mode] { return mode.isVisible(); });
  }

  QtPrompt prompt_;
};

// Recover from one volume, go back, scan another: the pages come back in
// order and the second volume's results show.
TEST_F(WizardFlowTest, RecoverThenBackThenScanAnotherVolume) {
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat16", "fat32"});
  QM_REQUIRE_FIXTURE(fat);
  test::PresentImages present({}, {fat.path("fat16.img"), fat.path("fat32.img")});
  const std::string out = dir.file("recovered");

  Script s;
  CRecoveryMode mode;
  ToDevicePage(s, mode, kDeletedModeButton);
  ScanVolume(s, QStringLiteral("FIXFAT16"));
  ResultsShown(s, u"FAT16");
  s.Step("tick everything", [] {
    auto* r = Shown<ViewDataInControls>();
    if (!r || Shown<ViewMsgBox>()) return false;
    CResultsTreeCtrl* tree = &r->Tree();
    tree->setFocus();
    tree->setCurrentItem(tree->RootItem());
    Later(tree, [tree] { QTest::keyClick(tree, Qt::Key_Space); });
    return true;
  });
  s.Step("save", [] {
    auto* r = Shown<ViewDataInControls>();
    if (!r || r->Tree().RootItem()->checkState(0) != Qt::Checked) return false;
    Click(ButtonNamed(r, QStringLiteral("Save")));
    return true;
  });
  s.Step("target folder", [&out] {
    auto* p = Shown<DataCopyPath>();
    if (!p) return false;
    QLineEdit* edit = &p->PathEdit();
    CHoverButton* ok = &p->OkButton();
    Later(p, [edit, ok, out] {
      QTest::keyClicks(edit, QString::fromStdString(out));
      QTest::mouseClick(ok, Qt::LeftButton);
    });
    return true;
  });
  Ok(s, QString::fromUtf16(kSavingCompleted.data(), kSavingCompleted.size()), 60s);
  BackToDevicePage(s);
  ScanVolume(s, QStringLiteral("FIXFAT32"));
  ResultsShown(s, u"FAT32");
  BackToDevicePage(s);
  BackToModePage(s, mode);

  EXPECT_TRUE(s.Run(mode, [&] { mode.DoModal(); }));
  EXPECT_EQ(test::ReadText(out + "/README.TXT"), test::FixtureContent("readme", 300));
  EXPECT_EQ(g_AppState.workerThread, nullptr);
}

// Back during the first step of a formatted scan, answered Yes: the worker
// goes and the device page comes back.
TEST_F(WizardFlowTest, BackDuringTheFirstStepOfAFormattedScan) {
  test::TempDir dir;
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd", "truncate");
  // Large and mostly empty (sparse): the folder-signature search of step 1
  // reads every cluster, long enough to press Back during it. The files in
  // the root and a folder give the later steps entries to insert.
  const std::string image = dir.file("big.img");
  const std::string q = test::ShellQuote(image);
  const std::string note = test::ShellQuote(dir.file("note.txt"));
  ASSERT_EQ(test::Run("truncate -s 8G " + q + " && mkfs.fat -F 32 -s 8 -n BIGFAT32 " + q + " >/dev/null && echo kept >" +
                      note + " && mcopy -i " + q + " " + note + " ::/A.TXT && mcopy -i " + q + " " + note +
                      " ::/B.TXT && mmd -i " + q + " ::/DIR && mcopy -i " + q + " " + note + " ::/DIR/C.TXT"),
            0);
  test::PresentImages present({}, {image});
  const QString step1 = QString::fromUtf16(kLostFolderStep1Text.data(), kLostFolderStep1Text.size());

  Script s;
  CRecoveryMode mode;
  ToDevicePage(s, mode, kFormattedModeButton);
  ScanVolume(s, QStringLiteral("BIGFAT32"));
  s.Step("scan page in step 1", [step1] {
    auto* p = Shown<RecoveryAnalysis>();
    if (!p || p->statusLine->text() != step1) return false;
    Click(p->backButton);
    return true;
  });
  Yes(s, QStringLiteral("Do you want to go back to Previous Step."));
  s.Step("device page again", [] { return Shown<DeletedFilesRecovery>() != nullptr; });
  BackToModePage(s, mode);

  EXPECT_TRUE(s.Run(mode, [&] { mode.DoModal(); }));
  EXPECT_EQ(g_AppState.folderCount, 0);
  EXPECT_EQ(g_AppState.workerThread, nullptr);
}

// Back answered Yes while Save Log writes a large catalogue: the page's
// freeing of the catalogue waits for the writer, so nothing crashes or
// hangs, the device page comes back, and the log under its final name is
// the whole log (or, had the save failed, not there at all).
TEST_F(WizardFlowTest, BackWhileSaveLogWritesALargeCatalogue) {
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(fat);
  test::PresentImages present({}, {fat.path("fat16.img")});
  const std::string expected = dir.file("expected.qmlg");
  const std::string saved = dir.file("saved.qmlg");
  auto partOfSaved = [&dir] {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().filename().string().rfind("saved.qmlg.part", 0) == 0) return e.file_size() > 0;
    return false;
  };
  bool writerMet = false;

  Script s;
  CRecoveryMode mode;
  ToDevicePage(s, mode, kDeletedModeButton);
  ScanVolume(s, QStringLiteral("FIXFAT16"));
  ResultsShown(s, u"FAT16");
  s.Step("a large catalogue, then Save Log", [&expected] {
    auto* r = Shown<ViewDataInControls>();
    if (!r || Shown<ViewMsgBox>()) return false;
    // Enough records that the writer is still in its walk when Back's
    // question has been answered.
    for (uint32_t i = 0; i < 400000; ++i)
      InsertFileRecord("", u"a file found by the scan", 'y', 10, kLostFolderKey, i + 100, 0, {});
    if (!WriteScanLog(expected, ScanLogOrigin::ResultsPage)) ADD_FAILURE() << "the reference log was not written";
    Click(r->ToolbarButton(kToolSaveLog));
    return true;
  });
  s.Step("log path", [&saved] {
    auto* d = Shown<QFileDialog>();
    auto* edit = d ? d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    if (!edit) return false;
    Later(d, [edit, saved] {
      QTest::keyClicks(edit, QString::fromStdString(saved));
      QTest::keyClick(edit, Qt::Key_Return);
    });
    return true;
  });
  s.Step("results back while the writer walks", [&partOfSaved] {
    auto* r = Shown<ViewDataInControls>();
    if (!r || Shown<QFileDialog>() || !partOfSaved()) return false;
    Click(ButtonNamed(r, QStringLiteral("Back")));
    return true;
  });
  s.Step("question answered while the writer walks", [&writerMet] {
    ViewQuestionMsg* q = Question(QStringLiteral("Do you want to go back to Previous Step."));
    if (!q) return false;
    writerMet = ScanLogWriterRunning();
    Click(&q->YesButton());
    return true;
  });
  s.Step("device page again", [] { return Shown<DeletedFilesRecovery>() != nullptr; }, 60s);
  BackToModePage(s, mode);

  EXPECT_TRUE(s.Run(mode, [&] { mode.DoModal(); }));
  WaitForScanLogWriter();
  EXPECT_TRUE(writerMet) << "Back did not meet the writer at work";
  EXPECT_EQ(g_AppState.fileCount, 0);
  EXPECT_EQ(AllFiles().begin(), AllFiles().end());
  if (std::filesystem::exists(saved)) {
    std::ifstream a(saved, std::ios::binary), b(expected, std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(a), {}};
    const std::string want{std::istreambuf_iterator<char>(b), {}};
    EXPECT_GT(want.size(), 400000u);
    EXPECT_TRUE(got == want) << "the saved log is not the whole log: " << got.size() << " of " << want.size()
                             << " bytes";
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace qm
