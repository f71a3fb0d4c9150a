#include "ntfs/uMFTRunList.h"

#include "foundation/uStreamEx.h"
#include "ntfs/uPhysicalFile.h"
#include "tests/support/uMemoryDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;
using TRuns = std::vector<RunListElement>;

TRuns RunsOf(const IMFTRunListPtr& AList) {
  TRuns runs;
  for (std::int32_t i = 0; i < AList->ItemCount(); ++i)
    runs.push_back(AList->Item(i));
  return runs;
}

IMFTRunListPtr Decoded(const TBytes& ARuns) {
  IMFTRunListPtr list = MFTRunList::New();
  list->Decompress(ARuns.data(), static_cast<std::int32_t>(ARuns.size()));
  return list;
}

// Three runs: 16 clusters at 81,920, 8 sparse, 4 at 512 from the last LCN.
const TBytes ThreeRuns = {0x31, 0x10, 0x00, 0x40, 0x01, 0x01, 0x08, 0x21, 0x04, 0x00, 0x02, 0x00};

struct TDecodeCase {
  const char* Name;
  TBytes Runs;
  TRuns Expected;
};

class DecodeTest : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeTest, DecodesRuns) {
  const TDecodeCase& c = GetParam();
  IMFTRunListPtr list = MFTRunList::New();
  EXPECT_EQ(list->Decompress(c.Runs.data(), static_cast<std::int32_t>(c.Runs.size())),
            static_cast<std::int32_t>(c.Expected.size()));
  EXPECT_EQ(RunsOf(list), c.Expected);
  const std::int64_t clusters = std::accumulate(c.Expected.begin(), c.Expected.end(), std::int64_t{0},
                                                [](std::int64_t s, const RunListElement& r) { return s + r.Length; });
  EXPECT_EQ(list->VCNCount(), clusters);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DecodeTest,
    ::testing::Values(
        // A sparse run leaves the LCN where the last run with clusters put it.
        TDecodeCase{"ThreeRunsWithSparse", ThreeRuns, {{0, 81920, 16}, {16, 0, 8}, {24, 82432, 4}}},
        TDecodeCase{"NegativeOffset", {0x11, 0x04, 0x20, 0x11, 0x02, 0xF0, 0x00}, {{0, 32, 4}, {4, 16, 2}}},
        TDecodeCase{"EightByteFields",
                    {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x00},
                    {{0, 16, 1}}},
        TDecodeCase{"ZeroLengthRunKept", {0x11, 0x00, 0x10, 0x00}, {{0, 16, 0}}},
        TDecodeCase{"EmptyData", {}, {}},
        TDecodeCase{"TerminatorFirst", {0x00, 0x11, 0x04, 0x10, 0x00}, {}},
        // Each field must be followed by one more byte.
        TDecodeCase{"NoTerminatingZero", {0x11, 0x04, 0x10}, {}},
        TDecodeCase{"SecondRunWithoutTerminator", {0x11, 0x04, 0x10, 0x11, 0x02, 0x10}, {{0, 16, 4}}},
        TDecodeCase{"HeaderAtTheEnd", {0x11, 0x04, 0x10, 0x11}, {{0, 16, 4}}},
        TDecodeCase{"NegativeFirstLCN", {0x11, 0x04, 0xF0, 0x00}, {}},
        TDecodeCase{"LengthFieldOfNine", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0x00}, {}},
        TDecodeCase{"OffsetFieldOfNine", {0x91, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00}, {}},
        TDecodeCase{"NegativeLength", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x10, 0x00}, {}},
        TDecodeCase{"LCNOverflow",
                    {0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x01, 0x01, 0x00},
                    {{0, 0x7FFFFFFFFFFFFFFF, 1}}}),
    [](const ::testing::TestParamInfo<TDecodeCase>& AInfo) { return AInfo.param.Name; });

TEST(RunList, SecondDecodeContinuesTheVCNsWithItsOwnLCNs) {
  IMFTRunListPtr list = Decoded(ThreeRuns);
  const TBytes nextExtent = {0x11, 0x04, 0x10, 0x00};
  EXPECT_EQ(list->Decompress(nextExtent.data(), 4), 1);
  EXPECT_EQ(list->Item(3), (RunListElement{28, 16, 4}));
  EXPECT_EQ(list->VCNCount(), 32);
}

