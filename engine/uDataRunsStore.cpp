#include "engine/uDataRunsStore.h"

void TDataRunsStore::Keep(TItemInfo* AItem, IMFTRunList& ARuns) {
  const std::int32_t count = ARuns.ItemCount();
  FKept.push_back({AItem, FRuns.size(), static_cast<std::size_t>(count), ARuns.VCNCount()});
  for (std::int32_t i = 0; i < count; ++i)
    FRuns.push_back(ARuns.Item(i));
}

std::span<const RunListElement> TDataRunsStore::Runs(std::size_t AIndex) const {
  const TKept& kept = FKept.at(AIndex);
  return std::span<const RunListElement>(FRuns).subspan(kept.First, kept.Count);
}

void TDataRunsStore::Clear() {
  std::vector<TKept>().swap(FKept);
  std::vector<RunListElement>().swap(FRuns);
}
