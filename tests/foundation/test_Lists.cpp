#include "foundation/uLists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using TValues = std::vector<std::int32_t>;
using TKey6 = std::array<std::uint8_t, 6>;

constexpr std::int32_t Untouched = -12345;

// A list of 4-byte values and the bookmarks of its elements, in order of Add.
struct TIntList {
  IExListPtr List = ExListBuilder::CreateList(sizeof(std::int32_t));
  std::vector<TExListBookmark> Marks;

  explicit TIntList(const TValues& AValues = {}) {
    for (std::int32_t value : AValues)
      Marks.push_back(ListAdd(*List, value));
  }
};

TValues Walk(IExList& AList) {
  TValues values;
  for (auto [bookmark, value] : ListItems<std::int32_t>(AList))
    values.push_back(value);
  return values;
}

std::int32_t ReadInt(IExList& AList, TExListBookmark ABookmark) {
  return ListRead<std::int32_t>(AList, ABookmark).value_or(Untouched);
}

bool StepTo(IExListEnumerator& AEnumerator, IExList& AList, std::int32_t AValue) {
  while (AEnumerator.MoveNext())
    if (ReadInt(AList, AEnumerator.GetBookmark()) == AValue)
      return true;
  return false;
}

// ---------------------------------------------------------------- list

TEST(ExList, AddKeepsInsertionOrderAndEqualElements) {
  TIntList list({5, 3, 5, 1});
  EXPECT_EQ(list.List->DataSize(), 4);
  EXPECT_EQ(list.List->Count(), 4);
  EXPECT_THAT(Walk(*list.List), ElementsAre(5, 3, 5, 1));
  EXPECT_NE(list.Marks[0], list.Marks[2]);
}

TEST(ExList, BlocksAreCopiedInAndOutAndOverwrittenInPlace) {
  struct TRecord {
    std::uint64_t Reference;
    std::uint16_t Name[3];
  };
  IExListPtr list = ExListBuilder::CreateList(sizeof(TRecord));
  TRecord record{0x0001000000000123ULL, {u'a', u'b', u'c'}};
  TExListBookmark mark = ListAdd(*list, record);
  record.Reference = 0; // the list keeps its own copy
  auto stored = ListRead<TRecord>(*list, mark);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->Reference, 0x0001000000000123ULL);
  EXPECT_EQ(stored->Name[2], u'c');

  EXPECT_TRUE(ListWrite(*list, mark, record));
  EXPECT_EQ(ListRead<TRecord>(*list, mark)->Reference, 0u);
  EXPECT_EQ(list->Count(), 1);
}

// Count after three Adds and one Delete, with and without a walk alive.
TEST(ExList, CountIgnoresDeletedElementsWithOrWithoutWalk) {
  for (bool walking : {false, true}) {
    SCOPED_TRACE(walking ? "enumerator alive" : "no enumerator");
    TIntList list({1, 2, 3});
    IExListEnumeratorPtr walk = walking ? list.List->GetItems() : nullptr;
    list.List->Delete(list.Marks[1]);
    EXPECT_EQ(list.List->Count(), 2);
    list.List->Delete(list.Marks[0]);
    EXPECT_EQ(list.List->Count(), 1);
    EXPECT_THAT(Walk(*list.List), ElementsAre(3));
  }
}

TEST(ExList, DeletingTwiceDuringWalkCountsOnce) {
  TIntList list({1, 2, 3});
  {
    IExListEnumeratorPtr walk = list.List->GetItems();
    list.List->Delete(list.Marks[1]);
    list.List->Delete(list.Marks[1]);
    EXPECT_EQ(list.List->Count(), 2);
  }
  EXPECT_EQ(list.List->Count(), 2);
  EXPECT_THAT(Walk(*list.List), ElementsAre(1, 3));
}

TEST(ExList, DeletingHeadAndTailRelinksEnds) {
  TIntList list({1, 2, 3});
  list.List->Delete(list.Marks[0]);
  list.List->Delete(list.Marks[2]);
  EXPECT_THAT(Walk(*list.List), ElementsAre(2));
  ListAdd(*list.List, 4);
  list.List->Delete(list.Marks[1]);
  EXPECT_THAT(Walk(*list.List), ElementsAre(4));
}

