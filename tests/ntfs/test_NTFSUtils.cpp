#include "ntfs/uNTFSUtils.h"

#include "HandMadeRecords.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using handmade::TBytes;

TEST(NTFSUtils, GetSizeBits) {
  const std::vector<std::pair<std::int64_t, int>> cases = {
      {0, 0}, {1, 0}, {512, 9}, {1024, 10}, {4096, 12}, {1536, 9}, {2097152, 21}, {std::int64_t{1} << 62, 62}};
  for (const auto& [size, bits] : cases)
    EXPECT_EQ(NTFSUtils::GetSizeBits(size), bits) << size;
}

TEST(MFTRef, AddressNumberAndKey) {
  const MFT_REF ref = MFT_REF::Build((std::int64_t{5} << 48) | 5);
  EXPECT_EQ(ref.Address(), 5);
  EXPECT_EQ(ref.Number(), 5);
  EXPECT_EQ(MFT_REF::Build((std::int64_t{9} << 48) | 5).Address(), ref.Address());
  EXPECT_EQ(MFT_REF::Build(-1).Number(), 0xFFFF);
  EXPECT_EQ(MFT_REF::Build(-1).Address(), 0xFFFFFFFFFFFF);
  EXPECT_EQ(MFTRefKey(MFT_REF::Build((std::int64_t{7} << 48) | 0x0A0B0C0D0E0F)),
            (TMFTRefKey{0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A}));
}

// A record whose every word holds its own offset, so that each restored
// word tells where it came from.
TBytes NumberedRecord(std::size_t ASize) {
  TBytes record(ASize);
  for (std::size_t i = 0; i + 1 < ASize; i += 2)
    handmade::PutLE(record, i, i, 2);
  return record;
}

struct TFixupCase {
  const char* Name;
  std::size_t RecordSize;
  std::uint16_t UsaOffset;
  bool Fits;
};

class FixupTest : public ::testing::TestWithParam<TFixupCase> {};

TEST_P(FixupTest, RestoresTheLastWordOfEvery512Bytes) {
  const TFixupCase& c = GetParam();
  TBytes record = NumberedRecord(c.RecordSize);
  const TBytes original = record;
  EXPECT_EQ(NTFSUtils::FixupSectorEnds(record.data(), static_cast<std::uint32_t>(record.size()), c.UsaOffset), c.Fits);
  for (std::size_t offset = 0; offset + 1 < record.size(); offset += 2) {
    const std::size_t block = (offset + 2) / 512;
    const bool sectorEnd = (offset + 2) % 512 == 0;
    const std::size_t expected = c.Fits && sectorEnd ? c.UsaOffset + 2 * block : offset;
    ASSERT_EQ(record[offset] | record[offset + 1] << 8, static_cast<int>(expected & 0xFFFF)) << "offset " << offset;
  }
}

INSTANTIATE_TEST_SUITE_P(Records, FixupTest,
                         ::testing::Values(TFixupCase{"Record1024", 1024, 48, true},
                                           // 4Kn disks: nine words, one per 512 bytes.
                                           TFixupCase{"Record4096", 4096, 48, true},
                                           TFixupCase{"ArrayAtTheVeryEnd", 1024, 1018, true},
                                           TFixupCase{"ArrayPastTheEnd", 1024, 1020, false},
                                           TFixupCase{"Array4096PastTheEnd", 4096, 4080, false},
                                           TFixupCase{"NoWholeBlock", 256, 48, true}),
                         [](const ::testing::TestParamInfo<TFixupCase>& AInfo) { return AInfo.param.Name; });

// A torn write leaves some sectors of a record old: their last word is not
// the update sequence number the others carry. The record is still fixed
// up as a whole, and the torn sectors are named.
TEST(Fixup, NamesTheSectorsThatDoNotCarryTheUpdateSequenceNumber) {
  struct TTornCase {
    std::vector<std::size_t> Overwritten; // sector ends given another word
    std::vector<std::uint32_t> Torn;
  };
  const std::vector<TTornCase> cases = {{{}, {}}, {{1}, {1}}, {{0, 7}, {0, 7}}, {{3}, {3}}};
  const TBytes written = handmade::TRecordBuilder(4096).Resident(0x80, TBytes(3000, 0x41), 1).Build();
  const auto fixUp = [](TBytes& ARecord, std::vector<std::uint32_t>& ATorn) {
    return NTFSUtils::FixupSectorEnds(ARecord.data(), static_cast<std::uint32_t>(ARecord.size()),
                                      PMFTRecord(TByteView(ARecord.data(), ARecord.size())).UsaOffset(), &ATorn);
  };
  TBytes intact = written;
  std::vector<std::uint32_t> none;
  ASSERT_TRUE(fixUp(intact, none));
  for (const TTornCase& c : cases) {
    TBytes record = written;
    for (const std::size_t sector : c.Overwritten)
      handmade::PutLE(record, sector * 512 + 510, 0xBEEF, 2);
    std::vector<std::uint32_t> torn = {99};
    EXPECT_TRUE(fixUp(record, torn));
    EXPECT_EQ(torn, c.Torn);
    EXPECT_EQ(record, intact);
  }
  // An array that does not fit names nothing.
  TBytes record = NumberedRecord(1024);
  std::vector<std::uint32_t> torn = {99};
  EXPECT_FALSE(NTFSUtils::FixupSectorEnds(record.data(), 1024, 1020, &torn));
  EXPECT_TRUE(torn.empty());
}

