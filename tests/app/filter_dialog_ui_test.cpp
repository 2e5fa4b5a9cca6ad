#include "app/filter_dialog.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "engines/recovery_filter.h"
#include "support/fakes.h"

namespace qm {
namespace {

std::vector<std::u16string> FilterList() {
  std::vector<std::u16string> out;
  for (int i = 0; i < g_AppState.extensionCount; ++i) out.emplace_back(g_AppState.extensionFilter[i]);
  return out;
}

std::vector<int32_t> Six(const int32_t* v) { return std::vector<int32_t>(v, v + 6); }

class FilterDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
  }
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
};

void Add(DataSavingSettings& dlg, const QString& text) {
  dlg.ExtensionEdit().setText(text);
  dlg.OnAddExtension();
}

// Picks the six boxes of the current kind and runs the shared handler.
void PickDates(DataSavingSettings& dlg, int fromDay, int fromMonth, int fromYear, int toDay, int toMonth,
               int toYear) {
  dlg.FromDay().setCurrentIndex(fromDay - 1);
  dlg.FromMonth().setCurrentIndex(fromMonth - 1);
  dlg.FromYear().setCurrentIndex(fromYear - 1970);
  dlg.ToDay().setCurrentIndex(toDay - 1);
  dlg.ToMonth().setCurrentIndex(toMonth - 1);
  dlg.ToYear().setCurrentIndex(toYear - 1970);
  dlg.OnDateChanged();
}

TEST_F(FilterDialogTest, OpeningShowsTheWholeSpanAndTheDeletedOption) {
  g_AppState.deletedFilter = 2;
  DataSavingSettings dlg;
  EXPECT_TRUE(dlg.DeletedOnly().isChecked());
  EXPECT_FALSE(dlg.IncludeDeleted().isChecked());
  EXPECT_EQ(dlg.KindBox().currentText(), "Modified Date");
  EXPECT_EQ(dlg.FromDay().currentText() + dlg.FromMonth().currentText() + dlg.FromYear().currentText(), "01011970");
  EXPECT_EQ(dlg.ToDay().currentText() + dlg.ToMonth().currentText() + dlg.ToYear().currentText(), "31122030");
  // The defaults filter nothing.
  EXPECT_EQ(Six(g_AppState.modifiedDateRange), std::vector<int32_t>(6, 0));
  EXPECT_EQ(dlg.windowTitle().toStdU16String(), g_AppState.windowTitle);
  EXPECT_TRUE(dlg.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/filter_dialog.png")));
}

TEST_F(FilterDialogTest, FieldsGoIntoTheFilterAtOnce) {
  DataSavingSettings dlg;
  struct Option {
    QRadioButton* button;
    int value;
  } options[] = {{&dlg.ExcludeDeleted(), 1}, {&dlg.DeletedOnly(), 2}, {&dlg.IncludeDeleted(), 0}};
  for (const Option& o : options) {
    o.button->click();
    EXPECT_EQ(g_AppState.deletedFilter, o.value);
  }

  struct DateCase {
    const char* name;
    int kind;
    int fd, fm, fy, td, tm, ty;
    int32_t* range;
    std::vector<int32_t> expected;  // from-day, from-month, from-year, to-day, to-month, to-year
  } cases[] = {
      {"modified", kModifiedDate, 2, 3, 2001, 4, 5, 2002, g_AppState.modifiedDateRange, {2, 3, 2001, 4, 5, 2002}},
      {"created", kCreatedDate, 1, 1, 1990, 31, 12, 1999, g_AppState.createdDateRange, {1, 1, 1990, 31, 12, 1999}},
      {"accessed", kAccessedDate, 15, 6, 2020, 15, 6, 2020, g_AppState.accessedDateRange, {15, 6, 2020, 15, 6, 2020}},
      {"back to the whole span", kModifiedDate, 1, 1, 1970, 31, 12, 2030, g_AppState.modifiedDateRange,
       {0, 0, 0, 0, 0, 0}},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.name);
    dlg.KindBox().setCurrentIndex(c.kind);
    dlg.OnKindChanged();
    PickDates(dlg, c.fd, c.fm, c.fy, c.td, c.tm, c.ty);
    EXPECT_EQ(Six(c.range), c.expected);
  }
  // Switching the kind shows that kind's own selections.
  dlg.KindBox().setCurrentIndex(kCreatedDate);
  dlg.OnKindChanged();
  EXPECT_EQ(dlg.FromYear().currentText(), "1990");
  EXPECT_EQ(dlg.ToYear().currentText(), "1999");
}

