#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <type_traits>

// Containers of fixed-size byte blocks held by value. The containers copy
// blocks in and out and never interpret them; elements are often pointers to
// records owned elsewhere, and keys often the 6-byte record number of an
// MFT reference.

// Identifies one element of one list: the address of the element's node.
using TExListBookmark = void*;

class IExList;
using IExListPtr = std::shared_ptr<IExList>;

using TExListFilterProc = std::function<bool(const void* AData)>;
using TExListGetSubItemsProc = std::function<IExListPtr(const void* AData)>;

// Walks a list in insertion order. Elements deleted while any enumerator over
// the list is alive stay linked (and readable through their bookmarks) until
// the last enumerator goes, so a walk may delete its current element.
class IExListEnumerator {
public:
  virtual ~IExListEnumerator() = default;
  virtual bool MoveNext() = 0;
  virtual void ReadData(void* ADest) = 0;
  virtual TExListBookmark GetBookmark() = 0;
};
using IExListEnumeratorPtr = std::shared_ptr<IExListEnumerator>;

class IExList {
public:
  virtual ~IExList() = default;
  virtual std::int32_t DataSize() = 0;
  virtual TExListBookmark Add(const void* AData) = 0;
  virtual void Delete(TExListBookmark ABookmark) = 0;
  virtual bool ReadData(TExListBookmark ABookmark, void* ADest) = 0;
  virtual bool WriteData(TExListBookmark ABookmark, const void* AData) = 0;
  virtual void Exchange(TExListBookmark ABookmark1, TExListBookmark ABookmark2) = 0;
  virtual void Clear() = 0;
  virtual std::int64_t Count() = 0;
  virtual IExListEnumeratorPtr GetItems() = 0;
};

class IExDictionary {
public:
  virtual ~IExDictionary() = default;
  virtual std::int32_t KeySize() = 0;
  virtual std::int32_t DataSize() = 0;
  virtual void Add(const void* AKey, const void* AData) = 0;
  virtual void Delete(const void* AKey) = 0;
  virtual void Clear() = 0;
  virtual bool Exists(const void* AKey) = 0;
  virtual bool ReadItem(const void* AKey, void* ADest) = 0;
  virtual void WriteItem(const void* AKey, const void* AData) = 0;
};
using IExDictionaryPtr = std::shared_ptr<IExDictionary>;

class ExListBuilder {
public:
  ExListBuilder() = delete;

  static IExListPtr CreateList(std::int32_t ADataSize);
  static IExDictionaryPtr CreateDictionary(std::int32_t AKeySize, std::int32_t ADataSize);
  // Appends to ATargetList, depth first and an element before its sub-items,
  // every element of AList and of its sub-lists that AFilter accepts; returns
  // how many were appended.
  static std::int32_t GetFilteredList(const IExListPtr& AList,
                                      const TExListGetSubItemsProc& ASubItemsProc,
                                      const TExListFilterProc& AFilter,
                                      const IExListPtr& ATargetList);
};

// Typed access for trivially copyable element, key and value types. The byte
// containers stay underneath; each helper first checks that the type has the
// container's block size, so a wrong type raises instead of copying past it.

template <class T>
concept ExListBlock = std::is_trivially_copyable_v<T> && std::is_default_constructible_v<T>;

// Raises when a type of ATypeSize bytes is used on blocks of ABlockSize bytes.
void ExListCheckBlockSize(const char* AOperation, std::int32_t ABlockSize, std::size_t ATypeSize);

namespace ExListDetail {

template <ExListBlock T>
using TBlockBytes = std::array<std::byte, sizeof(T)>;

template <ExListBlock T>
T FromBlock(const TBlockBytes<T>& ABytes) {
  return std::bit_cast<T>(ABytes);
}

} // namespace ExListDetail

template <ExListBlock T>
TExListBookmark ListAdd(IExList& AList, const T& AValue) {
  ExListCheckBlockSize("ListAdd", AList.DataSize(), sizeof(T));
  return AList.Add(&AValue);
}

