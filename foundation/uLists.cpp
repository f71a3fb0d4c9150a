#include "foundation/uLists.h"

#include "foundation/uMemoryEx.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>
#include <utility>

namespace {

class TTwoWayList;

// One list element. The element's block follows this header in the same
// allocation, so the block never moves and the node's address can serve as
// the element's bookmark for its whole life.
struct TTwoWayListItem {
  TTwoWayList* Owner = nullptr;
  TTwoWayListItem* Prev = nullptr;
  TTwoWayListItem* Next = nullptr;
  bool Deleted = false;

  std::byte* Data() { return reinterpret_cast<std::byte*>(this) + sizeof(TTwoWayListItem); }
};
using PTwoWayListItem = TTwoWayListItem*;

class TTwoWayList final : public IExList, public std::enable_shared_from_this<TTwoWayList> {
public:
  explicit TTwoWayList(std::int32_t ADataSize) : FDataSize(ADataSize) {}
  ~TTwoWayList() override { FreeAll(); }
  TTwoWayList(const TTwoWayList&) = delete;
  TTwoWayList& operator=(const TTwoWayList&) = delete;

  std::int32_t DataSize() override { return FDataSize; }
  TExListBookmark Add(const void* AData) override;
  void Delete(TExListBookmark ABookmark) override;
  bool ReadData(TExListBookmark ABookmark, void* ADest) override;
  bool WriteData(TExListBookmark ABookmark, const void* AData) override;
  void Exchange(TExListBookmark ABookmark1, TExListBookmark ABookmark2) override;
  void Clear() override;
  std::int64_t Count() override { return FCount; }
  IExListEnumeratorPtr GetItems() override;

  // The enumerators' side: while any is alive, deleted nodes stay linked.
  PTwoWayListItem Head() const { return FItems; }
  void EnumeratorOpened() { ++FRefEnumCount; }
  void EnumeratorClosed();

private:
  std::size_t BlockSize() const { return static_cast<std::size_t>(FDataSize); }
  PTwoWayListItem OwnItem(TExListBookmark ABookmark);
  PTwoWayListItem NewItem(const void* AData);
  void Link(PTwoWayListItem ALeft, PTwoWayListItem ARight);
  void Unlink(PTwoWayListItem AItem);
  void FreeAll();
  void PurgeDeleted();

  std::int32_t FDataSize;
  std::int64_t FCount = 0;
  PTwoWayListItem FItems = nullptr;
  PTwoWayListItem FItemsEnd = nullptr;
  std::int32_t FRefEnumCount = 0;
  // Whether any node is marked deleted and still linked; a walk that deleted
  // nothing then ends without a second pass over the list.
  bool FHasMarked = false;
};

void FreeItem(PTwoWayListItem AItem) {
  AItem->~TTwoWayListItem();
  ::operator delete(static_cast<void*>(AItem));
}

class TTwoWayListEnumerator final : public IExListEnumerator {
public:
  explicit TTwoWayListEnumerator(std::shared_ptr<TTwoWayList> AOwner)
      : FOwner(std::move(AOwner)), FItems(FOwner->Head()) {
    FOwner->EnumeratorOpened();
  }
  ~TTwoWayListEnumerator() override { FOwner->EnumeratorClosed(); }
  TTwoWayListEnumerator(const TTwoWayListEnumerator&) = delete;
  TTwoWayListEnumerator& operator=(const TTwoWayListEnumerator&) = delete;

