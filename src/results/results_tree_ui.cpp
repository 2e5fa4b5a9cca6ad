#include "results/results_tree_ui.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStyle>

#include <vector>

#include "engines/selection_model.h"
#include "results/tick_model.h"

namespace qm {

namespace {
constexpr int kIdRole = Qt::UserRole + 1;
// The box state the model last gave the item: a change that leaves it as
// it was is a rename.
constexpr int kBoxRole = Qt::UserRole + 2;
}

CResultsTreeCtrl::CResultsTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  header()->hide();
  setRootIsDecorated(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(this, &QTreeWidget::itemChanged, this, &CResultsTreeCtrl::OnItemChanged);
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    // A click on the box changed the tick first: it shows nothing.
    if (toggled_) {
      toggled_ = false;
      return;
    }
    if (item && !syncing_) emit folderRequested(IdOf(item));
  });
}

uint32_t CResultsTreeCtrl::IdOf(const QTreeWidgetItem* item) {
  return item ? item->data(0, kIdRole).toUInt() : 0;
}

QTreeWidgetItem* CResultsTreeCtrl::ItemById(uint32_t id) const {
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

void CResultsTreeCtrl::Rebuild(const SelectionModel& tree) {
  QSignalBlocker block(this);
  clear();
  items_.clear();
  const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
  root_ = new QTreeWidgetItem(this, QStringList(QStringLiteral("This PC")));
  root_->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  root_->setData(0, kIdRole, tree.Root());
  root_->setFlags(root_->flags() | Qt::ItemIsUserCheckable);
  root_->setCheckState(0, Qt::Unchecked);
  root_->setData(0, kBoxRole, int(Qt::Unchecked));
  items_[tree.Root()] = root_;
  // Depth first with an explicit stack, as deep as the model is.
  std::vector<uint32_t> pending{tree.Root()};
  while (!pending.empty()) {
    const uint32_t id = pending.back();
    pending.pop_back();
    const SelectionNode* node = tree.Node(id);
    QTreeWidgetItem* parent = items_[id];
    for (uint32_t child : node->children) {
      const SelectionNode* c = tree.Node(child);
      auto* item = new QTreeWidgetItem(parent, QStringList(QString::fromStdU16String(c->text)));
      item->setIcon(0, folderIcon);
      item->setData(0, kIdRole, child);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
      const Qt::CheckState box = c->tickState.load() == kTickTicked ? Qt::Checked : Qt::Unchecked;
      item->setCheckState(0, box);
      item->setData(0, kBoxRole, int(box));
      items_[child] = item;
      pending.push_back(child);
    }
  }
  root_->setExpanded(true);
}

void CResultsTreeCtrl::SyncMarks(const TickModel& ticks) {
  QSignalBlocker block(this);
  syncing_ = true;
  for (auto& [id, item] : items_) {
    // A folder holding only part of its content ticked shows a partial tick.
    const int state = ticks.GetItemCheckState(id);
    const bool partial = (state == 1 && !ticks.AllChildrenChecked(id)) || (state == 0 && ticks.IsBold(id));
    const Qt::CheckState want = partial ? Qt::PartiallyChecked : state == 1 ? Qt::Checked : Qt::Unchecked;
    if (item->checkState(0) != want) item->setCheckState(0, want);
    item->setData(0, kBoxRole, int(want));
    const bool bold = ticks.IsBold(id);
    if (item->font(0).bold() != bold) {
      QFont f = item->font(0);
      f.setBold(bold);
      item->setFont(0, f);
    }
  }
  syncing_ = false;
}

void CResultsTreeCtrl::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (syncing_ || column != 0 || !item) return;
  // The model decides the marks; put the box back until it has.
  const uint32_t id = IdOf(item);
  if (item->checkState(0) == item->data(0, kBoxRole).toInt()) {
    emit renamed(id, item->text(0));
    return;
  }
  toggled_ = true;
  emit tickRequested(id);
}

}  // namespace qm

namespace qm {

bool CResultsTreeCtrl::StartRename() {
  QTreeWidgetItem* item = currentItem();
  if (!item || item == root_) return false;
  editItem(item, 0);
  return true;
}

void CResultsTreeCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F2) {
    StartRename();
    return;
  }
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  // Moving the selection by keyboard shows the folder as a click on it does.
  if (QTreeWidgetItem* now = currentItem(); now && now != before && state() != EditingState)
    emit folderRequested(IdOf(now));
}

void CResultsTreeCtrl::mousePressEvent(QMouseEvent* event) {
  toggled_ = false;
  QTreeWidget::mousePressEvent(event);
}

}  // namespace qm
