// The recovery engine on a large volume image: the record pass, the
// analysis, the tree building, the whole scan, the ticked list and the
// restore of large files. The image is the "large" benchmark volume unless
// TARNWICK_BENCH_VOLUME names another. The scan of a volume with shadow
// copies runs on the shared test data's volume, with and without them.

#include "engine/uAppContext.h"
#include "foundation/uUnicode.h"
#include "platform/uSourceResolver.h"
#include "platform/uPrompt.h"
#include "progress/uProgressEx.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr char16_t kBenchLetter = u'Y';
constexpr char16_t kLargeFolder[] = u"large";

std::string VolumeImage() {
  if (const char* image = std::getenv("TARNWICK_BENCH_VOLUME"); image && *image)
    return image;
  return TARNWICK_BENCH_VOLUME;
}

using TClock = std::chrono::steady_clock;

// Times every progress level by its title: the three stages of a scan each
// open one, so their own durations need no hook inside the engine.
class TStageTimes : public IProgressExView {
public:
  void AddItem(IProgressExInfo& AItem) override { FStarted[AItem.GetTitle()] = TClock::now(); }
  void UpdateItem(IProgressExInfo&) override {}
  void CloseItem(IProgressExInfo& AItem) override {
    const auto started = FStarted.find(AItem.GetTitle());
    if (started != FStarted.end())
      Seconds[AItem.GetTitle()] = std::chrono::duration<double>(TClock::now() - started->second).count();
  }
  void Detail(IProgressExInfo&, const std::string&, TProgressDetailStatus) override {}

  std::map<std::string, double> Seconds;

private:
  std::map<std::string, TClock::time_point> FStarted;
};

// A recovery context scanning the benchmark volume under its own letter,
// with the stage clock listening.
class TBenchContext {
public:
  explicit TBenchContext(const std::string& AImage = VolumeImage())
      : FPrompt(std::make_shared<TScriptedPrompt>()), FStages(std::make_shared<TStageTimes>()), Context(FPrompt) {
    if (!std::filesystem::exists(AImage))
      throw std::runtime_error("no benchmark volume at " + AImage + " (build the target bench_volume_large first)");
    Context.SetSource(TSourceResolver().Open({AImage}));
    ProgressEx::AddView(FStages);
    Context.SetSourceDrive(std::u16string{kBenchLetter, u':', u'\\'});
    // Every deleted file, with or without a dot in its name.
    Context.SetMask(u"*");
  }
  ~TBenchContext() {
    Context.Clear();
    ProgressEx::RemoveView(FStages);
  }
  TBenchContext(const TBenchContext&) = delete;
  TBenchContext& operator=(const TBenchContext&) = delete;

  double StageSeconds(const std::string& ATitle) const { return FStages->Seconds.at(ATitle); }
  std::int64_t ItemCount() const { return Context.Items()->Count(); }

private:
  std::shared_ptr<TScriptedPrompt> FPrompt;
  std::shared_ptr<TStageTimes> FStages;

public:
  TNTFSRecoveryContext Context;
};

// One benchmark per stage of the scan, each timed by its own progress level.
void BM_ScanStage(benchmark::State& AState, const char* ATitle) {
  TBenchContext bench;
  for (auto _ : AState) {
    bench.Context.ProcessScan();
    AState.SetIterationTime(bench.StageSeconds(ATitle));
  }
  AState.counters["items"] = static_cast<double>(bench.ItemCount());
}
BENCHMARK_CAPTURE(BM_ScanStage, RecordPass, "Scanning drive...")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanStage, Analysis, "Analyzing deleted files...")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanStage, PrepareView, "Prepare to view...")->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ProcessScan(benchmark::State& AState) {
  TBenchContext bench;
  for (auto _ : AState)
    bench.Context.ProcessScan();
  AState.counters["items"] = static_cast<double>(bench.ItemCount());
}
BENCHMARK(BM_ProcessScan)->Unit(benchmark::kMillisecond);

// The whole scan of the 1 GiB volume with two shadow copies: reading every
// snapshot's MFT besides the volume's own, or the volume's alone.
void BM_ProcessScanShadowCopies(benchmark::State& AState, bool AIncludeSnapshots) {
  if (!std::filesystem::exists(TARNWICK_SHADOW_VOLUME)) {
    AState.SkipWithError("no volume with shadow copies in the shared test data");
    return;
  }
  TBenchContext bench(TARNWICK_SHADOW_VOLUME);
  bench.Context.SetIncludeSnapshots(AIncludeSnapshots);
  for (auto _ : AState)
    bench.Context.ProcessScan();
}
BENCHMARK_CAPTURE(BM_ProcessScanShadowCopies, WithSnapshots, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ProcessScanShadowCopies, WithoutSnapshots, false)->Unit(benchmark::kMillisecond);

// A new mask rebuilds the whole tree; the two masks alternate so that every
// run really changes it.
void BM_SearchNewMask(benchmark::State& AState) {
  TBenchContext bench;
  bench.Context.ProcessScan();
  bool odd = false;
  for (auto _ : AState) {
    bench.Context.SetMask((odd = !odd) ? u"*.txt" : u"*");
    bench.Context.Search();
  }
}
BENCHMARK(BM_SearchNewMask)->Unit(benchmark::kMillisecond);

void BM_GetCheckedListAllTicked(benchmark::State& AState) {
  TBenchContext bench;
  bench.Context.ProcessScan();
  bench.Context.CheckAll(bench.Context.TreeItems(), true);
  std::int64_t size = 0, count = 0;
  for (auto _ : AState) {
    const IExListPtr checked = bench.Context.GetCheckedList(size);
    count = checked->Count();
  }
  AState.counters["items"] = static_cast<double>(count);
}
BENCHMARK(BM_GetCheckedListAllTicked)->Unit(benchmark::kMillisecond);

PTreeItemInfo FindFolder(const IExListPtr& AList, const std::u16string& AName) {
  if (!AList)
    return nullptr;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*AList)) {
    if (node->Data->IsDirectory && node->Data->Name == AName)
      return node;
    if (const PTreeItemInfo found = FindFolder(node->SubItems, AName))
      return found;
  }
  return nullptr;
}

// The deleted large files of the volume's "large" folder, written into a
// fresh folder each time; the page cache holds the image.
void BM_ProcessRecoverLargeFiles(benchmark::State& AState) {
  TBenchContext bench;
  bench.Context.ProcessScan();
  const PTreeItemInfo large = FindFolder(bench.Context.TreeItems(), kLargeFolder);
  if (!large) {
    AState.SkipWithError("the volume has no folder \"large\"");
    return;
  }
  bench.Context.CheckAll(large->SubItems, true);
  std::int64_t bytes = 0;
  bench.Context.GetCheckedList(bytes);
  const std::filesystem::path target = std::filesystem::temp_directory_path() / "tarnwick-bench-restore";
  bench.Context.SetRestoreMode(rmFlat);
  bench.Context.SetTargetDir(FromNativePath(target.string()));
  for (auto _ : AState) {
    AState.PauseTiming();
    std::filesystem::remove_all(target);
    std::filesystem::create_directories(target);
    AState.ResumeTiming();
    bench.Context.ProcessRecover();
  }
  std::filesystem::remove_all(target);
  AState.SetBytesProcessed(AState.iterations() * bytes);
}
BENCHMARK(BM_ProcessRecoverLargeFiles)->Unit(benchmark::kMillisecond);

} // namespace
