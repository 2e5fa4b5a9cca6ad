#pragma once
// The folder tree of the results page: shows the selection model that the
// tick model and the copy-out share, with a check box per item and bold for
// items that are ticked or hold ticked content. A click on a box asks the
// page to tick; a click elsewhere on an item asks it to show that folder.
#include <QTreeWidget>

#include <cstdint>
#include <unordered_map>

namespace qm {

class SelectionModel;
class TickModel;

class CResultsTreeCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CResultsTreeCtrl(QWidget* parent = nullptr);

  // Recreates every item from the model; the root is "This PC".
  void Rebuild(const SelectionModel& tree);
  // Check boxes and bold marks from the tick model; a ticked folder with
  // an unticked sub-folder, or an unticked one holding ticked content,
  // shows a partial tick.
  void SyncMarks(const TickModel& ticks);

  QTreeWidgetItem* ItemById(uint32_t id) const;
  static uint32_t IdOf(const QTreeWidgetItem* item);
  QTreeWidgetItem* RootItem() const { return root_; }
  // F2 on an item other than the root: in-place rename.
  bool StartRename();

 signals:
  // The user toggled the box of an item (click or Space).
  void tickRequested(uint32_t id);
  // The user picked an item to see its contents.
  void folderRequested(uint32_t id);
  // The user finished an in-place rename of an item.
  void renamed(uint32_t id, const QString& text);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);

  QTreeWidgetItem* root_ = nullptr;
  std::unordered_map<uint32_t, QTreeWidgetItem*> items_;
  bool syncing_ = false;
  bool toggled_ = false;
};

}  // namespace qm
