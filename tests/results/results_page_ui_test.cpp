#include "results/results_page_ui.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "controls/colored_list.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/fat_quick_scan.h"
#include "engines/scan_log.h"
#include "engines/partition_geometry.h"
#include "platform/byte_reader.h"
#include "results/list_views_ui.h"
#include "results/results_tree_ui.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "results/fat16_geometry.h"

namespace qm {
namespace {

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

QString Text(QTreeWidgetItem* item, int column) { return item ? item->text(column) : QString(); }

// Volume 0, FAT32: root holds OLD (deleted folder, key 20), DOCS (key 10),
// A.TXT; DOCS holds SUB (key 11), B.DOC and C.DOC (deleted); SUB holds D.TXT.
class ResultsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_SelectedFileSystem = u"FAT32";
    g_AppState.scanFileSystem = u"FAT32";
    g_AppState.formattedMode = 1;  // no hint message box
    const RecordTimes t = {FatDate(2023, 11, 4), (14u << 11) | (7u << 5), FatDate(2023, 11, 5), 0,
                           FatDate(2023, 11, 6), 0};
    InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, t, 0);
    InsertFolderRecord("OLD", u"", 'y', kFatRootKey, 20, 0, t, 0);
    InsertFolderRecord("SUB", u"", 'n', 10, 11, 0, t, 0);
    InsertFileRecord("A.TXT", u"", 'n', 1234, kFatRootKey, 2, 0, t);
    InsertFileRecord("B.DOC", u"", 'n', 300, 10, 3, 0, t);
    InsertFileRecord("C.DOC", u"", 'y', 20, 10, 4, 0, t);
    InsertFileRecord("D.TXT", u"", 'n', 7, 11, 5, 0, t);
  }
  void TearDown() override { ClearCatalog(); }

  FolderRecord& Folder(const char* name) {
    for (FolderRecord& f : AllFolders())
      if (f.name8 == name) return f;
    throw std::runtime_error(name);
  }
  FileRecord& File(const char* name) {
    for (FileRecord& f : AllFiles())
      if (f.name8 == name) return f;
    throw std::runtime_error(name);
  }
  static QTreeWidgetItem* Row(ViewDataInControls& page, const char* name) {
    auto found = page.List().findItems(QString::fromLatin1(name), Qt::MatchExactly, kColName);
    return found.isEmpty() ? nullptr : found.front();
  }
  static void Grab(QWidget& w, const char* file) {
    w.resize(1080, 668);
    w.show();
    QApplication::processEvents();
    const QString path = QStringLiteral(QM_TEST_OUTPUT_DIR) + "/" + file;
    EXPECT_TRUE(w.grab().save(path)) << path.toStdString();
  }

  test::ScriptedPrompt prompt_;
  test::PromptScope scope_{&prompt_};
};