TEST_F(FilterDialogTest, CancelPutsEveryFieldBack) {
  g_AppState.deletedFilter = 1;
  {
    DataSavingSettings first;
    first.KindBox().setCurrentIndex(kCreatedDate);
    first.OnKindChanged();
    PickDates(first, 1, 2, 2000, 3, 4, 2005);
    first.accept();
  }
  const std::vector<int32_t> created = Six(g_AppState.createdDateRange);
  const std::vector<int32_t> createdSel = Six(g_AppState.createdDateSelection);
  ASSERT_EQ(created, (std::vector<int32_t>{1, 2, 2000, 3, 4, 2005}));

  DataSavingSettings dlg;
  dlg.IncludeDeleted().click();
  for (int kind : {kModifiedDate, kCreatedDate, kAccessedDate}) {
    dlg.KindBox().setCurrentIndex(kind);
    dlg.OnKindChanged();
    PickDates(dlg, 9, 9, 2009, 10, 10, 2010);
  }
  Add(dlg, "tmp");
  dlg.reject();
  EXPECT_EQ(g_AppState.deletedFilter, 1);
  EXPECT_EQ(Six(g_AppState.createdDateRange), created);
  EXPECT_EQ(Six(g_AppState.createdDateSelection), createdSel);
  EXPECT_EQ(Six(g_AppState.modifiedDateRange), std::vector<int32_t>(6, 0));
  EXPECT_EQ(Six(g_AppState.accessedDateRange), std::vector<int32_t>(6, 0));
  EXPECT_EQ(g_AppState.extensionCount, 0);
}

TEST_F(FilterDialogTest, EachOpeningEmptiesTheExtensionList) {
  {
    DataSavingSettings dlg;
    for (const char* e : {"tmp", "bak", "html"}) Add(dlg, e);
    // Only the first is in force before Apply; the others are staged.
    EXPECT_EQ(FilterList(), std::vector<std::u16string>{u"tmp"});
    EXPECT_EQ(dlg.PendingCount(), 2);
    dlg.accept();
  }
  EXPECT_EQ(FilterList(), (std::vector<std::u16string>{u"tmp", u"bak", u"html"}));
  EXPECT_FALSE(PassesExtensionList(u"a.doc"));
  EXPECT_TRUE(PassesExtensionList(u"a.HTML"));
  {
    DataSavingSettings dlg;  // opening alone drops the list
    EXPECT_EQ(g_AppState.extensionCount, 0);
    EXPECT_EQ(dlg.ExtensionList().count(), 0);
    dlg.reject();
  }
  EXPECT_TRUE(PassesExtensionList(u"a.doc"));
}