TEST(ExList, WalkToleratesDeletionAndSeesAppends) {
  TIntList list({1, 2, 3, 4, 5});
  TValues seen;
  IExListEnumeratorPtr walk = list.List->GetItems();
  while (walk->MoveNext()) {
    std::int32_t value = Untouched;
    walk->ReadData(&value);
    seen.push_back(value);
    if (value == 2) {
      list.List->Delete(walk->GetBookmark()); // the current element
      list.List->Delete(list.Marks[3]);       // one not reached yet
    }
    if (value == 5)
      ListAdd(*list.List, 6);
  }
  EXPECT_THAT(seen, ElementsAre(1, 2, 3, 5, 6));
  EXPECT_EQ(list.List->Count(), 4);
}

TEST(ExList, DeletedElementStaysReadableWhileAWalkLives) {
  TIntList list({10, 20, 30});
  IExListEnumeratorPtr walk = list.List->GetItems();
  list.List->Delete(list.Marks[1]);
  EXPECT_EQ(ReadInt(*list.List, list.Marks[1]), 20);
  EXPECT_TRUE(ListWrite(*list.List, list.Marks[1], 21));
  EXPECT_EQ(ReadInt(*list.List, list.Marks[1]), 21);
  EXPECT_THAT(Walk(*list.List), ElementsAre(10, 30));
}

// Deletions made while two walks live wait for the second one: reading the
// element after the first walk is gone would touch freed memory.
TEST(ExList, TwoWalksDeferPurgeUntilBothAreReleased) {
  TIntList list({1, 2, 3, 4});
  IExListEnumeratorPtr first = list.List->GetItems();
  IExListEnumeratorPtr second = list.List->GetItems();
  ASSERT_TRUE(StepTo(*first, *list.List, 2));
  ASSERT_TRUE(StepTo(*second, *list.List, 1));

  list.List->Delete(list.Marks[1]);
  list.List->Delete(list.Marks[2]);
  EXPECT_TRUE(first->MoveNext()); // from its deleted current to 4
  EXPECT_EQ(ReadInt(*list.List, first->GetBookmark()), 4);
  first.reset();

  EXPECT_EQ(ReadInt(*list.List, list.Marks[1]), 2);
  ASSERT_TRUE(second->MoveNext()); // skips both deleted elements
  EXPECT_EQ(second->GetBookmark(), list.Marks[3]);
  second.reset();

  EXPECT_EQ(list.List->Count(), 2);
  EXPECT_THAT(Walk(*list.List), ElementsAre(1, 4));
  list.List->Delete(list.Marks[0]);
  list.List->Delete(list.Marks[3]);
  EXPECT_THAT(Walk(*list.List), IsEmpty());
  ListAdd(*list.List, 9);
  EXPECT_THAT(Walk(*list.List), ElementsAre(9));
}

TEST(ExList, WalkHoldsItsListAlive) {
  IExListEnumeratorPtr walk;
  {
    TIntList list({7, 8});
    walk = list.List->GetItems();
  }
  ASSERT_TRUE(walk->MoveNext());
  std::int32_t value = 0;
  walk->ReadData(&value);
  EXPECT_EQ(value, 7);
}

TEST(ExList, WalkStatesBeforeStartAfterEndAndOverEmptyList) {
  TIntList list({1});
  IExListEnumeratorPtr walk = list.List->GetItems();
  std::int32_t value = Untouched;
  EXPECT_EQ(walk->GetBookmark(), nullptr);
  walk->ReadData(&value);
  EXPECT_EQ(value, Untouched);

  EXPECT_TRUE(walk->MoveNext());
  EXPECT_FALSE(walk->MoveNext());
  EXPECT_EQ(walk->GetBookmark(), nullptr);
  walk->ReadData(&value);
  EXPECT_EQ(value, Untouched);
  EXPECT_FALSE(walk->MoveNext()) << "an ended walk must not start over";

  TIntList empty;
  IExListEnumeratorPtr overEmpty = empty.List->GetItems();
  ListAdd(*empty.List, 1);
  EXPECT_FALSE(overEmpty->MoveNext());
}