  bool MoveNext() override;
  void ReadData(void* ADest) override;
  TExListBookmark GetBookmark() override { return FCurrent; }

private:
  std::shared_ptr<TTwoWayList> FOwner;
  PTwoWayListItem FItems;
  PTwoWayListItem FCurrent = nullptr;
  // Once a walk has ended it stays ended: stepping on from nil would
  // otherwise start the walk over from the head.
  bool FFinished = false;
};

PTwoWayListItem TTwoWayList::OwnItem(TExListBookmark ABookmark) {
  auto item = static_cast<PTwoWayListItem>(ABookmark);
  return item != nullptr && item->Owner == this ? item : nullptr;
}

PTwoWayListItem TTwoWayList::NewItem(const void* AData) {
  void* memory = ::operator new(sizeof(TTwoWayListItem) + BlockSize());
  auto item = new (memory) TTwoWayListItem{this};
  std::memcpy(item->Data(), AData, BlockSize());
  return item;
}

// Joins two nodes as neighbours; a nil side makes the other node the head or
// the tail.
void TTwoWayList::Link(PTwoWayListItem ALeft, PTwoWayListItem ARight) {
  (ALeft != nullptr ? ALeft->Next : FItems) = ARight;
  (ARight != nullptr ? ARight->Prev : FItemsEnd) = ALeft;
}

void TTwoWayList::Unlink(PTwoWayListItem AItem) {
  Link(AItem->Prev, AItem->Next);
}

TExListBookmark TTwoWayList::Add(const void* AData) {
  PTwoWayListItem item = NewItem(AData);
  Link(FItemsEnd, item);
  Link(item, nullptr);
  ++FCount;
  return item;
}

void TTwoWayList::Delete(TExListBookmark ABookmark) {
  PTwoWayListItem item = OwnItem(ABookmark);
  if (item == nullptr)
    return;
  if (!item->Deleted)
    --FCount;
  if (FRefEnumCount > 0) {
    item->Deleted = true;
    FHasMarked = true;
    return;
  }
  Unlink(item);
  FreeItem(item);
}

bool TTwoWayList::ReadData(TExListBookmark ABookmark, void* ADest) {
  PTwoWayListItem item = OwnItem(ABookmark);
  if (item == nullptr)
    return false;
  std::memcpy(ADest, item->Data(), BlockSize());
  return true;
}

bool TTwoWayList::WriteData(TExListBookmark ABookmark, const void* AData) {
  PTwoWayListItem item = OwnItem(ABookmark);
  if (item == nullptr)
    return false;
  std::memcpy(item->Data(), AData, BlockSize());
  return true;
}

void TTwoWayList::Exchange(TExListBookmark ABookmark1, TExListBookmark ABookmark2) {
  PTwoWayListItem first = OwnItem(ABookmark1);
  PTwoWayListItem second = OwnItem(ABookmark2);
  if (first == nullptr || second == nullptr || first == second)
    return;
  if (second->Next == first)
    std::swap(first, second);
  PTwoWayListItem beforeFirst = first->Prev;
  PTwoWayListItem afterSecond = second->Next;
  if (first->Next == second) {
    Link(beforeFirst, second);
    Link(second, first);
    Link(first, afterSecond);
    return;
  }
  PTwoWayListItem afterFirst = first->Next;
  PTwoWayListItem beforeSecond = second->Prev;
  Link(beforeFirst, second);
  Link(second, afterFirst);
  Link(beforeSecond, first);
  Link(first, afterSecond);
}

// With a walk alive, freeing the nodes would leave its position dangling, so
// the elements are only marked and go when the last enumerator does.
void TTwoWayList::Clear() {
  if (FRefEnumCount > 0) {
    for (PTwoWayListItem item = FItems; item != nullptr; item = item->Next)
      item->Deleted = true;
    FHasMarked = FItems != nullptr;
    FCount = 0;
    return;
  }
  FreeAll();
}

void TTwoWayList::FreeAll() {
  PTwoWayListItem item = FItems;
  while (item != nullptr) {
    PTwoWayListItem next = item->Next;
    FreeItem(item);
    item = next;
  }
  FItems = nullptr;
  FItemsEnd = nullptr;
  FCount = 0;
  FHasMarked = false;
}

IExListEnumeratorPtr TTwoWayList::GetItems() {
  return std::make_shared<TTwoWayListEnumerator>(shared_from_this());
}

void TTwoWayList::EnumeratorClosed() {
  --FRefEnumCount;
  if (FRefEnumCount <= 0)
    PurgeDeleted();
}

void TTwoWayList::PurgeDeleted() {
  if (!FHasMarked)
    return;
  FHasMarked = false;
  PTwoWayListItem item = FItems;
  while (item != nullptr) {
    PTwoWayListItem next = item->Next;
    if (item->Deleted) {
      Unlink(item);
      FreeItem(item);
    }
    item = next;
  }
}

bool TTwoWayListEnumerator::MoveNext() {
  if (FFinished)
    return false;
  PTwoWayListItem item = FCurrent != nullptr ? FCurrent->Next : FItems;
  while (item != nullptr && item->Deleted)
    item = item->Next;
  FCurrent = item;
  FFinished = item == nullptr;
  return !FFinished;
}

void TTwoWayListEnumerator::ReadData(void* ADest) {
  if (FCurrent != nullptr)
    std::memcpy(ADest, FCurrent->Data(), static_cast<std::size_t>(FOwner->DataSize()));
}

// One bucket of a dictionary: open addressing with linear probing over one
// contiguous block of slots. A slot holds the key's hash (0 when the slot is
// free), then the key bytes, then the value bytes, so a lookup touches one
// cache line where a node-based map would chase two or three pointers. Keys
// that share their bytes in another order, as record numbers often do, land
// in one bucket; the table inside it keeps their lookups short.
class TFlatBucket {
public:
  TFlatBucket(std::size_t AKeySize, std::size_t ADataSize)
      : FKeySize(AKeySize), FDataSize(ADataSize),
        FSlotSize((sizeof(std::uint64_t) + AKeySize + ADataSize + alignof(std::uint64_t) - 1) &
                  ~(alignof(std::uint64_t) - 1)) {}

