#include "results/list_views_ui.h"

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

}  // namespace qm
