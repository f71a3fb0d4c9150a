#include "progress/uProgress.h"

#include "tests/support/uRecordingProgress.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using testfiles::TRecordingProgress;

class MultiProgressTest : public ::testing::Test {
protected:
  std::vector<std::string> FLog;
  std::map<char, IProgressPtr> FMembers = {
      {'A', std::make_shared<TRecordingProgress>("A", FLog)},
      {'B', std::make_shared<TRecordingProgress>("B", FLog)},
      {'C', std::make_shared<TRecordingProgress>("C", FLog)},
  };

  std::vector<IProgressPtr> Members(const std::string& ANames) {
    std::vector<IProgressPtr> Result;
    for (char Name : ANames)
      Result.push_back(FMembers.at(Name));
    return Result;
  }

  // Who receives a forwarded call, in order: "AB".
  std::string Receivers(IProgress& AProgress) {
    FLog.clear();
    AProgress.ShowMessage("x");
    std::string Names;
    for (const std::string& Line : FLog)
      Names += Line.front();
    return Names;
  }
};

TEST_F(MultiProgressTest, MembershipFollowsAddRemoveAndRemoveAll) {
  // Operations: "+XY" adds X and Y in one call, "-XY" removes them, "*" removes all.
  struct TCase {
    const char* Created;
    std::vector<std::string> Operations;
    const char* Expected;
  };
  const TCase Cases[] = {
      {"", {}, ""},
      {"AAB", {}, "AB"},
      {"", {"+A", "+A"}, "A"},
      {"", {"+AA"}, "A"},
      {"", {"+BA", "+CA"}, "BAC"},
      {"A", {"+B", "-A"}, "B"},
      {"AB", {"-C"}, "AB"},
      {"AB", {"-AA"}, "B"},
      {"ABC", {"*"}, ""},
      {"ABC", {"*", "+C"}, "C"},
  };
  for (const TCase& Case : Cases) {
    TMultiProgress Progress(Members(Case.Created));
    for (const std::string& Operation : Case.Operations) {
      const std::string Names = Operation.substr(1);
      switch (Operation.front()) {
        case '+': Progress.Add(Members(Names)); break;
        case '-': Progress.Remove(Members(Names)); break;
        default: Progress.RemoveAll();
      }
    }
    EXPECT_EQ(Receivers(Progress), Case.Expected) << "created with " << Case.Created;
  }
}

TEST_F(MultiProgressTest, CancelIsAskedInOrderUntilTheFirstYes) {
  struct TCase {
    std::vector<bool> Answers;
    bool Expected;
    std::size_t Asked;
  };
  const TCase Cases[] = {
      {{}, false, 0},
      {{false, false}, false, 2},
      {{false, true}, true, 2},
      {{true, false}, true, 1},
      {{false, true, true}, true, 2},
  };
  for (const TCase& Case : Cases) {
    FLog.clear();
    TMultiProgress Progress;
    for (std::size_t i = 0; i < Case.Answers.size(); ++i)
      Progress.Add({std::make_shared<TRecordingProgress>(std::to_string(i), FLog, Case.Answers[i])});
    EXPECT_EQ(Progress.IsCanceled(), Case.Expected);
    EXPECT_EQ(FLog.size(), Case.Asked);
  }
}

TEST_F(MultiProgressTest, ForwardsEveryCallWithItsArgumentsToEveryMember) {
  TMultiProgress Progress(Members("AB"));
  Progress.StartProgress("Adding files...", 100);
  Progress.DoProgress(42);
  Progress.ShowError("broken");
  Progress.CloseProgress();
  EXPECT_THAT(FLog, ElementsAre("A: start Adding files... 100", "B: start Adding files... 100",
                                "A: do 42", "B: do 42", "A: error broken", "B: error broken",
                                "A: close", "B: close"));
}

TEST_F(MultiProgressTest, DestructionClosesOneStepOnTheMembers) {
  {
    TMultiProgress Progress(Members("AB"));
    Progress.StartProgress("one", 0);
    FLog.clear();
  }
  EXPECT_THAT(FLog, ElementsAre("A: close", "B: close"));
}

TEST_F(MultiProgressTest, AMemberMayLeaveWhileItIsBeingTold) {
  TMultiProgress Progress(Members("AB"));
  auto& First = dynamic_cast<TRecordingProgress&>(*FMembers['A']);
  First.OnMessage = [&] { Progress.Remove(Members("A")); };
  EXPECT_EQ(Receivers(Progress), "AB");
  EXPECT_EQ(Receivers(Progress), "B");
}

TEST(NullProgressTest, CountsOpenStepsAndNeverGoesBelowZero) {
  TNullProgress Progress;
  Progress.CloseProgress();
  EXPECT_EQ(Progress.Level(), 0);
  Progress.StartProgress("a", 1);
  Progress.StartProgress("b", 1);
  Progress.CloseProgress();
  EXPECT_EQ(Progress.Level(), 1);
  EXPECT_FALSE(Progress.IsCanceled());
}

TEST(NullProgressTest, StepClosesOnEveryWayOut) {
  TNullProgress Progress;
  try {
    TProgressStep Step(Progress, "Adding files...", 100);
    EXPECT_EQ(Progress.Level(), 1);
    throw std::runtime_error("failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Progress.Level(), 0);
}

TEST(MultiProgressGlobalTest, IsOneEmptyFanOutThatNeverCancels) {
  const IMultiProgressPtr Progress = GetMultiProgress();
  EXPECT_EQ(Progress, GetMultiProgress());
  EXPECT_FALSE(Progress->IsCanceled());
}

} // namespace
