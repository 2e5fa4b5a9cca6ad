#include "results/list_views_ui.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QListView>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStringList>
#include <QStyle>
#include <QTreeWidget>

#include "controls/colored_list.h"
#include "results/tick_model.h"

namespace qm {

namespace {

constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

// The theme the desktop's file icons come from when the platform names none
// that has them (no desktop session, or only the bare base theme); setup
// installs it. A theme that has the generic text icon is kept.
constexpr char kIconTheme[] = "Adwaita";
constexpr char kProbeIconName[] = "text-x-generic";
constexpr char kGenericIconName[] = "application-x-generic";

void UseIconTheme() {
  static const bool done = [] {
    // Some platforms (offscreen) search only the built-in icons: add the
    // desktop's icon folders.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
      const QString icons = data + QStringLiteral("/icons");
      if (!paths.contains(icons) && QFileInfo(icons).isDir()) paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    if (!QIcon::hasThemeIcon(QString::fromLatin1(kProbeIconName)))
      QIcon::setThemeName(QString::fromLatin1(kIconTheme));
    return true;
  }();
  (void)done;
}

void ShowIconView(QTreeWidget& list, QListView& icons, int size) {
  icons.setIconSize(QSize(size, size));
  icons.setGeometry(list.geometry());
  const bool focused = list.hasFocus();
  list.hide();
  icons.show();
  if (focused) icons.setFocus();
}

}  // namespace

QListView* CreateIconView(QTreeWidget& list) {
  auto* icons = new QListView(list.parentWidget());
  icons->setModel(list.model());
  // One selection for both views: the page reads it through the list.
  QItemSelectionModel* own = icons->selectionModel();
  icons->setSelectionModel(list.selectionModel());
  delete own;
  icons->setModelColumn(0);
  icons->setViewMode(QListView::ListMode);
  icons->setFlow(QListView::TopToBottom);
  icons->setWrapping(true);
  icons->setResizeMode(QListView::Adjust);
  // A long listing is laid out in steps, so the page stays responsive.
  icons->setLayoutMode(QListView::Batched);
  icons->setSelectionMode(list.selectionMode());
  icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
  icons->setFont(list.font());
  icons->setPalette(list.palette());
  icons->hide();
  return icons;
}

void ShowDetails(QTreeWidget& list, QListView& icons) {
  list.setIconSize(QSize(kSmallIcon, kSmallIcon));
  const bool focused = icons.hasFocus();
  icons.hide();
  list.show();
  if (focused) list.setFocus();
}

void ShowSmallIcons(QTreeWidget& list, QListView& icons) { ShowIconView(list, icons, kSmallIcon); }

void ShowLargeIcons(QTreeWidget& list, QListView& icons) { ShowIconView(list, icons, kLargeIcon); }

ListViewMode CurrentViewMode(const QTreeWidget&, const QListView& icons) {
  if (icons.isHidden()) return ListViewMode::kDetails;
  return icons.iconSize().width() >= kLargeIcon ? ListViewMode::kLargeIcons : ListViewMode::kSmallIcons;
}

QIcon GenericFileIcon() {
  UseIconTheme();
  static const QIcon generic = [] {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(kGenericIconName));
    if (icon.isNull()) icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
  }();
  return generic;
}

QIcon FolderIcon() {
  UseIconTheme();
  static const QIcon folder = [] {
    QIcon icon = QIcon::fromTheme(QStringLiteral("folder"));
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    return icon;
  }();
  return folder;
}

QIcon FileTypeIcon(const QString& name) {
  UseIconTheme();
  static QHash<QString, QIcon> byExtension;
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
  if (auto it = byExtension.constFind(extension); it != byExtension.constEnd()) return *it;
  QIcon icon;
  if (!extension.isEmpty()) {
    static const QMimeDatabase mimes;
    // The name alone decides: the file's bytes are on the scanned medium.
    const QMimeType mime = mimes.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    if (mime.isValid() && !mime.isDefault()) {
      icon = QIcon::fromTheme(mime.iconName());
      if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
    }
  }
  if (icon.isNull()) icon = GenericFileIcon();
  byExtension.insert(extension, icon);
  return icon;
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
