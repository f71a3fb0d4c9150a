#pragma once

// A recovery context wired to test doubles: scripted answers, a file system
// whose free space a test can set, a drive letter for a volume image, and a
// progress view that keeps every line and can cancel at a chosen one.

#include "engine/uAppContext.h"
#include "foundation/uMemoryEx.h"
#include "foundation/uSysPath.h"
#include "platform/uSourceResolver.h"
#include "progress/uProgressEx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace enginetest {

// The Linux file system with a free-space answer the test may replace.
class TTestFileSystem : public TLinuxFileSystem {
public:
  std::optional<std::int64_t> FreeBytesForUser(const std::string& APath) const override {
    ++FreeSpaceQueries;
    return FreeBytes ? FreeBytes(FreeSpaceQueries) : TLinuxFileSystem::FreeBytesForUser(APath);
  }
  // Called with the number of the query, from 1 on.
  std::function<std::optional<std::int64_t>(int AQuery)> FreeBytes;
  mutable int FreeSpaceQueries = 0;
};

struct TProgressLine {
  enum TKind { plStart, plClose, plDetail } Kind;
  std::string Text;
  TProgressDetailStatus Status = pdsInformation;
  bool operator==(const TProgressLine&) const = default;
  friend void PrintTo(const TProgressLine& ALine, std::ostream* AOut) {
    static constexpr const char* kKinds[] = {"start", "close", "detail"};
    *AOut << kKinds[ALine.Kind] << " " << ALine.Status << " \"" << ALine.Text << "\"";
  }
};

// Keeps what the progress service shows; cancels the innermost level when
// CancelWhen answers true for an update of a level.
class TProgressRecorder : public IProgressExView {
public:
  void AddItem(IProgressExInfo& AItem) override { Lines.push_back({TProgressLine::plStart, AItem.GetTitle()}); }
  void UpdateItem(IProgressExInfo& AItem) override {
    if (CancelWhen && CancelWhen(AItem))
      AItem.Cancel();
  }
  void CloseItem(IProgressExInfo& AItem) override { Lines.push_back({TProgressLine::plClose, AItem.GetTitle()}); }
  void Detail(IProgressExInfo&, const std::string& AMessage, TProgressDetailStatus AStatus) override {
    Lines.push_back({TProgressLine::plDetail, AMessage, AStatus});
  }

  std::vector<std::string> Details() const {
    std::vector<std::string> result;
    for (const TProgressLine& line : Lines)
      if (line.Kind == TProgressLine::plDetail)
        result.push_back(line.Text);
    return result;
  }
  int Opened() const { return Count(TProgressLine::plStart); }
  int Closed() const { return Count(TProgressLine::plClose); }

  std::vector<TProgressLine> Lines;
  std::function<bool(IProgressExInfo&)> CancelWhen;

private:
  int Count(TProgressLine::TKind AKind) const {
    int count = 0;
    for (const TProgressLine& line : Lines)
      count += line.Kind == AKind;
    return count;
  }
};

class EngineTest : public ::testing::Test {
protected:
  EngineTest()
      : Prompt(std::make_shared<TScriptedPrompt>()), FileSystem(std::make_shared<TTestFileSystem>()),
        Progress(std::make_shared<TProgressRecorder>()),
        Context(Prompt, FileSystem) {
    ProgressEx::AddView(Progress);
  }

  ~EngineTest() override { ProgressEx::RemoveView(Progress); }

  void TearDown() override {
    Context.Clear();
    // Every node, volume and buffer of a scan or recovery is given back.
    EXPECT_EQ(MemoryEx::AllocatedBytes(), 0);
    EXPECT_EQ(Progress->Opened(), Progress->Closed());
  }

  void UseVolume(const std::string& AImage) { UseSource(TSourceResolver().Open({AImage})); }

  // A source in memory or a stand-in, under the letter K.
  void UseSource(IVolumeSourcePtr ASource) { UseSource(std::make_shared<const TOpenedSource>(TSourceRequest{}, ASource)); }
  void UseSource(TOpenedSourcePtr ASource) {
    Context.SetSource(std::move(ASource));
    Context.SetSourceDrive(u"K:\\");
  }

  void Scan(const std::string& AImage, const std::u16string& AMask = u"*") {
    UseVolume(AImage);
    Context.SetMask(AMask);
    Context.ProcessScan();
  }

  // The node of the item of record ARecord, or nil.
  PTreeItemInfo NodeOfRecord(std::int64_t ARecord) const {
    PTreeItemInfo found = nullptr;
    Walk([&](PTreeItemInfo ANode, int) {
      if (ANode->Data->MFTNumber.Address() == ARecord && ANode->Data->DirREF.Address() != 0)
        found = ANode;
    });
    return found;
  }

  PItemInfo ItemOfRecord(std::int64_t ARecord) const {
    for (auto [bookmark, item] : ListItems<PItemInfo>(*Context.Items()))
      if (item->MFTNumber.Address() == ARecord)
        return item;
    return nullptr;
  }

  // The tree in pre-order, one node a line: its full path with "/" between
  // names, "/" after folders.
  std::vector<std::string> TreeLines() const {
    std::vector<std::string> lines;
    Walk([&](PTreeItemInfo ANode, int) {
      std::string path = ToNativePath(TNTFSRecoveryContext::GetFullName(ANode, true));
      std::replace(path.begin(), path.end(), '\\', '/');
      lines.push_back(path + (ANode->Data->IsDirectory ? "/" : ""));
    });
    return lines;
  }

  void Walk(const std::function<void(PTreeItemInfo, int)>& AVisit) const {
    std::vector<std::pair<PTreeItemInfo, int>> pending;
    std::vector<PTreeItemInfo> top;
    for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*Context.TreeItems()))
      top.push_back(node);
    for (auto it = top.rbegin(); it != top.rend(); ++it)
      pending.push_back({*it, 0});
    while (!pending.empty()) {
      auto [node, depth] = pending.back();
      pending.pop_back();
      AVisit(node, depth);
      if (!node->SubItems)
        continue;
      std::vector<PTreeItemInfo> children;
      for (auto [bookmark, child] : ListItems<PTreeItemInfo>(*node->SubItems))
        children.push_back(child);
      for (auto it = children.rbegin(); it != children.rend(); ++it)
        pending.push_back({*it, depth + 1});
    }
  }

  void Tick(PTreeItemInfo ANode) {
    ASSERT_NE(ANode, nullptr);
    if (!ANode->Data->Checked)
      ToggleCheckState(Context, ANode);
  }

  std::shared_ptr<TScriptedPrompt> Prompt;
  std::shared_ptr<TTestFileSystem> FileSystem;
  std::shared_ptr<TProgressRecorder> Progress;
  TNTFSRecoveryContext Context;
};

} // namespace enginetest
