#pragma once
// The plain selection model the copy-out walks: a tree of items, each with
// an id, its shown text, its tick state, its children and the catalogue
// folder it stands for. The results tree drives it (texts, ticks, renames);
// the copy-out and the size evaluation only read it, while the tree is
// blocked behind their modal dialogs.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qm {

struct FolderRecord;

// Tick states, as the tree's state images number them.
constexpr int kTickUnticked = 1;
constexpr int kTickTicked = 2;

struct SelectionNode {
  uint32_t id = 0;
  uint32_t parent = 0;  // 0 for the root
  std::u16string text;
  std::atomic<int> tickState{kTickUnticked};
  FolderRecord* folder = nullptr;  // null for the root
  std::vector<uint32_t> children;  // in tree order
};

class SelectionModel {
 public:
  SelectionModel();
  SelectionModel(const SelectionModel&) = delete;
  SelectionModel& operator=(const SelectionModel&) = delete;

  uint32_t Root() const { return root_; }
  // Adds an item as the last child of parent; returns its id (never reused
  // within a run). The folder's tree item is set to it. 0 when parent is unknown.
  uint32_t AddItem(uint32_t parent, std::u16string text, FolderRecord* folder, int tickState = kTickUnticked);
  SelectionNode* Node(uint32_t id);
  const SelectionNode* Node(uint32_t id) const;
  // Sets the state of an item and, with subtree, of everything below it.
  void SetTick(uint32_t id, int state, bool subtree = false);
  // Texts of the item's ancestors below the root and of the item itself.
  std::vector<std::u16string> ItemPath(uint32_t id) const;
  // Back to a lone root.
  void Clear();

  // Builds one item per catalogue folder of the current volume below the
  // folder whose key is rootKey, in catalogue order, each with the given
  // state. A folder met again through a loop of keys is left out.
  void BuildFromCatalog(uint32_t rootKey, int tickState = kTickUnticked);

  // Totals of the selection the copy-out takes, written by the size evaluation.
  std::atomic<int> selectedFileCount{0};
  std::atomic<uint64_t> selectedBytes{0};

 private:
  std::map<uint32_t, std::unique_ptr<SelectionNode>> nodes_;
  uint32_t root_ = 0;
};

}  // namespace qm
