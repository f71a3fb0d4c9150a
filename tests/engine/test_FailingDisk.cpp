// The scan on a failing disk: the demo volume's MFT reads fail after a
// delay from record 75 on, after the deleted thesis.docx of record 74. Progress reaches the views between any two
// failed reads, and a cancel heard among them ends the scan after at most
// one more.

#include "tests/engine/EngineHarness.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/uSlowFailingSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace {

using enginetest::TProgressRecorder;
using testsupport::TSlowFailingSource;
using ::testing::Contains;
using ::testing::Not;

constexpr char kRecipe[] = "demo";
constexpr std::int64_t kFirstBadRecord = 75;
constexpr std::int64_t kThesisRecord = 74;
constexpr std::chrono::milliseconds kDelay{20};

// The order in which failed reads ('F', on the reading thread) and view
// updates ('U', on the scanning thread) happened.
class TEventOrder {
public:
  void Add(char AEvent) {
    const std::lock_guard<std::mutex> lock(FLock);
    FEvents += AEvent;
  }
  std::string Events() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FEvents;
  }

private:
  mutable std::mutex FLock;
  std::string FEvents;
};

class FailingDiskScan : public ::testing::Test {
protected:
  FailingDiskScan() {
    const auto [from, length] = testsupport::FixtureMFTRecordBytes(kRecipe, kFirstBadRecord);
    Source = std::make_shared<TSlowFailingSource>(testsupport::FixtureImage(kRecipe), TByteRange{from, length}, kDelay);
    Source->SetAtFailure([this](int AFailure) {
      Order.Add('F');
      if (AFailure == CancelAtFailure)
        CancelWanted = true;
    });
    // The view cancels at its first update after the wish, as a user's
    // click is heard at the next update of the progress window.
    Progress->CancelWhen = [this](IProgressExInfo&) {
      Order.Add('U');
      return CancelWanted.load();
    };
    ProgressEx::AddView(Progress);
    Context.SetSource(std::make_shared<const TOpenedSource>(TSourceRequest{}, Source));
    Context.SetSourceDrive(u"K:\\");
  }
  ~FailingDiskScan() override {
    ProgressEx::RemoveView(Progress);
    Context.Clear();
  }

  std::shared_ptr<TSlowFailingSource> Source;
  TEventOrder Order;
  int CancelAtFailure = 0;
  std::atomic<bool> CancelWanted{false};
  std::shared_ptr<TProgressRecorder> Progress = std::make_shared<TProgressRecorder>();
  TNTFSRecoveryContext Context{std::make_shared<TScriptedPrompt>()};
};

// The 85 records make one block: one failed request for it and one for
// each of the 10 records it lacks, each followed by an update of the views
// before the next request is made.
TEST_F(FailingDiskScan, ViewsAreUpdatedBetweenAnyTwoFailedReads) {
  Context.ProcessScan();
  EXPECT_EQ(Source->Failures(), 1 + 10);
  EXPECT_EQ(Order.Events().find("FF"), std::string::npos) << Order.Events();
  EXPECT_THAT(Progress->Details(), Contains("MFT records 75 to 84 could not be read from the source drive."));
  EXPECT_THAT(Progress->Details(), Contains("Scanning completed."));
}

TEST_F(FailingDiskScan, ACancelAmongTheFailedReadsEndsTheScanWithinOneMore) {
  CancelAtFailure = 3;
  Context.ProcessScan();
  EXPECT_TRUE(CancelWanted);
  EXPECT_LE(Source->Failures(), CancelAtFailure + 1);
  EXPECT_THAT(Progress->Details(), Not(Contains("Scanning completed.")));
  // What the pass found before the failing records is kept.
  bool thesisFound = false;
  for (auto [bookmark, item] : ListItems<PItemInfo>(*Context.Items()))
    thesisFound = thesisFound || item->MFTNumber.Address() == kThesisRecord;
  EXPECT_TRUE(thesisFound);
}

} // namespace
