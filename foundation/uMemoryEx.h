#pragma once

#include <cstdint>
#include <functional>

// Raw byte buffers counted against a process-wide total, so that a buffer
// forgotten by a scan or a recovery shows up as a leak at shutdown.

using TMemPtr = std::uint8_t*;

struct TMem {
  TMemPtr Ptr = nullptr;
  std::int32_t Size = 0;
};

class MemoryEx {
public:
  MemoryEx() = delete;

  // Receives the counter when it is not 0 at the leak check. The wizard
  // installs one that shows the "Warning" box; the default writes to stderr.
  using TLeakReporter = std::function<void(std::int64_t ABytes)>;

  static TMem AllocMem(std::int32_t ASize);
  static void FreeMem(TMem& AData);
  static void ResizeMem(TMem& AData, std::int32_t ASize);
  static void CheckMemoryLeak();

  static std::int64_t AllocatedBytes();
  static void SetLeakReporter(TLeakReporter AReporter);
};

// Owns one tracked buffer and frees it on every path out of a scope.
class TMemHolder {
public:
  explicit TMemHolder(std::int32_t ASize) : FMem(MemoryEx::AllocMem(ASize)) {}
  ~TMemHolder() { MemoryEx::FreeMem(FMem); }
  TMemHolder(const TMemHolder&) = delete;
  TMemHolder& operator=(const TMemHolder&) = delete;

  TMem& Mem() { return FMem; }
  TMemPtr Ptr() const { return FMem.Ptr; }
  std::int32_t Size() const { return FMem.Size; }

private:
  TMem FMem;
};
