// Volumes written by Windows, the Linux ntfs3 driver and mkntfs, read by us
// and by The Sleuth Kit (or ntfs-3g's tools where The Sleuth Kit cannot open
// the volume): geometry, record count, names and data must agree.

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TCommandResult {
  int ExitCode;
  std::string Output;
};

TCommandResult RunCommand(const std::string& ACommand) {
  TCommandResult result{-1, {}};
  FILE* pipe = ::popen((ACommand + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr)
    return result;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    result.Output.append(buffer, n);
  result.ExitCode = ::pclose(pipe);
  return result;
}

std::string Quoted(const std::string& APath) {
  return "'" + APath + "'";
}

std::string Utf8(const std::u16string& AText) {
  std::string out;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    std::uint32_t c = AText[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 && AText[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (AText[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ReadAll(const IStreamExPtr& AStream) {
  std::string data;
  std::vector<char> buffer(65536);
  for (std::int64_t pos = 0;;) {
    const std::int64_t n = AStream->Read(pos, static_cast<std::int64_t>(buffer.size()), buffer.data());
    if (n <= 0)
      break;
    data.append(buffer.data(), static_cast<std::size_t>(n));
    pos += n;
  }
  return data;
}

// What an oracle says about one volume.
struct TOracleGeometry {
  std::uint32_t SectorSize;
  std::uint32_t ClusterSize;
  std::int64_t NumberOfClusters;
  std::int64_t MFTLcn;
  std::uint32_t MFTRecordSize;
  std::int64_t MFTRecordCount;
};

std::int64_t Field(const std::string& AText, const std::string& APattern) {
  std::smatch match;
  if (!std::regex_search(AText, match, std::regex(APattern)))
    throw std::runtime_error("oracle output lacks " + APattern);
  return std::stoll(match[1]);
}

class TVolumeOracle {
public:
  virtual ~TVolumeOracle() = default;
  virtual TOracleGeometry Geometry() = 0;
  // Names by record number, of the records the oracle lists.
  virtual std::map<std::int64_t, std::set<std::string>> Names() = 0;
  // The unnamed data of record ANumber; nothing when the oracle cannot read it.
  virtual std::optional<std::string> Data(std::int64_t ANumber) = 0;
};

class TSleuthKitOracle : public TVolumeOracle {
public:
  explicit TSleuthKitOracle(std::string AImage) : FImage(std::move(AImage)) {}

  TOracleGeometry Geometry() override {
    const std::string stat = RunCommand("fsstat " + Quoted(FImage)).Output;
    const std::string list = RunCommand("fls " + Quoted(FImage)).Output;
    return {static_cast<std::uint32_t>(Field(stat, R"(Sector Size: (\d+))")),
            static_cast<std::uint32_t>(Field(stat, R"(Cluster Size: (\d+))")),
            Field(stat, R"(Total Cluster Range: 0 - (\d+))") + 1,
            Field(stat, R"(First Cluster of MFT: (\d+))"),
            static_cast<std::uint32_t>(Field(stat, R"(Size of MFT Entries: (\d+))")),
            // The orphan folder is numbered with the MFT's record count.
            Field(list, R"(V/V (\d+):\s+\$OrphanFiles)")};
  }

  std::map<std::int64_t, std::set<std::string>> Names() override {
    std::map<std::int64_t, std::set<std::string>> names;
    std::istringstream lines(RunCommand("fls -r -p " + Quoted(FImage)).Output);
    const std::regex entry(R"(^\S+ (?:\* )?(\d+)(?:-\d+-\d+)?(?:\(realloc\))?:\t(.*)$)");
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (!std::regex_match(line, match, entry))
        continue;
      std::string name = match[2];
      name = name.substr(name.rfind('/') + 1);
      name = name.substr(0, name.find(':')); // named streams are listed as "name:stream"
      names[std::stoll(match[1])].insert(name);
    }
    return names;
  }

  std::optional<std::string> Data(std::int64_t ANumber) override {
    TCommandResult result = RunCommand("icat " + Quoted(FImage) + " " + std::to_string(ANumber));
    if (result.ExitCode != 0)
      return std::nullopt;
    return std::move(result.Output);
  }

private:
  std::string FImage;
};

// For volumes The Sleuth Kit cannot open (2 MiB clusters).
class TNtfs3gOracle : public TVolumeOracle {
public:
  explicit TNtfs3gOracle(std::string AImage) : FImage(std::move(AImage)) {}

  TOracleGeometry Geometry() override {
    const std::string info = RunCommand("ntfsinfo -f -m " + Quoted(FImage)).Output;
    const std::string mft = RunCommand("ntfsinfo -f -i 0 " + Quoted(FImage)).Output;
    const std::int64_t recordSize = Field(info, R"(MFT Record Size: (\d+))");
    return {static_cast<std::uint32_t>(Field(info, R"(Sector Size: (\d+))")),
            static_cast<std::uint32_t>(Field(info, R"(Cluster Size: (\d+))")),
            Field(info, R"(Volume Size in Clusters: (\d+))"),
            Field(info, R"(LCN of Data Attribute for FILE_MFT: (\d+))"),
            static_cast<std::uint32_t>(recordSize),
            Field(mft, R"(Data Size:\s+(\d+))") / recordSize};
  }

  std::map<std::int64_t, std::set<std::string>> Names() override {
    std::map<std::int64_t, std::set<std::string>> names;
    std::istringstream lines(RunCommand("ntfsls -f -i -a -s -R " + Quoted(FImage)).Output);
    const std::regex entry(R"(^\s*(\d+)\s+(.+)$)");
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (std::regex_match(line, match, entry) && match[2] != "." && match[2] != "..")
        names[std::stoll(match[1])].insert(match[2]);
    }
    return names;
  }

  // ntfscat hands out $MFT and $MFTMirr with their records fixed up, not
  // as they lie on disk.
  std::optional<std::string> Data(std::int64_t ANumber) override {
    if (ANumber == MFTRecord || ANumber == MFTMirrRecord)
      return std::nullopt;
    TCommandResult result = RunCommand("ntfscat -f -i " + std::to_string(ANumber) + " " + Quoted(FImage));
    if (result.ExitCode != 0)
      return std::nullopt;
    return std::move(result.Output);
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

std::string UnpackedImage(const std::string& AName) {
  const fs::path dir = fs::path(TARNWICK_UNPACK_DIR);
  fs::create_directories(dir);
  const fs::path image = dir / (AName + ".img");
  if (!fs::exists(image)) {
    const fs::path source = fs::path(std::getenv("TARNWICK_TEST_DATA")) / "windows-volumes" / (AName + ".img.gz");
    const fs::path partial = image.string() + ".part";
    if (RunCommand("gunzip -c " + Quoted(source) + " | cp --sparse=always /dev/stdin " + Quoted(partial)).ExitCode != 0)
      throw std::runtime_error("cannot unpack " + source.string());
    fs::rename(partial, image);
  }
  return image;
}

// $Boot's data starts at cluster 0, which run lists take for "sparse".
constexpr std::int64_t BootRecord = 7;

void CompareWithOracle(const std::string& AImage, TVolumeOracle& AOracle) {
  PNTFSVolume volume = NTFSVolumeInit(std::u16string(AImage.begin(), AImage.end()));
  const TNTFSVolumeRef hold(volume);
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
    NTFSUtils::GetMFTRecord(volume, MFT_REF::Build(n), record.data());
    const PMFTRecord header(TByteView(record.data(), record.size()));
    if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
      continue;
    const PMFTFilenameAttribute fileName =
        NTFSAttribute::GetFileNameAttribute(record.data(), volume->MFTRecordSize, FILE_NAME_WIN32);
    const std::string name = fileName ? Utf8(NTFSUtils::GetFileName(fileName)) : std::string();
    if (names.count(n) && fileName) {
      EXPECT_TRUE(names.at(n).count(name)) << "record " << n << " named " << name;
    }

    const TNTFSNodeRef node(volume, MFT_REF::Build(n));
    TAttributeSearch search(node.Get());
    if (n == BootRecord || !search.FindFirst(AttributeType::Data))
      continue;
    const std::optional<std::string> expected = AOracle.Data(n);
    if (!expected)
      continue;
    const std::string actual = ReadAll(NTFSAttribute::GetDataStream(search.Rec()));
    EXPECT_EQ(actual.size(), expected->size()) << "record " << n << " " << name;
    EXPECT_TRUE(actual == *expected) << "record " << n << " " << name << " differs";
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

class WindowsVolumeTest : public ::testing::TestWithParam<TRealVolume> {};

TEST_P(WindowsVolumeTest, ReadsAsTheOracleReadsIt) {
  const TRealVolume& v = GetParam();
  const std::string image = UnpackedImage(v.Name);
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
  const fs::path dir = fs::path(TARNWICK_UNPACK_DIR);
  fs::create_directories(dir);
  const std::string image = (dir / "mkntfs-4kn.img").string();
  const std::string big = (dir / "4kn-big.bin").string();
  {
    std::ofstream out(big, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 300000; ++i)
      out.put(static_cast<char>((i * 131) ^ (i >> 11)));
  }
  const std::string make = "rm -f " + Quoted(image) + " && truncate -s 32M " + Quoted(image) +
                           " && mkntfs -F -f -q -s 4096 " + Quoted(image) + " && ntfscp -f " + Quoted(image) + " " +
                           Quoted(big) + " big.bin";
  ASSERT_EQ(RunCommand(make).ExitCode, 0);
  TSleuthKitOracle oracle(image);
  CompareWithOracle(image, oracle);
}

} // namespace
