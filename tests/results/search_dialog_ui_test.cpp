#include "results/search_dialog_ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "engines/catalog.h"
#include "engines/selection_model.h"
#include "results/list_views_ui.h"
#include "results/search_match.h"
#include "support/fakes.h"

namespace qm {
namespace {

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

class TestHost : public SearchResultsHost {
 public:
  SelectionModel& Tree() override { return tree; }
  void ShowFolder(uint32_t item, uint32_t ownKey) override { shown.push_back({item, ownKey}); }
  void RestoreIcons() override { ++restored; }
  SelectionModel tree;
  std::vector<std::pair<uint32_t, uint32_t>> shown;
  int restored = 0;
};

class SearchDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    ClearCatalog();
    g_SelectedFileSystem = u"FAT16";
    g_AppState.scanFileSystem = u"FAT16";
    const RecordTimes t = {FatDate(2021, 3, 4), 0, FatDate(2021, 3, 4), 0, FatDate(2021, 3, 4), 0};
    InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, t, 0);
    InsertFolderRecord("OLD", u"", 'y', 10, 11, 0, t, 0);
    InsertFileRecord("REPORT.DOC", u"", 'n', 100, 10, 3, 0, t);
    InsertFileRecord("GONE.DOC", u"", 'y', 101, 10, 4, 0, t);
    InsertFileRecord("NOTE.TXT", u"", 'n', 7, 11, 6, 0, t);
    host.tree.BuildFromCatalog(kFatRootKey);
  }
  void TearDown() override { ClearCatalog(); }

  // Runs a search to its end and returns "type|name" per row.
  std::vector<std::string> Search(AdvanceSearchFile& dlg, const QString& pattern) {
    dlg.NameEdit().setText(pattern);
    dlg.OnStartButton();
    QElapsedTimer t;
    t.start();
    while ((dlg.SearchRunning() || dlg.StartButton().text() != "&Start Search") && t.elapsed() < 5000) {
      QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    std::vector<std::string> rows;
    for (int i = 0; i < dlg.List().topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = dlg.List().topLevelItem(i);
      rows.push_back((item->text(AdvanceSearchFile::kType) + "|" + item->text(AdvanceSearchFile::kName)).toStdString());
    }
    return rows;
  }
  int RowOf(AdvanceSearchFile& dlg, const QString& name) {
    for (int i = 0; i < dlg.List().topLevelItemCount(); ++i) {
      if (dlg.List().topLevelItem(i)->text(AdvanceSearchFile::kName) == name) return i;
    }
    return -1;
  }
  FolderRecord& Folder(const char* name) {
    for (FolderRecord& f : AllFolders()) if (f.name8 == name) return f;
    throw std::runtime_error("no folder");
  }
  FileRecord& File(const char* name) {
    for (FileRecord& f : AllFiles()) if (f.name8 == name) return f;
    throw std::runtime_error("no file");
  }

  TestHost host;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
};

TEST_F(SearchDialogTest, OpensWithTheDefaultCriteria) {
  AdvanceSearchFile dlg(host);
  EXPECT_TRUE(dlg.TypeBox().isChecked());
  EXPECT_TRUE(dlg.IncludeDeleted().isChecked());
  EXPECT_TRUE(dlg.IncludeDeleted().isEnabled());
  EXPECT_FALSE(dlg.DateKindBox().isEnabled());
  EXPECT_FALSE(dlg.SizeFrom().isEnabled());
  QString dates;
  for (QComboBox* b : dlg.DateBoxes()) dates += b->currentText() + " ";
  EXPECT_EQ(dates, "01 01 1970 31 12 2030 ");
  EXPECT_EQ(dlg.SizeFrom().text() + "-" + dlg.SizeTo().text() + " " + dlg.UnitBox().currentText(), "0-2 GB");
  EXPECT_EQ(dlg.DateKindBox().currentText(), "Created Date");
  EXPECT_FALSE(dlg.List().isVisible());
}

