#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include <QEvent>

#include <gtest/gtest.h>

#include "wizard/uWizardMain.h"

// The wizard's sequencing without a display: stub pages write every hook
// they hear into one journal, a fake view records what the window shows.

namespace {

using TJournal = std::vector<std::string>;

struct TPageAnswers {
  bool Suitable = true;
  bool AllowNext = true;
  bool AllowPrevious = true;
  bool RefuseEnter = false;
  bool RefuseExit = false;
  bool Listens = false;
  bool Logo = false;
  const char* ThrowIn = "";  // the hook that raises, if any
};

class TStubPage : public IWizardPage {
public:
  TStubPage(std::string AName, TJournal& AJournal, TPageAnswers AAnswers)
      : Answers(std::move(AAnswers)), FName(std::move(AName)), FJournal(AJournal) {}

  void WizardRun(IWizardApplication*) override { Note("WizardRun"); }
  void WizardStop(IWizardApplication*) override { Note("WizardStop"); }
  bool GetLogoVisible() override { return Answers.Logo; }
  bool IsSuitable() override { return Answers.Suitable; }
  bool GetAllowNext() override { return Answers.AllowNext; }
  bool GetAllowPrevious() override { return Answers.AllowPrevious; }
  void PageBeforeEnter(bool AForward, bool& AllowEnter) override {
    Note("BeforeEnter", AForward);
    if (Answers.RefuseEnter)
      AllowEnter = false;
  }
  void PageAfterEnter(bool AForward) override { Note("AfterEnter", AForward); }
  void PageBeforeExit(bool AForward, bool& AllowExit) override {
    Note("BeforeExit", AForward);
    if (OnBeforeExit)
      OnBeforeExit();
    if (Answers.RefuseExit)
      AllowExit = false;
  }
  void PageAfterExit(bool AForward) override { Note("AfterExit", AForward); }
  QString GetTitle() override { return QString::fromStdString(FName + " title"); }
  QString GetDescription() override { return QString::fromStdString(FName + " description"); }
  QWidget* GetControl() override { return Control; }
  bool NeedToListenMessages() override { return Answers.Listens; }
  void ListenWizardMessage(QEvent& Message) override {
    Note("Message " + std::to_string(Message.type()));
  }

  TPageAnswers Answers;
  QWidget* Control = nullptr;
  std::function<void()> OnBeforeExit;

private:
  void Note(const std::string& AHook, std::optional<bool> AForward = std::nullopt) {
    std::string Entry = FName + "." + AHook;
    if (AForward)
      Entry += *AForward ? "(fwd)" : "(back)";
    FJournal.push_back(Entry);
    if (AHook == Answers.ThrowIn)
      throw std::runtime_error(FName + " failed in " + AHook);
  }

  std::string FName;
  TJournal& FJournal;
};

// A wizard whose view is a handful of recorded values.
class TRecordingWizard : public TWizardSequence {
public:
  ~TRecordingWizard() override { TearDown(); }
  using TWizardSequence::TearDown;

  QString Title, Description, NextHint = "initial next hint", PrevHint = "initial back hint";
  bool LogoVisible = true, BottomEnabled = false, NextEnabled = false, PrevEnabled = false;
  int BusyDepth = 0;
  int ProcessedMessages = 0;
  std::vector<QWidget*> ShownControls;
  std::function<void()> OnProcessMessages;

protected:
  void SetPageTexts(const QString& ATitle, const QString& ADescription) override {
    Title = ATitle;
    Description = ADescription;
  }
  void PlacePageControl(QWidget* AControl) override { ShownControls.push_back(AControl); }
  void RemovePageControl(QWidget* AControl) override { std::erase(ShownControls, AControl); }
  void SetLogoVisible(bool AVisible) override { LogoVisible = AVisible; }
  void SetBottomPanelEnabled(bool AEnabled) override { BottomEnabled = AEnabled; }
  void SetNextEnabled(bool AEnabled) override { NextEnabled = AEnabled; }
  void SetPrevEnabled(bool AEnabled) override { PrevEnabled = AEnabled; }
  void SetNextHint(const QString& AHint) override { NextHint = AHint; }
  void SetPrevHint(const QString& AHint) override { PrevHint = AHint; }
  void SetBusyCursor(bool ABusy) override { BusyDepth += ABusy ? 1 : -1; }
  void ProcessMessages() override {
    ++ProcessedMessages;
    if (OnProcessMessages)
      OnProcessMessages();
  }
};

class WizardSequence : public testing::Test {
protected:
  TStubPage& Add(const std::string& AName, TPageAnswers AAnswers = {}) {
    auto Page = std::make_unique<TStubPage>(AName, Journal, std::move(AAnswers));
    TStubPage& Added = *Page;
    Wizard.AddPage(std::move(Page));
    return Added;
  }
  // The journal from here on.
  TJournal Since(std::size_t AMark) const {
    return TJournal(Journal.begin() + static_cast<std::ptrdiff_t>(AMark), Journal.end());
  }

