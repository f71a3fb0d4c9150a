#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QTreeWidget>
#include <QPushButton>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include "app/uMain.h"
#include "diagnostics/uFunctions.h"
#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uFakeBlockDevices.h"
#include "platform/uDriveList.h"
#include "wizard/uSelectSourceDrivePage.h"

namespace {

constexpr int LoopDidNotEnd = 99;

struct TShownBox {
  QWidget* Owner;
  QString Caption;
  QString Text;
  QMessageBox::Icon Icon;
};

class TRecordingShell : public IShellService {
public:
  void OpenUrl(const QUrl& AUrl) override { Opened.push_back(AUrl); }
  void ShowMessage(QWidget* AOwner, const QString& ACaption, const QString& AText,
                   QMessageBox::Icon AIcon) override {
    Boxes.push_back({AOwner, ACaption, AText, AIcon});
  }
  std::vector<QUrl> Opened;
  std::vector<TShownBox> Boxes;
};

class TPlainPage : public TWizardPage {
public:
  explicit TPlainPage(QString ATitle) : FTitle(std::move(ATitle)) {}
  QString GetTitle() override { return FTitle; }
  QString GetDescription() override { return FTitle + " step"; }
  bool GetAllowNext() override { return true; }
  void PageBeforeExit(bool AForward, bool& AllowExit) override {
    TWizardPage::PageBeforeExit(AForward, AllowExit);
    if (!FailureOnExit.empty())
      throw std::runtime_error(FailureOnExit);
  }
  std::string FailureOnExit;

private:
  QString FTitle;
};

// An object whose event handler fails outside any guarded user action.
class TFailingReceiver : public QObject {
public:
  bool event(QEvent* AEvent) override {
    if (AEvent->type() == QEvent::User)
      throw std::runtime_error("posted work failed");
    return QObject::event(AEvent);
  }
};

class MainWindow : public testing::Test {
public:
  void Open(const TfMain::TPageAssembler& AAssemble = [](IWizardApplication&) {}) {
    Window = std::make_unique<TfMain>(Shell, AAssemble);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
  }
  QPushButton* Button(const char* AName) {
    return Window->findChild<QPushButton*>(QLatin1String(AName));
  }
  QAction* MenuItem(const QString& AMenu, const QString& AItem) {
    for (QAction* Menu : Window->menuBar()->actions())
      if (Menu->text() == AMenu)
        for (QAction* Item : Menu->menu()->actions())
          if (Item->text() == AItem)
            return Item;
    ADD_FAILURE() << "no menu item " << AItem.toStdString();
    return nullptr;
  }

  TRecordingShell Shell;
  std::unique_ptr<TfMain> Window;
};

TEST_F(MainWindow, CaptionSizesAndMenus) {
  Open();
  EXPECT_EQ(Window->windowTitle(), "Tarnwick v.2.5.17.0");
  EXPECT_EQ(Window->size(), QSize(655, 551));
  EXPECT_EQ(Window->minimumSize(), QSize(655, 550));
  EXPECT_EQ(Window->findChild<QWidget*>("pnlLogo")->width(), 153);

  QStringList Menus;
  for (QAction* Menu : Window->menuBar()->actions())
    Menus << Menu->text();
  EXPECT_EQ(Menus, QStringList({"File", "Help"}));
  const std::vector<std::array<QString, 3>> Items = {
      {"File", "Add volume image...", "List a volume image file as a drive to recover from"},
      {"File", "Exit", "Close application"},
      {"Help", "Tarnwick Help", "Show help"},
      {"Help", "Tarnwick on the Web", "Go to web page"},
      {"Help", "About", "Show information about product"}};
  for (const auto& [Menu, Item, Hint] : Items) {
    QAction* Action = MenuItem(Menu, Item);
    ASSERT_NE(Action, nullptr);
    EXPECT_EQ(Action->statusTip(), Hint);
    EXPECT_EQ(Action->toolTip(), Hint);
  }
}

TEST_F(MainWindow, EveryWayOfClosingRequestsTheFeedbackPageOnce) {
  const std::vector<std::pair<const char*, std::function<void(MainWindow&)>>> Ways = {
      {"Exit button", [](MainWindow& T) { QTest::mouseClick(T.Button("btnExit"), Qt::LeftButton); }},
      {"Escape", [](MainWindow& T) { QTest::keyClick(T.Window.get(), Qt::Key_Escape); }},
      {"File > Exit", [](MainWindow& T) { T.MenuItem("File", "Exit")->trigger(); }},
      {"close box", [](MainWindow& T) { T.Window->windowHandle()->close(); }},
      {"Alt+F4", [](MainWindow& T) { QTest::keyClick(T.Window.get(), Qt::Key_F4, Qt::AltModifier); }},
  };
  for (const auto& [Way, Close] : Ways) {
    SCOPED_TRACE(Way);
    Shell.Opened.clear();
    Open();
    // Closed from inside the message loop, which must then end by itself;
    // the guard only keeps a broken close from hanging the test.
    QTimer Guard;
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, [] { QCoreApplication::exit(LoopDidNotEnd); });
    Guard.start(std::chrono::seconds(10));
    QTimer::singleShot(0, [&] { Close(*this); });
    EXPECT_EQ(QApplication::exec(), 0) << "the message loop ends";
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(Shell.Opened, std::vector<QUrl>{FeedbackWebPage});
    Window.reset();
    EXPECT_EQ(Shell.Opened.size(), 1u) << "destruction asks nothing more";
  }
}

TEST_F(MainWindow, AnExceptionInAHookIsShownOnceAndExitStillWorks) {
  Open([](IWizardApplication& AApp) {
    auto First = std::make_unique<TPlainPage>("First");
    First->FailureOnExit = "The drive is gone";
    AApp.AddPage(std::move(First));
    AApp.AddPage(std::make_unique<TPlainPage>("Second"));
  });
  QTest::mouseClick(Button("btnNext"), Qt::LeftButton);

  ASSERT_EQ(Shell.Boxes.size(), 1u);
  EXPECT_EQ(Shell.Boxes[0].Owner, Window.get());
  EXPECT_EQ(Shell.Boxes[0].Caption, "Error");
  EXPECT_EQ(Shell.Boxes[0].Text, "The drive is gone");
  EXPECT_EQ(Shell.Boxes[0].Icon, QMessageBox::NoIcon);
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_FALSE(Button("btnPrev")->isEnabled());
  EXPECT_TRUE(Button("btnExit")->isEnabled());

  QTest::mouseClick(Button("btnExit"), Qt::LeftButton);
  EXPECT_FALSE(Window->isVisible());
  EXPECT_EQ(Shell.Opened, std::vector<QUrl>{FeedbackWebPage});
}

TEST_F(MainWindow, ExceptionsOfOtherEventHandlersAreShownAndTheLoopGoesOn) {
  Open();
  TFailingReceiver Receiver;
  QCoreApplication::postEvent(&Receiver, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  ASSERT_EQ(Shell.Boxes.size(), 1u);
  EXPECT_EQ(Shell.Boxes[0].Text, "posted work failed");
  EXPECT_TRUE(Window->isVisible());
}

TEST_F(MainWindow, WebLinksGoThroughTheShell) {
  Open();
  MenuItem("Help", "Tarnwick on the Web")->trigger();
  EXPECT_EQ(Shell.Opened, std::vector<QUrl>{ProductWebPage});
  // No help pages lie beside the test program: a missing help is silent.
  ASSERT_TRUE(HelpFileUrl().isEmpty());
  MenuItem("Help", "Tarnwick Help")->trigger();
  EXPECT_EQ(Shell.Opened.size(), 1u);
}

TEST_F(MainWindow, AboutShowsTheAboutDialogModallyOverTheWindow) {
  Open();
  QString Shown;
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    Shown = Dialog->windowTitle();
    EXPECT_EQ(Dialog->parentWidget(), Window.get());
    Dialog->accept();
  });
  MenuItem("Help", "About")->trigger();
  EXPECT_EQ(Shown, "About Tarnwick");
}

TEST_F(MainWindow, StartsOnTheStartPageAndAddsVolumeImagesFromTheFileMenu) {
  testfiles::TFakeBlockDevices NoDevices;
  TDriveList DriveList;
  DriveList.DeviceRoots() = NoDevices.Roots();
  const std::filesystem::path Image = NoDevices.Folder() / "evidence.img";
  testfiles::MakeNTFSImage(Image, "Evidence");
  VolumeImageChooser() = [&Image](QWidget*) { return QString::fromStdString(Image.string()); };
  DriveList.Refresh();
  TNTFSRecoveryContext Context(std::make_shared<TScriptedPrompt>());

  Open([&Context, &DriveList](IWizardApplication& AApp) { AssemblePages(AApp, Context, DriveList); });
  auto* Title = Window->findChild<QLabel*>("lblPageTitle");
  EXPECT_EQ(Title->text(), "Tarnwick");
  MenuItem("File", "Add volume image...")->trigger();
  QTest::mouseClick(Button("btnNext"), Qt::LeftButton);
  EXPECT_EQ(Title->text(), "Select source disk");
  auto* Drives = Window->findChild<QTreeWidget*>("tvDrive");
  ASSERT_EQ(Drives->topLevelItemCount(), 1);
  EXPECT_EQ(Drives->topLevelItem(0)->text(0), "Evidence (C: [NTFS])");
  EXPECT_TRUE(Drives->topLevelItem(0)->isSelected());

  Window.reset();
  VolumeImageChooser() = nullptr;
}

TEST(ProcessObjects, AreReleasedInReverseOrderAlsoWhenOneFailsToComeUp) {
  std::vector<std::string> Steps;
  auto Track = [&Steps](const std::string& AName) {
    return std::pair{[&Steps, AName] { Steps.push_back("create " + AName); },
                     [&Steps, AName] { Steps.push_back("release " + AName); }};
  };
  {
    TProcessObjects Objects;
    for (const char* Name : {"progress", "drives", "paths"}) {
      auto [Create, Release] = Track(Name);
      Objects.Add(Create, Release);
    }
    EXPECT_THROW(Objects.Add([] { throw std::runtime_error("no context"); }, [] {}),
                 std::runtime_error);
  }
  EXPECT_EQ(Steps, (std::vector<std::string>{"create progress", "create drives", "create paths",
                                             "release paths", "release drives",
                                             "release progress"}));
}

TEST(ProcessObjects, TarnwickObjectsLogIntoTheDataFolderUntilReleased) {
  QTemporaryDir Home;
  ASSERT_TRUE(Home.isValid());
  const QString DataFolder = Home.filePath("not-yet-created");
  SetAppDataFolder(DataFolder.toStdU16String());
  std::vector<QString> Shown;
  SetErrorMessageBox([&Shown](TErrorDisplayStatus, const QString& AText) {
    Shown.push_back(AText);
    return mrOk;
  });
  {
    TProcessObjects Objects;
    const TProcessWideObjects ProcessWide = CreateProcessObjects(Objects);
    EXPECT_NE(ProcessWide.ProgressView, nullptr);
    EXPECT_EQ(ShowErrorMessage(edsInformation, AID_Tarnwick, 1, "Out of memory"), mrOk);
  }
  EXPECT_EQ(ShowErrorMessage(edsInformation, AID_Tarnwick, 1, "too late"), mrNone);
  SetErrorMessageBox(nullptr);
  SetAppDataFolder(u"");
  EXPECT_EQ(Shown, std::vector<QString>{"[MainForm Error]: Out of memory"});
  EXPECT_GT(QFileInfo(DataFolder + "/Err.log").size(), 0);
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<TTarnwickApplication>(argc, argv); }