TEST_F(ResultsPageTest, ShowsTheTreeAndTheRootListing) {
  ViewDataInControls page;
  EXPECT_EQ(g_CurrentPage, 2);
  EXPECT_EQ(g_ResultsPage, &page);
  QTreeWidgetItem* root = page.Tree().RootItem();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0), "This PC");
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), "DOCS");
  EXPECT_EQ(root->child(1)->text(0), "OLD");
  EXPECT_EQ(root->child(0)->child(0)->text(0), "SUB");
  EXPECT_EQ(Folder("SUB").treeItem, CResultsTreeCtrl::IdOf(root->child(0)->child(0)));

  ASSERT_EQ(page.List().topLevelItemCount(), 3);
  QTreeWidgetItem* old = page.List().topLevelItem(1);
  EXPECT_EQ(Text(old, kColName), "OLD");
  EXPECT_EQ(Text(old, kColType), "Deleted Folder");
  EXPECT_EQ(old->foreground(kColName).color(), CColoredListCtrl::RowColor("Deleted Folder"));
  EXPECT_NE(old->foreground(kColName).color(), page.List().topLevelItem(0)->foreground(kColName).color());
  QTreeWidgetItem* a = page.List().topLevelItem(2);
  EXPECT_EQ(Text(a, kColName), "A.TXT");
  EXPECT_EQ(Text(a, kColSize), "1234");
  EXPECT_EQ(Text(a, kColModified), "04-Nov-2023 14:07");
  EXPECT_EQ(Text(a, kColCreated), "05-Nov-2023 00:00");
  EXPECT_EQ(Text(a, kColAccessed), "06-Nov-2023");
  EXPECT_EQ(Text(a, kColId), "0");
  EXPECT_EQ(page.List().headerItem()->text(kColId), "ID");

  // Another folder, then the same one again: no refill.
  File("C.DOC").checkFlag.store('y');
  page.ShowFolderContents(Folder("DOCS").treeItem);
  ASSERT_EQ(page.List().topLevelItemCount(), 3);
  EXPECT_EQ(Text(page.List().topLevelItem(0), kColName), "SUB");
  EXPECT_EQ(page.List().topLevelItem(2)->checkState(kColName), Qt::Checked);  // C.DOC's flag
  page.List().topLevelItem(0)->setText(kColName, "marker");
  page.ShowFolderContents(Folder("DOCS").treeItem);
  EXPECT_EQ(Text(page.List().topLevelItem(0), kColName), "marker");
  Grab(page, "results_page.png");
}

TEST_F(ResultsPageTest, TreeTicksReachRecordsListAndTheCopySelection) {
  ViewDataInControls page;
  const uint32_t docs = Folder("DOCS").treeItem;
  page.ShowFolderContents(docs);
  page.SelectData(docs);
  QTreeWidgetItem* docsItem = page.Tree().ItemById(docs);
  EXPECT_EQ(docsItem->checkState(0), Qt::Checked);
  EXPECT_TRUE(docsItem->font(0).bold());
  EXPECT_TRUE(page.Tree().RootItem()->font(0).bold());
  EXPECT_EQ(page.Tree().ItemById(Folder("SUB").treeItem)->checkState(0), Qt::Checked);
  for (int r = 0; r < page.List().topLevelItemCount(); ++r)
    EXPECT_EQ(page.List().topLevelItem(r)->checkState(kColName), Qt::Checked) << r;
  EXPECT_EQ(File("D.TXT").checkFlag.load(), 'y');
  EXPECT_EQ(File("A.TXT").checkFlag.load(), 'n');
  g_AppState.checkScope = 0;
  EvaluateSelectedTotals(page.Selection());
  EXPECT_EQ(page.Selection().selectedFileCount.load(), 3);

  // Unticking one file row keeps DOCS marked (B.DOC is still ticked) ...
  Row(page, "C.DOC")->setCheckState(kColName, Qt::Unchecked);
  EXPECT_EQ(File("C.DOC").checkFlag.load(), 'n');
  EXPECT_EQ(docsItem->checkState(0), Qt::Checked);
  // ... and unticking the folder in the tree clears everything below it.
  page.SelectData(docs);
  EXPECT_EQ(docsItem->checkState(0), Qt::Unchecked);
  EXPECT_FALSE(page.Tree().RootItem()->font(0).bold());
  EXPECT_EQ(Row(page, "B.DOC")->checkState(kColName), Qt::Unchecked);
  EXPECT_EQ(File("B.DOC").checkFlag.load(), 'n');
  EXPECT_EQ(File("D.TXT").checkFlag.load(), 'n');
  EvaluateSelectedTotals(page.Selection());
  EXPECT_EQ(page.Selection().selectedFileCount.load(), 0);
}