  TJournal Journal;
  TRecordingWizard Wizard;
};

TEST_F(WizardSequence, WithoutASuitablePageNothingIsCurrentAndOnlyExitWorks) {
  for (const int PageCount : {0, 2}) {
    SCOPED_TRACE(PageCount);
    TJournal Log;
    TRecordingWizard Empty;
    for (int I = 0; I < PageCount; ++I) {
      auto Page = std::make_unique<TStubPage>("P" + std::to_string(I), Log,
                                              TPageAnswers{.Suitable = false});
      Empty.AddPage(std::move(Page));
    }
    Empty.Run();
    Empty.GoNextPage();
    Empty.GoPreviousPage();
    EXPECT_EQ(Empty.CurrentPage(), nullptr);
    EXPECT_FALSE(Empty.NextEnabled);
    EXPECT_FALSE(Empty.PrevEnabled);
    EXPECT_TRUE(Empty.BottomEnabled) << "Exit lives in the bottom panel";
    EXPECT_TRUE(Empty.IsRunning());
    if (PageCount) {
      EXPECT_EQ(Log, (TJournal{"P0.WizardRun", "P1.WizardRun"}));
    }
  }
}

TEST_F(WizardSequence, RunEntersTheFirstSuitablePageWhichCannotRefuse) {
  Add("A", {.Suitable = false});
  TStubPage& B = Add("B", {.RefuseEnter = true, .Logo = true});
  Add("C");
  QWidget* const BControl = reinterpret_cast<QWidget*>(&B);  // never dereferenced
  B.Control = BControl;
  Wizard.Run();

  EXPECT_EQ(Journal, (TJournal{"A.WizardRun", "B.WizardRun", "C.WizardRun", "B.BeforeEnter(fwd)",
                               "B.AfterEnter(fwd)"}));
  EXPECT_EQ(Wizard.CurrentPage(), &B);
  EXPECT_EQ(Wizard.Title, "B title");
  EXPECT_EQ(Wizard.Description, "B description");
  EXPECT_EQ(Wizard.ShownControls, std::vector<QWidget*>{BControl});
  EXPECT_TRUE(Wizard.LogoVisible);
  EXPECT_TRUE(Wizard.NextEnabled);
  EXPECT_FALSE(Wizard.PrevEnabled) << "no earlier suitable page, whatever B answers";
}

TEST_F(WizardSequence, MovesRunTheHooksAroundEveryMoveAndSkipUnsuitablePages) {
  Add("A");
  Add("B", {.Suitable = false});
  TStubPage& C = Add("C", {.AllowNext = true});
  Wizard.Run();

  std::size_t Mark = Journal.size();
  Wizard.GoNextPage();
  EXPECT_EQ(Since(Mark),
            (TJournal{"A.BeforeExit(fwd)", "C.BeforeEnter(fwd)", "A.AfterExit(fwd)", "C.AfterEnter(fwd)"}));
  EXPECT_EQ(Wizard.CurrentPage(), &C);
  EXPECT_FALSE(Wizard.NextEnabled) << "C is last, whatever it answers";
  EXPECT_TRUE(Wizard.PrevEnabled);

  Mark = Journal.size();
  Wizard.GoPreviousPage();
  EXPECT_EQ(Since(Mark), (TJournal{"C.BeforeExit(back)", "A.BeforeEnter(back)", "C.AfterExit(back)",
                                   "A.AfterEnter(back)"}));
  Wizard.GoNextPage();
  Wizard.Stop();
  EXPECT_EQ(std::count_if(Journal.begin(), Journal.end(),
                          [](const std::string& E) { return E.starts_with("B."); }),
            2)
      << "B hears WizardRun and WizardStop only";
  EXPECT_EQ(Wizard.BusyDepth, 0);
}

TEST_F(WizardSequence, AnswersOfTheCurrentPageGateTheButtons) {
  TStubPage& A = Add("A", {.AllowNext = false});
  Add("B", {.AllowPrevious = false});
  Wizard.Run();
  EXPECT_FALSE(Wizard.NextEnabled);
  Wizard.GoNextPage();
  EXPECT_EQ(Wizard.CurrentPage(), &A) << "a refused Next is not a move";

  A.Answers.AllowNext = true;
  Wizard.UpdateStatus();
  EXPECT_TRUE(Wizard.NextEnabled);
  Wizard.GoNextPage();
  EXPECT_FALSE(Wizard.PrevEnabled);
  Wizard.GoPreviousPage();
  EXPECT_NE(Wizard.CurrentPage(), &A);
}

struct TVetoCase {
  const char* Name;
  TPageAnswers From, To;
  TJournal Expected;
};

TEST_F(WizardSequence, AVetoEndsTheMoveWithoutAChangeOfPage) {
  const std::vector<TVetoCase> Cases = {
      {"current refuses exit", {.RefuseExit = true}, {}, {"A.BeforeExit(fwd)"}},
      {"target refuses entry", {}, {.RefuseEnter = true}, {"A.BeforeExit(fwd)", "B.BeforeEnter(fwd)"}},
  };
  for (const TVetoCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TJournal Log;
    TRecordingWizard Vetoed;
    auto First = std::make_unique<TStubPage>("A", Log, Case.From);
    TStubPage* A = First.get();
    Vetoed.AddPage(std::move(First));
    Vetoed.AddPage(std::make_unique<TStubPage>("B", Log, Case.To));
    Vetoed.AddPage(std::make_unique<TStubPage>("C", Log, TPageAnswers{}));
    Vetoed.Run();
    Log.clear();
    Vetoed.NextHint = "stale";

    Vetoed.GoNextPage();
    EXPECT_EQ(Log, Case.Expected);
    EXPECT_EQ(Vetoed.CurrentPage(), A);
    EXPECT_FALSE(Vetoed.IsChangingPage());
    EXPECT_TRUE(Vetoed.NextEnabled) << "buttons are re-evaluated after a veto";
    EXPECT_TRUE(Vetoed.BottomEnabled);
    EXPECT_EQ(Vetoed.NextHint, "B description") << "hints too";
  }
}

TEST_F(WizardSequence, AnExceptionInAHookEndsTheMoveButLeavesTheMoveButtonsDisabled) {
  const std::vector<std::pair<std::string, bool>> Cases = {
      // hook that raises, whether the target is current afterwards
      {"BeforeExit", false}, {"BeforeEnter", false}, {"AfterExit", false}, {"AfterEnter", true}};
  for (const auto& [Hook, TargetIsCurrent] : Cases) {
    SCOPED_TRACE(Hook);
    TJournal Log;
    TRecordingWizard Failing;
    const bool OnTarget = Hook.find("Enter") != std::string::npos;
    auto A = std::make_unique<TStubPage>("A", Log, TPageAnswers{.ThrowIn = OnTarget ? "" : Hook.c_str()});
    auto B = std::make_unique<TStubPage>("B", Log, TPageAnswers{.ThrowIn = OnTarget ? Hook.c_str() : ""});
    IWizardPage* Target = B.get();
    Failing.AddPage(std::move(A));
    Failing.AddPage(std::move(B));
    Failing.Run();
    Failing.NextHint = "kept";

    EXPECT_THROW(Failing.GoNextPage(), std::runtime_error);
    EXPECT_FALSE(Failing.IsChangingPage());
    EXPECT_EQ(Failing.BusyDepth, 0) << "the cursor is back to normal";
    EXPECT_FALSE(Failing.NextEnabled);
    EXPECT_FALSE(Failing.PrevEnabled);
    EXPECT_EQ(Failing.NextHint, "kept") << "no hints after a failed move";
    EXPECT_EQ(Failing.CurrentPage() == Target, TargetIsCurrent);

    Failing.UpdateStatus();
    EXPECT_TRUE(Failing.BottomEnabled);
    EXPECT_TRUE(Failing.CurrentPage() == Target ? Failing.PrevEnabled : Failing.NextEnabled)
        << "the next UpdateStatus brings the buttons back";
  }
}

TEST_F(WizardSequence, HintsNameTheNeighboursAndTheLastPageKeepsTheOldNextHint) {
  Add("A");
  Add("B");
  Add("X", {.Suitable = false});
  Add("C");
  Wizard.Run();
  EXPECT_EQ(Wizard.NextHint, "B description");
  EXPECT_EQ(Wizard.PrevHint, "initial back hint");
  Wizard.GoNextPage();
  EXPECT_EQ(Wizard.NextHint, "C description");
  EXPECT_EQ(Wizard.PrevHint, "A description");
  Wizard.GoNextPage();
  EXPECT_EQ(Wizard.NextHint, "C description") << "nothing follows C";
  EXPECT_EQ(Wizard.PrevHint, "B description");
}

TEST_F(WizardSequence, StopReachesThePagesLastAddedFirstAndKeepsTheCurrentPage) {
  Add("A");
  Add("B");
  Add("C");
  Wizard.Run();
  const std::size_t Mark = Journal.size();
  Wizard.Stop();
  EXPECT_EQ(Since(Mark), (TJournal{"C.WizardStop", "B.WizardStop", "A.WizardStop"}));
  EXPECT_FALSE(Wizard.IsRunning());
  EXPECT_NE(Wizard.CurrentPage(), nullptr);
}

TEST_F(WizardSequence, MessagesReachListeningPagesOnlyWhileTheWizardRuns) {
  Add("L", {.Listens = true});
  TStubPage& Deaf = Add("D");
  Deaf.Answers.Listens = true;  // asked once, when added: too late now
  QEvent Message(QEvent::User);
  const std::string Heard = "L.Message " + std::to_string(QEvent::User);

  Wizard.OfferMessage(Message);
  Wizard.OnProcessMessages = [&] { Wizard.OfferMessage(Message); };
  Wizard.Run();  // shows the page, which processes messages before Run ends
  Wizard.OnProcessMessages = nullptr;
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), Heard), 0);

  Wizard.OfferMessage(Message);
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), Heard), 1);
  Wizard.Stop();
  Wizard.OfferMessage(Message);
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), Heard), 1);
  EXPECT_EQ(std::count(Journal.begin(), Journal.end(), "D.Message " + std::to_string(QEvent::User)), 0);
}

