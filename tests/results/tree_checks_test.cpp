// The folder tree's tick-box routines over a tree given as a table.
#include "results/tree_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

// A tree from a table: item i is node i + 1; parent -1 makes a root.
struct Node {
  int parent;
  const char16_t* text;
  int state;  // -1 no box, 0 unticked, 1 ticked
  bool bold;
};

class TableTree : public CheckTree {
 public:
  explicit TableTree(std::vector<Node> nodes) : nodes_(std::move(nodes)) {}
  std::vector<Item> RootItems() const override { return ChildrenOf(-1); }
  std::vector<Item> ChildItems(Item item) const override { return ChildrenOf(static_cast<int>(item) - 1); }
  int CheckState(Item item) const override { return nodes_[item - 1].state; }
  bool IsBold(Item item) const override { return nodes_[item - 1].bold; }
  std::u16string ItemText(Item item) const override { return nodes_[item - 1].text; }
  std::vector<Node> nodes_;

 private:
  std::vector<Item> ChildrenOf(int parent) const {
    std::vector<Item> out;
    for (size_t i = 0; i < nodes_.size(); ++i)
      if (nodes_[i].parent == parent) out.push_back(i + 1);
    return out;
  }
};

// This PC
//   Docs (ticked, bold)        Reports (ticked)   Old (ticked)
//   Docs2 (unticked, bold)     Inner (ticked, bold)
//   Music (unticked)           Live (no box, bold)
const std::vector<Node> kTree = {
    /*1*/ {-1, u"This PC", 0, true},
    /*2*/ {0, u"Docs", 1, true},
    /*3*/ {1, u"Reports", 1, false},
    /*4*/ {2, u"Old", 1, false},
    /*5*/ {0, u"Docs2", 0, true},
    /*6*/ {4, u"Inner", 1, true},
    /*7*/ {0, u"Music", 0, false},
    /*8*/ {6, u"Live", -1, true},
    /*9*/ {6, u"Tape", 0, false},
};

TEST(FolderTreeChecks, AllChildrenUncheckedAndTheBoldCount) {
  TableTree tree(kTree);
  struct Case {
    CheckTree::Item item;
    bool allUnchecked;
  } cases[] = {
      {1, false},  // Docs is ticked
      {5, false},  // Inner is ticked
      {7, false},  // Live has no box: its state is not 0
      {9, true},   // no children
      {3, false},  // Old is ticked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(AllChildrenUnchecked(tree, c.item), c.allUnchecked);
  }
  tree.nodes_[7].state = 0;
  EXPECT_TRUE(AllChildrenUnchecked(tree, 7));

  // Bold walk: This PC (0) -> Docs (1), Docs2 (0) -> Inner (1), and Music's
  // bold child Live is never reached through the plain Music. Reports is
  // ticked but not bold.
  TableTree counted(kTree);
  EXPECT_EQ(CountCheckedItems(counted), 2);
  // An item without a box counts nothing, never minus one.
  counted.nodes_[7].parent = 4;  // Live under Docs2, reached
  EXPECT_EQ(CountCheckedItems(counted), 2);
  // A root that is not bold is not walked.
  counted.nodes_[0].bold = false;
  EXPECT_EQ(CountCheckedItems(counted), 0);
}

TEST(FolderTreeChecks, FolderListKeepsTheTopmostTickedPaths) {
  TableTree tree(kTree);
  CFolderList list(tree);
  // Docs stands for Reports and Old; Inner has no ticked ancestor; an item
  // without a box is not ticked.
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.PathAt(0), u"This PC\\Docs2\\Inner\\");  // newest first
  EXPECT_EQ(list.PathAt(1), u"This PC\\Docs\\");
  EXPECT_EQ(list.PathAt(2), u"");
  EXPECT_EQ(list.PathAt(-1), u"");

  struct ContainsCase {
    const char16_t* path;
    bool contained;
  } cases[] = {
      {u"This PC\\Docs\\", true},
      {u"This PC\\Docs\\Reports\\Old\\x.txt", true},
      {u"This PC\\Docs2\\", false},  // "Docs" is a name, not a text prefix
      {u"This PC\\Docs2\\Inner\\a", true},
      {u"This PC\\Music\\", false},
      {u"This PC", false},
      {u"", false},
  };
  for (const ContainsCase& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
    EXPECT_EQ(list.Contains(c.path), c.contained);
  }
  EXPECT_TRUE(CFolderList::IsPrefix(u"a\\", u"a\\b\\"));
  EXPECT_FALSE(CFolderList::IsPrefix(u"a\\b\\", u"a\\"));

  // Ticking the root makes it stand for everything; Clear empties.
  tree.nodes_[0].state = 1;
  list.Build();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.PathAt(0), u"This PC\\");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Contains(u"This PC\\Docs\\"));

  // Two ticked siblings of the same name give one path.
  TableTree twins({{-1, u"R", 0, false}, {0, u"A", 1, false}, {0, u"A", 1, false}, {2, u"B", 1, false}});
  CFolderList twinList(twins);
  EXPECT_EQ(twinList.Count(), 1);
}

TEST(FolderTreeChecks, DeepTreesNeedNoDeepStack) {
  // A chain deeper than any fixed path buffer: the deepest item alone is
  // ticked and bold all the way down.
  std::vector<Node> chain;
  constexpr int kDepth = 20000;
  for (int i = 0; i < kDepth; ++i) chain.push_back({i - 1, u"d", i == kDepth - 1 ? 1 : 0, true});
  TableTree tree(std::move(chain));
  EXPECT_EQ(CountCheckedItems(tree), 1);
  CFolderList list(tree);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.PathAt(0).size(), size_t{kDepth} * 2);
}

}  // namespace
}  // namespace qm