TEST_F(ResultsPageTest, ListRowTicksClimbTheTree) {
  ViewDataInControls page;
  // A folder row of the root listing ticks its subtree.
  Row(page, "DOCS")->setCheckState(kColName, Qt::Checked);
  EXPECT_EQ(File("B.DOC").checkFlag.load(), 'y');
  EXPECT_EQ(File("D.TXT").checkFlag.load(), 'y');
  EXPECT_EQ(page.Tree().ItemById(Folder("SUB").treeItem)->checkState(0), Qt::Checked);
  Row(page, "DOCS")->setCheckState(kColName, Qt::Unchecked);
  EXPECT_EQ(File("D.TXT").checkFlag.load(), 'n');
  EXPECT_EQ(page.Tree().RootItem()->checkState(0), Qt::Unchecked);
  // A file row deep down marks its folder and every ancestor.
  page.ShowFolderContents(Folder("SUB").treeItem);
  Row(page, "D.TXT")->setCheckState(kColName, Qt::Checked);
  EXPECT_EQ(File("D.TXT").checkFlag.load(), 'y');
  for (uint32_t id : {Folder("SUB").treeItem, Folder("DOCS").treeItem})
    EXPECT_EQ(page.Tree().ItemById(id)->checkState(0), Qt::Checked) << id;
  // The root is ticked with OLD unticked: a partial tick.
  EXPECT_EQ(page.Tree().RootItem()->checkState(0), Qt::PartiallyChecked);
  Row(page, "D.TXT")->setCheckState(kColName, Qt::Unchecked);
  for (uint32_t id : {Folder("SUB").treeItem, Folder("DOCS").treeItem, page.Selection().Root()})
    EXPECT_EQ(page.Tree().ItemById(id)->checkState(0), Qt::Unchecked) << id;
  // Ticking a tree folder that is a row of the shown listing ticks that row only.
  page.ShowFolderContents(page.Selection().Root());
  page.SelectData(Folder("OLD").treeItem);
  EXPECT_EQ(Row(page, "OLD")->checkState(kColName), Qt::Checked);
  EXPECT_EQ(Row(page, "DOCS")->checkState(kColName), Qt::Unchecked);
  EXPECT_EQ(Row(page, "A.TXT")->checkState(kColName), Qt::Unchecked);
}

TEST_F(ResultsPageTest, RenamesReachRecordsTreeAndList) {
  ViewDataInControls page;
  // List edits: a folder row renames the tree item and the recovery path; an
  // empty name is refused.
  Row(page, "DOCS")->setText(kColName, "Papers");
  EXPECT_EQ(Folder("Papers").ownKey, 10u);
  EXPECT_EQ(page.Tree().ItemById(Folder("Papers").treeItem)->text(0), "Papers");
  EXPECT_EQ(page.Selection().ItemPath(Folder("Papers").treeItem).back(), u"Papers");
  Row(page, "A.TXT")->setText(kColName, "");
  EXPECT_NE(Row(page, "A.TXT"), nullptr);
  EXPECT_EQ(File("A.TXT").size(), 1234u);
  Row(page, "A.TXT")->setText(kColName, "Z.TXT");
  EXPECT_EQ(File("Z.TXT").size(), 1234u);
  EXPECT_EQ(File("Z.TXT").checkFlag.load(), 'n');  // a rename is no tick

  // A tree edit renames the folder's row, not a file row that shares its ID.
  const uint32_t old = Folder("OLD").treeItem;
  Row(page, "Z.TXT")->setText(kColId, QString::number(old));
  page.Tree().ItemById(old)->setText(0, "Attic");
  EXPECT_EQ(Folder("Attic").ownKey, 20u);
  EXPECT_NE(Row(page, "Attic"), nullptr);
  EXPECT_NE(Row(page, "Z.TXT"), nullptr);
  EXPECT_EQ(page.Tree().ItemById(old)->checkState(0), Qt::Unchecked);
}