TEST(NTFSUtils, FileAttributesToString) {
  const std::vector<std::pair<std::uint32_t, std::u16string>> cases = {
      {0x0021, u"RO ARC "},
      {0x0006, u"HI SYS "},
      {0x0008, u""},
      {0x10000000, u""},
      {0xFFFFFFFF, u"RO HI SYS DIR ARC DEV NORM TMP SPS RPS COMP OFF NIDX ENC "}};
  for (const auto& [bits, text] : cases)
    EXPECT_EQ(NTFSUtils::FileAttributesToString(bits), text) << bits;
}

TEST(NTFSUtils, GetFileNameCopiesExactlyTheStoredCodeUnits) {
  const std::u16string eight = u"ab\u00e9\u4e2d\xd800x.Z"; // a lone surrogate stays as it is
  const std::vector<std::u16string> names = {u"", eight, std::u16string(255, u'n')};
  for (const std::u16string& name : names) {
    const TBytes content = handmade::FileNameContent(5, name, 1);
    EXPECT_EQ(NTFSUtils::GetFileName(PMFTFilenameAttribute(TByteView(content.data(), content.size()))), name);
  }
  // A name longer than its attribute gives what the attribute holds.
  const TBytes content = handmade::FileNameContent(5, u"abcdef", 1);
  EXPECT_EQ(NTFSUtils::GetFileName(PMFTFilenameAttribute(TByteView(content.data(), content.size() - 4))), u"abcd");
}

// Restored files take their times on this clock; the whole NTFS range must
// reach it, not only what 64-bit nanoseconds hold (1678 to 2262).
TEST(NTFSUtils, FileTimesBecomeUnixSecondsAndNanoseconds) {
  struct TCase {
    const char* Name;
    std::int64_t FileTime;
    std::optional<std::pair<std::int64_t, long>> Unix;
  };
  const std::vector<TCase> cases = {
      {"never set", 0, std::nullopt},
      {"negative", -1, std::nullopt},
      {"lowest", std::numeric_limits<std::int64_t>::min(), std::nullopt},
      {"1601-01-01, one tick in", 1, {{-11644473600, 100}}},
      {"1969-07-20 20:17:40 and 5 ticks", 116302906600000005, {{-14182940, 500}}},
      {"one tick before 1970", FileTimeOfUnixEpoch - 1, {{-1, 999999900}}},
      {"1970-01-01", FileTimeOfUnixEpoch, {{0, 0}}},
      {"2262-04-12, past 64-bit nanoseconds", 208678464000000000, {{9223372800, 0}}},
      {"30828-09-14 02:48:05, the last file time", std::numeric_limits<std::int64_t>::max(),
       {{910692730085, 477580700}}},
  };
  for (const TCase& test : cases) {
    const std::optional<std::timespec> converted = NTFSUtils::Int64TimeToUnixTime(test.FileTime);
    ASSERT_EQ(converted.has_value(), test.Unix.has_value()) << test.Name;
    if (converted) {
      EXPECT_EQ(converted->tv_sec, test.Unix->first) << test.Name;
      EXPECT_EQ(converted->tv_nsec, test.Unix->second) << test.Name;
    }
  }
}

class LocalTimeTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    FSavedZone = zone ? std::optional<std::string>(zone) : std::nullopt;
  }
  void TearDown() override {
    if (FSavedZone)
      setenv("TZ", FSavedZone->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* AZone) {
    setenv("TZ", AZone, 1);
    tzset();
  }
  std::optional<std::string> FSavedZone;
};

TEST_F(LocalTimeTest, FileTimesBecomeLocalDateTimes) {
  UseZone("UTC0");
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(0), -109205.0); // 1 January 1601
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(-1), -109205.0);
  // Before 30 December 1899 the time of day is subtracted from the date.
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(78707160000000000), -18109.25);
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(132380784000000000), 44013.5);

  // Summer and winter of one year are shifted by the offsets of their dates.
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(132380784000000000), 44013.0 + 14.0 / 24);
  EXPECT_DOUBLE_EQ(NTFSUtils::Int64TimeToDateTime(132223536000000000), 43831.0 + 13.0 / 24);
}

} // namespace