TEST_F(SearchDialogTest, CriteriaBoxesAndWhatTheyPassOn) {
  AdvanceSearchFile dlg(host);
  // "Only deleted" stays in force after "Type" is unticked.
  dlg.OnlyDeleted().setChecked(true);
  dlg.TypeBox().click();
  EXPECT_FALSE(dlg.OnlyDeleted().isEnabled());
  EXPECT_EQ(dlg.Criteria().deleted, DeletedChoice::kOnly);
  // Ticking "Size" selects bytes; the bounds go through the unit.
  dlg.SizeBox().click();
  EXPECT_TRUE(dlg.SizeFrom().isEnabled());
  EXPECT_EQ(dlg.UnitBox().currentText(), "Bytes");
  dlg.UnitBox().setCurrentText("KB");
  dlg.SizeTo().setText("3");
  EXPECT_EQ(dlg.Criteria().sizeHigh, 3072u);
  // An unticked "Date" passes no date test; a ticked one its range.
  EXPECT_EQ(dlg.Criteria().dateKind, DateKind::kNone);
  dlg.DateBox().click();
  dlg.DateKindBox().setCurrentIndex(1);
  dlg.DateBoxes()[2]->setCurrentText("2000");
  const SearchCriteria c = dlg.Criteria();
  EXPECT_EQ(c.dateKind, DateKind::kModified);
  EXPECT_EQ(c.fromYear, 2000);
  EXPECT_EQ(c.toYear, 2030);
}

TEST_F(SearchDialogTest, SearchesListMatchesAndSizeSearchesListFilesOnly) {
  struct Case {
    const char* pattern;
    bool size;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      // The newest match is on top.
      {"*", false, {"File|NOTE.TXT", "Deleted File|GONE.DOC", "File|REPORT.DOC", "Deleted Folder|OLD", "Folder|DOCS"}},
      {"*.doc", false, {"Deleted File|GONE.DOC", "File|REPORT.DOC"}},
      {"*", true, {"File|NOTE.TXT", "Deleted File|GONE.DOC", "File|REPORT.DOC"}},
  };
  for (const Case& c : cases) {
    AdvanceSearchFile dlg(host);
    if (c.size) {
      dlg.SizeBox().click();
      dlg.SizeTo().setText("1000");
    }
    EXPECT_EQ(Search(dlg, c.pattern), c.rows) << c.pattern;
    EXPECT_EQ(dlg.MatchCountLabel().text().toInt(), static_cast<int>(c.rows.size()));
    EXPECT_TRUE(dlg.SelectAllBox().isEnabled());
  }
  // Dates as in the results list: FAT created and modified with the time, accessed without.
  AdvanceSearchFile dlg(host);
  Search(dlg, "REPORT.DOC");
  QTreeWidgetItem* row = dlg.List().topLevelItem(0);
  EXPECT_EQ(row->text(AdvanceSearchFile::kCreated), "04-Mar-2021 00:00");
  EXPECT_EQ(row->text(AdvanceSearchFile::kAccessed), "04-Mar-2021");
  // File rows carry their type's icon, as in the results list.
  EXPECT_EQ(row->icon(0).cacheKey(), FileTypeIcon("REPORT.DOC").cacheKey());
  EXPECT_NE(row->icon(0).cacheKey(), GenericFileIcon().cacheKey());
}

TEST_F(SearchDialogTest, RowTicksWriteThroughToRecordsAndTree) {
  AdvanceSearchFile dlg(host);
  Search(dlg, "*");
  // The first tick of a file row already counts.
  dlg.List().topLevelItem(RowOf(dlg, "NOTE.TXT"))->setCheckState(0, Qt::Checked);
  EXPECT_EQ(File("NOTE.TXT").checkFlag.load(), 'y');
  const uint32_t oldItem = Folder("OLD").treeItem;
  EXPECT_EQ(host.tree.Node(oldItem)->tickState.load(), kTickTicked);
  EXPECT_EQ(host.tree.Node(Folder("DOCS").treeItem)->tickState.load(), kTickTicked);

  dlg.List().topLevelItem(RowOf(dlg, "NOTE.TXT"))->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(File("NOTE.TXT").checkFlag.load(), 'n');
  // As a tree untick: the folder and its ancestors, which hold nothing else ticked.
  EXPECT_EQ(host.tree.Node(oldItem)->tickState.load(), kTickUnticked);
  EXPECT_EQ(host.tree.Node(Folder("DOCS").treeItem)->tickState.load(), kTickUnticked);
  EXPECT_EQ(host.tree.Node(host.tree.Root())->tickState.load(), kTickUnticked);

  // A ticked sibling keeps the shared folder ticked.
  dlg.List().topLevelItem(RowOf(dlg, "REPORT.DOC"))->setCheckState(0, Qt::Checked);
  dlg.List().topLevelItem(RowOf(dlg, "NOTE.TXT"))->setCheckState(0, Qt::Checked);
  dlg.List().topLevelItem(RowOf(dlg, "NOTE.TXT"))->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(host.tree.Node(oldItem)->tickState.load(), kTickUnticked);
  EXPECT_EQ(host.tree.Node(Folder("DOCS").treeItem)->tickState.load(), kTickTicked);
  dlg.List().topLevelItem(RowOf(dlg, "REPORT.DOC"))->setCheckState(0, Qt::Unchecked);

  dlg.List().topLevelItem(RowOf(dlg, "DOCS"))->setCheckState(0, Qt::Checked);
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'y');
  EXPECT_EQ(host.tree.Node(oldItem)->tickState.load(), kTickTicked);
  dlg.List().topLevelItem(RowOf(dlg, "DOCS"))->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(Folder("DOCS").checkFlag.load(), 'n');
  EXPECT_EQ(host.tree.Node(oldItem)->tickState.load(), kTickUnticked);

  // Select all ticks every row and every record behind it.
  dlg.SelectAllBox().setChecked(true);
  dlg.OnSelectAll();
  for (int i = 0; i < dlg.List().topLevelItemCount(); ++i) {
    EXPECT_EQ(dlg.List().topLevelItem(i)->checkState(0), Qt::Checked);
  }
  for (const FileRecord& f : AllFiles()) EXPECT_EQ(f.checkFlag.load(), 'y') << f.name8;
  for (const FolderRecord& f : AllFolders()) EXPECT_EQ(f.checkFlag.load(), 'y') << f.name8;
}