  std::size_t Count() const { return FCount; }

  // The value of the key, or nil.
  std::byte* Find(std::string_view AKey, std::uint64_t AHash) {
    if (FCount == 0)
      return nullptr;
    for (std::size_t i = AHash & FMask;; i = (i + 1) & FMask) {
      const std::uint64_t hash = HashAt(i);
      if (hash == 0)
        return nullptr;
      if (hash == AHash && std::memcmp(KeyAt(i), AKey.data(), FKeySize) == 0)
        return ValueAt(i);
    }
  }

  void Write(std::string_view AKey, std::uint64_t AHash, const void* AData) {
    if (std::byte* value = Find(AKey, AHash)) {
      std::memcpy(value, AData, FDataSize);
      return;
    }
    // At most three quarters full, so that every probe ends soon at a free slot.
    if (4 * (FCount + 1) > 3 * Capacity())
      Grow();
    std::size_t i = AHash & FMask;
    while (HashAt(i) != 0)
      i = (i + 1) & FMask;
    Place(i, AHash, AKey.data(), AData);
    ++FCount;
  }

  // False when the key is absent.
  bool Erase(std::string_view AKey, std::uint64_t AHash) {
    std::byte* value = Find(AKey, AHash);
    if (value == nullptr)
      return false;
    std::size_t hole = SlotIndexOf(value);
    // Backward shift: every later slot of the probe run whose home lies at or
    // before the hole moves into it, so no probe ever stops short.
    for (std::size_t next = (hole + 1) & FMask; HashAt(next) != 0; next = (next + 1) & FMask) {
      const std::size_t home = HashAt(next) & FMask;
      const bool homeInGap = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
      if (homeInGap)
        continue;
      std::memcpy(SlotAt(hole), SlotAt(next), FSlotSize);
      hole = next;
    }
    SetHashAt(hole, 0);
    --FCount;
    return true;
  }

private:
  std::size_t Capacity() const { return FSlots.size() / FSlotSize; }
  std::byte* SlotAt(std::size_t AIndex) { return FSlots.data() + AIndex * FSlotSize; }
  std::uint64_t HashAt(std::size_t AIndex) {
    std::uint64_t hash;
    std::memcpy(&hash, SlotAt(AIndex), sizeof hash);
    return hash;
  }
  void SetHashAt(std::size_t AIndex, std::uint64_t AHash) { std::memcpy(SlotAt(AIndex), &AHash, sizeof AHash); }
  std::byte* KeyAt(std::size_t AIndex) { return SlotAt(AIndex) + sizeof(std::uint64_t); }
  std::byte* ValueAt(std::size_t AIndex) { return KeyAt(AIndex) + FKeySize; }
  std::size_t SlotIndexOf(const std::byte* AValue) const {
    return static_cast<std::size_t>(AValue - FSlots.data()) / FSlotSize;
  }
  void Place(std::size_t AIndex, std::uint64_t AHash, const void* AKey, const void* AData) {
    SetHashAt(AIndex, AHash);
    std::memcpy(KeyAt(AIndex), AKey, FKeySize);
    std::memcpy(ValueAt(AIndex), AData, FDataSize);
  }