TEST_F(ResultsPageTest, ViewModesAndFonts) {
  // Enough files in the root that the icon views need more than one column.
  const RecordTimes t{};
  for (int i = 0; i < 60; ++i)
    InsertFileRecord("F" + std::to_string(100 + i) + ".TXT", u"", 'n', 1, kFatRootKey, 100 + i, 0, t);
  ViewDataInControls page;
  page.show();
  QApplication::processEvents();
  QListView& icons = page.IconView();
  EXPECT_EQ(CurrentViewMode(page.List(), icons), ListViewMode::kDetails);
  EXPECT_EQ(page.List().font().family(), "MS Sans Sarif");
  EXPECT_TRUE(icons.isHidden());
  const int rows = page.List().topLevelItemCount();
  ASSERT_GT(rows, 60);

  struct Mode {
    void (*show)(QTreeWidget&, QListView&);
    ListViewMode mode;
    int iconSize;
  } modes[] = {{&ShowLargeIcons, ListViewMode::kLargeIcons, 32}, {&ShowSmallIcons, ListViewMode::kSmallIcons, 16}};
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.iconSize);
    m.show(page.List(), icons);
    QApplication::processEvents();
    EXPECT_EQ(CurrentViewMode(page.List(), icons), m.mode);
    // The multi-column list in the list's place: no header, the same rows,
    // running down and then on into further columns.
    EXPECT_TRUE(page.List().isHidden());
    EXPECT_TRUE(icons.isVisible());
    EXPECT_EQ(icons.geometry(), page.List().geometry());
    EXPECT_EQ(icons.model()->rowCount(), rows);
    EXPECT_EQ(icons.iconSize(), QSize(m.iconSize, m.iconSize));
    const QRect first = icons.visualRect(icons.model()->index(0, 0));
    const QRect second = icons.visualRect(icons.model()->index(1, 0));
    const QRect last = icons.visualRect(icons.model()->index(rows - 1, 0));
    EXPECT_EQ(second.left(), first.left());
    EXPECT_GT(second.top(), first.top());
    EXPECT_GT(last.left(), first.right());
    EXPECT_GE(first.height(), m.iconSize);
    // A selection in one view is the selection of the other.
    icons.setCurrentIndex(icons.model()->index(2, 0));
    EXPECT_EQ(page.List().currentItem(), page.List().topLevelItem(2));
  }
  ShowDetails(page.List(), icons);
  EXPECT_EQ(CurrentViewMode(page.List(), icons), ListViewMode::kDetails);
  EXPECT_TRUE(icons.isHidden());
  EXPECT_TRUE(page.List().isVisible());
  EXPECT_FALSE(page.List().isColumnHidden(kColId));
}

// The in-place editor a view has open, or null.
QLineEdit* OpenEditor(QAbstractItemView& view) {
  for (QLineEdit* e : view.findChildren<QLineEdit*>())
    if (e->isVisible()) return e;
  return nullptr;
}

// F2 as the window system delivers it, with the focus where the user's click
// left it: on a list row (after its preview has run), on a tree item, and on
// a row of an icon view.
TEST_F(ResultsPageTest, F2RenamesTheRowOrTreeItemThatHasTheFocus) {
  ViewDataInControls page;
  page.show();
  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  CColoredListCtrl& list = page.List();
  auto clickRow = [&](QAbstractItemView& view, const QModelIndex& index) {
    // On the row's text, clear of its box.
    const QRect r = view.visualRect(index);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    page.WaitForPreview();
    QApplication::processEvents();
  };
  auto pressF2 = [&] { QTest::keyClick(page.windowHandle(), Qt::Key_F2); };

  struct Case {
    const char* row;
    const char* mode;
  } cases[] = {{"A.TXT", "details"}, {"DOCS", "details"}, {"A.TXT", "large icons"}, {"OLD", "small icons"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.row) + " in " + c.mode);
    if (c.mode[0] == 'l') page.TriggerMenuCommand(kCmdLargeIcons);
    if (c.mode[0] == 's') page.TriggerMenuCommand(kCmdSmallIcons);
    QAbstractItemView& view = c.mode[0] == 'd' ? static_cast<QAbstractItemView&>(list) : page.IconView();
    const int row = list.indexOfTopLevelItem(Row(page, c.row));
    ASSERT_GE(row, 0);
    clickRow(view, list.model()->index(row, kColName));
    ASSERT_EQ(list.currentItem(), list.topLevelItem(row));
    pressF2();
    QLineEdit* editor = OpenEditor(view);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), c.row);
    QTest::keyClick(editor, Qt::Key_Escape);
  }
  page.TriggerMenuCommand(kCmdDetails);

  // A tree item clicked, then F2; on the root F2 does nothing.
  CResultsTreeCtrl& tree = page.Tree();
  QTreeWidgetItem* docs = tree.ItemById(Folder("DOCS").treeItem);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(docs).center());
  QApplication::processEvents();
  ASSERT_EQ(tree.currentItem(), docs);
  pressF2();
  QLineEdit* editor = OpenEditor(tree);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "DOCS");
  QTest::keyClick(editor, Qt::Key_Escape);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(tree.RootItem()).center());
  pressF2();
  EXPECT_EQ(OpenEditor(tree), nullptr);
}