TEST(RunList, VCN2LCNAndIsUse) {
  IMFTRunListPtr list = Decoded(ThreeRuns);
  const std::vector<std::pair<NTFS_VCN, NTFS_LCN>> lcns = {
      {0, 81920}, {5, 81925}, {15, 81935}, {16, 0}, {23, 0}, {24, 82432}, {26, 82434}, {28, 0}, {-1, 0}};
  for (const auto& [vcn, lcn] : lcns)
    EXPECT_EQ(list->VCN2LCN(vcn), lcn) << "VCN " << vcn;
  const std::vector<std::pair<NTFS_LCN, bool>> uses = {
      {81920, true}, {81935, true}, {81936, false}, {0, false}, {5, false}, {82435, true}, {82436, false}};
  for (const auto& [lcn, used] : uses)
    EXPECT_EQ(list->IsUse(lcn), used) << "LCN " << lcn;
}

TEST(RunList, ClearForgetsRunsAndItemOutsideThrows) {
  IMFTRunListPtr list = Decoded(ThreeRuns);
  EXPECT_THROW(list->Item(3), std::out_of_range);
  EXPECT_THROW(list->Item(-1), std::out_of_range);
  list->Clear();
  EXPECT_EQ(list->ItemCount(), 0);
  EXPECT_EQ(list->VCNCount(), 0);
  EXPECT_EQ(list->VCN2LCN(0), 0);
}

// A device of 64 clusters of 4,096 bytes whose every byte tells its cluster.
class RunListStreamTest : public ::testing::Test {
protected:
  static constexpr std::uint32_t ClusterSize = 4096;

  void SetUp() override {
    TBytes device(64 * ClusterSize);
    for (std::size_t i = 0; i < device.size(); ++i)
      device[i] = static_cast<std::uint8_t>(i / ClusterSize + 1);
    FDevice = StreamEx::GetMemoryStream(device.data(), static_cast<std::int32_t>(device.size()));
  }

  IStreamExPtr StreamOver(const TBytes& ARuns, std::int64_t ADataSize,
                          std::int64_t AValidSize = std::numeric_limits<std::int64_t>::max()) {
    return std::make_shared<TMFTRunListStream>(FDevice, ClusterSize, Decoded(ARuns), ADataSize, AValidSize);
  }

  IStreamExPtr FDevice;
};

TEST_F(RunListStreamTest, ReadsAtTheDataEnd) {
  // 25 clusters at LCN 10: 102,400 bytes cover a data size of 100,000.
  const IStreamExPtr stream = StreamOver({0x11, 0x19, 0x0A, 0x00}, 100000);
  TBytes buffer(200000, 0xEE);
  struct TCase {
    std::int64_t Pos, Size, Expected;
  };
  for (const TCase& c : {TCase{98304, 65536, 1696}, TCase{100000, 10, 0}, TCase{99900, 200, 100},
                         TCase{0, 0, 0}, TCase{-5, 10, 0}, TCase{4000, 200, 200}}) {
    EXPECT_EQ(stream->Read(c.Pos, c.Size, buffer.data()), c.Expected) << c.Pos << "+" << c.Size;
  }
  EXPECT_EQ(stream->Size(), 100000);
}

TEST_F(RunListStreamTest, MapsClustersInOrderAcrossRuns) {
  // 2 clusters at LCN 3, 2 sparse, 2 at LCN 7.
  const IStreamExPtr stream = StreamOver({0x11, 0x02, 0x03, 0x01, 0x02, 0x11, 0x02, 0x04, 0x00}, 6 * ClusterSize);
  TBytes buffer(6 * ClusterSize);
  ASSERT_EQ(stream->Read(100, static_cast<std::int64_t>(buffer.size()) - 100, buffer.data()),
            static_cast<std::int64_t>(buffer.size()) - 100);
  const std::vector<std::uint8_t> expected = {4, 5, 0, 0, 8, 9};
  for (std::size_t i = 0; i + 100 < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], expected[(i + 100) / ClusterSize]) << "byte " << i + 100;
}

