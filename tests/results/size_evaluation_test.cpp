#include "results/size_evaluation.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/selection_model.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "platform/text.h"

namespace qm {
namespace {

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

// Root: A.TXT 10 bytes; folder DOCS (key 10): B.DOC 3 GiB live, C.DOC 20 bytes deleted from 2001.
class SizeEvaluationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_SelectedFileSystem = u"FAT32";
    g_AppState.scanFileSystem = u"FAT32";
    g_AppState.checkScope = 1;
    const RecordTimes now = {FatDate(2022, 5, 5), 0, FatDate(2022, 5, 5), 0, FatDate(2022, 5, 5), 0};
    const RecordTimes old = {FatDate(2001, 1, 31), 0, FatDate(2001, 1, 31), 0, FatDate(2001, 1, 31), 0};
    InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, now, 0);
    InsertFileRecord("A.TXT", u"", 'n', 10, kFatRootKey, 2, 0, now);
    InsertFileRecord("B.DOC", u"", 'n', 3ull << 30, 10, 3, 0, now);
    InsertFileRecord("C.DOC", u"", 'y', 20, 10, 4, 0, old);
    tree_.BuildFromCatalog(kFatRootKey, kTickTicked);
    SetPrompt(&prompt_);
  }
  void TearDown() override {
    SetPrompt(nullptr);
    ClearCatalog();
  }
  // Runs the dialog's paint cycle to its end.
  void Evaluate() {
    CalculateDataSize dialog(tree_, &host_);
    EXPECT_FALSE(dialog.OnPaint());
    dialog.Wait();
    EXPECT_EQ(dialog.state(), CalculateDataSize::kCounted);
    EXPECT_TRUE(dialog.OnPaint());
    EXPECT_EQ(dialog.state(), CalculateDataSize::kIdle);
  }
  SelectionModel tree_;
  test::RecordingHost host_;
  test::ScriptedPrompt prompt_;
  test::TempDir dir_;
};

TEST_F(SizeEvaluationTest, FiltersDecideTheCountAndTheLabels) {
  struct Case {
    const char* name;
    void (*setup)();
    int files;
    uint64_t bytes;
    const char16_t* sizeLabel;
  } cases[] = {
      {"everything", [] {}, 3, (3ull << 30) + 30, u"3.000 GB size"},
      {"live files only", [] { g_AppState.deletedFilter = 1; }, 2, (3ull << 30) + 10, u"3.000 GB size"},
      {"deleted files only", [] { g_AppState.deletedFilter = 2; }, 1, 20, u"0.000 MB size"},
      {"extension list", [] {
         g_AppState.extensionCount = 1;
         std::u16string_view(u"TXT").copy(g_AppState.extensionFilter[0], 3);
       }, 1, 10, u"0.000 MB size"},
      {"modified on the last day of January 2001", [] {
         const int32_t range[6] = {31, 1, 2001, 31, 1, 2001};
         std::copy(range, range + 6, g_AppState.modifiedDateRange);
       }, 1, 20, u"0.000 MB size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_AppState.deletedFilter = 0;
    g_AppState.extensionCount = 0;
    std::fill(std::begin(g_AppState.modifiedDateRange), std::end(g_AppState.modifiedDateRange), 0);
    c.setup();
    Evaluate();
    EXPECT_EQ(tree_.selectedFileCount.load(), c.files);
    EXPECT_EQ(tree_.selectedBytes.load(), c.bytes);
    EXPECT_EQ(host_.texts[kSizeFileCountValue], FormatW("%d", c.files));
    EXPECT_EQ(host_.texts[kSizeDataSizeValue], c.sizeLabel);
  }
  EXPECT_EQ(SelectedSizeText(1ull << 30), u"1024.000 MB size");
}

TEST_F(SizeEvaluationTest, StopAsksOnlyWhileCounting) {
  CalculateDataSize idle(tree_, &host_);
  EXPECT_TRUE(idle.Stop());
  EXPECT_TRUE(prompt_.questions.empty());
}

TEST_F(SizeEvaluationTest, AcceptRecoveryPathOutcomes) {
  auto evaluate = [this] { EvaluateSelectedTotals(tree_); };
  const uint64_t need = (3ull << 30) + 30;
  struct Case {
    const char* name;
    std::string path;
    uint64_t free;
    int answer;
    RecoveryPathOutcome outcome;
    const char16_t* message;
  } cases[] = {
      {"empty path", "", 0, IDOK, RecoveryPathOutcome::kStayOpen, kSelectRecoveryPath.data()},
      {"below a file", dir_.file("file/sub"), 0, IDOK, RecoveryPathOutcome::kStayOpen, kSelectRecoveryPath.data()},
      {"enough space, new levels made", dir_.file("Out/New"), need + 1, IDOK, RecoveryPathOutcome::kCopy, nullptr},
      {"free equals the total: asked, No", dir_.path(), need, IDCANCEL, RecoveryPathOutcome::kStayOpen, nullptr},
      {"free equals the total: asked, Yes", dir_.path(), need, IDOK, RecoveryPathOutcome::kCopy, nullptr},
  };
  ASSERT_EQ(test::Run("touch " + dir_.file("file")), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompt_.messages.clear();
    prompt_.questions.clear();
    prompt_.answers = {c.answer};
    g_RecoveryTargetFolder.clear();
    EXPECT_EQ(AcceptRecoveryPath(c.path, tree_, evaluate, [&](const std::string&) { return c.free; }), c.outcome);
    if (c.message) EXPECT_EQ(prompt_.messages, std::vector<std::u16string>{c.message});
    EXPECT_EQ(prompt_.questions.size(), c.free == need ? 1u : 0u);
    EXPECT_EQ(g_RecoveryTargetFolder, c.outcome == RecoveryPathOutcome::kCopy ? c.path : "");
  }
  EXPECT_EQ(InsufficientSpaceQuestion(need),
            u"Insufficient free space on destination drive. Selected file/folder requires 3.000 GB of free space. "
            u"Press Yes if you want continue with it.");

  g_AppState.deletedFilter = 2;
  g_AppState.extensionCount = 1;
  std::u16string_view(u"XLS").copy(g_AppState.extensionFilter[0], 3);
  prompt_.messages.clear();
  EXPECT_EQ(AcceptRecoveryPath(dir_.path(), tree_, evaluate, nullptr), RecoveryPathOutcome::kNothingToCopy);
  EXPECT_EQ(prompt_.messages, std::vector<std::u16string>{std::u16string(kNothingSelected)});

  g_AppState.rawRecoveryPage = 6;
  EXPECT_EQ(AcceptRecoveryPath(dir_.file("raw"), tree_, nullptr, nullptr), RecoveryPathOutcome::kRecordOnly);
  EXPECT_EQ(g_RecoveryTargetFolder, dir_.file("raw"));
}

}  // namespace
}  // namespace qm