template <ExListBlock T>
std::optional<T> ListRead(IExList& AList, TExListBookmark ABookmark) {
  ExListCheckBlockSize("ListRead", AList.DataSize(), sizeof(T));
  ExListDetail::TBlockBytes<T> bytes;
  if (!AList.ReadData(ABookmark, bytes.data()))
    return std::nullopt;
  return ExListDetail::FromBlock<T>(bytes);
}

template <ExListBlock T>
bool ListWrite(IExList& AList, TExListBookmark ABookmark, const T& AValue) {
  ExListCheckBlockSize("ListWrite", AList.DataSize(), sizeof(T));
  return AList.WriteData(ABookmark, &AValue);
}

// One step of a typed walk: the element's bookmark (to delete or exchange it
// during the walk) and a copy of its bytes.
template <ExListBlock T>
struct TExListItem {
  TExListBookmark Bookmark = nullptr;
  T Data;
};

// A range-for view over one list walk:
//   for (auto [bookmark, node] : ListItems<PNTFSNode>(*list)) ...
// The walk's enumerator lives as long as the range, so deleting the current
// element inside the loop is safe.
template <ExListBlock T>
class TExListRange {
public:
  explicit TExListRange(IExList& AList) {
    ExListCheckBlockSize("ListItems", AList.DataSize(), sizeof(T));
    FEnumerator = AList.GetItems();
  }

  class iterator {
  public:
    using value_type = TExListItem<T>;
    using difference_type = std::ptrdiff_t;

    iterator() = default;
    explicit iterator(IExListEnumerator* AEnumerator) : FEnumerator(AEnumerator) { Step(); }

    const value_type& operator*() const { return FItem; }
    const value_type* operator->() const { return &FItem; }
    iterator& operator++() {
      Step();
      return *this;
    }
    void operator++(int) { Step(); }
    bool operator==(std::default_sentinel_t) const { return FEnumerator == nullptr; }

  private:
    void Step() {
      if (!FEnumerator->MoveNext()) {
        FEnumerator = nullptr;
        return;
      }
      ExListDetail::TBlockBytes<T> bytes;
      FEnumerator->ReadData(bytes.data());
      FItem = {FEnumerator->GetBookmark(), ExListDetail::FromBlock<T>(bytes)};
    }

    IExListEnumerator* FEnumerator = nullptr;
    value_type FItem{};
  };

  iterator begin() { return iterator(FEnumerator.get()); }
  std::default_sentinel_t end() const { return std::default_sentinel; }

private:
  IExListEnumeratorPtr FEnumerator;
};

template <ExListBlock T>
TExListRange<T> ListItems(IExList& AList) {
  return TExListRange<T>(AList);
}

template <ExListBlock TKey>
bool DictExists(IExDictionary& ADict, const TKey& AKey) {
  ExListCheckBlockSize("DictExists", ADict.KeySize(), sizeof(TKey));
  return ADict.Exists(&AKey);
}

template <ExListBlock T, ExListBlock TKey>
std::optional<T> DictRead(IExDictionary& ADict, const TKey& AKey) {
  ExListCheckBlockSize("DictRead", ADict.KeySize(), sizeof(TKey));
  ExListCheckBlockSize("DictRead", ADict.DataSize(), sizeof(T));
  ExListDetail::TBlockBytes<T> bytes;
  if (!ADict.ReadItem(&AKey, bytes.data()))
    return std::nullopt;
  return ExListDetail::FromBlock<T>(bytes);
}

template <ExListBlock TKey, ExListBlock T>
void DictWrite(IExDictionary& ADict, const TKey& AKey, const T& AValue) {
  ExListCheckBlockSize("DictWrite", ADict.KeySize(), sizeof(TKey));
  ExListCheckBlockSize("DictWrite", ADict.DataSize(), sizeof(T));
  ADict.WriteItem(&AKey, &AValue);
}

template <ExListBlock TKey>
void DictDelete(IExDictionary& ADict, const TKey& AKey) {
  ExListCheckBlockSize("DictDelete", ADict.KeySize(), sizeof(TKey));
  ADict.Delete(&AKey);
}
