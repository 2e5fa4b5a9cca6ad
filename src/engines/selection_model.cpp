#include "engines/selection_model.h"

#include <atomic>
#include <set>
#include <utility>

#include "state/app_state.h"
#include "engines/catalog.h"

namespace qm {

namespace {

// Item ids are unique for the whole run, like the tree's own items.
std::atomic<uint32_t> g_NextItemId{1};

uint32_t NewItemId() { return g_NextItemId.fetch_add(1); }

}  // namespace

SelectionModel::SelectionModel() { Clear(); }

void SelectionModel::Clear() {
  nodes_.clear();
  auto root = std::make_unique<SelectionNode>();
  root->id = NewItemId();
  root_ = root->id;
  nodes_.emplace(root_, std::move(root));
  selectedFileCount = 0;
  selectedBytes = 0;
}

uint32_t SelectionModel::AddItem(uint32_t parent, std::u16string text, FolderRecord* folder, int tickState) {
  SelectionNode* p = Node(parent);
  if (!p) return 0;
  auto node = std::make_unique<SelectionNode>();
  node->id = NewItemId();
  node->parent = parent;
  node->text = std::move(text);
  node->tickState = tickState;
  node->folder = folder;
  if (folder) {
    CatalogEdit edit;  // a scan log may be reading the tree items
    folder->treeItem = node->id;
  }
  const uint32_t id = node->id;
  p->children.push_back(id);
  nodes_.emplace(id, std::move(node));
  return id;
}

SelectionNode* SelectionModel::Node(uint32_t id) {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : it->second.get();
}

const SelectionNode* SelectionModel::Node(uint32_t id) const {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : it->second.get();
}

void SelectionModel::SetTick(uint32_t id, int state, bool subtree) {
  std::vector<uint32_t> pending{id};
  while (!pending.empty()) {
    SelectionNode* n = Node(pending.back());
    pending.pop_back();
    if (!n) continue;
    n->tickState = state;
    if (subtree) pending.insert(pending.end(), n->children.begin(), n->children.end());
  }
}

std::vector<std::u16string> SelectionModel::ItemPath(uint32_t id) const {
  std::vector<std::u16string> path;
  // Bounded by the number of items, so a damaged parent link cannot loop.
  for (const SelectionNode* n = Node(id); n && n->id != root_ && path.size() <= nodes_.size(); n = Node(n->parent))
    path.insert(path.begin(), n->text);
  return path;
}

void SelectionModel::BuildFromCatalog(uint32_t rootKey, int tickState) {
  std::set<uint32_t> seen{rootKey};
  std::vector<std::pair<uint32_t, uint32_t>> pending{{root_, rootKey}};  // item, folder key
  while (!pending.empty()) {
    const auto [item, key] = pending.back();
    pending.pop_back();
    std::vector<std::pair<uint32_t, uint32_t>> next;
    for (FolderRecord& f : FoldersWithParent(key)) {
      if (f.fileSystemNumber != g_AppState.currentVolume || !seen.insert(f.ownKey).second) continue;
      const uint32_t child = AddItem(item, RecordName(f), &f, tickState);
      next.emplace_back(child, f.ownKey);
    }
    pending.insert(pending.end(), next.rbegin(), next.rend());
  }
}

}  // namespace qm