  void Grow() {
    const std::size_t capacity = Capacity() == 0 ? InitialCapacity : 2 * Capacity();
    std::vector<std::byte> old(capacity * FSlotSize);
    old.swap(FSlots);
    FMask = capacity - 1;
    for (std::size_t offset = 0; offset < old.size(); offset += FSlotSize) {
      std::uint64_t hash;
      std::memcpy(&hash, old.data() + offset, sizeof hash);
      if (hash == 0)
        continue;
      std::size_t i = hash & FMask;
      while (HashAt(i) != 0)
        i = (i + 1) & FMask;
      std::memcpy(SlotAt(i), old.data() + offset, FSlotSize);
    }
  }

  static constexpr std::size_t InitialCapacity = 8; // a power of two, as the mask needs

  std::size_t FKeySize;
  std::size_t FDataSize;
  std::size_t FSlotSize;
  std::size_t FCount = 0;
  std::size_t FMask = 0;
  std::vector<std::byte> FSlots;
};

// 256 buckets chosen by the exclusive-or of the key bytes; inside a bucket
// the key's full hash places it.
class THashTable final : public IExDictionary {
public:
  THashTable(std::int32_t AKeySize, std::int32_t ADataSize)
      : FDataSize(ADataSize), FKeySize(AKeySize) {}

  std::int32_t KeySize() override { return FKeySize; }
  std::int32_t DataSize() override { return FDataSize; }
  void Add(const void* AKey, const void* AData) override { WriteItem(AKey, AData); }
  void Delete(const void* AKey) override;
  void Clear() override;
  bool Exists(const void* AKey) override { return Find(AKey) != nullptr; }
  bool ReadItem(const void* AKey, void* ADest) override;
  void WriteItem(const void* AKey, const void* AData) override;

private:
  static constexpr std::size_t BucketCount = 256;

  std::string_view KeyBytes(const void* AKey) const;
  std::unique_ptr<TFlatBucket>& SlotOf(std::string_view AKey);
  // Never 0, which marks a free slot.
  static std::uint64_t HashOf(std::string_view AKey) { return std::hash<std::string_view>{}(AKey) | 1; }
  std::byte* Find(const void* AKey);

