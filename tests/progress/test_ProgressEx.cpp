#include "progress/uProgressEx.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Writes every notification as one short line: what, and the level shown.
class TRecordingView : public IProgressExView {
public:
  std::vector<std::string> Log;
  // Runs inside each notification after it was logged, as a view that pumps
  // the message queue would run user input.
  std::function<void(const std::string& AWhat, IProgressExInfo& AItem)> OnNotify;

  void AddItem(IProgressExInfo& AItem) override { Record("add", AItem); }
  void UpdateItem(IProgressExInfo& AItem) override { Record("update", AItem); }
  void CloseItem(IProgressExInfo& AItem) override { Record("close", AItem); }
  void Detail(IProgressExInfo& AItem, const std::string& AMessage,
              TProgressDetailStatus AStatus) override {
    Record("detail " + std::to_string(AStatus) + " " + AMessage, AItem);
  }

private:
  void Record(const std::string& AWhat, IProgressExInfo& AItem) {
    Log.push_back(AWhat + " " + AItem.GetTitle());
    if (OnNotify)
      OnNotify(AWhat, AItem);
  }
};

class ProgressExTest : public ::testing::Test {
protected:
  std::int64_t FNow = 1'000'000; // milliseconds of the fake clock
  TProgressExService FService{[this] { return FNow; }};
  std::shared_ptr<TRecordingView> FView = std::make_shared<TRecordingView>();

  void SetUp() override { FService.AddView(FView); }

  // Captures what the innermost level looks like to a view.
  struct TSnapshot {
    std::int32_t Id, ParentId, Level;
    std::int64_t Index, Count;
    double Progress;
    std::int64_t Elapsed, Estimated;
  };
  TSnapshot LastSeen() { return FLastSeen; }
  void WatchLevels() {
    FView->OnNotify = [this](const std::string&, IProgressExInfo& AItem) {
      FLastSeen = {AItem.GetId(), AItem.GetParentId(), AItem.GetLevel(), AItem.GetIndex(),
                   AItem.GetCount(), AItem.GetProgress(), AItem.GetElapsedSeconds(),
                   AItem.GetEstimatedSeconds()};
    };
  }

private:
  TSnapshot FLastSeen{};
};

TEST_F(ProgressExTest, LevelsCarryIdsParentsDepthsAndTheParentsStepAsIndex) {
  WatchLevels();
  FService.Start("Scanning...", 3, "", 100);
  TSnapshot outer = LastSeen();
  EXPECT_EQ(outer.Id, 2); // the counter starts at 1 and is incremented before use
  EXPECT_EQ(outer.ParentId, 0);
  EXPECT_EQ(outer.Level, 0);
  EXPECT_EQ(outer.Index, 1);

  // The scan reports its step after each sub-operation, so the children are
  // numbered 1, 2, 3.
  for (std::int64_t step = 1; step <= 3; ++step) {
    FService.Start("step", 10, "records", 100);
    TSnapshot child = LastSeen();
    EXPECT_EQ(child.Id, 1 + 2 * step); // each child's own child took an Id too
    EXPECT_EQ(child.ParentId, 2);
    EXPECT_EQ(child.Level, 1);
    EXPECT_EQ(child.Index, step);
    FService.Start("deeper", 1, "", 100);
    EXPECT_EQ(LastSeen().Level, 2);
    EXPECT_EQ(LastSeen().ParentId, child.Id);
    FService.Close();
    FService.Close();
    FService.DoProgress(step);
  }
  FService.Close();
}

TEST_F(ProgressExTest, CountZeroBecomesOne) {
  WatchLevels();
  FService.Start("empty", 0, "", 100);
  EXPECT_EQ(LastSeen().Count, 1);
  FService.Close();
}

TEST_F(ProgressExTest, ViewsHearOnlyWhenTheUpdateStepChanges) {
  FService.Start("records", 1000, "", 100);
  FView->Log.clear();
  for (std::int64_t done = 1; done <= 4; ++done)
    FService.DoProgress(done);
  EXPECT_THAT(FView->Log, IsEmpty()); // 4 / (1000 / 101) rounds to 0
  FService.DoProgress(5);              // 5 / 9.90099 rounds to 1
  EXPECT_THAT(FView->Log, ElementsAre("update records"));
  FService.Close();
}

// A request (a Ctrl-C's signal handler makes it) is heard at the very next
// report, once, whatever the count did.
TEST_F(ProgressExTest, ARequestedUpdateReachesTheViewsAtTheNextReport) {
  FService.Start("records", 1000, "", 100);
  FView->Log.clear();
  TProgressExService::RequestUpdate();
  FService.DoProgress(1);
  FService.DoProgress(2);
  EXPECT_THAT(FView->Log, ElementsAre("update records"));
  FService.Close();
}

