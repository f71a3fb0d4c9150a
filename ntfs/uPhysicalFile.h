#pragma once

#include "foundation/uMemoryEx.h"
#include "foundation/uStreamEx.h"
#include "ntfs/uVolumeSource.h"

#include <cstdint>
#include <string>

// The raw bytes of a volume, read from its source through one 64 KiB cache;
// requests of the cache's size or more bypass it.
class TPhysicalFile final : public IStreamEx {
public:
  static constexpr std::int32_t kCacheSize = 65536;

  // AName is the drive name the volume was opened under ("D:", or the path
  // of a device or image), kept for messages; ASource delivers the bytes.
  TPhysicalFile(std::u16string AName, IVolumeSourcePtr ASource);
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
  bool FillCache(std::int64_t APos, std::int64_t AWanted);

  TMem FCacheBuf;
  std::int64_t FCacheStart = 0;
  std::int64_t FCacheSize = 0;
  std::u16string FName;
  IVolumeSourcePtr FSource;
};
