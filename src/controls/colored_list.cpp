#include "controls/colored_list.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace qm {

namespace {

class RowColorDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    // Only the first 255 characters of the type column take part, as the
    // list reads them into a fixed buffer.
    const QString type =
        index.sibling(index.row(), CColoredListCtrl::kTypeColumn).data(Qt::DisplayRole).toString().left(255);
    const QColor color = CColoredListCtrl::RowColor(type);
    option->palette.setColor(QPalette::Text, color);
    option->palette.setColor(QPalette::HighlightedText, color);
  }
};

}  // namespace

CColoredListCtrl::CColoredListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setItemDelegate(new RowColorDelegate(this));
}

bool CColoredListCtrl::IsDeletedType(const QString& typeText) {
  const QString upper = typeText.toUpper();
  return upper == QStringLiteral("DELETED FILE") || upper == QStringLiteral("DELETED FOLDER");
}

QColor CColoredListCtrl::RowColor(const QString& typeText) {
  return IsDeletedType(typeText) ? QColor(255, 0, 0) : QColor(0, 0, 0);
}

namespace {
constexpr int kCellPadding = 12;  // the item view's margins either side of the text
constexpr int kCheckRoom = 20;
}  // namespace

int CColoredListCtrl::CellWidthNeeded(const QTreeWidgetItem* item, int column) const {
  int need = fontMetrics().horizontalAdvance(item->text(column)) + kCellPadding;
  if (!item->icon(column).isNull()) need += iconSize().width() > 0 ? iconSize().width() + 4 : 20;
  if (column == 0 && (item->flags() & Qt::ItemIsUserCheckable)) need += kCheckRoom;
  return need;
}

QString CColoredListCtrl::CellTip(const QTreeWidgetItem* item, int column) const {
  if (!item || column < 0 || column >= columnCount()) return QString();
  if (CellWidthNeeded(item, column) <= columnWidth(column)) return QString();
  return item->text(column);
}

void CColoredListCtrl::FitColumnTo(int column, const QStringList& texts) {
  int need = header()->sectionSizeHint(column);
  for (const QString& t : texts) need = std::max(need, fontMetrics().horizontalAdvance(t) + kCellPadding);
  if (need > columnWidth(column)) setColumnWidth(column, need);
}

bool CColoredListCtrl::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // A cut cell shows its whole text; the columns stay as the user sized them.
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString tip = CellTip(itemFromIndex(index), index.column());
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
    }
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

}  // namespace qm
