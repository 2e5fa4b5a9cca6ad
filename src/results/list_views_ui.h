#pragma once
// The results list's view modes and the fonts of the results page's tree,
// list and status text.
#include <QFont>

class QTreeWidget;
class QWidget;

namespace qm {

enum class ListViewMode { kDetails, kSmallIcons, kLargeIcons };

// Details: every column with small icons; the icon modes: names only, with
// small or large icons.
void ShowDetails(QTreeWidget& list);
void ShowSmallIcons(QTreeWidget& list);
void ShowLargeIcons(QTreeWidget& list);
ListViewMode CurrentViewMode(const QTreeWidget& list);

// "MS Sans Sarif", normal weight, 12 points at the given dots per inch; the
// tree's is 20 pixels high on a large desktop.
QFont ResultsViewFont(int dpiY);
void SetViewFonts(QWidget& tree, QWidget& list, QWidget& status, bool largeDesktop);

}  // namespace qm