TEST_F(WizardSequence, MovesRequestedDuringAMoveDoNothing) {
  TStubPage& A = Add("A");
  Add("B");
  Add("C");
  Wizard.Run();
  A.OnBeforeExit = [&] {
    Wizard.UpdateStatus();
    EXPECT_FALSE(Wizard.BottomEnabled) << "a page's UpdateStatus keeps the panel disabled";
    EXPECT_FALSE(Wizard.NextEnabled);
    Wizard.GoNextPage();
    Wizard.GoPreviousPage();
  };
  const std::size_t Mark = Journal.size();
  Wizard.GoNextPage();
  EXPECT_EQ(Since(Mark),
            (TJournal{"A.BeforeExit(fwd)", "B.BeforeEnter(fwd)", "A.AfterExit(fwd)", "B.AfterEnter(fwd)"}));
}

TEST_F(WizardSequence, ATargetThatTurnsUnsuitableWhileMessagesArePumpedEndsTheMove) {
  TStubPage& A = Add("A");
  TStubPage& B = Add("B");
  Wizard.Run();
  Wizard.OnProcessMessages = [&] { B.Answers.Suitable = false; };
  const std::size_t Mark = Journal.size();
  Wizard.GoNextPage();
  EXPECT_TRUE(Since(Mark).empty());
  EXPECT_EQ(Wizard.CurrentPage(), &A);
  EXPECT_FALSE(Wizard.NextEnabled);
}

TEST_F(WizardSequence, TearDownStopsThePagesAndHidesTheShownControlButKeepsTheTexts) {
  TStubPage& A = Add("A");
  A.Control = reinterpret_cast<QWidget*>(&A);
  Wizard.Run();
  const int Processed = Wizard.ProcessedMessages;
  Wizard.TearDown();
  EXPECT_EQ(Journal.back(), "A.WizardStop");
  EXPECT_TRUE(Wizard.ShownControls.empty());
  EXPECT_EQ(Wizard.Title, "A title");
  EXPECT_EQ(Wizard.ProcessedMessages, Processed) << "nothing is pumped into a dying window";
  EXPECT_EQ(Wizard.CurrentPage(), nullptr);
}

}  // namespace
