#pragma once

// A volume held in memory as a volume source, for fuzzing and for damaged
// volumes: bytes are placed at offsets (zeros
// elsewhere), the size is whatever the test says, and ranges can be made
// unreadable the way a disk with bad sectors is.

#include "ntfs/uVolumeSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class TMemorySource final : public IVolumeSource {
public:
  explicit TMemorySource(std::int64_t ASize = 0) : FSize(ASize) {}

  void SetSize(std::int64_t ASize) { FSize = ASize; }
  // Later bytes win where they overlap earlier ones.
  void Put(std::int64_t AOffset, const void* AData, std::size_t ALength) {
    const auto* bytes = static_cast<const std::uint8_t*>(AData);
    FChunks.emplace_back(AOffset, std::vector<std::uint8_t>(bytes, bytes + ALength));
  }
  void Put(std::int64_t AOffset, const std::vector<std::uint8_t>& ABytes) { Put(AOffset, ABytes.data(), ABytes.size()); }

  // Makes [AOffset, AOffset + ALength) unreadable. As a disk does, a read
  // that starts before the range delivers the bytes up to it and one that
  // starts inside fails; with AFailWholeRead any read touching it fails, as
  // some USB bridges do.
  void FailRange(std::int64_t AOffset, std::int64_t ALength, bool AFailWholeRead = false) {
    FBad.push_back({AOffset, ALength, AFailWholeRead});
  }

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (APos < 0 || ASize < 0)
      return -1;
    std::int64_t length = std::clamp<std::int64_t>(FSize - APos, 0, ASize);
    for (const TBad& bad : FBad) {
      if (APos + length <= bad.Offset || APos >= bad.Offset + bad.Length)
        continue;
      if (bad.FailWholeRead || APos >= bad.Offset)
        return -1;
      length = bad.Offset - APos;
    }
    auto* dest = static_cast<std::uint8_t*>(ADest);
    std::memset(dest, 0, static_cast<std::size_t>(length));
    for (const auto& [offset, bytes] : FChunks) {
      const std::int64_t from = std::max(offset, APos);
      const std::int64_t to = std::min(offset + static_cast<std::int64_t>(bytes.size()), APos + length);
      if (from < to)
        std::memcpy(dest + (from - APos), bytes.data() + (from - offset), static_cast<std::size_t>(to - from));
    }
    return length;
  }

  std::int64_t Size() override { return FSize; }
  // No file lies behind the bytes.
  std::vector<TSourcePiece> Pieces() const override { return {}; }

private:
  struct TBad {
    std::int64_t Offset;
    std::int64_t Length;
    bool FailWholeRead;
  };

  std::int64_t FSize;
  std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> FChunks;
  std::vector<TBad> FBad;
};

} // namespace testsupport
