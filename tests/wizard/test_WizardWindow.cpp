#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "tests/support/QtTestMain.h"
#include "wizard/uWizardMain.h"

// The wizard window driven through its real buttons, with pages built on
// TWizardPage as the program's pages are.

namespace {

const QEvent::Type DeviceChange = static_cast<QEvent::Type>(QEvent::User + 7);

class TTestPage : public TWizardPage {
public:
  TTestPage(QString AName, std::vector<QString>& AHeard, bool AListens = false)
      : FName(std::move(AName)), FHeard(AHeard), FListens(AListens) {
    Field = new QLineEdit(this);
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(Field);
  }
  QString GetTitle() override { return FName; }
  QString GetDescription() override { return FName + " step"; }
  bool GetAllowNext() override { return true; }
  bool GetLogoVisible() override { return Logo; }
  bool NeedToListenMessages() override { return FListens; }
  void ListenWizardMessage(QEvent& Message) override {
    if (Message.type() == DeviceChange)
      FHeard.push_back(FName);
  }
  void PageBeforeExit(bool AForward, bool& AllowExit) override {
    TWizardPage::PageBeforeExit(AForward, AllowExit);
    if (FailOnExit)
      throw std::runtime_error("cannot leave " + FName.toStdString());
  }
  void WizardStop(IWizardApplication* AApp) override {
    TWizardPage::WizardStop(AApp);
    FHeard.push_back(FName + " stopped");
  }

  QLineEdit* Field = nullptr;
  bool Logo = false;
  bool FailOnExit = false;

private:
  QString FName;
  std::vector<QString>& FHeard;
  bool FListens;
};

// Exposes the view to the test only through the widgets, found by name.
class TTestWizard : public TWizardMain {
public:
  using TWizardMain::TWizardMain;
  template <typename TWidget>
  TWidget* Find(const char* AName) {
    auto* Widget = findChild<TWidget*>(QLatin1String(AName));
    EXPECT_NE(Widget, nullptr) << AName;
    return Widget;
  }
};

class WizardWindow : public testing::Test {
protected:
  TTestPage* Add(const QString& AName, bool AListens = false) {
    auto Page = std::make_unique<TTestPage>(AName, Heard, AListens);
    TTestPage* Added = Page.get();
    Wizard->AddPage(std::move(Page));
    return Added;
  }
  void Show() {
    Wizard->Run();
    Wizard->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Wizard.get()));
    QApplication::setActiveWindow(Wizard.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Wizard.get()));
  }
  QPushButton* Button(const char* AName) { return Wizard->Find<QPushButton>(AName); }
  void Click(const char* AName) { QTest::mouseClick(Button(AName), Qt::LeftButton); }
  std::vector<QWidget*> VisiblePageControls() {
    std::vector<QWidget*> Visible;
    for (QWidget* Child : Wizard->Find<QFrame>("pnlClient")->findChildren<QWidget*>(
             QString(), Qt::FindDirectChildrenOnly))
      if (Child->isVisible())
        Visible.push_back(Child);
    return Visible;
  }

  std::vector<QString> Heard;
  std::unique_ptr<TTestWizard> Wizard = std::make_unique<TTestWizard>();
};

TEST_F(WizardWindow, LayoutCaptionsAndHintsOfAFreshWindow) {
  EXPECT_EQ(Wizard->minimumSize(), QSize(655, 555));
  const std::vector<std::array<QString, 3>> Buttons = {
      {"btnPrev", "  &Back", "Click to return to the previous step."},
      {"btnNext", "&Next  ", "Click to go next"},
      {"btnExit", "  E&xit", "Click to exit from application."}};
  for (const auto& [Name, Caption, Hint] : Buttons) {
    QPushButton* B = Button(Name.toLatin1().constData());
    EXPECT_EQ(B->text(), Caption);
    EXPECT_EQ(B->toolTip(), Hint);
    EXPECT_EQ(B->size(), QSize(100, 26));
  }
  EXPECT_EQ(Wizard->Find<QFrame>("pnlTopMain")->height(), 67);
  EXPECT_EQ(Wizard->Find<QFrame>("pnlBottomMain")->height(), 57);
  EXPECT_EQ(Wizard->Find<QFrame>("pnlLogo")->width(), 152);
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_FALSE(Button("btnPrev")->isEnabled());
}