TEST_F(ResultsPageTest, RowsShowTheDesktopsIconForTheirType) {
  const RecordTimes t{};
  InsertFileRecord("PHOTO.JPG", u"", 'n', 1, kFatRootKey, 40, 0, t);
  InsertFileRecord("DATA.ZQX", u"", 'n', 1, kFatRootKey, 41, 0, t);
  ViewDataInControls page;
  auto icon = [&](const char* name) {
    QTreeWidgetItem* row = Row(page, name);
    return row ? row->icon(kColName) : QIcon();
  };
  const QIcon text = icon("A.TXT"), photo = icon("PHOTO.JPG"), unknown = icon("DATA.ZQX");
  for (const QIcon& i : {text, photo, unknown}) ASSERT_FALSE(i.isNull());
  // Named icons of the theme, one per type; an unknown type gets the generic icon.
  EXPECT_FALSE(text.name().isEmpty());
  EXPECT_FALSE(photo.name().isEmpty());
  EXPECT_NE(text.name(), photo.name());
  EXPECT_NE(text.pixmap(16).toImage(), photo.pixmap(16).toImage());
  EXPECT_EQ(unknown.cacheKey(), GenericFileIcon().cacheKey());
  EXPECT_NE(text.cacheKey(), GenericFileIcon().cacheKey());
  // Folders get the theme's folder icon.
  EXPECT_EQ(icon("DOCS").name(), "folder");
  // The same extension in any case is the same icon, looked up once.
  EXPECT_EQ(FileTypeIcon("other.txt").cacheKey(), text.cacheKey());
}

// Runs fn and closes every modal dialog it opens, returning their class names.
std::vector<std::string> ClosingModals(const std::function<void()>& fn) {
  std::vector<std::string> seen;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      seen.push_back(modal->metaObject()->className());
      modal->close();
    }
  });
  timer.start(20);
  fn();
  return seen;
}

