#include "foundation/uMemoryEx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

std::int64_t gAllocatedBytes = 0;

void ReportToStderr(std::int64_t ABytes) {
  std::fprintf(stderr, "Warning: Memory leak: %lld\n", static_cast<long long>(ABytes));
}

MemoryEx::TLeakReporter& LeakReporter() {
  static MemoryEx::TLeakReporter reporter = ReportToStderr;
  return reporter;
}

} // namespace

TMem MemoryEx::AllocMem(std::int32_t ASize) {
  if (ASize < 0)
    throw std::length_error("MemoryEx.AllocMem: negative size.");
  TMem result;
  if (ASize > 0) {
    result.Ptr = static_cast<TMemPtr>(std::calloc(static_cast<std::size_t>(ASize), 1));
    if (result.Ptr == nullptr)
      throw std::bad_alloc();
  }
  result.Size = ASize;
  gAllocatedBytes += ASize;
  return result;
}

void MemoryEx::FreeMem(TMem& AData) {
  if (AData.Ptr == nullptr || AData.Size <= 0)
    return;
  gAllocatedBytes -= AData.Size;
  std::free(AData.Ptr);
  AData.Ptr = nullptr;
  AData.Size = 0;
}

void MemoryEx::ResizeMem(TMem& AData, std::int32_t ASize) {
  if (ASize < 0)
    throw std::length_error("MemoryEx.ResizeMem: negative size.");
  if (ASize == 0) {
    FreeMem(AData);
    return;
  }
  if (AData.Ptr != nullptr && AData.Size > 0) {
    auto* grown = static_cast<TMemPtr>(std::realloc(AData.Ptr, static_cast<std::size_t>(ASize)));
    if (grown == nullptr)
      throw std::bad_alloc();
    gAllocatedBytes -= AData.Size;
    AData.Ptr = grown;
  } else {
    AData = AllocMem(ASize);
    gAllocatedBytes -= ASize; // counted once, below
  }
  AData.Size = ASize;
  gAllocatedBytes += ASize;
}

void MemoryEx::CheckMemoryLeak() {
  if (gAllocatedBytes != 0)
    LeakReporter()(gAllocatedBytes);
}

std::int64_t MemoryEx::AllocatedBytes() {
  return gAllocatedBytes;
}

void MemoryEx::SetLeakReporter(TLeakReporter AReporter) {
  LeakReporter() = AReporter ? std::move(AReporter) : ReportToStderr;
}