struct TThrottleCase {
  std::int64_t Count;
  std::int32_t UpdatesCount;
  std::size_t ExpectedUpdates;
};

class ProgressExThrottleTest : public ProgressExTest,
                               public ::testing::WithParamInterface<TThrottleCase> {};

TEST_P(ProgressExThrottleTest, AFullLoopUpdatesAtMostUpdatesCountPlusOneTimes) {
  const TThrottleCase& c = GetParam();
  FService.Start("loop", c.Count, "", c.UpdatesCount);
  FView->Log.clear();
  for (std::int64_t done = 1; done <= c.Count; ++done)
    FService.DoProgress(done);
  EXPECT_EQ(FView->Log.size(), c.ExpectedUpdates);
  FService.Close();
}

INSTANTIATE_TEST_SUITE_P(Counts, ProgressExThrottleTest,
                         ::testing::Values(TThrottleCase{1, 100, 1}, TThrottleCase{7, 100, 7},
                                           TThrottleCase{101, 100, 101},
                                           TThrottleCase{1000, 100, 101},
                                           TThrottleCase{123457, 100, 101},
                                           TThrottleCase{1000, 9, 10},
                                           TThrottleCase{1000, 0, 101},
                                           TThrottleCase{1000, -5, 101}));

struct TEstimateCase {
  const char* Name;
  std::int64_t Count;
  std::int64_t Done;
  std::int64_t AfterMilliseconds;
  double Percent;
  std::int64_t Elapsed;
  std::int64_t Estimated;
};

class ProgressExEstimateTest : public ProgressExTest,
                               public ::testing::WithParamInterface<TEstimateCase> {};

