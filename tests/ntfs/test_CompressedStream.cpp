// How the compressed stream maps compression units onto their runs, over an
// in-memory volume: raw, compressed and wholly sparse units, units cut short
// by the data or the run list, other unit sizes, and damaged units.

#include "LZNT1Chunks.h"

#include "ntfs/uCompressedStream.h"
#include "ntfs/uFSError.h"
#include "ntfs/uPhysicalFile.h"
#include "tests/support/uMemoryDevice.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

namespace {

using handmade::Concat;
using handmade::PatternChunk;
using handmade::Repeated;
using handmade::TBytes;
using handmade::TRun;

constexpr std::array<std::uint8_t, 16> P1{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
constexpr std::array<std::uint8_t, 16> P2{'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W',
                                          'X', 'Y', 'Z', '[', '\\', ']', '^', '_'};
constexpr std::int64_t VolumeClusters = 64;

// Bytes no compressor would shrink, different for every cluster.
TBytes Noise(std::size_t ASize, std::uint32_t ASeed) {
  TBytes bytes(ASize);
  std::uint32_t x = ASeed * 2654435761u + 1;
  for (std::uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

TBytes Zeros(std::size_t ASize) {
  return TBytes(ASize, 0);
}

TBytes Slice(const TBytes& ABytes, std::size_t AFrom, std::size_t ATo) {
  return TBytes(ABytes.begin() + static_cast<std::ptrdiff_t>(AFrom), ABytes.begin() + static_cast<std::ptrdiff_t>(ATo));
}

struct TUnitCase {
  const char* Name;
  std::uint32_t ClusterSize;
  std::uint16_t CompressionUnitSize;
  std::vector<TRun> Runs;
  std::int64_t DataSize;
  // What the volume holds from each LCN on (may span clusters).
  std::map<std::int64_t, TBytes> Volume;
  // The whole content; shorter than DataSize where the runs end early.
  TBytes Expected;
};

IStreamExPtr VolumeOf(const TUnitCase& ACase) {
  TBytes volume(static_cast<std::size_t>(VolumeClusters * ACase.ClusterSize), 0xEE);
  for (const auto& [lcn, bytes] : ACase.Volume)
    std::copy(bytes.begin(), bytes.end(), volume.begin() + lcn * ACase.ClusterSize);
  return StreamEx::GetMemoryStream(volume.data(), static_cast<std::int32_t>(volume.size()));
}

std::shared_ptr<TCompressedRunListStream> StreamOf(const TUnitCase& ACase) {
  const IMFTRunListPtr runs = MFTRunList::New();
  const TBytes encoded = handmade::EncodeRuns(ACase.Runs);
  runs->Decompress(encoded.data(), static_cast<std::int32_t>(encoded.size()));
  return std::make_shared<TCompressedRunListStream>(VolumeOf(ACase), ACase.ClusterSize, ACase.CompressionUnitSize,
                                                    runs, ACase.DataSize);
}

TBytes ReadInPieces(IStreamEx& AStream, std::int64_t APiece) {
  TBytes all;
  TBytes piece(static_cast<std::size_t>(APiece));
  for (std::int64_t pos = 0;;) {
    const std::int64_t n = AStream.Read(pos, APiece, piece.data());
    if (n <= 0)
      return all;
    all.insert(all.end(), piece.begin(), piece.begin() + n);
    pos += n;
  }
}

class CompressionUnitTest : public ::testing::TestWithParam<TUnitCase> {};

// Whole, and in pieces that straddle unit boundaries and return to a unit
// already expanded.
TEST_P(CompressionUnitTest, ReadsTheUnitsContent) {
  const TUnitCase& c = GetParam();
  const auto stream = StreamOf(c);
  EXPECT_EQ(stream->Size(), c.DataSize);
  TBytes whole(static_cast<std::size_t>(c.DataSize) + 100);
  ASSERT_EQ(stream->Read(0, c.DataSize + 100, whole.data()), static_cast<std::int64_t>(c.Expected.size()));
  whole.resize(c.Expected.size());
  EXPECT_TRUE(whole == c.Expected);
  EXPECT_TRUE(ReadInPieces(*stream, 777) == c.Expected);
  EXPECT_TRUE(ReadInPieces(*stream, 1) == c.Expected);
}

const TBytes RawCluster10 = Noise(8192, 10);
const TBytes Noise40 = Noise(1536, 40);
// A stored chunk of 602 bytes: it does not fit in one 512-byte cluster.
const TBytes StoredNoise = handmade::Chunk(handmade::StoredChunk, Noise(600, 7));

INSTANTIATE_TEST_SUITE_P(
    Units, CompressionUnitTest,
    ::testing::Values(
        // 512-byte clusters, units of 16: 8 KiB, two chunks per unit.
        TUnitCase{"RawUnit", 512, 4, {{16, 10}}, 8192, {{10, RawCluster10}}, RawCluster10},
        TUnitCase{"CompressedUnit",
                  512,
                  4,
                  {{1, 10}, {15, {}}},
                  8192,
                  {{10, Concat({PatternChunk(P1, 4096), PatternChunk(P2, 4096)})}},
                  Concat({Repeated(P1, 4096), Repeated(P2, 4096)})},
        TUnitCase{"WhollySparseUnit",
                  512,
                  4,
                  {{16, {}}, {16, 10}},
                  16384,
                  {{10, RawCluster10}},
                  Concat({Zeros(8192), RawCluster10})},
        // The chunk expands only as far as the data reaches.
        TUnitCase{"UnitCutByTheEndOfTheData",
                  512,
                  4,
                  {{1, 10}, {15, {}}},
                  5000,
                  {{10, Concat({PatternChunk(P1, 4096), PatternChunk(P2, 904)})}},
                  Concat({Repeated(P1, 4096), Repeated(P2, 904)})},
        // A last unit whose runs end early with every cluster on disk is
        // stored as it is.
        TUnitCase{"LastUnitCutByTheEndOfTheRuns",
                  512,
                  4,
                  {{16, 10}, {3, 40}},
                  9692,
                  {{10, RawCluster10}, {40, Noise40}},
                  Concat({RawCluster10, Slice(Noise40, 0, 1500)})},
        // The packed chunks run on from cluster 10 into cluster 20.
        TUnitCase{"PackedBytesInScatteredClusters",
                  512,
                  4,
                  {{1, 10}, {1, 20}, {14, {}}},
                  8192,
                  {{10, Slice(StoredNoise, 0, 512)},
                   {20, Concat({Slice(StoredNoise, 512, StoredNoise.size()), PatternChunk(P2, 4096)})}},
                  Concat({Noise(600, 7), Zeros(4096 - 600), Repeated(P2, 4096)})},
        // 4 KiB clusters, units of 4: 16 KiB, four chunks per unit.
        TUnitCase{"UnitOfFourClusters",
                  4096,
                  2,
                  {{1, 5}, {3, {}}, {4, 6}},
                  32768,
                  {{5, Concat({PatternChunk(P1, 4096), PatternChunk(P2, 4096), PatternChunk(P1, 4096),
                               PatternChunk(P2, 100)})},
                   {6, Noise(16384, 6)}},
                  Concat({Repeated(P1, 4096), Repeated(P2, 4096), Repeated(P1, 4096), Repeated(P2, 100),
                          Zeros(3996), Noise(16384, 6)})},
        // The run list covers one unit of a two-unit file.
        TUnitCase{"RunsEndBeforeTheData", 512, 4, {{16, 10}}, 12000, {{10, RawCluster10}}, RawCluster10}),
    [](const ::testing::TestParamInfo<TUnitCase>& AInfo) { return AInfo.param.Name; });

// Clusters past the end of the in-memory volume are what the device
// cannot deliver: they read as zeros and are reported, exactly in a unit
// stored as it is, as the whole unit in a compressed one.
struct TUnreadCase {
  TUnitCase Unit;
  std::vector<TByteRange> Unread;
};

class CompressedUnreadTest : public ::testing::TestWithParam<TUnreadCase> {};

TEST_P(CompressedUnreadTest, ReadsAsZerosAndReportsTheBytes) {
  const TUnreadCase& c = GetParam();
  const auto stream = StreamOf(c.Unit);
  EXPECT_TRUE(ReadInPieces(*stream, 777) == c.Unit.Expected);
  EXPECT_EQ(UnreadRangesOf(*stream), c.Unread);
}

constexpr std::int64_t PastTheVolume = 200;

INSTANTIATE_TEST_SUITE_P(
    Unread, CompressedUnreadTest,
    ::testing::Values(
        TUnreadCase{{"RawUnit",
                     512,
                     4,
                     {{3, 10}, {1, PastTheVolume}, {12, 13}},
                     8192,
                     {{10, RawCluster10}},
                     Concat({Slice(RawCluster10, 0, 1536), Zeros(512), Slice(RawCluster10, 1536, 7680)})},
                    {{1536, 512}}},
        TUnreadCase{{"CompressedUnit", 512, 4, {{1, PastTheVolume}, {15, {}}, {16, 10}}, 16384,
                     {{10, RawCluster10}}, Concat({Zeros(8192), RawCluster10})},
                    {{0, 8192}}},
        TUnreadCase{{"CompressedUnitCutByTheData", 512, 4, {{1, PastTheVolume}, {15, {}}}, 5000, {}, Zeros(5000)},
                    {{0, 5000}}}),
    [](const ::testing::TestParamInfo<TUnreadCase>& AInfo) { return AInfo.param.Unit.Name; });

// A unit stored as it is is read in one request; on a device that fails
// every request touching a bad sector, as some USB bridges do, only that
// sector is lost, not the rest of the unit.
TEST(CompressedStream, AStoredUnitLosesOnlyTheSectorTheDeviceFails) {
  constexpr std::int64_t ClusterSize = 512;
  auto source = std::make_shared<testsupport::TMemorySource>(VolumeClusters * ClusterSize);
  source->Put(10 * ClusterSize, RawCluster10);
  source->FailRange(12 * ClusterSize, 512, true);
  const IMFTRunListPtr runs = MFTRunList::New();
  const TBytes encoded = handmade::EncodeRuns({{16, 10}});
  runs->Decompress(encoded.data(), static_cast<std::int32_t>(encoded.size()));
  TCompressedRunListStream stream(std::make_shared<TPhysicalFile>(u"K:", source), ClusterSize, 4, runs, 8192);
  EXPECT_TRUE(ReadInPieces(stream, 777) ==
              Concat({Slice(RawCluster10, 0, 1024), Zeros(512), Slice(RawCluster10, 1536, 8192)}));
  EXPECT_EQ(UnreadRangesOf(stream), (std::vector<TByteRange>{{1024, 512}}));
}

// A compressed unit expanded whole still reads as zeros past the
// initialized size.
TEST(CompressedStream, BytesPastTheValidSizeReadAsZeros) {
  TUnitCase c{"CompressedUnit", 512, 4, {{1, 10}, {15, {}}}, 8192,
              {{10, Concat({PatternChunk(P1, 4096), PatternChunk(P2, 4096)})}}, {}};
  const IMFTRunListPtr runs = MFTRunList::New();
  const TBytes encoded = handmade::EncodeRuns(c.Runs);
  runs->Decompress(encoded.data(), static_cast<std::int32_t>(encoded.size()));
  TCompressedRunListStream stream(VolumeOf(c), c.ClusterSize, c.CompressionUnitSize, runs, c.DataSize, 5000);
  EXPECT_TRUE(ReadInPieces(stream, 777) == Concat({Repeated(P1, 4096), Slice(Repeated(P2, 4096), 0, 904), Zeros(3192)}));
}

// Unit 0 stored as it is, unit 1 a chunk with a back-reference before its
// start.
TUnitCase DamagedSecondUnit() {
  return {"Damaged",
          512,
          4,
          {{16, 10}, {1, 30}, {15, {}}},
          16384,
          {{10, RawCluster10}, {30, handmade::Chunk(handmade::CompressedChunk, {0x02, 'a', 0x00, 0x10})}},
          {}};
}

TEST(CompressedStream, ADamagedUnitRaisesAfterTheUnitsBeforeIt) {
  const auto stream = StreamOf(DamagedSecondUnit());
  TBytes buffer(16384);
  EXPECT_EQ(stream->Read(0, 16384, buffer.data()), 8192);
  EXPECT_TRUE(TBytes(buffer.begin(), buffer.begin() + 8192) == RawCluster10);
  try {
    stream->Read(8192, 8192, buffer.data());
    FAIL() << "no error raised";
  } catch (const CompressedDataException& e) {
    EXPECT_STREQ(e.what(), "Compression unit 1 at byte 8192 of the data cannot be expanded: LZNT1 chunk 0 at byte 0 "
                           "refers back 2 bytes from byte 1 of its output.");
  }
  // The unit stays damaged, and the one before it readable.
  EXPECT_THROW(stream->Read(9000, 10, buffer.data()), FSError);
  EXPECT_EQ(stream->Read(100, 10, buffer.data()), 10);
}

struct TBadGeometry {
  const char* Name;
  std::uint32_t ClusterSize;
  std::uint16_t CompressionUnitSize;
};

class CompressedStreamGeometryTest : public ::testing::TestWithParam<TBadGeometry> {};

TEST_P(CompressedStreamGeometryTest, IsRefused) {
  const TBadGeometry& g = GetParam();
  EXPECT_THROW(TCompressedRunListStream(StreamEx::Null(), g.ClusterSize, g.CompressionUnitSize, MFTRunList::New(), 100),
               CompressedDataException);
}

INSTANTIATE_TEST_SUITE_P(Geometry, CompressedStreamGeometryTest,
                         ::testing::Values(TBadGeometry{"NoClusterSize", 0, 4},
                                           TBadGeometry{"ClusterSizeNotAPowerOfTwo", 3000, 4},
                                           TBadGeometry{"UnitShiftTooWide", 512, 64},
                                           TBadGeometry{"UnitOf16MiB", 65536, 8}),
                         [](const ::testing::TestParamInfo<TBadGeometry>& AInfo) { return AInfo.param.Name; });

} // namespace
