// Volumes written by Windows, the Linux ntfs3 driver and mkntfs, read by us
// and by The Sleuth Kit (or ntfs-3g's tools where The Sleuth Kit cannot open
// the volume): geometry, record count, names and data must agree.

#include "VolumeReading.h"

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/NtfsTools.h"
#include "tests/support/SleuthKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// What an oracle says about one volume.
struct TOracleGeometry {
  std::uint32_t SectorSize;
  std::uint32_t ClusterSize;
  std::int64_t NumberOfClusters;
  std::int64_t MFTLcn;
  std::uint32_t MFTRecordSize;
  std::int64_t MFTRecordCount;
};

// Both tools' geometries name their fields alike.
template <typename TToolGeometry>
TOracleGeometry OracleGeometry(const TToolGeometry& AGeometry, std::uint64_t ARecordCount) {
  return {AGeometry.SectorSize,
          AGeometry.ClusterSize,
          static_cast<std::int64_t>(AGeometry.TotalClusters),
          static_cast<std::int64_t>(AGeometry.MftStartCluster),
          AGeometry.RecordSize,
          static_cast<std::int64_t>(ARecordCount)};
}

// The last component of a listed path, without a ":stream" suffix.
std::string FileNamePart(const std::string& APath) {
  const std::string name = APath.substr(APath.rfind('/') + 1);
  return name.substr(0, name.find(':'));
}

class TVolumeOracle {
public:
  virtual ~TVolumeOracle() = default;
  virtual TOracleGeometry Geometry() = 0;
  // Names by record number, of the records the oracle lists.
  virtual std::map<std::int64_t, std::set<std::string>> Names() = 0;
  // The unnamed data of record ANumber, which is not in use when ADeleted;
  // nothing when the oracle cannot read it.
  virtual std::optional<std::string> Data(std::int64_t ANumber, bool ADeleted) = 0;
};

class TSleuthKitOracle : public TVolumeOracle {
public:
  explicit TSleuthKitOracle(std::string AImage) : FImage(std::move(AImage)) {}

  TOracleGeometry Geometry() override {
    const FsGeometry stat = Fsstat(FImage);
    // The orphan folder, the last entry, is numbered with the MFT's record count.
    return OracleGeometry(stat, stat.LastRecord);
  }

  std::map<std::int64_t, std::set<std::string>> Names() override {
    std::map<std::int64_t, std::set<std::string>> names;
    for (const FlsEntry& entry : Fls(FImage))
      names[static_cast<std::int64_t>(entry.Record)].insert(FileNamePart(entry.Path));
    return names;
  }

  std::optional<std::string> Data(std::int64_t ANumber, bool) override {
    try {
      return Icat(FImage, static_cast<std::uint64_t>(ANumber));
    } catch (const std::runtime_error&) {
      return std::nullopt;
    }
  }

private:
  std::string FImage;
};

// For volumes The Sleuth Kit cannot open (2 MiB clusters).
class TNtfs3gOracle : public TVolumeOracle {
public:
  explicit TNtfs3gOracle(std::string AImage) : FImage(std::move(AImage)) {}

  TOracleGeometry Geometry() override {
    const NtfsGeometry info = NtfsInfo(FImage);
    return OracleGeometry(info, info.MftRecords);
  }

  std::map<std::int64_t, std::set<std::string>> Names() override {
    std::map<std::int64_t, std::set<std::string>> names;
    for (const NtfsLsEntry& entry : NtfsLs(FImage))
      names[static_cast<std::int64_t>(entry.Record)].insert(FileNamePart(entry.Path));
    return names;
  }

  // ntfscat hands out $MFT and $MFTMirr with their records fixed up, not
  // as they lie on disk, and opens no record that is not in use (Windows
  // formats thousands of those ahead), so it is not even asked.
  std::optional<std::string> Data(std::int64_t ANumber, bool ADeleted) override {
    if (ANumber == MFTRecord || ANumber == MFTMirrRecord || ADeleted)
      return std::nullopt;
    try {
      return NtfsCat(FImage, static_cast<std::uint64_t>(ANumber));
    } catch (const std::runtime_error&) {
      return std::nullopt;
    }
  }

private:
  static constexpr std::int64_t MFTRecord = 0;
  static constexpr std::int64_t MFTMirrRecord = 1;

  std::string FImage;
};