TEST_P(ProgressExEstimateTest, PercentElapsedAndEstimatedTotal) {
  const TEstimateCase& c = GetParam();
  WatchLevels();
  FService.Start("level", c.Count, "", 100);
  FNow += c.AfterMilliseconds;
  FService.DoProgress(c.Done);
  FService.Close(); // CloseItem still shows the level's last figures
  EXPECT_DOUBLE_EQ(LastSeen().Progress, c.Percent);
  EXPECT_EQ(LastSeen().Elapsed, c.Elapsed);
  EXPECT_EQ(LastSeen().Estimated, c.Estimated);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, ProgressExEstimateTest,
    ::testing::Values(TEstimateCase{"quarter", 200, 50, 10'000, 25, 10, 40},
                      TEstimateCase{"elapsedTruncated", 200, 50, 10'999, 25, 10, 40},
                      TEstimateCase{"nothingDoneYet", 200, 0, 10'000, 0, 10, 0},
                      TEstimateCase{"tieRoundsDown", 3, 2, 3'000, 200.0 / 3, 3, 4},   // 4.5
                      TEstimateCase{"tieRoundsUp", 3, 2, 5'000, 200.0 / 3, 5, 8},     // 7.5
                      TEstimateCase{"beyondCount", 200, 300, 30'000, 150, 30, 20},
                      TEstimateCase{"clockWentBack", 200, 50, -10'500, 25, 10, 40},
                      TEstimateCase{"hugeCountSaturates", INT64_MAX, 1, 10'000,
                                    100.0 / static_cast<double>(INT64_MAX), 10,
                                    9223372036854774784}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(ProgressExTest, WithoutAnOpenLevelEveryCallIsHarmless) {
  EXPECT_FALSE(FService.DoProgress(1));
  EXPECT_TRUE(FService.Detail(pdsError, "lost"));
  EXPECT_FALSE(FService.IsCanceled());
  FService.Cancel();
  FService.Close();
  EXPECT_THAT(FView->Log, IsEmpty());
  FService.Start("after", 1, "", 100);
  EXPECT_FALSE(FService.IsCanceled());
  FService.Close();
}

TEST_F(ProgressExTest, DetailReachesViewsWithMessageAndStatus) {
  FService.Start("Recovering...", 2, "objects", 100);
  EXPECT_TRUE(FService.Detail(pdsWarning, "short read"));
  EXPECT_TRUE(FService.Detail(pdsInformation, ""));
  FService.Close();
  EXPECT_THAT(FView->Log, ElementsAre("add Recovering...", "detail 1 short read Recovering...",
                                      "detail 0  Recovering...", "close Recovering..."));
}

TEST_F(ProgressExTest, CancelDuringUpdateCountsFromTheNextReport) {
  FView->OnNotify = [](const std::string& AWhat, IProgressExInfo& AItem) {
    if (AWhat == "update")
      AItem.Cancel();
  };
  FService.Start("loop", 1000, "", 100);
  EXPECT_TRUE(FService.DoProgress(5)); // the result was taken before the views were told
  EXPECT_TRUE(FService.IsCanceled());
  EXPECT_FALSE(FService.DoProgress(6));
  FService.Close();
}

TEST_F(ProgressExTest, CancelDuringDetailFailsThatVeryDetail) {
  FView->OnNotify = [](const std::string& AWhat, IProgressExInfo& AItem) {
    if (AWhat.starts_with("detail"))
      AItem.Cancel();
  };
  FService.Start("loop", 10, "", 100);
  EXPECT_FALSE(FService.Detail(pdsInformation, "file"));
  FService.Close();
}

// An operation waiting for a slow device reports no units, yet the views
// must go on showing the time and hearing a cancel.
TEST_F(ProgressExTest, KeepAliveUpdatesTheViewsWithoutProgressAndFailsOnceCanceled) {
  WatchLevels();
  FService.Start("Scanning drive...", 1000, "records", 100);
  EXPECT_TRUE(FService.DoProgress(5));
  FNow += 7000;
  EXPECT_TRUE(FService.KeepAlive());
  EXPECT_EQ(LastSeen().Elapsed, 7);
  EXPECT_DOUBLE_EQ(LastSeen().Progress, 0.5);
  FView->OnNotify = [](const std::string&, IProgressExInfo& AItem) { AItem.Cancel(); };
  EXPECT_FALSE(FService.KeepAlive());
  FService.Close();
  EXPECT_THAT(FView->Log, ElementsAre("add Scanning drive...", "update Scanning drive...", "update Scanning drive...",
                                      "update Scanning drive...", "close Scanning drive..."));
  EXPECT_TRUE(FService.KeepAlive()); // without a level, nothing to keep alive
}

TEST_F(ProgressExTest, CloseTellsTheClosingLevelThenItsParent) {
  FService.Start("outer", 2, "", 100);
  FService.Start("inner", 2, "", 100);
  FView->Log.clear();
  FService.Close();
  EXPECT_THAT(FView->Log, ElementsAre("close inner", "update outer"));
  FService.Close();
}

TEST_F(ProgressExTest, CancelTravelsOutwardOneLevelPerClose) {
  std::vector<bool> canceledAtClose;
  FView->OnNotify = [&](const std::string& AWhat, IProgressExInfo& AItem) {
    if (AWhat == "close")
      canceledAtClose.push_back(AItem.IsCanceled());
  };
  FService.Start("outer", 3, "", 100);
  FService.Start("middle", 3, "", 100);
  FService.Start("inner", 3, "", 100);
  FService.Cancel();
  EXPECT_FALSE(FService.DoProgress(1));
  FService.Close();
  EXPECT_FALSE(FService.DoProgress(1)); // middle learned of it
  FService.Close();
  EXPECT_TRUE(FService.IsCanceled()); // outer too
  FService.Close();
  EXPECT_THAT(canceledAtClose, ElementsAre(true, true, true));

  FService.Start("next operation", 1, "", 100);
  EXPECT_TRUE(FService.DoProgress(1));
  FService.Close();
}

TEST_F(ProgressExTest, ParentTakesTheChildsFlagNotTheUnionOfBoth) {
  FService.Start("outer", 3, "", 100);
  FService.Cancel();
  FService.Start("inner", 3, "", 100);
  EXPECT_FALSE(FService.IsCanceled());
  FService.Close();
  EXPECT_FALSE(FService.IsCanceled());
  EXPECT_TRUE(FService.DoProgress(1));
  FService.Close();
}

TEST_F(ProgressExTest, ViewRemovedDuringANotificationIsNotToldAgain) {
  auto removed = std::make_shared<TRecordingView>();
  auto added = std::make_shared<TRecordingView>();
  FService.AddView(removed);
  FView->OnNotify = [&](const std::string& AWhat, IProgressExInfo&) {
    if (AWhat == "add") {
      FService.RemoveView(removed);
      FService.AddView(added);
    }
  };
  FService.Start("scan", 1, "", 100);
  FService.Close();
  EXPECT_THAT(removed->Log, IsEmpty());
  EXPECT_THAT(added->Log, ElementsAre("close scan")); // joined after the round began
}

TEST_F(ProgressExTest, ViewMayRemoveItselfAndBeReleasedDuringItsOwnNotification) {
  auto self = std::make_shared<TRecordingView>();
  std::weak_ptr<TRecordingView> watch = self;
  self->OnNotify = [this, watch](const std::string&, IProgressExInfo&) {
    FService.RemoveView(watch.lock());
  };
  FService.AddView(self);
  self.reset(); // the service's list held the last reference
  FService.Start("scan", 1, "", 100);
  EXPECT_TRUE(watch.expired());
  FService.Close();
  EXPECT_THAT(FView->Log, ElementsAre("add scan", "close scan"));
}

TEST_F(ProgressExTest, RemoveViewTakesOneOccurrenceOfADuplicate) {
  FService.AddView(FView);
  FService.RemoveView(FView);
  FService.Start("scan", 1, "", 100);
  FService.RemoveView(FView);
  FService.Close();
  EXPECT_THAT(FView->Log, ElementsAre("add scan"));
}

// A view that raises from one kind of notification.
class TFailingView : public TRecordingView {
public:
  explicit TFailingView(std::string AFailOn) : FFailOn(std::move(AFailOn)) {
    OnNotify = [this](const std::string& AWhat, IProgressExInfo&) {
      if (AWhat == FFailOn)
        throw std::runtime_error("view failed in " + AWhat);
    };
  }

private:
  std::string FFailOn;
};

TEST_F(ProgressExTest, FailedStartLeavesNoLevelAndEveryViewBalanced) {
  FService.Start("outer", 1, "", 100);
  auto failing = std::make_shared<TFailingView>("add");
  FService.AddView(failing);
  auto after = std::make_shared<TRecordingView>();
  FService.AddView(after);
  EXPECT_THROW(FService.Start("inner", 1, "", 100), std::runtime_error);
  EXPECT_THAT(after->Log, ElementsAre("add inner", "close inner", "update outer"));
  FService.RemoveView(failing);
  FService.Close(); // closes outer, not a leftover inner
  EXPECT_THAT(after->Log.back(), "close outer");
  EXPECT_FALSE(FService.DoProgress(1));
}

TEST_F(ProgressExTest, ViewFailingInCloseItemStillLetsTheLevelClose) {
  auto failing = std::make_shared<TFailingView>("close");
  FService.AddView(failing);
  auto after = std::make_shared<TRecordingView>();
  FService.AddView(after);
  FService.Start("outer", 1, "", 100);
  FService.Start("inner", 1, "", 100);
  FService.Cancel();
  EXPECT_THROW(FService.Close(), std::runtime_error);
  EXPECT_THAT(after->Log, ElementsAre("add outer", "add inner", "close inner", "update outer"));
  EXPECT_TRUE(FService.IsCanceled()); // the cancel still travelled outward
  FService.RemoveView(failing);
  FService.Close();
  EXPECT_FALSE(FService.DoProgress(1));
}

TEST_F(ProgressExTest, LevelGuardClosesOnEveryWayOut) {
  try {
    TProgressExLevel outer(FService, "outer", 2, "");
    TProgressExLevel inner(FService, "inner", 2, "");
    throw std::runtime_error("read failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_THAT(FView->Log, ElementsAre("add outer", "add inner", "close inner", "update outer",
                                      "close outer"));
  EXPECT_FALSE(FService.DoProgress(1));
}

TEST_F(ProgressExTest, LevelGuardPassesOnAViewFailureOnlyWhenNothingElseIsFailing) {
  FService.AddView(std::make_shared<TFailingView>("close"));
  EXPECT_THROW({ TProgressExLevel level(FService, "normal path", 1, ""); }, std::runtime_error);
  try {
    TProgressExLevel level(FService, "unwinding", 1, "");
    throw std::logic_error("the operation's own failure");
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "the operation's own failure");
  }
  EXPECT_FALSE(FService.DoProgress(1));
}

TEST(ProgressExServiceLifetime, EndingTheServiceClosesOpenLevelsWithNotifications) {
  auto view = std::make_shared<TRecordingView>();
  {
    TProgressExService service;
    service.AddView(view);
    service.Start("outer", 1, "", 100);
    service.Start("inner", 1, "", 100);
  }
  EXPECT_THAT(view->Log, ElementsAre("add outer", "add inner", "close inner", "update outer",
                                     "close outer"));
}

TEST(ProgressExProcessWide, GuardsAndStaticCallsShareTheOneService) {
  auto view = std::make_shared<TRecordingView>();
  ProgressEx::AddView(view);
  {
    TProgressExLevel level("Recovering...", 2, "objects");
    EXPECT_TRUE(ProgressEx::DoProgress(1));
    ProgressEx::Cancel();
    EXPECT_TRUE(ProgressEx::IsCanceled());
    EXPECT_FALSE(ProgressEx::Detail(pdsInformation, "done"));
  }
  EXPECT_FALSE(ProgressEx::IsCanceled());
  ProgressEx::RemoveView(view);
  EXPECT_THAT(view->Log, ElementsAre("add Recovering...", "update Recovering...",
                                     "detail 0 done Recovering...", "close Recovering..."));
}

} // namespace