TEST_F(ResultsPageTest, MenuCommandsReachTheirHandlers) {
  test::TempDir dir;
  int about = 0, help = 0;
  SetPageRunner(PageHook::kAboutBox, [&] { return ++about, IDOK; });
  SetPageRunner(PageHook::kHelpPage, [&] { return ++help, IDOK; });
  ViewDataInControls page;
  page.show();
  QApplication::processEvents();

  // Grayed: loading (the log is loaded already) and, after a formatted scan, the switch to one.
  for (int id : {kCmdLoadLog, kCmdFormattedRecovery}) {
    EXPECT_FALSE(page.MenuAction(id)->isEnabled()) << id;
    EXPECT_FALSE(page.TriggerMenuCommand(id)) << id;
  }
  EXPECT_TRUE(page.MenuAction(kCmdDetails)->isChecked());

  struct Dialog {
    int id;
    const char* dialog;
  } dialogs[] = {
      {kCmdRecoverSelected, "qm::DataCopyPath"},
      {kCmdSearchData, "qm::AdvanceSearchFile"},
      {kCmdRecoveryFilter, "qm::DataSavingSettings"},
  };
  for (const Dialog& d : dialogs) {
    std::vector<std::string> seen = ClosingModals([&] { EXPECT_TRUE(page.TriggerMenuCommand(d.id)); });
    ASSERT_FALSE(seen.empty()) << d.dialog;
    EXPECT_EQ(seen.front(), d.dialog);
  }

  // The view modes, each with its own check mark.
  struct View {
    int id;
    ListViewMode mode;
  } views[] = {{kCmdLargeIcons, ListViewMode::kLargeIcons},
               {kCmdSmallIcons, ListViewMode::kSmallIcons},
               {kCmdDetails, ListViewMode::kDetails}};
  for (const View& v : views) {
    EXPECT_TRUE(page.TriggerMenuCommand(v.id));
    EXPECT_EQ(CurrentViewMode(page.List(), page.IconView()), v.mode) << v.id;
    for (const View& other : views) EXPECT_EQ(page.MenuAction(other.id)->isChecked(), other.id == v.id);
  }

  // Rename edits the one selected row.
  page.List().setCurrentItem(page.List().topLevelItem(2));
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdRenameData));
  QLineEdit* editor = nullptr;
  for (QLineEdit* e : page.List().findChildren<QLineEdit*>())
    if (e->isVisible()) editor = e;
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "A.TXT");
  QTest::keyClick(editor, Qt::Key_Escape);

  // Save Log writes a log where the user says.
  prompt_.savePath = dir.file("saved");
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdSaveLog));
  WaitForScanLogWriter();
  EXPECT_FALSE(QDir(QString::fromStdString(dir.path())).isEmpty());

  // Exit asks; No keeps the page. About and help.
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdExit));
  ASSERT_FALSE(prompt_.questions.empty());
  EXPECT_EQ(prompt_.questions.back(), kExitQuestion);
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdAbout));
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdViewHelp));
  EXPECT_EQ(about, 1);
  EXPECT_EQ(help, 1);
  SetPageRunner(PageHook::kAboutBox, {});
  SetPageRunner(PageHook::kHelpPage, {});
}

TEST_F(ResultsPageTest, FormattedSwitchAsksThenEndsThePageAndScansAgain) {
  g_AppState.formattedMode = 0;
  prompt_.defaultAnswer = IDOK;  // the hint box of a quick scan's results is not a question
  int scans = 0;
  int formattedDuringScan = -1;
  SetScanPageRunner([&] {
    ++scans;
    formattedDuringScan = g_AppState.formattedMode;
    return IDOK;
  });
  ViewDataInControls page;
  ASSERT_TRUE(page.MenuAction(kCmdFormattedRecovery)->isEnabled());

  prompt_.answers.push_back(IDCANCEL);
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdFormattedRecovery));
  ASSERT_EQ(prompt_.questions.size(), 1u);
  EXPECT_EQ(prompt_.questions[0],
            u"Switching to Formatted data recovery for Lost files && folders. This will take long time.\r\n"
            u"Are you sure you want to start this process");
  EXPECT_EQ(scans, 0);
  EXPECT_EQ(g_AppState.folderCount, 3);

  prompt_.answers.push_back(IDOK);
  EXPECT_TRUE(page.TriggerMenuCommand(kCmdFormattedRecovery));
  // No second question: Back's own question is skipped.
  EXPECT_EQ(prompt_.questions.size(), 2u);
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(formattedDuringScan, 1);
  EXPECT_EQ(g_AppState.folderCount, 0);
  EXPECT_EQ(page.result(), IDOK);
  SetScanPageRunner({});

  // After a partition scan there is nothing to switch to.
  g_AppState.formattedMode = 0;
  g_AppState.partitionMode = 1;
  ViewDataInControls partition;
  EXPECT_FALSE(partition.MenuAction(kCmdFormattedRecovery)->isEnabled());
}