TEST_F(RunListStreamTest, SparseAndUnmappedClustersReadAsZeros) {
  const IStreamExPtr stream = StreamOver({0x01, 0x02, 0x11, 0x01, 0x05, 0x00}, 8 * ClusterSize);
  TBytes buffer(ClusterSize, 0xEE);
  // Within one sparse cluster: zeros and the full count.
  EXPECT_EQ(stream->Read(10, 100, buffer.data()), 100);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[99], 0);
  // Within one cluster past the last run: zeros as well.
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(stream->Read(5 * ClusterSize, 100, buffer.data()), 100);
  EXPECT_EQ(buffer[50], 0);
  // A multi-cluster read goes on past the runs with zeros.
  TBytes large(4 * ClusterSize, 0xEE);
  EXPECT_EQ(stream->Read(ClusterSize, static_cast<std::int64_t>(large.size()), large.data()), 4 * ClusterSize);
  EXPECT_EQ(large[0], 0);
  EXPECT_EQ(large[ClusterSize], 6);
  EXPECT_EQ(std::count(large.begin() + 2 * ClusterSize, large.end(), 0), 2 * ClusterSize);
  // The sparse cluster holds zeros by right; what lies past the runs is named.
  EXPECT_EQ(NoRunsRangesOf(*stream),
            (std::vector<TByteRange>{{5 * ClusterSize, 100}, {3 * ClusterSize, 2 * ClusterSize}}));
}

// A size no run supports is read no further than the device reaches.
TEST_F(RunListStreamTest, ZerosPastTheRunsEndWhereTheDeviceEnds) {
  const std::int64_t device = 64 * ClusterSize;
  const IStreamExPtr stream = StreamOver({0x11, 0x01, 0x05, 0x00}, std::int64_t{1} << 62);
  TBytes buffer(ClusterSize);
  EXPECT_EQ(stream->Read(device - 10, 100, buffer.data()), 10);
  EXPECT_EQ(stream->Read(device, 100, buffer.data()), 0);
  EXPECT_EQ(stream->Size(), std::int64_t{1} << 62);
}

// Past the initialized size the file never wrote: zeros, in whole reads
// and in pieces, and no device read, so clusters there that the device
// lacks are not reported as unread.
TEST_F(RunListStreamTest, BytesPastTheValidSizeReadAsZeros) {
  // 2 clusters at LCN 10, then 2 past the device's end from LCN 100.
  const std::int64_t valid = ClusterSize + 100;
  const IStreamExPtr stream = StreamOver({0x11, 0x02, 0x0A, 0x11, 0x02, 0x5A, 0x00}, 4 * ClusterSize, valid);
  TBytes expected(4 * ClusterSize, 0);
  std::fill_n(expected.begin(), ClusterSize, 11);
  std::fill_n(expected.begin() + ClusterSize, 100, 12);
  for (const std::int64_t piece : {std::int64_t{4} * ClusterSize, std::int64_t{777}, std::int64_t{1}}) {
    TBytes read(4 * ClusterSize, 0xEE);
    for (std::int64_t pos = 0; pos < stream->Size(); pos += piece)
      ASSERT_EQ(stream->Read(pos, piece, read.data() + pos), std::min(piece, stream->Size() - pos));
    EXPECT_TRUE(read == expected) << "in pieces of " << piece;
  }
  EXPECT_TRUE(UnreadRangesOf(*stream).empty());
}

TEST_F(RunListStreamTest, ClustersBeyondTheDeviceReadAsZeros) {
  // One cluster at LCN 63, the device's last, then one at LCN 100 past its end.
  const IStreamExPtr stream = StreamOver({0x11, 0x01, 0x3F, 0x11, 0x01, 0x25, 0x00}, 2 * ClusterSize);
  TBytes buffer(2 * ClusterSize, 0xEE);
  EXPECT_EQ(stream->Read(0, static_cast<std::int64_t>(buffer.size()), buffer.data()), 2 * ClusterSize);
  EXPECT_EQ(buffer[ClusterSize - 1], 64);
  EXPECT_EQ(buffer[ClusterSize], 0);
  EXPECT_EQ(buffer[2 * ClusterSize - 1], 0);
  EXPECT_EQ(UnreadRangesOf(*stream), (std::vector<TByteRange>{{ClusterSize, ClusterSize}}));
}

