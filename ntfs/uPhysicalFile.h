#pragma once

#include "foundation/uMemoryEx.h"
#include "foundation/uStreamEx.h"
#include "ntfs/uUnreadRanges.h"
#include "ntfs/uVolumeSource.h"

#include <cstdint>
#include <string>

// The raw bytes of a volume, read from its source through one 64 KiB cache;
// requests of the cache's size or more bypass it. Retrying is left to the
// caller, who knows what it reads: a request that fails or comes back short
// ends the read, and the cache widens no later request inside the bytes that
// failed, so that a caller asking again in smaller pieces costs the source
// one request each.
class TPhysicalFile final : public IStreamEx {
public:
  static constexpr std::int32_t kCacheSize = 65536;
  // Every read goes to the source exactly as asked.
  static constexpr std::int32_t kNoCache = 0;

  // AName is the drive name the volume was opened under ("D:", or the path
  // of a device or image), kept for messages; ASource delivers the bytes.
  TPhysicalFile(std::u16string AName, IVolumeSourcePtr ASource, std::int32_t ACacheSize = kCacheSize);
  ~TPhysicalFile() override;
  TPhysicalFile(const TPhysicalFile&) = delete;
  TPhysicalFile& operator=(const TPhysicalFile&) = delete;

  // A short count means the source delivered no more.
  std::int64_t Read(std::int64_t AOffset, std::int64_t ASize, void* ADest) override;
  std::int64_t Size() override;

  const std::u16string& Name() const { return FName; }
  const IVolumeSourcePtr& Source() const { return FSource; }

private:
  bool CacheHolds(std::int64_t APos) const;
  bool MayWiden(std::int64_t APos, std::int64_t AWanted) const;
  std::int64_t FillCache(std::int64_t APos);
  std::int64_t ReadStraight(std::int64_t APos, std::uint8_t* ADest, std::int64_t ASize);
  void NoteFailed(std::int64_t APos, std::int64_t ALength);

  TMem FCacheBuf;
  std::int64_t FCacheStart = 0;
  std::int64_t FCacheSize = 0; // bytes the last fill delivered
  TByteRange FFailed;          // the bytes the last failed request asked for and did not get
  std::u16string FName;
  IVolumeSourcePtr FSource;
};
