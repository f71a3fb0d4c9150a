// The snapshots of a volume with shadow copies, read through the raw bytes
// of the opened source, compared with what vshadowinfo reads from the same
// volume; stores damaged by hand are skipped, each with its line.

#include "platform/uShadowCopies.h"

#include "platform/uSourceResolver.h"
#include "tests/support/Command.h"
#include "tests/support/uMemoryDevice.h"
#include "tests/support/uShadowCopyVolume.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr std::int64_t kVolumeSize = 1073741824;
constexpr std::int64_t kTicksPerSecond = 10000000;

class ShadowCopies : public testsupport::TShadowCopyVolumeTest<> {
protected:
  IVolumeSourcePtr ShadowVolume() const { return TSourceResolver().Open({Volume})->Source(); }
};

std::vector<std::int32_t> StoresOf(const TShadowCopies& ACopies) {
  std::vector<std::int32_t> stores;
  for (const TShadowCopy& copy : ACopies.Snapshots)
    stores.push_back(copy.Store);
  return stores;
}

// The creation times vshadowinfo prints, to the second, as NTFS times.
std::vector<std::int64_t> VshadowinfoCreationTimes(const std::string& AVolume) {
  testfiles::TTempFolder folder;
  const std::string raw = (folder.Path() / "volume.raw").string();
  const testsupport::CommandResult converted =
      testsupport::RunCommand({"qemu-img", "convert", "-O", "raw", AVolume, raw});
  if (converted.ExitCode != 0)
    return {};
  const testsupport::CommandResult info = testsupport::RunCommand({"vshadowinfo", raw});
  std::vector<std::int64_t> times;
  static const std::regex line(R"(Creation time\s*: (\w+) (\d+), (\d+) (\d+):(\d+):(\d+))");
  static const std::array<const char*, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (std::sregex_iterator match(info.Out.begin(), info.Out.end(), line), end; match != end; ++match) {
    std::tm when{};
    when.tm_mon = static_cast<int>(std::find(months.begin(), months.end(), (*match)[1].str()) - months.begin());
    when.tm_mday = std::stoi((*match)[2]);
    when.tm_year = std::stoi((*match)[3]) - 1900;
    when.tm_hour = std::stoi((*match)[4]);
    when.tm_min = std::stoi((*match)[5]);
    when.tm_sec = std::stoi((*match)[6]);
    times.push_back((static_cast<std::int64_t>(timegm(&when)) + 11644473600) * kTicksPerSecond);
  }
  return times;
}

TEST_F(ShadowCopies, EachStoreIsASnapshotOfTheWholeVolumeTakenWhenVshadowinfoSays) {
  const IVolumeSourcePtr volume = ShadowVolume();
  const TShadowCopies copies = OpenShadowCopies(volume);
  EXPECT_THAT(copies.Skipped, IsEmpty());
  ASSERT_THAT(StoresOf(copies), ElementsAre(1, 2));
  std::vector<std::int64_t> seconds;
  for (const TShadowCopy& copy : copies.Snapshots) {
    EXPECT_EQ(copy.Source->Size(), kVolumeSize);
    seconds.push_back(copy.CreationTime / kTicksPerSecond * kTicksPerSecond);
    // A snapshot is an NTFS volume of its own, and reads never go past it.
    std::array<char, 11> start{};
    EXPECT_EQ(copy.Source->ReadAt(0, start.data(), start.size()), 11);
    EXPECT_EQ(std::string(start.data() + 3, 8), "NTFS    ");
    EXPECT_EQ(copy.Source->ReadAt(kVolumeSize, start.data(), start.size()), 0);
    EXPECT_EQ(copy.Source->ReadAt(kVolumeSize - 4, start.data(), start.size()), 4);
  }
  const std::vector<std::int64_t> oracle = VshadowinfoCreationTimes(Volume);
  if (oracle.empty())
    GTEST_SKIP() << "vshadowinfo (libvshadow-utils) or qemu-img is missing.";
  EXPECT_EQ(seconds, oracle);
}

TEST(NoShadowCopies, AVolumeWithoutStoresHasNoSnapshotsAndNothingSkipped) {
  const TShadowCopies copies = OpenShadowCopies(std::make_shared<testsupport::TMemorySource>(16 * 1024 * 1024));
  EXPECT_THAT(copies.Snapshots, IsEmpty());
  EXPECT_THAT(copies.Skipped, IsEmpty());
}

class DamagedShadowStore : public ShadowCopies, public testing::WithParamInterface<testsupport::TShadowStoreDamage> {};

TEST_P(DamagedShadowStore, IsSkippedWithALineNamingItAndTheOtherStoreIsStillRead) {
  const IVolumeSourcePtr volume = ShadowVolume();
  const TShadowCopies copies =
      OpenShadowCopies(std::make_shared<testsupport::TDamagedShadowVolume>(volume, GetParam()));
  EXPECT_THAT(StoresOf(copies), ElementsAre(2));
  ASSERT_EQ(copies.Skipped.size(), 1u);
  EXPECT_THAT(copies.Skipped.front(), HasSubstr("Shadow copy store 1 is damaged and is skipped: "));
}

TEST_F(ShadowCopies, AVolumeCutShortOfItsStoresSaysTheyCannotBeReadInOneLine) {
  const IVolumeSourcePtr volume = ShadowVolume();
  const TShadowCopies copies = OpenShadowCopies(std::make_shared<testsupport::TDamagedShadowVolume>(
      volume, testsupport::TShadowStoreDamage{"Cut", testsupport::kFirstStoreBlockList + 0x2000, 0, {}}));
  EXPECT_THAT(copies.Snapshots, IsEmpty());
  ASSERT_EQ(copies.Skipped.size(), 1u);
  EXPECT_THAT(copies.Skipped.front(), HasSubstr("The shadow copy stores cannot be read and are skipped: "));
}

INSTANTIATE_TEST_SUITE_P(, DamagedShadowStore, testing::ValuesIn(testsupport::ShadowStoreDamages()),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace
