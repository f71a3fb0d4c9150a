// The MFT reader on a failing disk: reads of some of the demo volume's
// records fail after a delay. The reader asks once for each block and once
// more for each record the block lacked, no request twice; the caller
// hears of every failed request before the next one is made, and a reader
// the caller stops or lets go makes no further request.

#include "VolumeReading.h"

#include "ntfs/uMFTReader.h"
#include "ntfs/uNTFSUtils.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/uSlowFailingSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

using testsupport::TSlowFailingSource;
using volumereading::TOpenedVolume;

constexpr char kRecipe[] = "demo";
constexpr std::int64_t kRecordsPerBlock = 16;

struct TFailingCase {
  const char* Name;
  std::int64_t FirstBad;
  std::int64_t EndBad; // 0: the MFT's end
  bool FailWholeRead;
  // Blocks of kRecordsPerBlock records that hold bad records.
  int BadBlocks;
};

// The demo volume with records AFirstBad to AEndBad - 1 failing (to the
// MFT's end for 0).
std::shared_ptr<TSlowFailingSource> FailingDemo(std::int64_t AFirstBad, std::int64_t AEndBad, bool AFailWholeRead,
                                                std::chrono::milliseconds ADelay) {
  const auto [from, length] = testsupport::FixtureMFTRecordBytes(
      kRecipe, AFirstBad, AEndBad > 0 ? std::optional<std::int64_t>(AEndBad) : std::nullopt);
  return std::make_shared<TSlowFailingSource>(testsupport::FixtureImage(kRecipe), TByteRange{from, length}, ADelay,
                                              AFailWholeRead);
}

class MFTReaderOnAFailingDisk : public ::testing::TestWithParam<TFailingCase> {
protected:
  std::shared_ptr<TSlowFailingSource> FailingSource(std::chrono::milliseconds ADelay) const {
    const TFailingCase& c = GetParam();
    return FailingDemo(c.FirstBad, c.EndBad, c.FailWholeRead, ADelay);
  }

  bool IsBad(std::int64_t ARecord, std::int64_t ARecordCount) const {
    const TFailingCase& c = GetParam();
    return ARecord >= c.FirstBad && ARecord < (c.EndBad > 0 ? c.EndBad : ARecordCount);
  }
};

TEST_P(MFTReaderOnAFailingDisk, EachLackingRecordIsAskedForOnceAndTheCallerHearsOfEveryFailure) {
  const TOpenedVolume healthy(testsupport::FixtureImage(kRecipe));
  const auto source = FailingSource(std::chrono::milliseconds(0));
  // 'F' for a failed request, 'W' for the caller's turn while it waits.
  std::mutex lock;
  std::string order;
  const auto add = [&](char AEvent) {
    const std::lock_guard<std::mutex> guard(lock);
    order += AEvent;
  };
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"K:", source));
  ASSERT_TRUE(volume->Initialized);
  const std::int64_t count = volume->MFTRecordCount;
  // Opening the volume may meet the bad records too; only the reader's
  // requests count here.
  const int failedBefore = source->Failures();
  source->SetAtFailure([&](int) { add('F'); });

  std::int64_t bad = 0;
  std::vector<std::uint8_t> alone(volume->MFTRecordSize);
  {
    TMFTRecordReader reader(volume.Get(), count, kRecordsPerBlock);
    std::int64_t next = 0;
    while (const TMFTRecordBlock* block = reader.Next([&] {
             add('W');
             return true;
           })) {
      for (std::int64_t i = 0; i < block->Count(); ++i, ++next) {
        const TByteView record = block->Record(i);
        if (IsBad(next, count)) {
          ++bad;
          EXPECT_TRUE(block->WasUnread(i)) << "record " << next;
          EXPECT_TRUE(std::all_of(record.Data(), record.Data() + record.Size(), [](std::uint8_t b) { return b == 0; }))
              << "record " << next;
          continue;
        }
        NTFSUtils::GetMFTRecord(healthy.Get(), MFT_REF::Build(next), alone.data());
        EXPECT_FALSE(block->WasUnread(i)) << "record " << next;
        EXPECT_TRUE(std::equal(alone.begin(), alone.end(), record.Data())) << "record " << next;
      }
    }
    EXPECT_EQ(next, count);
  }
  EXPECT_EQ(source->Failures() - failedBefore, GetParam().BadBlocks + bad);
  EXPECT_EQ(order.find("FF"), std::string::npos) << order;
}

// A caller that says stop at the third failure it hears of gets no block
// more, and the reader asks the disk for nothing more.
TEST_P(MFTReaderOnAFailingDisk, ACallerThatStopsTheReadingGetsNoFurtherRequest) {
  const auto source = FailingSource(std::chrono::milliseconds(20));
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"K:", source));
  const int failedBefore = source->Failures();
  int heard = 0;
  {
    TMFTRecordReader reader(volume.Get(), volume->MFTRecordCount, kRecordsPerBlock);
    const auto stopAtTheThird = [&] {
      heard = source->Failures() - failedBefore;
      return heard < 3;
    };
    while (reader.Next(stopAtTheThird) != nullptr) {
    }
    EXPECT_EQ(reader.Next(stopAtTheThird), nullptr);
  }
  EXPECT_EQ(heard, 3);
  EXPECT_EQ(source->Failures() - failedBefore, 3);
}

// A reader let go while its thread waits for the caller to hear of a
// failed request ends without another one. The second block fails, which
// the thread reaches without the caller asking for a block.
TEST(MFTReaderLetGo, AfterAFailedRequestItMakesNoOther) {
  const auto source = FailingDemo(kRecordsPerBlock, 0, false, std::chrono::milliseconds(20));
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"K:", source));
  const int failedBefore = source->Failures();
  {
    TMFTRecordReader reader(volume.Get(), volume->MFTRecordCount, kRecordsPerBlock);
    while (source->Failures() == failedBefore)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(source->Failures() - failedBefore, 1);
}

// The demo MFT has 86 records, blocks of 16: records 70 on lie in the
// blocks from 64 and from 80, records 20 to 39 in those from 16 and 32.
INSTANTIATE_TEST_SUITE_P(Cases, MFTReaderOnAFailingDisk,
                         ::testing::Values(TFailingCase{"DiskDeliversUpToTheBadRecords", 70, 0, false, 2},
                                           TFailingCase{"BridgeFailsTheWholeRequest", 70, 0, true, 2},
                                           TFailingCase{"BadRecordsAmongGoodOnes", 20, 40, false, 2},
                                           TFailingCase{"BadRecordsAmongGoodOnesWholeRequest", 20, 40, true, 2}),
                         [](const ::testing::TestParamInfo<TFailingCase>& AInfo) { return AInfo.param.Name; });

} // namespace