TEST_F(RunListStreamTest, UnreadRangesJoinAcrossReadsAndLeaveSparseClustersOut) {
  // 1 cluster at LCN 63, 1 sparse, 3 past the device's end from LCN 100.
  const IStreamExPtr stream = StreamOver({0x11, 0x01, 0x3F, 0x01, 0x01, 0x11, 0x03, 0x25, 0x00}, 5 * ClusterSize);
  TBytes buffer(5 * ClusterSize);
  // Pieces that end inside a cluster, as a copy in 64 KiB blocks would.
  EXPECT_EQ(stream->Read(0, 3 * ClusterSize + 100, buffer.data()), 3 * ClusterSize + 100);
  EXPECT_EQ(stream->Read(3 * ClusterSize + 100, 2 * ClusterSize - 100, buffer.data()), 2 * ClusterSize - 100);
  EXPECT_EQ(UnreadRangesOf(*stream), (std::vector<TByteRange>{{2 * ClusterSize, 3 * ClusterSize}}));
  EXPECT_TRUE(UnreadRangesOf(*FDevice).empty());
}

// A span the device fails is asked for again a cluster at a time, and the
// cluster that fails a sector at a time, so that only its bad sector is
// lost; a stream whose caller asks again in pieces of its own leaves the
// whole span unread instead of asking itself.
TEST_F(RunListStreamTest, ASpanTheDeviceFailsIsReadAgainByClusterOrLeftToTheCaller) {
  // 4 clusters at LCN 10, on a device that fails any request touching the
  // second sector of LCN 12.
  auto source = std::make_shared<testsupport::TMemorySource>(64 * ClusterSize);
  TBytes bytes(64 * ClusterSize);
  ASSERT_EQ(FDevice->Read(0, static_cast<std::int64_t>(bytes.size()), bytes.data()),
            static_cast<std::int64_t>(bytes.size()));
  source->Put(0, bytes);
  source->FailRange(12 * ClusterSize + 512, 512, true);
  const auto byCluster = std::make_shared<TMFTRunListStream>(std::make_shared<TPhysicalFile>(u"K:", source),
                                                             ClusterSize, Decoded({0x11, 0x04, 0x0A, 0x00}),
                                                             4 * ClusterSize);
  const auto byCaller =
      byCluster->ReadThrough(std::make_shared<TPhysicalFile>(u"K:", source), TMFTRunListStream::TRereads::ByCaller);
  const struct {
    IStreamExPtr Stream;
    std::vector<std::uint8_t> ClusterBytes;
    std::uint8_t BeforeTheBadSector;
    std::vector<TByteRange> Unread;
  } cases[] = {
      {byCluster, {11, 12, 0, 14}, 13, {{2 * ClusterSize + 512, 512}}},
      {byCaller, {0, 0, 0, 0}, 0, {{0, 4 * ClusterSize}}},
  };
  for (const auto& c : cases) {
    TBytes read(4 * ClusterSize, 0xEE);
    EXPECT_EQ(c.Stream->Read(0, static_cast<std::int64_t>(read.size()), read.data()), 4 * ClusterSize);
    for (std::size_t cluster = 0; cluster < 4; ++cluster)
      EXPECT_EQ(read[cluster * ClusterSize + 1000], c.ClusterBytes[cluster]) << "cluster " << cluster;
    EXPECT_EQ(read[2 * ClusterSize + 100], c.BeforeTheBadSector);
    EXPECT_EQ(UnreadRangesOf(*c.Stream), c.Unread);
  }
}

TEST_F(RunListStreamTest, UnreadRangesStopGrowingAtTheirLimit) {
  // Every other cluster past the device's end: one range each, until the
  // last one widens to cover the rest.
  TBytes runs;
  const std::int64_t pairs = TUnreadRanges::kMaxRanges + 10;
  for (std::int64_t i = 0; i < pairs; ++i) {
    const TBytes pair = {0x11, 0x01, static_cast<std::uint8_t>(i == 0 ? 0x3F : 0x01), 0x01, 0x01};
    runs.insert(runs.end(), pair.begin(), pair.end());
  }
  runs.push_back(0);
  // Only LCN 63 is on the device; every later cluster lies past its end.
  const std::int64_t size = 2 * pairs * ClusterSize;
  const IStreamExPtr stream = StreamOver(runs, size);
  TBytes buffer(ClusterSize);
  for (std::int64_t pos = 0; pos < size; pos += ClusterSize)
    stream->Read(pos, ClusterSize, buffer.data());
  const std::vector<TByteRange> unread = UnreadRangesOf(*stream);
  ASSERT_EQ(unread.size(), TUnreadRanges::kMaxRanges);
  EXPECT_EQ(unread.front(), (TByteRange{2 * ClusterSize, ClusterSize}));
  EXPECT_EQ(unread.back().Offset + unread.back().Length, size - ClusterSize);
}

} // namespace
