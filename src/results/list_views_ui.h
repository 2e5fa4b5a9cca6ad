#pragma once
// The results list's view modes and the fonts of the results page's tree,
// list and status text.
#include <QFont>
#include <QStringList>

#include <initializer_list>


class QTreeWidget;
class QWidget;

namespace qm {

class CColoredListCtrl;

// The widest texts that a list's fixed-format columns show: the four row
// types, a 13-digit size and a date with the time to the second.
QStringList WidestTypeTexts();
QStringList WidestSizeTexts();
QStringList WidestDateTexts();
// Widens the type, size and date columns (by index; -1 for none) so that
// those texts are never cut.
void FitFixedFormatColumns(CColoredListCtrl& list, int typeColumn, int sizeColumn, std::initializer_list<int> dates);

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