TEST_F(ResultsPageTest, KeyboardMovesInTheTreeShowTheFolderAsAClickDoes) {
  ViewDataInControls page;
  page.show();
  CResultsTreeCtrl& tree = page.Tree();
  tree.setCurrentItem(tree.RootItem());
  tree.setFocus();
  struct Step {
    Qt::Key key;
    const char* folder;
    std::vector<const char*> rows;
  } steps[] = {
      {Qt::Key_Down, "DOCS", {"SUB", "B.DOC", "C.DOC"}},
      {Qt::Key_Down, "SUB", {"D.TXT"}},
      {Qt::Key_Up, "DOCS", {"SUB", "B.DOC", "C.DOC"}},
  };
  tree.expandAll();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.folder);
    QTest::keyClick(&tree, s.key);
    ASSERT_NE(tree.currentItem(), nullptr);
    EXPECT_EQ(tree.currentItem()->text(0), s.folder);
    EXPECT_EQ(page.CurrentItem(), Folder(s.folder).treeItem);
    ASSERT_EQ(page.List().topLevelItemCount(), static_cast<int>(s.rows.size()));
    for (size_t i = 0; i < s.rows.size(); ++i)
      EXPECT_EQ(Text(page.List().topLevelItem(static_cast<int>(i)), kColName), s.rows[i]);
  }
}

TEST_F(ResultsPageTest, FoldersWithPartOfTheirContentTickedShowAPartialTick) {
  ViewDataInControls page;
  CResultsTreeCtrl& tree = page.Tree();
  auto box = [&](const char* name) { return tree.ItemById(Folder(name).treeItem)->checkState(0); };
  page.SelectData(Folder("SUB").treeItem);
  EXPECT_EQ(box("SUB"), Qt::Checked);
  EXPECT_EQ(box("DOCS"), Qt::Checked);  // its one sub-folder is ticked
  EXPECT_EQ(tree.RootItem()->checkState(0), Qt::PartiallyChecked);  // OLD is not
  EXPECT_EQ(box("OLD"), Qt::Unchecked);

  // A click on a partial box goes by the model: the ticked root unticks.
  page.SelectData(page.Selection().Root());
  EXPECT_EQ(tree.RootItem()->checkState(0), Qt::Unchecked);
  EXPECT_EQ(box("SUB"), Qt::Unchecked);
}

TEST_F(ResultsPageTest, QuickScanResultsPointToFormattedRecovery) {
  g_AppState.formattedMode = 0;
  ViewDataInControls page;
  page.show();
  QApplication::processEvents();
  ASSERT_EQ(prompt_.messages.size(), 1u);
  EXPECT_EQ(prompt_.messages[0], kFormattedHint);
}

TEST_F(ResultsPageTest, HeaderClicksFlipTheSort) {
  ViewDataInControls page;
  page.OnListHeaderClick(kColSize);  // first click: descending
  EXPECT_EQ(Text(page.List().topLevelItem(0), kColName), "A.TXT");
  page.OnListHeaderClick(kColSize);
  EXPECT_EQ(Text(page.List().topLevelItem(2), kColName), "A.TXT");
}

