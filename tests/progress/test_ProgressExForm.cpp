#include "progress/uProgressExForm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TQtEnvironment : public ::testing::Environment {
public:
  void SetUp() override { FApp = std::make_unique<QApplication>(FArgc, FArgv); }
  void TearDown() override { FApp.reset(); }

private:
  int FArgc = 1;
  char FName[16] = "progress_window";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

template <class TWidget>
TWidget& Child(QWidget& AForm, const char* AName) {
  auto* child = AForm.findChild<TWidget*>(QString::fromLatin1(AName));
  if (child == nullptr)
    throw std::logic_error(std::string("no widget ") + AName);
  return *child;
}

std::string Text(QWidget& AForm, const char* ALabelName) {
  return Child<QLabel>(AForm, ALabelName).text().toStdString();
}

// Every row as "title | status", indented by two blanks per level of
// nesting, with " | bold" while the row's level is open.
std::vector<std::string> Rows(QWidget& AForm) {
  std::vector<std::string> rows;
  for (QTreeWidgetItemIterator row(&Child<QTreeWidget>(AForm, "lvItems")); *row != nullptr; ++row) {
    std::string line;
    for (QTreeWidgetItem* up = (*row)->parent(); up != nullptr; up = up->parent())
      line += "  ";
    line += (*row)->text(0).toStdString() + " | " + (*row)->text(1).toStdString();
    if ((*row)->font(0).bold())
      line += " | bold";
    rows.push_back(line);
  }
  return rows;
}

// Drives one window straight from the service, without the view's habit of
// destroying the window when the outermost level closes, so that tests can
// read what the window shows afterwards.
class TFormDriver : public IProgressExView {
public:
  explicit TFormDriver(TProgressExForm& AForm) : FForm(AForm) {}
  void AddItem(IProgressExInfo& AItem) override { FForm.AddItem(AItem); }
  void UpdateItem(IProgressExInfo& AItem) override { FForm.UpdateItem(AItem); }
  void CloseItem(IProgressExInfo& AItem) override { FForm.CloseItem(AItem); }
  void Detail(IProgressExInfo& AItem, const std::string& AMessage,
              TProgressDetailStatus AStatus) override {
    FForm.Detail(AItem, AMessage, AStatus);
  }

private:
  TProgressExForm& FForm;
};

class ProgressFormTest : public ::testing::Test {
protected:
  TProgressExForm FForm{nullptr};
  std::int64_t FNow = 0;
  TProgressExService FService{[this] { return FNow; }};

  void SetUp() override {
    FForm.show();
    FService.AddView(std::make_shared<TFormDriver>(FForm));
  }

  void ClickCancel() { QTest::mouseClick(&Child<QPushButton>(FForm, "btnCancel"), Qt::LeftButton); }
  int Bar() { return Child<QProgressBar>(FForm, "pbProgress").value(); }
};

TEST_F(ProgressFormTest, StartsWaitingWithZeroTimes) {
  EXPECT_EQ(Text(FForm, "lblDetailMessage"), "Waiting...");
  EXPECT_EQ(Text(FForm, "lblElapsed"), "00:00:00");
  EXPECT_EQ(Text(FForm, "lblRest"), "00:00:00");
  EXPECT_EQ(Child<QPushButton>(FForm, "btnCancel").text(), "Cancel");
  EXPECT_THAT(Rows(FForm), IsEmpty());
}

TEST_F(ProgressFormTest, ScanOfThreeStepsListsEachStepBeneathTheScan) {
  FService.Start("Scanning...", 3, "", 100);
  EXPECT_THAT(Rows(FForm), ElementsAre("1. Scanning... ( 3 ) | in progress | bold"));

  const char* const steps[] = {"Reading records...", "Analyzing deleted files...", "Building tree..."};
  for (int step = 1; step <= 3; ++step) {
    FService.Start(steps[step - 1], 5, "objects", 100);
    EXPECT_EQ(Rows(FForm).back(),
              "  " + std::to_string(step) + ". " + steps[step - 1] + " ( 5 objects) | in progress | bold");
    EXPECT_EQ(Text(FForm, "lblDetailMessage"),
              std::to_string(step) + ". " + steps[step - 1] + " ( 5 objects)");
    FService.Close();
    EXPECT_EQ(Text(FForm, "lblDetailMessage"), steps[step - 1]);
    FService.DoProgress(step);
  }
  FService.Close();
  EXPECT_THAT(Rows(FForm), ElementsAre("1. Scanning... ( 3 ) | success",
                                       "  1. Reading records... ( 5 objects) | success",
                                       "  2. Analyzing deleted files... ( 5 objects) | success",
                                       "  3. Building tree... ( 5 objects) | success"));

  auto& list = Child<QTreeWidget>(FForm, "lvItems");
  QTreeWidgetItem* scan = list.topLevelItem(0);
  EXPECT_GT(list.visualItemRect(scan->child(0)).left(), list.visualItemRect(scan).left());
}

struct TSubCountCase {
  std::int64_t OuterCount;
  bool ChildListed;
};

class ProgressFormSubCountTest : public ProgressFormTest,
                                 public ::testing::WithParamInterface<TSubCountCase> {};

TEST_P(ProgressFormSubCountTest, ChildrenAreListedOnlyWhileOpenLevelsCountAtMostTwenty) {
  FService.Start("Recovering...", GetParam().OuterCount, "objects", 100);
  for (int file = 1; file <= 2; ++file) {
    FService.Start("Create file", 4096, "bytes", 100);
    FService.Close();
    FService.DoProgress(file);
  }
  EXPECT_EQ(Rows(FForm).size(), GetParam().ChildListed ? 3u : 1u);
  FService.Close();
}

INSTANTIATE_TEST_SUITE_P(OuterCounts, ProgressFormSubCountTest,
                         ::testing::Values(TSubCountCase{0, true}, TSubCountCase{12, true},
                                           TSubCountCase{20, true}, TSubCountCase{21, false},
                                           TSubCountCase{5000, false}));

TEST_F(ProgressFormTest, DeeperLevelsGetNoRowButShowTheirLine) {
  FService.Start("Recovering...", 1, "objects", 100);
  FService.Start("Create file /target/a.txt", 2, "bytes", 100);
  FService.Start("Reading runs", 7, "", 100);
  EXPECT_EQ(Text(FForm, "lblDetailMessage"), "1. Reading runs ( 7 )");
  EXPECT_EQ(Rows(FForm).size(), 2u);
  FService.Close();
  FService.Close();
  FService.Close();
}

struct TLineCase {
  const char* Title;
  std::int64_t Count;
  const char* Measure;
  const char* Line;
};

class ProgressFormLineTest : public ProgressFormTest,
                             public ::testing::WithParamInterface<TLineCase> {};

TEST_P(ProgressFormLineTest, LevelLine) {
  const TLineCase& c = GetParam();
  FService.Start("outer", 20, "", 100);
  FService.DoProgress(1); // the child becomes step 2
  FService.Start(c.Title, c.Count, c.Measure, 100);
  EXPECT_EQ(Text(FForm, "lblDetailMessage"), c.Line);
  FService.Close();
  FService.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressFormLineTest,
    ::testing::Values(
        TLineCase{"Analyzing deleted files...", 5000, "objects",
                  "2. Analyzing deleted files... ( 5000 objects)"},
        TLineCase{"Scanning...", 3, "", "2. Scanning... ( 3 )"},
        TLineCase{"Empty", 0, "objects", "2. Empty ( 1 objects)"},
        TLineCase{"Backwards", -4, "objects", "2. Backwards"},
        TLineCase{"Create file 100%1 %2.txt", 9, "bytes", "2. Create file 100%1 %2.txt ( 9 bytes)"}));

TEST_F(ProgressFormTest, LongPathsAreShortenedInTheMiddle) {
  const std::string path = "Create file /media/backup/" + std::string(300, 'x') + "/report.odt";
  FService.Start(path, 1, "", 100);
  const QString shown = Child<QLabel>(FForm, "lblDetailMessage").text();
  EXPECT_TRUE(shown.startsWith("1. Create file /media")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("report.odt ( 1 )")) << shown.toStdString();
  EXPECT_LT(shown.size(), 200);
  EXPECT_EQ(Child<QLabel>(FForm, "lblDetailMessage").toolTip().toStdString(),
            "1. " + path + " ( 1 )");
  FService.Close();
}

