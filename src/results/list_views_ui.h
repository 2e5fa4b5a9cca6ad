#pragma once
// The results list's view modes and the fonts of the results page's tree,
// list and status text.
#include <QFont>
#include <QIcon>
#include <QStringList>

#include <initializer_list>


class QListView;
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

// The icon views show the list's own rows (the same model and selection):
// names with their icons running down, then on into further columns, with
// no header. Made hidden, in the list's parent.
QListView* CreateIconView(QTreeWidget& list);
// Details shows the list with every column; the icon modes hide it and show
// the icon view, with small or large icons, in its place.
void ShowDetails(QTreeWidget& list, QListView& icons);
void ShowSmallIcons(QTreeWidget& list, QListView& icons);
void ShowLargeIcons(QTreeWidget& list, QListView& icons);
ListViewMode CurrentViewMode(const QTreeWidget& list, const QListView& icons);

// The desktop's icon for a file's type, found by its name's extension in the
// MIME database and the icon theme, or the generic file icon when neither
// knows it. Kept per extension: a volume may list a million files.
QIcon FileTypeIcon(const QString& name);
QIcon GenericFileIcon();
// The desktop's folder icon, in the same theme.
QIcon FolderIcon();

// "MS Sans Sarif", normal weight, 12 points at the given dots per inch; the
// tree's is 20 pixels high on a large desktop.
QFont ResultsViewFont(int dpiY);
void SetViewFonts(QWidget& tree, QWidget& list, QWidget& status, bool largeDesktop);

}  // namespace qm
