// The damage map a container keeps: ranges merge whatever order they come
// in, and a read stops before the first damaged byte.

#include "platform/uContainerDamage.h"

#include <gtest/gtest.h>

namespace {

TEST(DamageMap, RangesMergeInOrderWhateverOrderTheyComeIn) {
  const struct {
    std::string Name;
    std::vector<TByteRange> Added;
    std::vector<TByteRange> Expected;
  } cases[] = {
      {"apart, added backwards", {{100, 10}, {0, 10}}, {{0, 10}, {100, 10}}},
      {"touching", {{0, 10}, {10, 5}}, {{0, 15}}},
      {"one inside another", {{0, 100}, {20, 5}}, {{0, 100}}},
      {"bridging two", {{0, 10}, {20, 10}, {5, 20}}, {{0, 30}}},
      {"covering several", {{10, 1}, {20, 1}, {30, 1}, {0, 50}}, {{0, 50}}},
      {"empty", {{5, 0}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TDamageMap map;
    for (const TByteRange& range : c.Added)
      map.Add(range);
    EXPECT_EQ(map.Ranges(), c.Expected);
  }
}

TEST(DamageMap, AReadStopsBeforeTheFirstDamagedByte) {
  TDamageMap map;
  map.Add({100, 10});
  map.Add({200, 10});
  const struct {
    std::int64_t Pos;
    std::int64_t Length;
    std::int64_t Undamaged;
  } cases[] = {
      {0, 50, 50}, {0, 150, 100}, {99, 5, 1}, {100, 5, 0}, {109, 5, 0}, {110, 200, 90}, {210, 1000, 1000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(map.UndamagedFrom(c.Pos, c.Length), c.Undamaged) << c.Pos << "+" << c.Length;
}

} // namespace