TEST_F(ProgressFormTest, BarAndTimesFollowTheListedLevel) {
  FService.Start("Scanning...", 40, "", 100);
  FNow += 3'725'000;
  FService.DoProgress(20);
  EXPECT_EQ(Bar(), 500);
  EXPECT_EQ(Text(FForm, "lblElapsed"), "01:02:05");
  EXPECT_EQ(Text(FForm, "lblRest"), "01:02:05");

  // Forty open units leave the child without a row: it moves neither the
  // bar nor the times.
  FService.Start("child", 4, "", 100);
  FNow += 10'000;
  FService.DoProgress(4);
  EXPECT_EQ(Bar(), 500);
  EXPECT_EQ(Text(FForm, "lblElapsed"), "01:02:05");
  FService.Close();
  FService.Close();
}

struct TBarCase {
  const char* Name;
  std::int64_t Count;
  std::int64_t Done;
  int Bar;
};

class ProgressFormBarTest : public ProgressFormTest,
                            public ::testing::WithParamInterface<TBarCase> {};

TEST_P(ProgressFormBarTest, BarPositionAtClose) {
  FService.Start("level", GetParam().Count, "", 100);
  FService.DoProgress(GetParam().Done);
  FService.Close(); // the closing level refreshes the figures
  EXPECT_EQ(Bar(), GetParam().Bar);
}