TEST_F(FilterDialogTest, ExtensionChecks) {
  struct Case {
    const char* name;
    QString text;
    const char16_t* message;  // nullptr: accepted
  } cases[] = {
      {"four letters", "html", nullptr},
      {"five letters", "jpegs", kExtensionTooLongText},
      {"leading dot", ".tmp", kExtensionDotText},
      {"dot inside", "t.p", kExtensionDotText},
      {"star", "*", kExtensionStarText},
      {"leading blank", " tm", kExtensionBlankText},
      {"blank inside", "t p", nullptr},
      {"same again", "html", kExtensionExistsText},
      {"other case is another entry", "HTML", nullptr},
      {"long text read only to 39 characters", QString(60, 'x'), kExtensionTooLongText},
  };
  DataSavingSettings dlg;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompt.messages.clear();
    const int before = dlg.ExtensionList().count();
    Add(dlg, c.text);
    if (c.message) {
      ASSERT_EQ(prompt.messages.size(), 1u);
      EXPECT_EQ(prompt.messages[0], c.message);
      EXPECT_EQ(dlg.ExtensionList().count(), before);
      EXPECT_EQ(dlg.ExtensionEdit().text(), c.text);
    } else {
      EXPECT_TRUE(prompt.messages.empty());
      EXPECT_EQ(dlg.ExtensionList().item(0)->text(), c.text);
      EXPECT_TRUE(dlg.ExtensionEdit().text().isEmpty());
    }
  }
  // Empty text: nothing at all.
  prompt.messages.clear();
  const int before = dlg.ExtensionList().count();
  Add(dlg, "");
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(dlg.ExtensionList().count(), before);
}

TEST_F(FilterDialogTest, AHundredExtensionsAtMost) {
  DataSavingSettings dlg;
  for (int i = 0; i < 100; ++i) Add(dlg, QString::number(i));
  ASSERT_EQ(dlg.ExtensionList().count(), 100);
  EXPECT_TRUE(prompt.messages.empty());
  Add(dlg, "x");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], kTooManyExtensionsText);
  dlg.accept();
  EXPECT_EQ(g_AppState.extensionCount, 100);
  EXPECT_EQ(std::u16string(g_AppState.extensionFilter[99]), u"99");
}

TEST_F(FilterDialogTest, RemovingLeavesExactlyTheShownEntries) {
  DataSavingSettings dlg;
  EXPECT_TRUE(dlg.RemoveButton().ButtonEnabled());
  dlg.OnRemoveExtension();  // empty list: the button disables itself
  EXPECT_FALSE(dlg.RemoveButton().ButtonEnabled());
  for (const char* e : {"a", "b", "c", "d"}) Add(dlg, e);
  EXPECT_TRUE(dlg.RemoveButton().ButtonEnabled());
  // The list shows d c b a; remove the staged "c" and the in-force "a".
  for (const char* gone : {"c", "a"}) {
    const auto found = dlg.ExtensionList().findItems(gone, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    dlg.ExtensionList().setCurrentItem(found[0]);
    dlg.OnRemoveExtension();
  }
  dlg.accept();
  std::vector<std::u16string> got = FilterList();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::u16string>{u"b", u"d"}));
}

TEST_F(FilterDialogTest, BackwardsRangeIsNotApplied) {
  DataSavingSettings dlg;
  dlg.KindBox().setCurrentIndex(kAccessedDate);
  dlg.OnKindChanged();
  PickDates(dlg, 1, 6, 2010, 1, 5, 2010);  // ends before it starts
  dlg.show();
  dlg.accept();
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], kDateRangeBackwardsText);
  EXPECT_TRUE(dlg.isVisible());  // still open
  PickDates(dlg, 1, 5, 2010, 1, 6, 2010);
  dlg.accept();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(Six(g_AppState.accessedDateRange), (std::vector<int32_t>{1, 5, 2010, 1, 6, 2010}));
}

TEST_F(FilterDialogTest, RangeEndingOnTheFirstEntryShowsAsChosen) {
  {
    DataSavingSettings dlg;
    PickDates(dlg, 1, 1, 1970, 1, 1, 1970);
    dlg.accept();
  }
  ASSERT_EQ(Six(g_AppState.modifiedDateRange), (std::vector<int32_t>{1, 1, 1970, 1, 1, 1970}));
  DataSavingSettings again;
  EXPECT_EQ(again.ToDay().currentText() + again.ToMonth().currentText() + again.ToYear().currentText(), "01011970");
  EXPECT_EQ(Six(g_AppState.modifiedDateRange), (std::vector<int32_t>{1, 1, 1970, 1, 1, 1970}));
}

}  // namespace
}  // namespace qm
