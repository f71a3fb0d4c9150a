#include "engine/uDriveMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kHundredPerChain = 100LL * DriveMapChainCount;  // 6,553,600

struct TPart {
  std::int32_t Chain;
  std::int64_t Start;
  std::int64_t End;
  bool operator==(const TPart&) const = default;
};

std::vector<TPart> StoredParts(const TDriveMap& AMap) {
  std::vector<TPart> parts;
  for (std::int32_t i = 0; i < DriveMapChainCount; ++i)
    for (const TDriveMapUsing& u : AMap.Chain(i).Usings)
      parts.push_back({i, u.Start, u.End});
  return parts;
}

std::string Describe(const std::vector<TPart>& AParts) {
  std::string text;
  for (const TPart& p : AParts)
    text += std::to_string(p.Chain) + ":" + std::to_string(p.Start) + "-" + std::to_string(p.End) + " ";
  return text;
}

TEST(DriveMapLayout, ChainBoundsCoverEveryClusterOnce) {
  struct TCase {
    std::int64_t Count;
    std::int64_t ChainSize;
    std::int32_t Chain;
    std::int64_t Start;
    std::int64_t End;
  };
  const TCase cases[] = {
      {kHundredPerChain, 100, 1, 100, 199},
      {kHundredPerChain, 100, 2, 200, 299},
      {kHundredPerChain, 100, 65535, 6553500, 6553599},
      // the tail left over by the division belongs to the last chain
      {kHundredPerChain + 37, 100, 65535, 6553500, 6553636},
      {kHundredPerChain + 37, 100, 65534, 6553400, 6553499},
      {2 * DriveMapChainCount - 1, 1, 65535, 65535, 131070},
      // fewer clusters than chains: one cluster per chain, none divides by 0
      {1000, 1, 999, 999, 999},
      {1000, 1, 0, 0, 0},
      {0, 1, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.Count) + " chain " + std::to_string(c.Chain));
    TDriveMap map(c.Count);
    EXPECT_EQ(map.ClusterCount(), c.Count);
    EXPECT_EQ(map.ChainSize(), c.ChainSize);
    EXPECT_EQ(map.Chain(c.Chain).Start, c.Start);
    EXPECT_EQ(map.Chain(c.Chain).End, c.End);
    EXPECT_EQ(map.ChainOf(c.Start), c.Chain);
    EXPECT_EQ(map.ChainOf(c.End), c.Chain);
  }
}

TEST(DriveMapLayout, ChainsAreContiguousUpToTheLastCluster) {
  for (std::int64_t count : {std::int64_t{70000}, kHundredPerChain + 65535}) {
    SCOPED_TRACE(count);
    TDriveMap map(count);
    EXPECT_EQ(map.Chain(0).Start, 0);
    for (std::int32_t i = 1; i < DriveMapChainCount; ++i)
      ASSERT_EQ(map.Chain(i).Start, map.Chain(i - 1).End + 1) << i;
    EXPECT_EQ(map.Chain(DriveMapChainCount - 1).End, count - 1);
  }
}

