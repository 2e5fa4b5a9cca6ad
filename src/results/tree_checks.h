#pragma once
// Routines of the folder tree that no page calls: questions about tick
// boxes (all children unticked, the ticked count, the list of ticked
// paths) over any tree that answers CheckTree. No widget here: the tree
// control hands itself in through CheckTree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qm {

// What the routines see of a tree. Items are handles (0 is none).
class CheckTree {
 public:
  using Item = uintptr_t;
  virtual ~CheckTree() = default;
  virtual std::vector<Item> RootItems() const = 0;
  virtual std::vector<Item> ChildItems(Item item) const = 0;
  // -1 no tick box, 0 unticked, 1 ticked.
  virtual int CheckState(Item item) const = 0;
  virtual bool IsBold(Item item) const = 0;
  virtual std::u16string ItemText(Item item) const = 0;
};

// No direct child has a nonzero check state (true without children).
bool AllChildrenUnchecked(const CheckTree& tree, CheckTree::Item item);

// The ticked items among the bold roots and the bold children below them
// (the walk goes down through bold items only). Items without a tick box
// count nothing.
int CountCheckedItems(const CheckTree& tree);

// The paths of the ticked items of a tree: each the texts from the root
// down to the item, each followed by a backslash. A path is kept only when
// no kept path is a prefix of it, so a ticked folder stands for everything
// below it.
class CFolderList {
 public:
  // Builds the list from the tree as it stands.
  explicit CFolderList(const CheckTree& tree);

  void Build();
  void Clear();
  int Count() const { return static_cast<int>(paths_.size()); }
  // Newest first; empty for an index outside the list.
  std::u16string PathAt(int index) const;
  static bool IsPrefix(std::u16string_view prefix, std::u16string_view path);
  // Some kept path is a prefix of path.
  bool Contains(std::u16string_view path) const;

 private:
  void Add(std::u16string path);

  const CheckTree& tree_;
  std::vector<std::u16string> paths_;  // oldest first
  std::unordered_set<std::u16string> kept_;
};

}  // namespace qm
