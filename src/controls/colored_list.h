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
};

}  // namespace qm
