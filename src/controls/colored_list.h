#pragma once
// The report list of found items: rows whose type column says a deleted
// file or folder are drawn in red, every other row in black.
#include <QTreeWidget>

namespace qm {

class CColoredListCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CColoredListCtrl(QWidget* parent = nullptr);

  // The type column that decides the colour.
  static constexpr int kTypeColumn = 1;
  // True for "DELETED FILE" and "DELETED FOLDER" in any letter case.
  static bool IsDeletedType(const QString& typeText);
  static QColor RowColor(const QString& typeText);

  // Room a cell's text needs in its column, with the box and icon of the row.
  int CellWidthNeeded(const QTreeWidgetItem* item, int column) const;
  // The tip a cell shows when hovered: its whole text when the column cuts
  // it, else nothing.
  QString CellTip(const QTreeWidgetItem* item, int column) const;
  // Widens a column, never narrows it, to fit the widest of the texts.
  void FitColumnTo(int column, const QStringList& texts);

 protected:
  bool viewportEvent(QEvent* event) override;
};

}  // namespace qm