// The logo panel shows the desktop icon: the platter's hub and the green
// disc of the arrow where app/tarnwick.svg puts them.
TEST_F(WizardWindow, TheLogoIsTheDesktopIcon) {
  const QImage Logo = Wizard->Find<QLabel>("imgPageImage")->pixmap().toImage();
  ASSERT_EQ(Logo.size(), QSize(128, 128));
  EXPECT_EQ(Logo.pixelColor(56, 56).name(), "#e8eef5");
  EXPECT_EQ(Logo.pixelColor(85, 110).name(), "#2ea045");
  EXPECT_EQ(Logo.pixelColor(100, 105).name(), "#ffffff") << "the arrow";
  EXPECT_EQ(Logo.pixelColor(2, 126).alpha(), 0);
}

TEST_F(WizardWindow, WithoutPagesOnlyExitWorksAndEscapePressesIt) {
  Show();
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_FALSE(Button("btnPrev")->isEnabled());
  EXPECT_TRUE(Button("btnExit")->isEnabled());
  QTest::keyClick(Wizard.get(), Qt::Key_Escape);
  EXPECT_FALSE(Wizard->isVisible());
}

TEST_F(WizardWindow, ButtonsMoveThroughThePagesShowingOnePageAtATime) {
  TTestPage* First = Add("First");
  TTestPage* Second = Add("Second");
  First->Logo = true;
  Show();
  EXPECT_EQ(VisiblePageControls(), std::vector<QWidget*>{First});
  EXPECT_TRUE(Wizard->Find<QFrame>("pnlLogo")->isVisible());
  EXPECT_TRUE(First->IsActive());
  EXPECT_EQ(First->App(), Wizard.get());
  EXPECT_EQ(QApplication::focusWidget(), First->Field) << "the page's first field takes the focus";

  Click("btnNext");
  EXPECT_EQ(VisiblePageControls(), std::vector<QWidget*>{Second});
  EXPECT_EQ(Wizard->Find<QLabel>("lblPageTitle")->text(), "Second");
  EXPECT_EQ(Wizard->Find<QLabel>("lblPageDescription")->text(), "Second step");
  EXPECT_FALSE(Wizard->Find<QFrame>("pnlLogo")->isVisible());
  EXPECT_FALSE(First->IsActive());
  EXPECT_TRUE(Second->IsActive());
  EXPECT_EQ(Button("btnPrev")->toolTip(), "First step");
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The Back accelerator presses the button as a short animated click.
  QTest::keyClick(Wizard.get(), Qt::Key_B, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return First->IsActive(); }));
  EXPECT_EQ(VisiblePageControls(), std::vector<QWidget*>{First});
  EXPECT_EQ(Button("btnNext")->toolTip(), "Second step");
}

TEST_F(WizardWindow, AFailedMoveLeavesExitUsableAndTheMoveButtonsDisabled) {
  TTestPage* First = Add("First");
  Add("Second");
  Show();
  First->FailOnExit = true;
  std::vector<std::string> Raised;
  SetUserActionExceptionHandler([&Raised](const std::exception& E) { Raised.push_back(E.what()); });
  Click("btnNext");
  SetUserActionExceptionHandler(nullptr);
  EXPECT_EQ(Raised, std::vector<std::string>{"cannot leave First"});
  EXPECT_TRUE(Wizard->Find<QFrame>("pnlBottomMain")->isEnabled());
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_FALSE(Button("btnPrev")->isEnabled());
  EXPECT_TRUE(First->IsActive());
  Click("btnExit");
  EXPECT_FALSE(Wizard->isVisible());
}

TEST_F(WizardWindow, WindowEventsReachListeningPagesWhileTheWizardRuns) {
  Add("Listener", true);
  Add("Deaf");
  QEvent BeforeRun(DeviceChange);
  QCoreApplication::sendEvent(Wizard.get(), &BeforeRun);
  Show();
  QCoreApplication::postEvent(Wizard.get(), new QEvent(DeviceChange));
  QCoreApplication::processEvents();
  Wizard->Stop();
  QCoreApplication::postEvent(Wizard.get(), new QEvent(DeviceChange));
  QCoreApplication::processEvents();
  EXPECT_EQ(Heard, std::vector<QString>({"Listener", "Deaf stopped", "Listener stopped"}));
}

TEST_F(WizardWindow, DestroyingTheWindowStopsEveryPage) {
  Add("One");
  Add("Two");
  Show();
  Wizard.reset();
  EXPECT_EQ(Heard, std::vector<QString>({"Two stopped", "One stopped"}));
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
