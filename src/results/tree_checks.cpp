#include "results/tree_checks.h"

#include <utility>

namespace qm {

bool AllChildrenUnchecked(const CheckTree& tree, CheckTree::Item item) {
  for (CheckTree::Item child : tree.ChildItems(item))
    if (tree.CheckState(child) != 0) return false;
  return true;
}

int CountCheckedItems(const CheckTree& tree) {
  int count = 0;
  std::vector<CheckTree::Item> pending;
  for (CheckTree::Item root : tree.RootItems())
    if (tree.IsBold(root)) pending.push_back(root);
  // Iterative, so a deep tree cannot run out of stack.
  while (!pending.empty()) {
    const CheckTree::Item item = pending.back();
    pending.pop_back();
    if (tree.CheckState(item) == 1) ++count;
    for (CheckTree::Item child : tree.ChildItems(item))
      if (tree.IsBold(child)) pending.push_back(child);
  }
  return count;
}

CFolderList::CFolderList(const CheckTree& tree) : tree_(tree) { Build(); }

void CFolderList::Clear() {
  paths_.clear();
  kept_.clear();
}

void CFolderList::Build() {
  Clear();
  // Parents before children, siblings in tree order; each entry carries its
  // item's path.
  std::vector<std::pair<CheckTree::Item, std::u16string>> pending;
  const std::vector<CheckTree::Item> roots = tree_.RootItems();
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.emplace_back(*it, std::u16string());
  while (!pending.empty()) {
    auto [item, path] = std::move(pending.back());
    pending.pop_back();
    path += tree_.ItemText(item);
    path += u'\\';
    if (tree_.CheckState(item) == 1) Add(path);
    const std::vector<CheckTree::Item> children = tree_.ChildItems(item);
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.emplace_back(*it, path);
  }
}

void CFolderList::Add(std::u16string path) {
  if (Contains(path)) return;
  kept_.insert(path);
  paths_.push_back(std::move(path));
}

std::u16string CFolderList::PathAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  return paths_[paths_.size() - 1 - static_cast<size_t>(index)];
}

bool CFolderList::IsPrefix(std::u16string_view prefix, std::u16string_view path) {
  return path.substr(0, prefix.size()) == prefix;
}

bool CFolderList::Contains(std::u16string_view path) const {
  // Every kept path ends with a backslash, so only the prefixes of path
  // that end with one can be kept paths.
  for (size_t at = path.find(u'\\'); at != std::u16string_view::npos; at = path.find(u'\\', at + 1))
    if (kept_.count(std::u16string(path.substr(0, at + 1)))) return true;
  return false;
}

}  // namespace qm