// Clearing under a live walk marks instead of freeing, so the walk's
// position and the bookmarks it hands out stay valid.
TEST(ExList, ClearDuringWalkDefersFreeing) {
  TIntList list({1, 2, 3});
  IExListEnumeratorPtr walk = list.List->GetItems();
  ASSERT_TRUE(walk->MoveNext());
  list.List->Clear();
  EXPECT_EQ(list.List->Count(), 0);
  EXPECT_EQ(ReadInt(*list.List, walk->GetBookmark()), 1);
  list.List->Delete(walk->GetBookmark());
  EXPECT_EQ(list.List->Count(), 0);

  ListAdd(*list.List, 4);
  ASSERT_TRUE(walk->MoveNext());
  EXPECT_EQ(ReadInt(*list.List, walk->GetBookmark()), 4);
  walk.reset();
  EXPECT_THAT(Walk(*list.List), ElementsAre(4));
  EXPECT_EQ(list.List->Count(), 1);
}

TEST(ExList, ClearFreesEverythingAndListIsReusable) {
  TIntList list({1, 2, 3});
  list.List->Clear();
  EXPECT_EQ(list.List->Count(), 0);
  EXPECT_THAT(Walk(*list.List), IsEmpty());
  ListAdd(*list.List, 5);
  EXPECT_THAT(Walk(*list.List), ElementsAre(5));
}

// Bookmarks that do not name an element of this list change nothing.
TEST(ExList, ForeignAndNilBookmarksAreIgnored) {
  TIntList list({1, 2});
  TIntList other({99});
  for (TExListBookmark foreign : {other.Marks[0], static_cast<TExListBookmark>(nullptr)}) {
    SCOPED_TRACE(foreign == nullptr ? "nil" : "other list");
    std::int32_t dest = Untouched;
    std::int32_t data = 7;
    EXPECT_FALSE(list.List->ReadData(foreign, &dest));
    EXPECT_EQ(dest, Untouched);
    EXPECT_FALSE(list.List->WriteData(foreign, &data));
    list.List->Delete(foreign);
    list.List->Exchange(foreign, list.Marks[0]);
    list.List->Exchange(list.Marks[1], foreign);
    EXPECT_EQ(list.List->Count(), 2);
    EXPECT_THAT(Walk(*list.List), ElementsAre(1, 2));
  }
  EXPECT_THAT(Walk(*other.List), ElementsAre(99));
}

struct TExchangeCase {
  const char* Name;
  TValues Start;
  int First, Second; // indexes into Start
  TValues Expected;
};