TEST_F(SearchDialogTest, OpeningAFolderShowsItAndClosesTheDialog) {
  AdvanceSearchFile dlg(host);
  Search(dlg, "OLD");
  dlg.setResult(-1);
  dlg.OpenFoundItem(0);
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.shown[0], std::make_pair(Folder("OLD").treeItem, 11u));
  EXPECT_EQ(host.restored, 1);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(SearchDialogTest, StopQuestionNoKeepsTheSearchAndYesEndsIt) {
  // Enough records that the search is still running when Stop is pressed.
  const RecordTimes t = {};
  for (int i = 0; i < 100000; ++i) InsertFileRecord("F" + std::to_string(i) + ".BIN", u"", 'n', 1, 10, 100 + i, 0, t);
  AdvanceSearchFile dlg(host);
  dlg.NameEdit().setText("*");
  dlg.OnStartButton();
  prompt.answers = {IDCANCEL, IDOK};
  if (dlg.SearchRunning()) {
    dlg.OnOK();  // No
    EXPECT_EQ(dlg.StartButton().text(), "&Stop Search");
    dlg.OnOK();  // Yes
    EXPECT_FALSE(dlg.SearchRunning());
    EXPECT_EQ(dlg.StartButton().text(), "&Start Search");
    EXPECT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(prompt.questions[0], kStopSearchQuestion);
  }
  dlg.WaitForSearch();
  QCoreApplication::processEvents();
  // Closing while a search runs asks its own question the same way, and a
  // stopped search leaves the dialog open.
  prompt.questions.clear();
  prompt.answers = {IDCANCEL, IDOK};
  dlg.setResult(-1);
  dlg.OnOK();
  if (dlg.SearchRunning()) {
    dlg.OnCancel();  // No
    EXPECT_TRUE(dlg.SearchRunning() || dlg.StartButton().text() == "&Stop Search");
    dlg.OnCancel();  // Yes
    EXPECT_FALSE(dlg.SearchRunning());
    EXPECT_EQ(dlg.StartButton().text(), "&Start Search");
    ASSERT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(prompt.questions[0], kStopSearchOnCloseQuestion);
    EXPECT_EQ(dlg.result(), -1);
    EXPECT_EQ(host.restored, 0);
  }
  dlg.WaitForSearch();
  QCoreApplication::processEvents();
  // Closing with nothing running restores the list's icons and ends the dialog.
  dlg.setResult(-1);
  dlg.OnCancel();
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_EQ(host.restored, 1);
}