INSTANTIATE_TEST_SUITE_P(Positions, ProgressFormBarTest,
                         ::testing::Values(TBarCase{"eighth", 8, 1, 125},
                                           TBarCase{"halfRoundsToEvenDown", 400, 1, 2},  // 2.5
                                           TBarCase{"halfRoundsToEvenUp", 400, 3, 8},    // 7.5
                                           TBarCase{"full", 7, 7, 1000},
                                           TBarCase{"beyondCountStaysFull", 2, 3, 1000},
                                           TBarCase{"negativeStaysEmpty", 2, -1, 0}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(ProgressTimeText, HoursMinutesSeconds) {
  EXPECT_EQ(ProgressTimeText(0).toStdString(), "00:00:00");
  EXPECT_EQ(ProgressTimeText(3725).toStdString(), "01:02:05");
  EXPECT_EQ(ProgressTimeText(360000).toStdString(), "100:00:00");
  EXPECT_EQ(ProgressTimeText(-5).toStdString(), "00:00:-05"); // remaining time is not clamped
}

TEST_F(ProgressFormTest, CancelClickedCancelsTheInnermostLevelAtItsNextReport) {
  FService.Start("Recovering...", 2, "objects", 100);
  FService.Start("Create file", 1000, "bytes", 100);
  EXPECT_TRUE(FService.DoProgress(10));
  ClickCancel();
  EXPECT_FALSE(FService.IsCanceled()); // nothing happens until the next report
  EXPECT_TRUE(FService.DoProgress(20)); // that report cancels; its own result was taken before
  EXPECT_FALSE(FService.DoProgress(30));
  FService.Close();
  EXPECT_FALSE(FService.DoProgress(1)); // the cancel travelled outward
  FService.Close();
  EXPECT_THAT(Rows(FForm), ElementsAre("1. Recovering... ( 2 objects) | canceled",
                                       "  1. Create file ( 1000 bytes) | canceled"));
}

TEST_F(ProgressFormTest, CancelStaysInForceForEveryLaterReportOfTheWindow) {
  FService.Start("Recovering...", 3, "objects", 100);
  ClickCancel();
  EXPECT_FALSE(FService.Detail(pdsInformation, "file 1"));
  // An operation that ignores the answer and opens another level finds it
  // canceled at its first report.
  FService.Start("Create file", 1, "bytes", 100);
  EXPECT_FALSE(FService.IsCanceled());
  EXPECT_FALSE(FService.Detail(pdsWarning, "short read"));
  FService.Close();
  FService.Close();
  EXPECT_THAT(Rows(FForm), ElementsAre("1. Recovering... ( 3 objects) | canceled",
                                       "  1. Create file ( 1 bytes) | canceled"));
}

class ProgressWindowViewTest : public ::testing::Test {
protected:
  QWidget FAnchor;
  std::int64_t FNow = 0;
  TProgressExService FService{[this] { return FNow; }};
  std::shared_ptr<TProgressExFormView> FView = std::make_shared<TProgressExFormView>();

  void SetUp() override {
    FAnchor.setGeometry(200, 150, 800, 600);
    FAnchor.show();
    FView->SetAnchor(&FAnchor);
    FService.AddView(FView);
  }

  // Presses Cancel the way the user does: the press and release wait in the
  // queue until a notification pumps it.
  static void QueueCancelClick(TProgressExForm& AForm) {
    auto& button = Child<QPushButton>(AForm, "btnCancel");
    const QPointF centre = QRectF(button.rect()).center();
    const QPointF global = button.mapToGlobal(centre);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
      QCoreApplication::postEvent(&button, new QMouseEvent(type, centre, global, Qt::LeftButton,
                                                           type == QEvent::MouseButtonPress
                                                               ? Qt::LeftButton
                                                               : Qt::NoButton,
                                                           Qt::NoModifier));
  }
};

TEST_F(ProgressWindowViewTest, WindowLivesFromTheOutermostLevelToItsClose) {
  EXPECT_EQ(FView->Form(), nullptr);
  FService.Start("Scanning...", 3, "", 100);
  QPointer<TProgressExForm> first = FView->Form();
  ASSERT_FALSE(first.isNull());
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->size(), QSize(565, 175));
  EXPECT_EQ(first->geometry().center(), FAnchor.frameGeometry().center());
  EXPECT_TRUE(first->windowFlags().testFlag(Qt::FramelessWindowHint));

  FService.Start("Reading records...", 10, "records", 100);
  FService.Close();
  EXPECT_EQ(FView->Form(), first.data());
  FService.Close();
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(FView->Form(), nullptr);
}

TEST_F(ProgressWindowViewTest, CancelPumpedDuringALoopTravelsOutAndTheNextWindowStartsClean) {
  FService.Start("Recovering...", 2, "objects", 100);
  FService.Start("Create file", 1000, "bytes", 100);
  QueueCancelClick(*FView->Form());
  std::int64_t stoppedAt = 0;
  for (std::int64_t done = 1; done <= 1000; ++done)
    if (!FService.DoProgress(done)) {
      stoppedAt = done;
      break;
    }
  // The click is heard in the first update (at 5 bytes), and the report after it stops.
  EXPECT_EQ(stoppedAt, 6);
  FService.Close();
  EXPECT_TRUE(FService.IsCanceled());
  EXPECT_THAT(Rows(*FView->Form()), ElementsAre("1. Recovering... ( 2 objects) | in progress | bold",
                                                "  1. Create file ( 1000 bytes) | canceled"));
  FService.Close();

  FService.Start("Recovering...", 2, "objects", 100);
  EXPECT_THAT(Rows(*FView->Form()),
              ElementsAre("1. Recovering... ( 2 objects) | in progress | bold"));
  for (std::int64_t done = 1; done <= 2; ++done)
    EXPECT_TRUE(FService.DoProgress(done));
  FService.Close();
}

TEST(ProgressWindowRegistration, ShowsTheWindowForProcessWideLevelsWhileRegistered) {
  QWidget anchor;
  anchor.setGeometry(0, 0, 1000, 700);
  anchor.show();
  {
    TProgressExFormRegistration registration(&anchor);
    TProgressExLevel level("Scanning...", 3, "");
    ASSERT_NE(registration.View().Form(), nullptr);
    EXPECT_EQ(registration.View().Form()->geometry().center(), anchor.frameGeometry().center());
  }
  TProgressExLevel level("Scanning...", 3, "");
  for (QWidget* window : QApplication::topLevelWidgets())
    EXPECT_EQ(qobject_cast<TProgressExForm*>(window), nullptr);
}

} // namespace
