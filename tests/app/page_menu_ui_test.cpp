// The menu bar of every page: which commands are grayed, and where each
// enabled command leads.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/disk_image_page.h"
#include "app/found_partitions_page.h"
#include "app/mode_page.h"
#include "app/page_chain.h"
#include "app/raw_recovery_page.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "results/results_page_ui.h"
#include "support/fakes.h"

namespace qm {
namespace {

// What a command did when triggered.
enum class Reached { kNothing, kAbout, kHelp, kExitQuestion, kLoadLogDialog };

struct PageCase {
  const char* name;
  std::function<std::unique_ptr<WizardPage>()> make;
  std::set<int> grayed;
  // Enabled commands that lead somewhere; every other enabled one does nothing.
  std::map<int, Reached> reached;
};

const std::set<int> kAllButExitAndHelp = {kCmdFormattedRecovery, kCmdRecoverSelected, kCmdRecoveryFilter,
                                          kCmdSaveLog,           kCmdLoadLog,         kCmdSearchData,
                                          kCmdRenameData,        kCmdLargeIcons,      kCmdDetails,
                                          kCmdSmallIcons};
const std::map<int, Reached> kAboutAndHelp = {{kCmdAbout, Reached::kAbout}, {kCmdViewHelp, Reached::kHelp}};

std::set<int> Without(std::set<int> s, int id) {
  s.erase(id);
  return s;
}
std::map<int, Reached> With(std::map<int, Reached> m, int id, Reached r) {
  m[id] = r;
  return m;
}

class PageMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    ClearFileSystemList();
    LoadStartupSettings();
    g_BytesPerSector = 512;
    SetPageRunner(PageHook::kAboutBox, [this] { return ++about, IDOK; });
    SetPageRunner(PageHook::kHelpPage, [this] { return ++help, IDOK; });
    previous_ = CFileDialogST::SetRunner([this](QFileDialog&) {
      ++fileDialogs;
      return QStringList();
    });
  }
  void TearDown() override {
    SetPageRunner(PageHook::kAboutBox, {});
    SetPageRunner(PageHook::kHelpPage, {});
    CFileDialogST::SetRunner(previous_);
    ClearCatalog();
  }
  Reached Observe(size_t questionsBefore) {
    int hits = 0;
    Reached r = Reached::kNothing;
    if (about) ++hits, r = Reached::kAbout;
    if (help) ++hits, r = Reached::kHelp;
    if (fileDialogs) ++hits, r = Reached::kLoadLogDialog;
    if (prompt.questions.size() > questionsBefore) {
      ++hits;
      r = prompt.questions.back() == u"Do you want to exit." ? Reached::kExitQuestion : Reached::kNothing;
    }
    EXPECT_LE(hits, 1);
    about = help = fileDialogs = 0;
    return r;
  }

  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  int about = 0, help = 0, fileDialogs = 0;
  CFileDialogST::Runner previous_;
};

TEST_F(PageMenuTest, EveryPageGraysAndRoutesItsCommands) {
  const std::map<int, Reached> exitToo = With(kAboutAndHelp, kCmdExit, Reached::kExitQuestion);
  const PageCase cases[] = {
      {"mode", [] { return std::make_unique<CRecoveryMode>(); }, kAllButExitAndHelp, exitToo},
      {"device", [] { return std::make_unique<DeletedFilesRecovery>(); }, Without(kAllButExitAndHelp, kCmdLoadLog),
       With(exitToo, kCmdLoadLog, Reached::kLoadLogDialog)},
      {"scan", [] { return std::make_unique<RecoveryAnalysis>(); }, kAllButExitAndHelp, kAboutAndHelp},
      {"found partitions", [] { return std::make_unique<ExhaustiveDisplayPartitionInformation>(); },
       Without(kAllButExitAndHelp, kCmdSaveLog), exitToo},
      {"disk image", [] { return std::make_unique<CreateDiskImage>(); },
       Without(Without(kAllButExitAndHelp, kCmdSearchData), kCmdRenameData), kAboutAndHelp},
      {"raw recovery", [] { return std::make_unique<ExtensionWiseRecovery>(); }, kAllButExitAndHelp, kAboutAndHelp},
  };
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_AppState.recoveryMode = 1;
    std::unique_ptr<WizardPage> page = c.make();
    ASSERT_NE(page->MenuBar(), nullptr);
    const QList<QAction*> menus = page->MenuBar()->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "&Data");
    EXPECT_EQ(menus[1]->text(), "&View");
    EXPECT_EQ(menus[2]->text(), "&Help");
    for (MenuCommand id : kMenuCommands) {
      SCOPED_TRACE(id);
      QAction* action = page->MenuAction(id);
      ASSERT_NE(action, nullptr);
      const bool grayed = c.grayed.count(id) != 0;
      EXPECT_EQ(action->isEnabled(), !grayed);
      const size_t asked = prompt.questions.size();
      EXPECT_EQ(page->TriggerMenuCommand(id), !grayed);
      const auto want = c.reached.find(id);
      EXPECT_EQ(Observe(asked), grayed || want == c.reached.end() ? Reached::kNothing : want->second);
    }
    // The toolbar row stands below the menu bar.
    EXPECT_GE(page->ToolbarButton(kToolHelp)->y(), page->MenuBar()->geometry().bottom());
  }
}

TEST_F(PageMenuTest, ItemTextsAndIds) {
  CRecoveryMode page;
  const std::pair<int, const char*> texts[] = {
      {kCmdFormattedRecovery, "&Formatted Data Recovery"}, {kCmdRecoverSelected, "&Recover Selected"},
      {kCmdRecoveryFilter, "Recovery F&ilter"},            {kCmdSaveLog, "&Save Log"},
      {kCmdLoadLog, "&Load Log"},                          {kCmdSearchData, "&Search Data"},
      {kCmdRenameData, "R&ename Data"},                    {kCmdExit, "E&xit"},
      {kCmdLargeIcons, "Large I&cons"},                    {kCmdDetails, "&Details"},
      {kCmdSmallIcons, "&Small Icons"},                    {kCmdViewHelp, "&View Help"},
      {kCmdAbout, "&About"},
  };
  for (const auto& [id, text] : texts) {
    ASSERT_NE(page.MenuAction(id), nullptr) << id;
    EXPECT_EQ(page.MenuAction(id)->text(), text);
    EXPECT_EQ(page.MenuAction(id)->data().toInt(), id);
  }
  EXPECT_EQ(32783, kCmdLargeIcons);
  EXPECT_EQ(59411, kCmdDetails);
  EXPECT_EQ(59408, kCmdSmallIcons);
}

}  // namespace
}  // namespace qm