void PrintTo(const TExchangeCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

class ExListExchange : public ::testing::TestWithParam<TExchangeCase> {};

// After the swap, the order is checked forwards by a walk and the backward
// links by deleting from the tail: a stale Prev would cut the walk short.
TEST_P(ExListExchange, SwapsPositionsAndKeepsBookmarksOnTheirElements) {
  const TExchangeCase& c = GetParam();
  TIntList list(c.Start);
  list.List->Exchange(list.Marks[c.First], list.Marks[c.Second]);
  ASSERT_THAT(Walk(*list.List), ElementsAreArray(c.Expected));
  for (std::size_t i = 0; i < c.Start.size(); ++i)
    EXPECT_EQ(ReadInt(*list.List, list.Marks[i]), c.Start[i]);

  TValues remaining = c.Expected;
  while (!remaining.empty()) {
    auto mark = std::find(c.Start.begin(), c.Start.end(), remaining.back()) - c.Start.begin();
    list.List->Delete(list.Marks[static_cast<std::size_t>(mark)]);
    remaining.pop_back();
    ASSERT_THAT(Walk(*list.List), ElementsAreArray(remaining));
  }
  ListAdd(*list.List, 100);
  EXPECT_THAT(Walk(*list.List), ElementsAre(100));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExListExchange,
    ::testing::Values(TExchangeCase{"HeadWithTail", {1, 2, 3}, 0, 2, {3, 2, 1}},
                      TExchangeCase{"TailWithHead", {1, 2, 3}, 2, 0, {3, 2, 1}},
                      TExchangeCase{"NeighboursAtHead", {1, 2, 3}, 0, 1, {2, 1, 3}},
                      TExchangeCase{"NeighboursAtHeadReversed", {1, 2, 3}, 1, 0, {2, 1, 3}},
                      TExchangeCase{"NeighboursAtTail", {1, 2, 3}, 1, 2, {1, 3, 2}},
                      TExchangeCase{"NeighboursAtTailReversed", {1, 2, 3}, 2, 1, {1, 3, 2}},
                      TExchangeCase{"NeighboursInside", {1, 2, 3, 4}, 2, 1, {1, 3, 2, 4}},
                      TExchangeCase{"TwoElements", {1, 2}, 1, 0, {2, 1}},
                      TExchangeCase{"ApartInside", {1, 2, 3, 4, 5}, 1, 3, {1, 4, 3, 2, 5}},
                      TExchangeCase{"WithItself", {1, 2, 3}, 1, 1, {1, 2, 3}},
                      TExchangeCase{"OnlyElementWithItself", {1}, 0, 0, {1}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// ---------------------------------------------------------------- dictionary

IExDictionaryPtr NewKey6Dictionary() {
  return ExListBuilder::CreateDictionary(6, sizeof(std::int64_t));
}

std::int64_t ReadValue(IExDictionary& ADict, const TKey6& AKey) {
  return DictRead<std::int64_t>(ADict, AKey).value_or(Untouched);
}

TEST(ExDictionary, AddOverwritesAnExistingKeyInsteadOfDuplicating) {
  IExDictionaryPtr dict = NewKey6Dictionary();
  EXPECT_EQ(dict->KeySize(), 6);
  EXPECT_EQ(dict->DataSize(), 8);
  const TKey6 key{5, 0, 0, 0, 0, 0};
  std::int64_t value = 1;
  dict->Add(key.data(), &value);
  value = 2;
  dict->Add(key.data(), &value);
  EXPECT_TRUE(DictExists(*dict, key));
  EXPECT_EQ(ReadValue(*dict, key), 2);
  dict->Delete(key.data());
  EXPECT_FALSE(DictExists(*dict, key)) << "a second entry survived";
}

// Keys made of the same bytes in another order share a bucket.
TEST(ExDictionary, KeysInOneBucketAreToldApart) {
  IExDictionaryPtr dict = NewKey6Dictionary();
  const TKey6 a{1, 2, 3, 0, 0, 0};
  const TKey6 b{3, 2, 1, 0, 0, 0};
  const TKey6 c{0, 0, 0, 1, 2, 3};
  DictWrite(*dict, a, std::int64_t{10});
  DictWrite(*dict, b, std::int64_t{20});
  DictWrite(*dict, c, std::int64_t{30});
  EXPECT_EQ(ReadValue(*dict, a), 10);
  EXPECT_EQ(ReadValue(*dict, b), 20);
  EXPECT_EQ(ReadValue(*dict, c), 30);

  DictDelete(*dict, b);
  EXPECT_FALSE(DictExists(*dict, b));
  EXPECT_EQ(ReadValue(*dict, a), 10);
  EXPECT_EQ(ReadValue(*dict, c), 30);
}

TEST(ExDictionary, MissingKeyLeavesDestinationAndTableAlone) {
  IExDictionaryPtr dict = NewKey6Dictionary();
  const TKey6 present{1, 0, 0, 0, 0, 0};
  const TKey6 absent{0, 1, 0, 0, 0, 0};
  DictWrite(*dict, present, std::int64_t{1});
  std::int64_t dest = Untouched;
  EXPECT_FALSE(dict->ReadItem(absent.data(), &dest));
  EXPECT_EQ(dest, Untouched);
  dict->Delete(absent.data());
  EXPECT_FALSE(dict->Exists(absent.data()));
  EXPECT_EQ(ReadValue(*dict, present), 1);
}

TEST(ExDictionary, ClearEmptiesEveryBucketAndTableIsReusable) {
  IExDictionaryPtr dict = NewKey6Dictionary();
  for (std::uint8_t i = 0; i < 200; ++i)
    DictWrite(*dict, TKey6{i, 1, 0, 0, 0, 0}, std::int64_t{i});
  dict->Clear();
  for (std::uint8_t i = 0; i < 200; ++i)
    ASSERT_FALSE(DictExists(*dict, TKey6{i, 1, 0, 0, 0, 0}));
  DictWrite(*dict, TKey6{7, 1, 0, 0, 0, 0}, std::int64_t{70});
  EXPECT_EQ(ReadValue(*dict, TKey6{7, 1, 0, 0, 0, 0}), 70);
}

// Random writes and deletes over few distinct key bytes, so that buckets
// fill, empty and refill, checked step by step against std::map.
TEST(ExDictionary, AgreesWithAReferenceMapUnderRandomWork) {
  IExDictionaryPtr dict = NewKey6Dictionary();
  std::map<TKey6, std::int64_t> reference;
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 3);
  std::uniform_int_distribution<int> action(0, 2);
  for (std::int64_t step = 0; step < 20000; ++step) {
    TKey6 key{};
    for (std::uint8_t& b : key)
      b = static_cast<std::uint8_t>(byte(random));
    switch (action(random)) {
      case 0:
        DictDelete(*dict, key);
        reference.erase(key);
        break;
      default:
        DictWrite(*dict, key, step);
        reference[key] = step;
    }
    auto expected = reference.find(key);
    ASSERT_EQ(DictExists(*dict, key), expected != reference.end()) << step;
    if (expected != reference.end()) {
      ASSERT_EQ(ReadValue(*dict, key), expected->second) << step;
    }
  }
  for (const auto& [key, value] : reference)
    ASSERT_EQ(ReadValue(*dict, key), value);
}

// ---------------------------------------------------------------- builder

TEST(ExListBuilder, FactoriesRefuseSizesBelowOne) {
  struct TCase {
    std::int32_t KeySize, DataSize;
  };
  for (std::int32_t size : {0, -1}) {
    EXPECT_THROW(
        {
          try {
            ExListBuilder::CreateList(size);
          } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "ListBuilder.CreateList: DataSize must be greater than 0.");
            throw;
          }
        },
        std::runtime_error)
        << size;
  }
  for (TCase c : {TCase{6, 0}, TCase{0, 8}, TCase{-1, 8}, TCase{6, -4}}) {
    EXPECT_THROW(
        {
          try {
            ExListBuilder::CreateDictionary(c.KeySize, c.DataSize);
          } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(),
                         "ListBuilder.CreateDictionary: KeySize or DataSize must be greater than 0.");
            throw;
          }
        },
        std::runtime_error)
        << c.KeySize << "/" << c.DataSize;
  }
  EXPECT_EQ(ExListBuilder::CreateList(1)->DataSize(), 1);
  EXPECT_EQ(ExListBuilder::CreateDictionary(1, 1)->KeySize(), 1);
}