// The captions of the size and date boxes stand by the boxes they name.
TEST_F(SearchDialogTest, SizeAndDateBoxesHaveTheirCaptions) {
  AdvanceSearchFile dlg(host);
  dlg.show();
  auto caption = [&](const char* text) -> QLabel* {
    for (QLabel* l : dlg.findChildren<QLabel*>())
      if (l->text() == QLatin1String(text)) return l;
    return nullptr;
  };
  QLabel* date = caption("Date ( DD - MM - YYY)");
  QLabel* between = caption("( Between )");
  QLabel* size = caption("Size between : ");
  ASSERT_NE(date, nullptr);
  ASSERT_NE(between, nullptr);
  ASSERT_NE(size, nullptr);
  const std::array<QComboBox*, 6> d = dlg.DateBoxes();
  const QRect from = d[0]->geometry().united(d[2]->geometry());
  const QRect to = d[3]->geometry().united(d[5]->geometry());
  const auto overColumns = [](const QRect& a, const QRect& b) { return a.left() < b.right() && b.left() < a.right(); };
  // The date form above the from-date, "( Between )" between it and the to-date.
  EXPECT_LE(date->geometry().bottom(), from.top());
  EXPECT_LE(from.top() - date->geometry().bottom(), 12);
  EXPECT_TRUE(overColumns(date->geometry(), from));
  EXPECT_GE(between->geometry().top(), from.bottom());
  EXPECT_LE(between->geometry().bottom(), to.top());
  EXPECT_TRUE(overColumns(between->geometry(), from));
  // "Size between : " above the two size boxes.
  const QRect sizes = dlg.SizeFrom().geometry().united(dlg.SizeTo().geometry());
  EXPECT_LE(size->geometry().bottom(), sizes.top());
  EXPECT_LE(sizes.top() - size->geometry().bottom(), 12);
  EXPECT_TRUE(overColumns(size->geometry(), sizes));
  for (QLabel* l : {date, between, size}) {
    EXPECT_TRUE(l->isVisible()) << l->text().toStdString();
    EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text())) << l->text().toStdString();
  }
  // With the criteria folded away under the results, their captions go too.
  Search(dlg, "*");
  for (QLabel* l : {date, between, size}) EXPECT_FALSE(l->isVisible()) << l->text().toStdString();
  dlg.OnToggleCriteria();
  for (QLabel* l : {date, between, size}) EXPECT_TRUE(l->isVisible()) << l->text().toStdString();
}

// Distinct colours inside a rectangle of a picture.
size_t ColoursIn(const QImage& img, const QRect& r) {
  std::set<QRgb> seen;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) seen.insert(img.pixel(x, y) & 0xFFFFFF);
  return seen.size();
}

QImage Rgb32(const QImage& img) { return img.convertToFormat(QImage::Format_RGB32); }

// The pictures of both layouts show what each must: the criteria alone with
// the name box; after a search with the criteria unfolded again, the same
// criteria above the list of matches, the deleted ones in red.
TEST_F(SearchDialogTest, GrabBothLayouts) {
  AdvanceSearchFile dlg(host);
  const QImage criteria = Rgb32(dlg.grab().toImage());
  EXPECT_TRUE(criteria.save(QStringLiteral(QM_TEST_OUTPUT_DIR "/search_dialog_criteria.png")));
  EXPECT_EQ(criteria.size(), dlg.size());
  const QRect nameBox = dlg.NameEdit().geometry();
  ASSERT_TRUE(criteria.rect().contains(nameBox));
  EXPECT_EQ(criteria.copy(nameBox), Rgb32(dlg.NameEdit().grab().toImage()));
  EXPECT_FALSE(dlg.List().isVisible());

  Search(dlg, "*");
  dlg.OnToggleCriteria();
  const QImage results = Rgb32(dlg.grab().toImage());
  EXPECT_TRUE(results.save(QStringLiteral(QM_TEST_OUTPUT_DIR "/search_dialog_results.png")));
  EXPECT_EQ(results.size(), dlg.size());
  EXPECT_EQ(results.width(), criteria.width());
  EXPECT_GT(results.height(), criteria.height());
  EXPECT_EQ(results.copy(nameBox), Rgb32(dlg.NameEdit().grab().toImage()));
  EXPECT_NE(results.copy(nameBox), criteria.copy(nameBox));  // the pattern typed
  const QRect list = dlg.List().geometry();
  ASSERT_TRUE(results.rect().contains(list));
  EXPECT_GT(list.top(), dlg.StartButton().geometry().bottom());
  EXPECT_EQ(results.copy(list), Rgb32(dlg.List().grab().toImage()));
  EXPECT_GT(ColoursIn(results, list), 2u);  // rows of text, not an empty box
  int red = 0;
  for (int y = list.top(); y <= list.bottom(); ++y)
    for (int x = list.left(); x <= list.right(); ++x) red += (results.pixel(x, y) & 0xFFFFFF) == 0xFF0000u;
  EXPECT_GT(red, 20);
}

}  // namespace
}  // namespace qm