  std::int32_t FDataSize;
  std::int32_t FKeySize;
  std::array<std::unique_ptr<TFlatBucket>, BucketCount> FBuckets;
};

std::string_view THashTable::KeyBytes(const void* AKey) const {
  return {static_cast<const char*>(AKey), static_cast<std::size_t>(FKeySize)};
}

std::unique_ptr<TFlatBucket>& THashTable::SlotOf(std::string_view AKey) {
  std::uint8_t index = 0;
  for (char byte : AKey)
    index ^= static_cast<std::uint8_t>(byte);
  return FBuckets[index];
}

std::byte* THashTable::Find(const void* AKey) {
  std::string_view key = KeyBytes(AKey);
  const std::unique_ptr<TFlatBucket>& bucket = SlotOf(key);
  return bucket ? bucket->Find(key, HashOf(key)) : nullptr;
}

bool THashTable::ReadItem(const void* AKey, void* ADest) {
  const std::byte* value = Find(AKey);
  if (value == nullptr)
    return false;
  std::memcpy(ADest, value, static_cast<std::size_t>(FDataSize));
  return true;
}

void THashTable::WriteItem(const void* AKey, const void* AData) {
  std::string_view key = KeyBytes(AKey);
  std::unique_ptr<TFlatBucket>& bucket = SlotOf(key);
  if (!bucket)
    bucket = std::make_unique<TFlatBucket>(static_cast<std::size_t>(FKeySize), static_cast<std::size_t>(FDataSize));
  bucket->Write(key, HashOf(key), AData);
}

void THashTable::Delete(const void* AKey) {
  std::string_view key = KeyBytes(AKey);
  std::unique_ptr<TFlatBucket>& bucket = SlotOf(key);
  if (bucket && bucket->Erase(key, HashOf(key)) && bucket->Count() == 0)
    bucket.reset();
}

void THashTable::Clear() {
  for (std::unique_ptr<TFlatBucket>& bucket : FBuckets)
    bucket.reset();
}

// A filtered copy appends through the target's own element size out of the
// source's block, and appending to the list being walked never ends the walk;
// both are refused before that list is walked.
void CheckFilteredListArguments(IExList& AList, const TExListFilterProc& AFilter,
                                const IExListPtr& ATargetList) {
  if (!AFilter)
    throw std::invalid_argument("ListBuilder.GetFilteredList: Filter must be assigned.");
  if (!ATargetList)
    throw std::invalid_argument("ListBuilder.GetFilteredList: TargetList must be assigned.");
  if (ATargetList.get() == &AList)
    throw std::invalid_argument("ListBuilder.GetFilteredList: TargetList must not be a source list.");
  if (ATargetList->DataSize() != AList.DataSize())
    throw std::invalid_argument(
        "ListBuilder.GetFilteredList: TargetList DataSize " + std::to_string(ATargetList->DataSize()) +
        " differs from the source's " + std::to_string(AList.DataSize()) + ".");
}

} // namespace

void ExListCheckBlockSize(const char* AOperation, std::int32_t ABlockSize, std::size_t ATypeSize) {
  if (ABlockSize < 0 || static_cast<std::size_t>(ABlockSize) != ATypeSize)
    throw std::invalid_argument(std::string(AOperation) + ": a type of " + std::to_string(ATypeSize) +
                                " bytes used on blocks of " + std::to_string(ABlockSize) + " bytes.");
}

IExListPtr ExListBuilder::CreateList(std::int32_t ADataSize) {
  if (ADataSize <= 0)
    throw std::runtime_error("ListBuilder.CreateList: DataSize must be greater than 0.");
  return std::make_shared<TTwoWayList>(ADataSize);
}

IExDictionaryPtr ExListBuilder::CreateDictionary(std::int32_t AKeySize, std::int32_t ADataSize) {
  if (AKeySize <= 0 || ADataSize <= 0)
    throw std::runtime_error("ListBuilder.CreateDictionary: KeySize or DataSize must be greater than 0.");
  return std::make_shared<THashTable>(AKeySize, ADataSize);
}

std::int32_t ExListBuilder::GetFilteredList(const IExListPtr& AList,
                                            const TExListGetSubItemsProc& ASubItemsProc,
                                            const TExListFilterProc& AFilter,
                                            const IExListPtr& ATargetList) {
  if (!AList || AList->Count() == 0)
    return 0;
  CheckFilteredListArguments(*AList, AFilter, ATargetList);
  TMemHolder scratch(AList->DataSize());
  std::int32_t appended = 0;
  IExListEnumeratorPtr items = AList->GetItems();
  while (items->MoveNext()) {
    items->ReadData(scratch.Ptr());
    if (AFilter(scratch.Ptr())) {
      ATargetList->Add(scratch.Ptr());
      ++appended;
    }
    if (ASubItemsProc)
      appended += GetFilteredList(ASubItemsProc(scratch.Ptr()), ASubItemsProc, AFilter, ATargetList);
  }
  return appended;
}
