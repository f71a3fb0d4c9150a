#include "foundation/uLists.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

// The scan keys its lookups by the 6-byte record number of an MFT reference
// and keeps one list element per found item; volumes hold millions of records.

namespace {

using TRecordKey = std::array<std::uint8_t, 6>;

TRecordKey RecordKey(std::int64_t ARecord) {
  TRecordKey key{};
  for (std::size_t i = 0; i < key.size(); ++i)
    key[i] = static_cast<std::uint8_t>(ARecord >> (8 * i));
  return key;
}

void BM_DictionaryWriteRecordNumbers(benchmark::State& AState) {
  const std::int64_t records = AState.range(0);
  for (auto _ : AState) {
    IExDictionaryPtr dict = ExListBuilder::CreateDictionary(6, sizeof(void*));
    for (std::int64_t record = 0; record < records; ++record)
      DictWrite(*dict, RecordKey(record), record);
    benchmark::DoNotOptimize(dict);
  }
  AState.SetItemsProcessed(AState.iterations() * records);
}
BENCHMARK(BM_DictionaryWriteRecordNumbers)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_DictionaryReadRecordNumbers(benchmark::State& AState) {
  const std::int64_t records = AState.range(0);
  IExDictionaryPtr dict = ExListBuilder::CreateDictionary(6, sizeof(void*));
  for (std::int64_t record = 0; record < records; ++record)
    DictWrite(*dict, RecordKey(record), record);
  for (auto _ : AState) {
    std::int64_t sum = 0;
    for (std::int64_t record = 0; record < records; ++record)
      sum += DictRead<std::int64_t>(*dict, RecordKey(record)).value_or(0);
    benchmark::DoNotOptimize(sum);
  }
  AState.SetItemsProcessed(AState.iterations() * records);
}
BENCHMARK(BM_DictionaryReadRecordNumbers)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Fills a list, then walks it once deleting every other element, as the view
// preparation does when it moves items under their parents.
void BM_ListAddWalkDelete(benchmark::State& AState) {
  const std::int64_t elements = AState.range(0);
  for (auto _ : AState) {
    IExListPtr list = ExListBuilder::CreateList(sizeof(std::int64_t));
    for (std::int64_t i = 0; i < elements; ++i)
      ListAdd(*list, i);
    for (auto [bookmark, value] : ListItems<std::int64_t>(*list))
      if (value % 2 == 0)
        list->Delete(bookmark);
    benchmark::DoNotOptimize(list->Count());
  }
  AState.SetItemsProcessed(AState.iterations() * elements);
}
BENCHMARK(BM_ListAddWalkDelete)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

} // namespace
