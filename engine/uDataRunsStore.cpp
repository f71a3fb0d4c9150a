#include "engine/uDataRunsStore.h"

void TDataRunsStore::Keep(TItemInfo* AItem, IMFTRunList& ARuns) {
  const std::int32_t count = ARuns.ItemCount();
  FKept.push_back({AItem, FRuns.size(), static_cast<std::size_t>(count), ARuns.VCNCount()});
  for (std::int32_t i = 0; i < count; ++i)
    FRuns.push_back(ARuns.Item(i));
}

// The file's runs move to the end of the block, where the new ones can
// follow them; only the few files whose runs went on elsewhere move.
void TDataRunsStore::Extend(std::size_t AIndex, std::span<const RunListElement> AMore) {
  TKept& kept = FKept.at(AIndex);
  const std::size_t first = FRuns.size();
  FRuns.reserve(first + kept.Count + AMore.size());
  for (std::size_t i = 0; i < kept.Count; ++i)
    FRuns.push_back(FRuns[kept.First + i]);
  for (const RunListElement& run : AMore) {
    FRuns.push_back(run);
    kept.VCNCount += run.Length;
  }
  kept.First = first;
  kept.Count += AMore.size();
}

std::span<const RunListElement> TDataRunsStore::Runs(std::size_t AIndex) const {
  const TKept& kept = FKept.at(AIndex);
  return std::span<const RunListElement>(FRuns).subspan(kept.First, kept.Count);
}

void TDataRunsStore::Clear() {
  std::vector<TKept>().swap(FKept);
  std::vector<RunListElement>().swap(FRuns);
}