struct TRealVolume {
  const char* Name;
  bool SleuthKitCanOpen;
};

// $Boot's data starts at cluster 0, which run lists take for "sparse".
constexpr std::int64_t BootRecord = 7;

void CompareWithOracle(const std::string& AImage, TVolumeOracle& AOracle) {
  const volumereading::TOpenedVolume volume(AImage);
  ASSERT_TRUE(volume->Initialized);

  const TOracleGeometry geometry = AOracle.Geometry();
  EXPECT_EQ(volume->SectorSize, geometry.SectorSize);
  EXPECT_EQ(volume->ClusterSize, geometry.ClusterSize);
  EXPECT_EQ(volume->NumberOfClusters, geometry.NumberOfClusters);
  EXPECT_EQ(volume->MFTLcn, geometry.MFTLcn);
  EXPECT_EQ(volume->MFTRecordSize, geometry.MFTRecordSize);
  EXPECT_EQ(volume->MFTRecordCount, geometry.MFTRecordCount);
  EXPECT_EQ(volume->RootDirRef.Address(), 5);

  const auto names = AOracle.Names();
  std::vector<std::uint8_t> record(volume->MFTRecordSize);
  int compared = 0;
  for (std::int64_t n = 0; n < volume->MFTRecordCount; ++n) {
    NTFSUtils::GetMFTRecord(volume.Get(), MFT_REF::Build(n), record.data());
    const PMFTRecord header(TByteView(record.data(), record.size()));
    if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
      continue;
    const TNTFSNodeRef node(volume.Get(), MFT_REF::Build(n));
    const std::string name = volumereading::FileNameOf(node.Get());
    if (names.count(n) && !name.empty()) {
      EXPECT_TRUE(names.at(n).count(name)) << "record " << n << " named " << name;
    }

    if (n == BootRecord)
      continue;
    const std::optional<std::string> actual = volumereading::ReadUnnamedData(node.Get());
    if (!actual)
      continue;
    const std::optional<std::string> expected = AOracle.Data(n, node->IsDeleted);
    if (!expected)
      continue;
    EXPECT_EQ(actual->size(), expected->size()) << "record " << n << " " << name;
    EXPECT_TRUE(*actual == *expected) << "record " << n << " " << name << " differs";
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

class WindowsVolumeTest : public ::testing::TestWithParam<TRealVolume> {};

TEST_P(WindowsVolumeTest, ReadsAsTheOracleReadsIt) {
  const TRealVolume& v = GetParam();
  const std::string image = ForeignVolume(v.Name);
  if (image.empty())
    GTEST_SKIP() << v.Name << " was not unpacked: no shared test data";
  if (v.SleuthKitCanOpen) {
    TSleuthKitOracle oracle(image);
    CompareWithOracle(image, oracle);
  } else {
    TNtfs3gOracle oracle(image);
    CompareWithOracle(image, oracle);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, WindowsVolumeTest,
    ::testing::Values(TRealVolume{"dfirntfs-ntfs3-attrlist", true}, TRealVolume{"jschicht-tiny", true},
                      TRealVolume{"velo-test-ntfs", true}, TRealVolume{"win10-2mclust", false}),
    [](const ::testing::TestParamInfo<TRealVolume>& AInfo) {
      return std::regex_replace(AInfo.param.Name, std::regex("-"), "_");
    });

// A disk with 4,096-byte sectors: 4,096-byte records carry one update
// sequence word per 512 bytes.
TEST(FourKnVolume, ReadsAsTheSleuthKitReadsIt) {
  const fs::path dir = fs::path(TARNWICK_SCRATCH_DIR);
  fs::create_directories(dir);
  const std::string image = (dir / "mkntfs-4kn.img").string();
  const std::string big = (dir / "4kn-big.bin").string();
  {
    std::ofstream out(big, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 300000; ++i)
      out.put(static_cast<char>((i * 131) ^ (i >> 11)));
  }
  fs::remove(image);
  std::ofstream(image, std::ios::binary).close();
  fs::resize_file(image, 32 * 1024 * 1024);
  RunCommandChecked({"mkntfs", "-F", "-f", "-q", "-s", "4096", image});
  RunCommandChecked({"ntfscp", "-f", image, big, "big.bin"});
  TSleuthKitOracle oracle(image);
  CompareWithOracle(image, oracle);
}

} // namespace
