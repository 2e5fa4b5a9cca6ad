#include "controls/colored_list.h"

#include <QHeaderView>
#include <QStyledItemDelegate>

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

}  // namespace qm
