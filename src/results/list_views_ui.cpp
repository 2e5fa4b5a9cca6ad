#include "results/list_views_ui.h"

#include <QStringList>

#include "controls/colored_list.h"
#include "results/tick_model.h"

#include <QTreeWidget>

namespace qm {

namespace {

constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

void ShowColumns(QTreeWidget& list, bool all) {
  for (int c = 1; c < list.columnCount(); ++c) list.setColumnHidden(c, !all);
}

}  // namespace

void ShowDetails(QTreeWidget& list) {
  ShowColumns(list, true);
  list.setIconSize(QSize(kSmallIcon, kSmallIcon));
}

void ShowSmallIcons(QTreeWidget& list) {
  ShowColumns(list, false);
  list.setIconSize(QSize(kSmallIcon, kSmallIcon));
}

void ShowLargeIcons(QTreeWidget& list) {
  ShowColumns(list, false);
  list.setIconSize(QSize(kLargeIcon, kLargeIcon));
}

ListViewMode CurrentViewMode(const QTreeWidget& list) {
  if (list.columnCount() < 2 || !list.isColumnHidden(1)) return ListViewMode::kDetails;
  return list.iconSize().width() >= kLargeIcon ? ListViewMode::kLargeIcons : ListViewMode::kSmallIcons;
}

QFont ResultsViewFont(int dpiY) {
  QFont font(QStringLiteral("MS Sans Sarif"));
  font.setWeight(QFont::Normal);
  // The cell height of a 12-point font, as the page's font tables give it.
  font.setPixelSize((12 * (dpiY > 0 ? dpiY : 96) + 36) / 72);
  return font;
}

void SetViewFonts(QWidget& tree, QWidget& list, QWidget& status, bool largeDesktop) {
  const QFont font = ResultsViewFont(list.logicalDpiY());
  QFont treeFont = font;
  if (largeDesktop) treeFont.setPixelSize(20);
  tree.setFont(treeFont);
  list.setFont(font);
  status.setFont(font);
}

QStringList WidestTypeTexts() {
  return {QStringLiteral("Folder"), QStringLiteral("File"), QStringLiteral("Deleted File"),
          QStringLiteral("Deleted Folder")};
}

QStringList WidestSizeTexts() { return {QStringLiteral("8888888888888")}; }

QStringList WidestDateTexts() {
  QStringList texts;
  for (uint32_t month = 1; month <= 12; ++month) {
    const uint32_t date = ((2088u - 1980u) << 9) | (month << 5) | 28u;
    texts << QString::fromStdU16String(FatTimeText(date, (23u << 11) | (58u << 5), true) + u":58");
  }
  return texts;
}

void FitFixedFormatColumns(CColoredListCtrl& list, int typeColumn, int sizeColumn, std::initializer_list<int> dates) {
  if (typeColumn >= 0) list.FitColumnTo(typeColumn, WidestTypeTexts());
  if (sizeColumn >= 0) list.FitColumnTo(sizeColumn, WidestSizeTexts());
  const QStringList dateTexts = WidestDateTexts();
  for (int c : dates) list.FitColumnTo(c, dateTexts);
}

}  // namespace qm