TEST(DriveMapAddUsing, SplitsRangesAtChainBorders) {
  struct TCase {
    const char* Name;
    std::int64_t Count;
    std::int64_t Start;
    std::int64_t End;
    std::vector<TPart> Expected;
  };
  const TCase cases[] = {
      {"spans two chains", kHundredPerChain, 150, 260, {{1, 150, 199}, {2, 200, 260}}},
      {"end less than a chain past start", kHundredPerChain, 195, 205, {{1, 195, 199}, {2, 200, 205}}},
      {"exactly one chain", kHundredPerChain, 100, 199, {{1, 100, 199}}},
      {"single cluster", kHundredPerChain, 299, 299, {{2, 299, 299}}},
      {"end below start", kHundredPerChain, 260, 150, {}},
      {"into the tail", kHundredPerChain + 37, 6553490, 6553636, {{65534, 6553490, 6553499}, {65535, 6553500, 6553636}}},
      {"past the volume end is cut", kHundredPerChain + 37, 6553630, 6553700, {{65535, 6553630, 6553636}}},
      {"wholly past the volume", kHundredPerChain, 7000000, 7000010, {}},
      {"before cluster 0 is cut", 1000, -5, 2, {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
      {"wholly before cluster 0", 1000, -9, -1, {}},
      {"small volume end", 1000, 998, 2000, {{998, 998, 998}, {999, 999, 999}}},
      {"no layout yet", 0, 0, 10, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDriveMap map(c.Count);
    map.AddUsing(c.Start, c.End, nullptr, 0);
    const std::vector<TPart> parts = StoredParts(map);
    EXPECT_EQ(parts, c.Expected) << Describe(parts);
  }
}

TEST(DriveMapAddUsing, KeepsOwnerDateAndOrderInEachChain) {
  TDriveMap map(kHundredPerChain);
  int first = 0, second = 0;
  map.AddUsing(150, 260, &first, 7);
  map.AddUsing(180, 190, &second, 9);
  const auto& usings = map.Chain(1).Usings;
  ASSERT_EQ(usings.size(), 2u);
  EXPECT_EQ(usings[0].Owner, &first);
  EXPECT_EQ(usings[0].OwnerDate, 7);
  EXPECT_EQ(usings[1].Owner, &second);
  EXPECT_EQ(usings[1].OwnerDate, 9);
  ASSERT_EQ(map.Chain(2).Usings.size(), 1u);
  EXPECT_EQ(map.Chain(2).Usings[0].Owner, &first);
}

TEST(DriveMapIsUsed, CountsClustersOfNewerOtherOwners) {
  struct TClaim {
    std::int64_t Start, End;
    int Owner;  // 0 is nil: a live file or metafile
    std::int64_t Date;
  };
  struct TCase {
    const char* Name;
    std::int64_t Count;
    std::vector<TClaim> Claims;
    std::int64_t Start, End;
    int ExcludeOwner;
    std::int64_t Date;
    std::int64_t Expected;
  };
  const TCase cases[] = {
      {"newer other owner", kHundredPerChain, {{195, 205, 1, 10}}, 200, 205, 2, 5, 6},
      {"equal date does not count", kHundredPerChain, {{195, 205, 1, 10}}, 200, 205, 2, 10, 0},
      {"older claim does not count", kHundredPerChain, {{195, 205, 1, 10}}, 200, 205, 2, 11, 0},
      {"never overwrites itself", kHundredPerChain, {{195, 205, 1, 10}}, 200, 205, 1, 5, 0},
      {"whole claim over two chains", kHundredPerChain, {{195, 205, 1, 10}}, 0, 1000, 2, 5, 11},
      {"partial overlap", kHundredPerChain, {{150, 260, 1, 10}}, 190, 210, 2, 0, 21},
      {"no overlap", kHundredPerChain, {{150, 260, 1, 10}}, 100, 149, 2, 0, 0},
      {"same clusters twice count once", kHundredPerChain, {{0, 9, 1, 10}, {0, 9, 2, 10}}, 0, 9, 3, 5, 10},
      {"overlapping claims count once", kHundredPerChain, {{0, 6, 1, 10}, {4, 9, 2, 10}}, 0, 9, 3, 5, 10},
      {"a claim held now beats any date", kHundredPerChain, {{0, 9, 0, ClaimHeldNow}}, 0, 9, 1,
       ClaimHeldNow - 1, 10},
      {"nil owner takes part", kHundredPerChain, {{0, 9, 0, 10}}, 5, 20, 1, 5, 5},
      {"negative dates compare signed", kHundredPerChain, {{0, 9, 1, -5}}, 0, 9, 2, -10, 10},
      {"query end below start", kHundredPerChain, {{0, 9, 1, 10}}, 9, 0, 2, 5, 0},
      {"tail of the volume", kHundredPerChain + 37, {{6553600, 6553636, 1, 10}}, 6553500, 6553636, 2, 5, 37},
      {"small volume", 1000, {{990, 999, 1, 10}}, 0, 999, 2, 5, 10},
      {"query past the volume", 1000, {{990, 999, 1, 10}}, 995, 5000, 2, 5, 5},
  };
  int owners[4] = {};
  auto ownerPtr = [&owners](int AId) -> const void* { return AId == 0 ? nullptr : &owners[AId]; };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDriveMap map(c.Count);
    for (const TClaim& claim : c.Claims)
      map.AddUsing(claim.Start, claim.End, ownerPtr(claim.Owner), claim.Date);
    EXPECT_EQ(map.IsUsed(c.Start, c.End, ownerPtr(c.ExcludeOwner), c.Date), c.Expected);
  }
}

// The chains are only an index: whatever the layout, the count must equal
// a plain walk over every cluster and every claim ever added.
TEST(DriveMapIsUsed, AgreesWithAPlainWalkOverAllClaims) {
  struct TClaim {
    std::int64_t Start, End;
    int Owner;
    std::int64_t Date;
  };
  std::mt19937_64 random(20240917);
  int owners[8] = {};
  // The last of these puts nearly half the volume into the last chain.
  for (std::int64_t count : {std::int64_t{5000}, std::int64_t{3 * DriveMapChainCount + 4321},
                             std::int64_t{2 * DriveMapChainCount - 1}}) {
    SCOPED_TRACE(count);
    TDriveMap map(count);
    std::uniform_int_distribution<std::int64_t> cluster(-50, count + 50);
    std::uniform_int_distribution<std::int64_t> length(0, 40);
    std::uniform_int_distribution<int> owner(0, 7);
    std::uniform_int_distribution<std::int64_t> date(0, 20);
    std::vector<TClaim> claims;
    for (int i = 0; i < 3000; ++i) {
      const std::int64_t start = cluster(random);
      claims.push_back({start, start + length(random) - 1, owner(random), date(random)});
      map.AddUsing(claims.back().Start, claims.back().End, &owners[claims.back().Owner], claims.back().Date);
    }
    for (int i = 0; i < 500; ++i) {
      const std::int64_t start = cluster(random);
      const std::int64_t end = start + length(random) * 20;
      const int exclude = owner(random);
      const std::int64_t asked = date(random);
      std::int64_t expected = 0;
      for (std::int64_t cluster = std::max<std::int64_t>(start, 0); cluster <= std::min(end, count - 1); ++cluster)
        expected += std::any_of(claims.begin(), claims.end(), [&](const TClaim& c) {
          return c.Owner != exclude && c.Date > asked && c.Start <= cluster && cluster <= c.End;
        });
      ASSERT_EQ(map.IsUsed(start, end, &owners[exclude], asked), expected)
          << start << "-" << end << " excluding " << exclude << " after " << asked;
    }
  }
}

TEST(DriveMapLifecycle, SetClusterCountKeepsRangesOnlyForTheSameCount) {
  int owner = 0;
  TDriveMap map(kHundredPerChain);
  map.AddUsing(150, 260, &owner, 10);

  map.SetClusterCount(kHundredPerChain);
  EXPECT_EQ(map.IsUsed(150, 260, nullptr, 0), 111);

  map.SetClusterCount(2 * kHundredPerChain);
  EXPECT_EQ(map.IsUsed(150, 260, nullptr, 0), 0);
  EXPECT_TRUE(StoredParts(map).empty());
  EXPECT_EQ(map.ChainSize(), 200);
  EXPECT_EQ(map.Chain(1).Start, 200);
}

TEST(DriveMapLifecycle, ClearDropsRangesAndKeepsLayout) {
  int owner = 0;
  TDriveMap map(kHundredPerChain + 37);
  map.AddUsing(0, kHundredPerChain + 36, &owner, 10);
  EXPECT_EQ(StoredParts(map).size(), static_cast<std::size_t>(DriveMapChainCount));
  EXPECT_EQ(map.IsUsed(0, kHundredPerChain + 36, nullptr, 0), kHundredPerChain + 37);

  map.Clear();
  EXPECT_TRUE(StoredParts(map).empty());
  EXPECT_EQ(map.ClusterCount(), kHundredPerChain + 37);
  EXPECT_EQ(map.Chain(65535).End, kHundredPerChain + 36);
  map.AddUsing(100, 120, &owner, 10);
  EXPECT_EQ(map.IsUsed(0, 200, nullptr, 0), 21);
}

}  // namespace