// A small tree of 4-byte ids: top list 1, 7; 1 has 2 and 3; 2 has 4 and 5;
// 3 has 6; 5 has an empty sub-list; 7's callback answers nil.
class FilteredList : public ::testing::Test {
protected:
  FilteredList() {
    FSubItems[1] = TIntList({2, 3}).List;
    FSubItems[2] = TIntList({4, 5}).List;
    FSubItems[3] = TIntList({6}).List;
    FSubItems[5] = TIntList().List;
  }

  TExListGetSubItemsProc SubItems() {
    return [this](const void* AData) {
      auto found = FSubItems.find(*static_cast<const std::int32_t*>(AData));
      return found != FSubItems.end() ? found->second : nullptr;
    };
  }

  TIntList FTop{{1, 7}};
  TIntList FTarget{{0}}; // elements already there stay first
  std::map<std::int32_t, IExListPtr> FSubItems;
};

TEST_F(FilteredList, CopiesAcceptedElementsInDepthFirstPreOrder) {
  struct TCase {
    const char* Name;
    TExListFilterProc Filter;
    std::int32_t Expected;
    TValues Target;
  };
  const TCase cases[] = {
      {"all", [](const void*) { return true; }, 7, {0, 1, 2, 4, 5, 3, 6, 7}},
      {"odd, below refused parents too",
       [](const void* AData) { return *static_cast<const std::int32_t*>(AData) % 2 == 1; },
       4,
       {0, 1, 5, 3, 7}},
      {"none", [](const void*) { return false; }, 0, {0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIntList target({0});
    EXPECT_EQ(ExListBuilder::GetFilteredList(FTop.List, SubItems(), c.Filter, target.List), c.Expected);
    EXPECT_THAT(Walk(*target.List), ElementsAreArray(c.Target));
  }
}

TEST_F(FilteredList, WithoutSubItemsCallbackOnlyTheTopListIsWalked) {
  auto all = [](const void*) { return true; };
  EXPECT_EQ(ExListBuilder::GetFilteredList(FTop.List, nullptr, all, FTarget.List), 2);
  EXPECT_THAT(Walk(*FTarget.List), ElementsAre(0, 1, 7));
}

TEST_F(FilteredList, NilOrEmptySourceAppendsNothing) {
  auto all = [](const void*) { return true; };
  EXPECT_EQ(ExListBuilder::GetFilteredList(nullptr, SubItems(), all, FTarget.List), 0);
  EXPECT_EQ(ExListBuilder::GetFilteredList(TIntList().List, SubItems(), all, FTarget.List), 0);
  EXPECT_THAT(Walk(*FTarget.List), ElementsAre(0));
}

TEST_F(FilteredList, RefusesTargetsItCannotFillSafely) {
  auto all = [](const void*) { return true; };
  IExListPtr wider = ExListBuilder::CreateList(8);
  struct TCase {
    const char* Name;
    TExListFilterProc Filter;
    IExListPtr Target;
  };
  const TCase cases[] = {
      {"wider target", all, wider},
      {"nil target", all, nullptr},
      {"target is the source", all, FTop.List},
      {"unassigned filter", nullptr, FTarget.List},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_THROW(ExListBuilder::GetFilteredList(FTop.List, SubItems(), c.Filter, c.Target),
                 std::invalid_argument);
  }
  EXPECT_EQ(wider->Count(), 0);
  EXPECT_THAT(Walk(*FTop.List), ElementsAre(1, 7));
  EXPECT_THAT(Walk(*FTarget.List), ElementsAre(0));
}

// ---------------------------------------------------------------- typed access

TEST(ExListTyped, RangeForHandsOutBookmarksThatMayBeDeleted) {
  TIntList list({1, 2, 3, 4});
  for (auto [bookmark, value] : ListItems<std::int32_t>(*list.List))
    if (value % 2 == 0)
      list.List->Delete(bookmark);
  EXPECT_THAT(Walk(*list.List), ElementsAre(1, 3));
}

TEST(ExListTyped, TypeOfAnotherSizeIsRefused) {
  TIntList list({1});
  IExDictionaryPtr dict = NewKey6Dictionary();
  EXPECT_THROW(ListAdd(*list.List, std::int64_t{1}), std::invalid_argument);
  EXPECT_THROW(ListRead<std::int16_t>(*list.List, list.Marks[0]), std::invalid_argument);
  EXPECT_THROW(ListItems<std::int64_t>(*list.List), std::invalid_argument);
  EXPECT_THROW(DictWrite(*dict, std::int64_t{1}, std::int64_t{1}), std::invalid_argument);
  EXPECT_THROW(DictRead<std::int32_t>(*dict, TKey6{}), std::invalid_argument);
  EXPECT_EQ(list.List->Count(), 1);
}

} // namespace
