#include "engine/uSelectorHelper.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// A folder tree in memory that hands its nodes to the tick rules the way the
// recovery context hands over its tree nodes: untyped handles, nil accepted.
class TTestTree final : public ISelector {
public:
  struct TNode {
    std::string Name;
    TNode* Parent = nullptr;
    std::vector<TNode*> Children;
    std::int32_t CheckedChildren = 0;
    bool Checked = false;
  };

  TNode* AddChild(TNode* AParent, const std::string& AName) {
    TNode& node = FNodes.emplace_back(TNode{AName, AParent, {}, 0, false});
    (AParent ? AParent->Children : FTopLevel).push_back(&node);
    return &node;
  }

  // Adds the node at a path such as "C:/docs/a.txt", with missing folders.
  void Add(const std::string& APath) {
    TNode* parent = nullptr;
    std::string path;
    for (std::size_t start = 0; start <= APath.size();) {
      std::size_t end = APath.find('/', start);
      if (end == std::string::npos)
        end = APath.size();
      const std::string name = APath.substr(start, end - start);
      if (!path.empty())
        path += '/';
      path += name;
      auto [it, added] = FByPath.try_emplace(path, nullptr);
      if (added)
        it->second = AddChild(parent, name);
      parent = it->second;
      start = end + 1;
    }
  }

  TNode* operator[](const std::string& APath) { return FByPath.at(APath); }

  // Every node in pre-order as "name=state", with "/CheckedChildren" for
  // folders; the state is what GetCheckState tells a view.
  std::string Describe() {
    std::string result;
    std::function<void(const std::vector<TNode*>&)> describe = [&](const auto& ANodes) {
      for (TNode* node : ANodes) {
        if (!result.empty())
          result += ' ';
        result += node->Name;
        result += '=';
        result += std::to_string(GetCheckState(*this, node));
        if (!node->Children.empty()) {
          result += '/';
          result += std::to_string(node->CheckedChildren);
        }
        describe(node->Children);
      }
    };
    describe(FTopLevel);
    return result;
  }

  // The invariants the tick rules keep; returns the first node breaking one.
  std::string FindBrokenInvariant() {
    for (TNode& node : FNodes) {
      std::int32_t ticked = 0;
      for (TNode* child : node.Children)
        ticked += child->Checked ? 1 : 0;
      if (ticked != node.CheckedChildren)
        return node.Name + ": counter " + std::to_string(node.CheckedChildren) + ", ticked " +
               std::to_string(ticked);
      if (!node.Children.empty() && node.Checked != (ticked > 0))
        return node.Name + ": folder tick does not follow its children";
    }
    return {};
  }

  bool GetChecked(void* AData) override { return AData && Node(AData).Checked; }
  void SetChecked(void* AData, bool AChecked) override {
    if (AData)
      Node(AData).Checked = AChecked;
  }
  void EnumChildren(void* AParentData, TChildEnumProc AProc, void* AEnumContext) override {
    if (AParentData)
      for (TNode* child : Node(AParentData).Children)
        AProc(child, AEnumContext);
  }
  std::int32_t GetChildrenChecked(void* AParentData) override {
    return AParentData ? Node(AParentData).CheckedChildren : 0;
  }
  std::int32_t GetChildrenCount(void* AParentData) override {
    return AParentData ? static_cast<std::int32_t>(Node(AParentData).Children.size()) : 0;
  }
  void* GetParentData(void* AData) override { return AData ? Node(AData).Parent : nullptr; }
  void IncChildrenChecked(void* AParentData) override {
    if (AParentData)
      ++Node(AParentData).CheckedChildren;
  }
  void DecChildrenChecked(void* AParentData) override {
    if (AParentData)
      --Node(AParentData).CheckedChildren;
  }

private:
  static TNode& Node(void* AData) { return *static_cast<TNode*>(AData); }

  std::deque<TNode> FNodes; // stable addresses
  std::vector<TNode*> FTopLevel;
  std::map<std::string, TNode*> FByPath;
};

// The drive folder with a small subtree, and the orphans folder beside it.
void BuildSampleTree(TTestTree& ATree) {
  for (const char* path : {"C:/docs/a.txt", "C:/docs/b.txt", "C:/docs/deep/c.txt", "C:/e.txt",
                           "orphans/f.txt"})
    ATree.Add(path);
}

