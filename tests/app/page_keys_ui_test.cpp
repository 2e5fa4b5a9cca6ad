// What the keyboard does on the pages: Enter, Escape, F1 and the device
// tree's way to an image file, with real key events.
#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/about_dialog.h"
#include "app/device_page.h"
#include "app/disk_image_page.h"
#include "app/found_partitions_page.h"
#include "app/mode_page.h"
#include "app/page_chain.h"
#include "app/raw_recovery_page.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "controls/hover_button.h"
#include "results/results_page_ui.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

constexpr char16_t kExitQuestion[] = u"Do you want to exit.";

class PageKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    g_AppState.recoveryMode = 1;
  }
  void TearDown() override { g_CurrentPage = 0; }

  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
};

TEST_F(PageKeysTest, ModePageEscapeAsksAndEnterEndsTheProgramsPage) {
  CRecoveryMode page;
  page.show();
  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_EQ(prompt.questions, std::vector<std::u16string>{kExitQuestion});
  EXPECT_TRUE(page.isVisible());  // No keeps the page

  // Enter is the page's OK, also with a mode button focused: no question.
  page.ModeButton(kDeletedModeButton)->setFocus();
  QTest::keyClick(&page, Qt::Key_Return);
  EXPECT_EQ(page.result(), QDialog::Accepted);
  EXPECT_EQ(prompt.questions.size(), 1u);
}

TEST_F(PageKeysTest, DevicePageEnterActsOnlyOnAFocusedNext) {
  DeletedFilesRecovery page;
  page.show();
  QApplication::setActiveWindow(&page);
  page.Tree()->setFocus();
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &page, Qt::Key_Return);
  EXPECT_TRUE(prompt.messages.empty());

  page.NextButton()->setFocus();
  QTest::keyClick(page.NextButton(), Qt::Key_Return);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{u"Please select Logical Drive."});

  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_EQ(prompt.questions, std::vector<std::u16string>{kExitQuestion});
  EXPECT_TRUE(page.isVisible());
}

TEST_F(PageKeysTest, RawRecoveryPageEnterIsNextAndEscapeIsBack) {
  ExtensionWiseRecovery page;
  page.show();
  QTest::keyClick(&page, Qt::Key_Return);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kNoExtensionSelectedText});
  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_EQ(page.result(), QDialog::Rejected);
  EXPECT_FALSE(page.isVisible());
  EXPECT_TRUE(prompt.questions.empty());
}

// A key as the window system delivers it: to the active window, which
// hands it to whichever control has the focus.
void PressInWindow(QWidget& window, Qt::Key key) { QTest::keyClick(window.windowHandle(), key); }

void Activate(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// The controls of a window that the user can give the focus to.
std::vector<QWidget*> FocusableControls(QWidget& window) {
  std::vector<QWidget*> controls;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (w->window() == &window && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
        !w->focusProxy())
      controls.push_back(w);
  }
  return controls;
}

TEST_F(PageKeysTest, F1OpensHelpOnEveryPageWhicheverControlHasTheFocus) {
  int help = 0;
  SetPageRunner(PageHook::kHelpPage, [&] { return ++help, IDOK; });
  const std::pair<const char*, std::function<std::unique_ptr<WizardPage>()>> pages[] = {
      {"mode", [] { return std::make_unique<CRecoveryMode>(); }},
      {"device", [] { return std::make_unique<DeletedFilesRecovery>(); }},
      {"scan", [] { return std::make_unique<RecoveryAnalysis>(); }},
      {"found partitions", [] { return std::make_unique<ExhaustiveDisplayPartitionInformation>(); }},
      {"disk image", [] { return std::make_unique<CreateDiskImage>(); }},
      {"raw recovery", [] { return std::make_unique<ExtensionWiseRecovery>(); }},
      {"results", [] { return std::make_unique<ViewDataInControls>(); }},
  };
  int lists = 0;
  for (const auto& [name, make] : pages) {
    SCOPED_TRACE(name);
    std::unique_ptr<WizardPage> page = make();
    Activate(*page);
    // With nothing focused, then with each control in turn.
    page->setFocus();
    PressInWindow(*page, Qt::Key_F1);
    EXPECT_EQ(help, 1);
    help = 0;
    for (QWidget* control : FocusableControls(*page)) {
      SCOPED_TRACE(control->metaObject()->className());
      control->setFocus();
      ASSERT_EQ(QApplication::focusWidget(), control);
      lists += qobject_cast<QAbstractItemView*>(control) != nullptr;
      PressInWindow(*page, Qt::Key_F1);
      EXPECT_EQ(help, 1);
      help = 0;
    }
    page->hide();
  }
  // The lists and trees, which take most keys for themselves, were among them.
  EXPECT_GE(lists, 5);
  SetPageRunner(PageHook::kHelpPage, {});
}

