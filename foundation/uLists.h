#pragma once

#include <cstdint>
#include <functional>
#include <memory>

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
  static std::int32_t GetFilteredList(const IExListPtr& AList,
                                      const TExListGetSubItemsProc& ASubItemsProc,
                                      const TExListFilterProc& AFilter,
                                      const IExListPtr& ATargetList);
};