TEST_F(ResultsPageTest, BackAsksThenFreesWhatTheModeSays) {
  struct Case {
    const char* name;
    int answer;
    int partitionMode;
    int folders, files;
  } cases[] = {
      {"no", IDCANCEL, 0, 3, 4},
      {"plain scan", IDOK, 0, 0, 0},
      {"FAT partition recovery", IDOK, 1, 3, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    g_AppState.partitionMode = c.partitionMode;
    ViewDataInControls page;
    prompt_.answers.push_back(c.answer);
    EXPECT_EQ(page.GoBack(), c.answer == IDOK) << c.name;
    EXPECT_EQ(prompt_.questions.back(), kGoBackQuestion);
    EXPECT_EQ(g_AppState.folderCount, c.folders) << c.name;
    EXPECT_EQ(g_AppState.fileCount, c.files) << c.name;
    if (c.folders) {
      EXPECT_EQ(Folder("SUB").parentKey, 10u) << c.name;
    }
  }
}

// --- A scanned FAT image: the ticked folder is what the copy-out writes ---


std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// A file whose claimed size is more than the scanned volume holds says so in
// the size column before anything is copied, and the mark is not cut off.
TEST_F(ResultsPageTest, ASizeBeyondTheVolumeIsMarkedInTheList) {
  ClearCatalog();
  test::TempDir dir;
  auto set = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("fat16.img");
  test::PresentImages present({image});
  test::RecordingHost host;
  g_AppState.scanPage = &host;
  g_BytesPerSector = 512;
  g_SelectedDiskIndex = 0;
  test::LoadFat16Geometry(image);
  ASSERT_EQ(FatQuickScanThread(), 1);
  g_AppState.scanPage = nullptr;
  for (FileRecord& f : AllFiles())
    if (f.wideName == u"SHORT.TXT" || f.name8 == "SHORT.TXT") f.SetSize(uint64_t{1} << 40);

  ViewDataInControls page;
  QTreeWidgetItem* root = page.Tree().RootItem();
  for (int i = 0; i < root->childCount(); ++i)
    if (root->child(i)->text(0) == "My Documents") page.ShowFolderContents(CResultsTreeCtrl::IdOf(root->child(i)));
  QTreeWidgetItem* shortTxt = Row(page, "SHORT.TXT");
  ASSERT_NE(shortTxt, nullptr);
  const QString marked = QString::number(uint64_t{1} << 40) + QString::fromStdU16String(std::u16string(kBeyondVolumeMark));
  EXPECT_EQ(Text(shortTxt, kColSize), marked);
  EXPECT_GE(page.List().columnWidth(kColSize), page.List().fontMetrics().horizontalAdvance(marked));
  for (int i = 0; i < page.List().topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = page.List().topLevelItem(i);
    if (row != shortTxt) EXPECT_FALSE(Text(row, kColSize).contains('(')) << Text(row, kColName).toStdString();
  }
  Grab(page, "results_page_beyond_volume.png");
}

TEST_F(ResultsPageTest, TickedFolderOfAScannedImageIsWhatTheCopyWrites) {
  ClearCatalog();
  test::TempDir dir;
  auto set = test::MakeFatImages(dir, {"fat16"});
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("fat16.img");
  test::PresentImages present({image});
  test::RecordingHost host;
  g_AppState.scanPage = &host;
  g_BytesPerSector = 512;
  g_SelectedDiskIndex = 0;
  test::LoadFat16Geometry(image);
  ASSERT_EQ(FatQuickScanThread(), 1);
  g_AppState.scanPage = nullptr;

  ViewDataInControls page;
  QTreeWidgetItem* root = page.Tree().RootItem();
  QTreeWidgetItem* docs = nullptr;
  for (int i = 0; i < root->childCount(); ++i)
    if (root->child(i)->text(0) == "My Documents") docs = root->child(i);
  ASSERT_NE(docs, nullptr);
  page.ShowFolderContents(CResultsTreeCtrl::IdOf(docs));
  EXPECT_NE(Row(page, "SHORT.TXT"), nullptr);
  page.SelectData(CResultsTreeCtrl::IdOf(docs));
  Grab(page, "results_page_fat16.png");

  const std::string target = dir.path() + "/out";
  ::mkdir(target.c_str(), 0755);
  g_AppState.checkScope = 0;
  ResetCopyTotals();
  EvaluateSelectedTotals(page.Selection());
  g_RecoveryTargetFolder = target;
  ResetCopyFlags();
  CopyThread(nullptr, page.Selection());
  ASSERT_FALSE(prompt_.messages.empty());
  EXPECT_EQ(prompt_.messages.back(), kSavingCompleted);

  const struct {
    const char* path;
    const char* tag;
    uint64_t size;
  } expected[] = {
      {"My Documents/Reports 2023/annual summary.txt", "annual", 20000},
      {"My Documents/Reports 2023/Q1/NOTES.TXT", "notes", 513},
      {"My Documents/Reports 2023/Q1/Deep/Deeper/leaf file.txt", "leaf", 4097},
      {"My Documents/SHORT.TXT", "short", 1},
  };
  for (const auto& e : expected)
    EXPECT_EQ(ReadAll(target + "/" + e.path), test::FixtureContent(e.tag, e.size)) << e.path;
  EXPECT_FALSE(Exists(target + "/README.TXT"));
  EXPECT_FALSE(Exists(target + "/Pictures"));
}

}  // namespace
}  // namespace qm
