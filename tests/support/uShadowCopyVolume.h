#pragma once

// Tests of the volume with shadow copies (FixtureVolumes' ShadowCopyVolume),
// and the volume with its stores damaged in ways a real volume cannot be
// made to show: the first store's block list overwritten or cut short, the
// volume cut short.

#include "ntfs/uVolumeSource.h"
#include "tests/support/FixtureVolumes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace testsupport {

// A test of the volume with shadow copies, in Volume; skipped where the
// shared test data is missing. Local time is UTC, as the snapshots' folders
// are named in local time; programs the test runs inherit it.
template <class TBase = testing::Test>
class TShadowCopyVolumeTest : public TBase {
protected:
  void SetUp() override {
    TBase::SetUp();
    Volume = ShadowCopyVolume();
    if (Volume.empty())
      GTEST_SKIP() << "The volume with shadow copies is not in the shared test data.";
    setenv("TZ", "UTC", 1);
    tzset();
  }

  std::string Volume;
};

// Where the first store's block list lies in the volume, as the store's
// entry in the catalog (at 0x6E30000) names it; the list is one 16 KiB block.
constexpr std::int64_t kFirstStoreBlockList = 0x31564000;

// Where a block's header keeps the offset of the next block of its list.
constexpr std::int64_t kNextBlockOffsetField = 40;

struct TShadowStoreDamage {
  const char* Name;
  std::int64_t CutAt; // the volume's new size; 0 to keep it
  std::int64_t PatchAt;
  std::vector<std::uint8_t> Patch; // the bytes written over the volume's at PatchAt
};

// Damage to the first store alone.
inline const std::vector<TShadowStoreDamage>& ShadowStoreDamages() {
  static const std::vector<TShadowStoreDamage> damages = {
      {"BlockListHeaderOverwritten", 0, kFirstStoreBlockList, std::vector<std::uint8_t>(128, 0)},
      // The list goes on in a block past the volume's end: it is cut short.
      {"BlockListGoesOnPastTheVolume",
       0,
       kFirstStoreBlockList + kNextBlockOffsetField,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}},
  };
  return damages;
}

// AVolume's bytes with ADamage done to them.
class TDamagedShadowVolume final : public IVolumeSource {
public:
  TDamagedShadowVolume(IVolumeSourcePtr AVolume, const TShadowStoreDamage& ADamage)
      : FVolume(std::move(AVolume)), FDamage(ADamage) {}

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (APos < 0 || ASize < 0)
      return -1;
    const std::int64_t got = FVolume->ReadAt(APos, ADest, std::clamp<std::int64_t>(Size() - APos, 0, ASize));
    if (got <= 0)
      return got;
    const std::int64_t from = std::max(APos, FDamage.PatchAt);
    const std::int64_t to = std::min(APos + got, FDamage.PatchAt + static_cast<std::int64_t>(FDamage.Patch.size()));
    if (from < to)
      std::memcpy(static_cast<std::uint8_t*>(ADest) + (from - APos), FDamage.Patch.data() + (from - FDamage.PatchAt),
                  static_cast<std::size_t>(to - from));
    return got;
  }
  std::int64_t Size() override { return FDamage.CutAt > 0 ? FDamage.CutAt : FVolume->Size(); }
  std::vector<TSourcePiece> Pieces() const override { return FVolume->Pieces(); }

private:
  IVolumeSourcePtr FVolume;
  TShadowStoreDamage FDamage;
};

} // namespace testsupport
