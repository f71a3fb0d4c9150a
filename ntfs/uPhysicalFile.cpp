#include "ntfs/uPhysicalFile.h"

#include <algorithm>
#include <cstring>

TPhysicalFile::TPhysicalFile(std::u16string AName, IVolumeSourcePtr ASource)
    : FCacheBuf(MemoryEx::AllocMem(kCacheSize)), FName(std::move(AName)), FSource(std::move(ASource)) {}

TPhysicalFile::~TPhysicalFile() { MemoryEx::FreeMem(FCacheBuf); }

std::int64_t TPhysicalFile::Read(std::int64_t AOffset, std::int64_t ASize, void* ADest) {
  auto* dest = static_cast<std::uint8_t*>(ADest);
  std::int64_t pos = AOffset;
  std::int64_t remainder = ASize;
  std::int64_t total = 0;
  while (remainder > 0) {
    if (CacheHolds(pos)) {
      const std::int64_t cacheOffset = pos - FCacheStart;
      const std::int64_t count = std::min(FCacheSize - cacheOffset, remainder);
      std::memcpy(dest, FCacheBuf.Ptr + cacheOffset, static_cast<std::size_t>(count));
      dest += count;
      pos += count;
      remainder -= count;
      total += count;
    } else if (const std::int64_t direct = remainder >= kCacheSize ? FSource->ReadAt(pos, dest, remainder) : 0;
               direct > 0) {
      // A request as large as the cache goes straight to the source: a
      // copy through the cache would only cost time.
      dest += direct;
      pos += direct;
      remainder -= direct;
      total += direct;
    } else if (!FillCache(pos, remainder)) {
      break;
    }
  }
  return total;
}

std::int64_t TPhysicalFile::Size() { return FSource->Size(); }

bool TPhysicalFile::CacheHolds(std::int64_t APos) const {
  // Written as a difference so that a window near the top of the range
  // cannot overflow.
  return APos >= FCacheStart && APos - FCacheStart < FCacheSize;
}

// The fill starts exactly at APos and asks for the whole block. A device
// with a bad sector may fail the whole block rather than deliver the bytes
// before it; asking again for just the AWanted bytes keeps a cluster that
// lies before the bad sector from being lost with it.
bool TPhysicalFile::FillCache(std::int64_t APos, std::int64_t AWanted) {
  std::int64_t got = FSource->ReadAt(APos, FCacheBuf.Ptr, kCacheSize);
  if (got < 0 && AWanted < kCacheSize)
    got = FSource->ReadAt(APos, FCacheBuf.Ptr, AWanted);
  if (got < 0) {
    // A failed read may have left anything in the block: forget the window.
    FCacheSize = 0;
    return false;
  }
  FCacheStart = APos;
  FCacheSize = std::min<std::int64_t>(got, kCacheSize);
  return FCacheSize > 0;
}
