#include "ntfs/uPhysicalFile.h"

#include <algorithm>
#include <cstring>

TPhysicalFile::TPhysicalFile(std::u16string AName, IVolumeSourcePtr ASource, std::int32_t ACacheSize)
    : FCacheBuf(MemoryEx::AllocMem(ACacheSize)), FName(std::move(AName)), FSource(std::move(ASource)) {}

TPhysicalFile::~TPhysicalFile() { MemoryEx::FreeMem(FCacheBuf); }

std::int64_t TPhysicalFile::Read(std::int64_t AOffset, std::int64_t ASize, void* ADest) {
  auto* dest = static_cast<std::uint8_t*>(ADest);
  std::int64_t total = 0;
  while (total < ASize) {
    const std::int64_t pos = AOffset + total;
    const std::int64_t wanted = ASize - total;
    if (!CacheHolds(pos)) {
      // A fill fails for any bad sector in its block, also one in bytes
      // only the cache wanted: then the caller's bytes are asked for alone.
      const std::int64_t filled = MayWiden(pos, wanted) ? FillCache(pos) : -1;
      if (filled == 0)
        break;
      if (filled < 0) {
        total += ReadStraight(pos, dest + total, wanted);
        break;
      }
    }
    const std::int64_t cacheOffset = pos - FCacheStart;
    const std::int64_t count = std::min(FCacheSize - cacheOffset, wanted);
    std::memcpy(dest + total, FCacheBuf.Ptr + cacheOffset, static_cast<std::size_t>(count));
    total += count;
    // A fill that came back short ends where the source delivers no more.
    if (FCacheSize < FCacheBuf.Size && cacheOffset + count == FCacheSize)
      break;
  }
  return total;
}

std::int64_t TPhysicalFile::Size() { return FSource->Size(); }

bool TPhysicalFile::CacheHolds(std::int64_t APos) const {
  // Written as a difference so that a window near the top of the range
  // cannot overflow.
  return APos >= FCacheStart && APos - FCacheStart < FCacheSize;
}

// Small requests are widened to a whole cache block, but not where the
// source failed before: a caller asking there again, in pieces, gets just
// its piece and no request that is bound to fail with it.
bool TPhysicalFile::MayWiden(std::int64_t APos, std::int64_t AWanted) const {
  const bool failedBefore = APos >= FFailed.Offset && APos - FFailed.Offset < FFailed.Length;
  return AWanted < FCacheBuf.Size && !failedBefore;
}

// The fill starts exactly at APos and asks for the whole block; returns
// what the source returned.
std::int64_t TPhysicalFile::FillCache(std::int64_t APos) {
  const std::int64_t got = FSource->ReadAt(APos, FCacheBuf.Ptr, FCacheBuf.Size);
  // A failed read may have left anything in the block: it then holds nothing.
  FCacheStart = APos;
  FCacheSize = std::clamp<std::int64_t>(got, 0, FCacheBuf.Size);
  NoteFailed(APos + FCacheSize, FCacheBuf.Size - FCacheSize);
  return got;
}

std::int64_t TPhysicalFile::ReadStraight(std::int64_t APos, std::uint8_t* ADest, std::int64_t ASize) {
  const std::int64_t delivered = std::clamp<std::int64_t>(FSource->ReadAt(APos, ADest, ASize), 0, ASize);
  NoteFailed(APos + delivered, ASize - delivered);
  return delivered;
}

// A short count at the end of the source is noted too: nothing lies there
// that a wider request could have delivered.
void TPhysicalFile::NoteFailed(std::int64_t APos, std::int64_t ALength) {
  if (ALength > 0)
    FFailed = {APos, ALength};
}
