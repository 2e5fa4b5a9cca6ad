#include "results/data_copy_path_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "state/app_state.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "engines/catalog.h"
#include "engines/selection_model.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class DataCopyPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    ClearCatalog();
    DataCopyPath::SetEvaluationRunner([this](SelectionModel& tree) {
      ++evaluations;
      tree.selectedFileCount = count;
      tree.selectedBytes = bytes;
      return IDOK;
    });
    DataCopyPath::SetProgressRunner([this](SelectionModel&) {
      ++copies;
      return IDCANCEL;
    });
  }
  void TearDown() override {
    DataCopyPath::SetEvaluationRunner({});
    DataCopyPath::SetProgressRunner({});
    ClearCatalog();
  }

  SelectionModel tree;
  test::TempDir dir;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  int count = 1;
  uint64_t bytes = 10;
  int evaluations = 0;
  int copies = 0;
};

// What OK leads to: -1 the dialog stays, else its result.
int PressOk(DataCopyPath& dlg, const std::string& path) {
  dlg.PathEdit().setText(QString::fromStdString(path));
  dlg.setResult(-1);
  dlg.AcceptRecoveryPath();
  return dlg.result();
}

TEST_F(DataCopyPathTest, OkOutcomes) {
  std::ofstream(dir.file("plain")) << "x";
  struct Case {
    const char* name;
    std::string path;
    int rawPage;
    int count;
    uint64_t bytes;
    std::deque<int> answers;
    int result;
    std::u16string message;
    int evaluations, copies;
    bool targetSet;
  };
  const uint64_t huge = 1ull << 62;
  const std::vector<Case> cases = {
      {"empty path", "", 0, 1, 10, {}, -1, u"Please select Data Recovery path.", 0, 0, false},
      {"a level is a file", dir.file("plain/sub"), 0, 1, 10, {}, -1, u"Please select Data Recovery path.", 0, 0, false},
      {"raw recovery only records", dir.file("Out/New"), 6, 1, 10, {}, QDialog::Accepted, u"", 0, 0, true},
      {"nothing selected closes", dir.file("Out"), 0, 0, 0, {}, QDialog::Rejected,
       u"You have not selected any file/folder.", 1, 0, false},
      {"space question No stays", dir.file("Out"), 0, 1, huge, {IDCANCEL}, -1, u"", 1, 0, false},
      {"space question Yes copies", dir.file("Out"), 0, 1, huge, {IDOK}, QDialog::Accepted, u"", 1, 1, true},
      {"enough space copies", dir.file("Out"), 0, 3, 10, {}, QDialog::Accepted, u"", 1, 1, true},
  };
  for (const Case& c : cases) {
    g_AppState.rawRecoveryPage = c.rawPage;
    g_RecoveryTargetFolder.clear();
    count = c.count;
    bytes = c.bytes;
    evaluations = copies = 0;
    prompt.messages.clear();
    prompt.questions.clear();
    prompt.answers = c.answers;
    DataCopyPath dlg(&tree);
    EXPECT_EQ(PressOk(dlg, c.path), c.result) << c.name;
    EXPECT_EQ(prompt.messages.empty() ? u"" : prompt.messages[0], c.message) << c.name;
    EXPECT_EQ(prompt.questions.size(), c.answers.size()) << c.name;
    EXPECT_EQ(evaluations, c.evaluations) << c.name;
    EXPECT_EQ(copies, c.copies) << c.name;
    EXPECT_EQ(!g_RecoveryTargetFolder.empty() && g_RecoveryTargetFolder == c.path, c.targetSet) << c.name;
  }
  EXPECT_TRUE(fs::is_directory(dir.file("Out/New")));
}

TEST_F(DataCopyPathTest, EnterInThePathFieldIsOkNotBrowse) {
  int browsed = 0;
  const CFileDialogST::Runner previous = CFileDialogST::SetRunner([&](QFileDialog&) {
    ++browsed;
    return QStringList();
  });
  DataCopyPath dlg(&tree);
  dlg.show();
  dlg.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  dlg.PathEdit().setFocus();
  QTest::keyClicks(&dlg.PathEdit(), QString::fromStdString(dir.file("Out")));
  // As the window system delivers it: to the window, which hands it on.
  QTest::keyClick(dlg.windowHandle(), Qt::Key_Return);
  EXPECT_EQ(browsed, 0);
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(copies, 1);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_TRUE(fs::is_directory(dir.file("Out")));
  CFileDialogST::SetRunner(previous);
}

TEST_F(DataCopyPathTest, OpeningClearsTotalsAndSettingsFollowsTheCaller) {
  tree.selectedFileCount = 5;
  tree.selectedBytes = 50;
  {
    DataCopyPath dlg(&tree);
    EXPECT_EQ(tree.selectedFileCount.load(), 0);
    EXPECT_EQ(tree.selectedBytes.load(), 0u);
    EXPECT_TRUE(dlg.SettingsButton().ButtonEnabled());
    EXPECT_TRUE(dlg.PathEdit().text().isEmpty());
    EXPECT_EQ(g_RecoveryPathDialog, &dlg);
    EXPECT_TRUE(dlg.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/data_copy_path.png")));
  }
  EXPECT_EQ(g_RecoveryPathDialog, nullptr);
  g_AppState.rawRecoveryPage = 6;
  DataCopyPath raw(nullptr);
  EXPECT_FALSE(raw.SettingsButton().ButtonEnabled());
}

TEST_F(DataCopyPathTest, EvaluationDialogCountsAndEndsByItself) {
  const RecordTimes t = {};
  InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, t, 0);
  InsertFileRecord("A.TXT", u"", 'n', 1 << 20, 10, 3, 0, t);
  InsertFileRecord("B.TXT", u"", 'n', 1 << 20, 10, 4, 0, t);
  g_SelectedFileSystem = u"FAT16";
  g_AppState.scanFileSystem = u"FAT16";
  g_AppState.checkScope = 1;
  tree.BuildFromCatalog(kFatRootKey, kTickTicked);
  CalculateDataSizeDialog dlg(tree);
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, &dlg, [&dlg] { dlg.done(QDialog::Rejected); });
  guard.start(10000);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  QCoreApplication::processEvents();
  EXPECT_EQ(tree.selectedFileCount.load(), 2);
  EXPECT_EQ(tree.selectedBytes.load(), 2u << 20);
  EXPECT_EQ(dlg.FileCount().text(), "2");
  EXPECT_EQ(dlg.DataSize().text(), "2.000 MB size");
  EXPECT_TRUE(dlg.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/calculate_data_size.png")));
}

}  // namespace
}  // namespace qm