TEST_F(PageKeysTest, F1InTheApplicationsOwnDialogOpensHelp) {
  std::vector<QUrl> opened;
  const DesktopUrlOpener old = SetDesktopUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  CQuillmorenWindowsDlg dlg;
  Activate(dlg);
  PressInWindow(dlg, Qt::Key_F1);
  EXPECT_EQ(opened.size(), 1u);
  SetDesktopUrlOpener(old);
}

TEST(ImageFileTimes, RowTexts) {
  struct Case {
    const char16_t* caption;
    QDateTime when;
    const char16_t* text;
  } cases[] = {
      {u"Created", QDateTime(QDate(2024, 1, 5), QTime(23, 30), Qt::UTC), u"Created : Friday, January 5, 2024"},
      {u"Accessed", QDateTime(QDate(2023, 12, 31), QTime(0, 0), Qt::UTC), u"Accessed : Sunday, December 31, 2023"},
      {u"Modified", QDateTime(QDate(2021, 7, 3), QTime(12, 0), Qt::UTC), u"Modified : Saturday, July 3, 2021"},
  };
  for (const Case& c : cases) EXPECT_EQ(ImageFileTimeText(c.caption, c.when), c.text);
}

QTreeWidgetItem* Find(QTreeWidget& tree, const QString& text) {
  const auto found = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.front();
}

TEST_F(PageKeysTest, DownOntoDiskImageAsksForAnImageFileUntilANewOneIsChosen) {
  test::TempDir dir;
  const QString first = QString::fromStdString(dir.file("first.dmg"));
  const QString second = QString::fromStdString(dir.file("second.dmg"));
  for (const QString& f : {first, second}) std::ofstream(f.toStdString()) << "image";
  std::deque<QStringList> answers;
  QStringList filters;
  int dialogs = 0;
  const CFileDialogST::Runner previous = CFileDialogST::SetRunner([&](QFileDialog& d) {
    ++dialogs;
    filters = d.nameFilters();
    if (answers.empty()) return QStringList();
    QStringList a = answers.front();
    answers.pop_front();
    return a;
  });

  DeletedFilesRecovery page;
  page.show();
  page.FillTreeOnce();
  CFolderTreeCtrl& tree = *page.Tree();
  QTreeWidgetItem* drives = Find(tree, QStringLiteral("Logical Drives"));
  QTreeWidgetItem* images = Find(tree, QStringLiteral("Disk Image"));
  ASSERT_NE(drives, nullptr);
  ASSERT_NE(images, nullptr);
  // Whatever row stands above "Disk Image" (volumes another test stored may
  // be listed): Down from it lands on the image node.
  QTreeWidgetItem* above = tree.itemAbove(images);
  ASSERT_NE(above, nullptr);
  auto downOntoImages = [&] {
    tree.setCurrentItem(above);
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Down);
  };

  // Several files chosen: the first is taken, shown with its times.
  answers = {{first, second}};
  downOntoImages();
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(filters.join(' ').contains("*.dmg"));
  ASSERT_EQ(images->childCount(), 1);
  EXPECT_EQ(images->child(0)->text(0), first);
  EXPECT_EQ(tree.currentItem(), images);
  bool timesShown = false;
  for (QLabel* row : page.findChildren<QLabel*>())
    timesShown = timesShown || (row->isVisible() && row->text().startsWith("Modified : "));
  EXPECT_TRUE(timesShown);

  // A file already listed: the message, and the dialog again.
  answers = {{first}, {second}};
  dialogs = 0;
  downOntoImages();
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{u"Choose different file, This image file already exists."});
  ASSERT_EQ(images->childCount(), 2);
  EXPECT_EQ(images->child(1)->text(0), second);

  // Cancelled: nothing added.
  dialogs = 0;
  downOntoImages();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(images->childCount(), 2);
  CFileDialogST::SetRunner(previous);
}

}  // namespace
}  // namespace qm
