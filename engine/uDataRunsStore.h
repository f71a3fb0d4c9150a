#pragma once

#include "ntfs/uMFTRunList.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct TItemInfo;

// The $DATA runs of the deleted files a record pass meets, kept in the order
// met for the analysis after it. The analysis needs the whole cluster map
// first, and reading every deleted file's record a second time would cost it
// about as much as the record pass's own reading.
class TDataRunsStore {
public:
  // Keeps the runs ARuns holds now as AItem's.
  void Keep(TItemInfo* AItem, IMFTRunList& ARuns);
  // Appends AMore, which go on where the runs of file AIndex end, to them.
  void Extend(std::size_t AIndex, std::span<const RunListElement> AMore);

  // The files kept, in the order kept, each with its runs and their VCN
  // count (sparse runs included).
  std::size_t Count() const { return FKept.size(); }
  TItemInfo* Item(std::size_t AIndex) const { return FKept.at(AIndex).Item; }
  std::span<const RunListElement> Runs(std::size_t AIndex) const;
  std::int64_t VCNCount(std::size_t AIndex) const { return FKept.at(AIndex).VCNCount; }
  // Clusters of the file's data beyond where its runs end: no run is left
  // to say where they were, so they are lost.
  void SetMissingClusters(std::size_t AIndex, std::int64_t AClusters) { FKept.at(AIndex).Missing = AClusters; }
  std::int64_t MissingClusters(std::size_t AIndex) const { return FKept.at(AIndex).Missing; }

  // Forgets every file's runs and gives their memory back.
  void Clear();

private:
  struct TKept {
    TItemInfo* Item = nullptr;
    std::size_t First = 0;
    std::size_t Count = 0;
    std::int64_t VCNCount = 0;
    std::int64_t Missing = 0;
  };
  std::vector<TKept> FKept;
  // The runs of every file back to back: one block instead of one per file.
  std::vector<RunListElement> FRuns;
};