const std::string NothingTicked =
    "C:=0/0 docs=0/0 a.txt=0 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0";

struct TToggleCase {
  const char* Name;
  std::vector<std::string> Toggles;
  std::string Expected;
};

void PrintTo(const TToggleCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class ToggleCheckStateTest : public ::testing::TestWithParam<TToggleCase> {};

TEST_P(ToggleCheckStateTest, LeavesTreeAsExpected) {
  TTestTree tree;
  BuildSampleTree(tree);
  for (const std::string& path : GetParam().Toggles)
    ToggleCheckState(tree, tree[path]);
  EXPECT_EQ(tree.Describe(), GetParam().Expected);
  EXPECT_EQ(tree.FindBrokenInvariant(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToggleCheckStateTest,
    ::testing::Values(
        TToggleCase{"FileTicksItsAncestors",
                    {"C:/docs/a.txt"},
                    "C:=2/1 docs=2/1 a.txt=1 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0"},
        TToggleCase{"UntickingTheFileAgainUnticksAncestors",
                    {"C:/docs/a.txt", "C:/docs/a.txt"},
                    NothingTicked},
        TToggleCase{"FolderTicksItsWholeSubtree",
                    {"C:/docs"},
                    "C:=2/1 docs=1/3 a.txt=1 b.txt=1 deep=1/1 c.txt=1 e.txt=0 orphans=0/0 f.txt=0"},
        TToggleCase{"UntickingTheFolderUnticksSubtreeAndAncestors",
                    {"C:/docs", "C:/docs"},
                    NothingTicked},
        TToggleCase{"EveryChildTickedMakesTheFolderWhole",
                    {"C:/docs/a.txt", "C:/docs/b.txt", "C:/docs/deep/c.txt"},
                    "C:=2/1 docs=1/3 a.txt=1 b.txt=1 deep=1/1 c.txt=1 e.txt=0 orphans=0/0 f.txt=0"},
        TToggleCase{"UntickingOneDescendantLeavesTheFolderPartlyTicked",
                    {"C:/docs", "C:/docs/deep/c.txt"},
                    "C:=2/1 docs=2/2 a.txt=1 b.txt=1 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0"},
        TToggleCase{"TogglingAPartlyTickedFolderUnticksItsSubtree",
                    {"C:/docs/a.txt", "C:/docs"},
                    NothingTicked},
        TToggleCase{"AncestorStaysTickedWhileAnotherChildIs",
                    {"C:/e.txt", "C:/docs", "C:/docs"},
                    "C:=2/1 docs=0/0 a.txt=0 b.txt=0 deep=0/0 c.txt=0 e.txt=1 orphans=0/0 f.txt=0"},
        TToggleCase{"TwoBranchesCountTwice",
                    {"C:/e.txt", "C:/docs/deep/c.txt"},
                    "C:=1/2 docs=2/1 a.txt=0 b.txt=0 deep=1/1 c.txt=1 e.txt=1 orphans=0/0 f.txt=0"},
        TToggleCase{"DriveFolderTicksEverythingBelowIt",
                    {"C:"},
                    "C:=1/2 docs=1/3 a.txt=1 b.txt=1 deep=1/1 c.txt=1 e.txt=1 orphans=0/0 f.txt=0"},
        TToggleCase{"OtherTopLevelFolderIsSeparate",
                    {"orphans/f.txt"},
                    "C:=0/0 docs=0/0 a.txt=0 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=1/1 f.txt=1"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(ToggleCheckState, ReturnsTheNewTick) {
  TTestTree tree;
  BuildSampleTree(tree);
  EXPECT_TRUE(ToggleCheckState(tree, tree["C:/docs"]));
  EXPECT_FALSE(ToggleCheckState(tree, tree["C:/docs"]));
}

struct TRuleCase {
  const char* Name;
  std::function<void(TTestTree&)> Act;
  std::string Expected;
};

void PrintTo(const TRuleCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class TickRuleTest : public ::testing::TestWithParam<TRuleCase> {};

TEST_P(TickRuleTest, LeavesTreeAsExpected) {
  TTestTree tree;
  BuildSampleTree(tree);
  GetParam().Act(tree);
  EXPECT_EQ(tree.Describe(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TickRuleTest,
    ::testing::Values(
        TRuleCase{"SetAloneCountsInTheParentOnly",
                  [](TTestTree& t) { SetCheckState(t, t["C:/docs"], true, false, false); },
                  "C:=0/1 docs=2/0 a.txt=0 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"RecursiveWithoutParentUpdate",
                  [](TTestTree& t) { SetCheckState(t, t["C:/docs"], true, true, false); },
                  "C:=0/1 docs=1/3 a.txt=1 b.txt=1 deep=1/1 c.txt=1 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"ParentUpdateWithoutRecursion",
                  [](TTestTree& t) { SetCheckState(t, t["C:/docs"], true, false, true); },
                  "C:=2/1 docs=2/0 a.txt=0 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"UnchangedTickStillSpreadsToTheSubtree",
                  [](TTestTree& t) {
                    ToggleCheckState(t, t["C:/docs/a.txt"]);
                    SetCheckState(t, t["C:/docs"], true, true, false);
                  },
                  "C:=2/1 docs=1/3 a.txt=1 b.txt=1 deep=1/1 c.txt=1 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"UnchangedTickStillRepairsTheAncestors",
                  [](TTestTree& t) {
                    ToggleCheckState(t, t["C:/docs/a.txt"]);
                    t.SetChecked(t["C:"], false);
                    SetCheckState(t, t["C:/docs/a.txt"], true, false, true);
                  },
                  "C:=2/1 docs=2/1 a.txt=1 b.txt=0 deep=0/0 c.txt=0 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"UpdateParentClimbsToTheTop",
                  [](TTestTree& t) {
                    SetCheckState(t, t["C:/docs/deep/c.txt"], true, false, false);
                    UpdateParentCheckState(t, t["C:/docs/deep"]);
                  },
                  "C:=2/1 docs=2/1 a.txt=0 b.txt=0 deep=1/1 c.txt=1 e.txt=0 orphans=0/0 f.txt=0"},
        TRuleCase{"NilHandlesChangeNothing",
                  [](TTestTree& t) {
                    SetCheckState(t, nullptr, true, true, true);
                    UpdateParentCheckState(t, nullptr);
                    EXPECT_TRUE(ToggleCheckState(t, nullptr));
                    EXPECT_EQ(GetCheckState(t, nullptr), csUnchecked);
                  },
                  NothingTicked}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// Random clicks on a tree of random shape must never break the counters or
// the rule that a folder is ticked exactly while one of its children is.
TEST(ToggleCheckState, KeepsInvariantsUnderRandomClicks) {
  std::mt19937 random(20240611);
  TTestTree tree;
  std::vector<TTestTree::TNode*> nodes{tree.AddChild(nullptr, "C:")};
  for (int i = 0; i < 300; ++i) {
    std::uniform_int_distribution<std::size_t> pick(0, nodes.size() - 1);
    nodes.push_back(tree.AddChild(nodes[pick(random)], std::to_string(i)));
  }
  std::uniform_int_distribution<std::size_t> pick(0, nodes.size() - 1);
  for (int click = 0; click < 2000; ++click) {
    TTestTree::TNode* node = nodes[pick(random)];
    const bool ticked = ToggleCheckState(tree, node);
    for (std::vector<TTestTree::TNode*> subtree{node}; !subtree.empty();) {
      TTestTree::TNode* below = subtree.back();
      subtree.pop_back();
      ASSERT_EQ(below->Checked, ticked) << "click " << click << ", node " << below->Name;
      subtree.insert(subtree.end(), below->Children.begin(), below->Children.end());
    }
    ASSERT_EQ(tree.FindBrokenInvariant(), "") << "click " << click;
  }
}

// Parent references on a crafted volume can chain folders as deep as the MFT
// has records; ticking either end must not exhaust the stack.
TEST(ToggleCheckState, HandlesAVeryDeepFolderChain) {
  constexpr int Depth = 500000;
  TTestTree tree;
  TTestTree::TNode* top = tree.AddChild(nullptr, "C:");
  TTestTree::TNode* leaf = top;
  for (int i = 0; i < Depth; ++i)
    leaf = tree.AddChild(leaf, "d");

  ToggleCheckState(tree, leaf);
  EXPECT_EQ(GetCheckState(tree, top), csChecked);
  EXPECT_EQ(top->CheckedChildren, 1);

  ToggleCheckState(tree, top);
  EXPECT_FALSE(leaf->Checked);
  EXPECT_EQ(leaf->Parent->CheckedChildren, 0);
}

} // namespace
