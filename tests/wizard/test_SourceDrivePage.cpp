#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureDisks.h"
#include "tests/support/QtTestMain.h"
#include "platform/uDriveList.h"
#include "platform/uSourceResolver.h"
#include "platform/uRescueMap.h"
#include "tests/support/uFakeBlockDevices.h"
#include "wizard/uDeviceChangeEvent.h"
#include "wizard/uDriveTypeImages.h"
#include "wizard/uSelectSourceDrivePage.h"
#include "wizard/uStartPage.h"
#include "wizard/uWizardMain.h"

namespace {

namespace fs = std::filesystem;

// Stands for the pages that follow the drive page.
class TNextPage : public TWizardPage {
public:
  QString GetTitle() override { return QStringLiteral("Next page"); }
  QString GetDescription() override { return QStringLiteral("What comes next"); }
};

std::string ReadFile(const fs::path& APath) {
  std::ifstream In(APath);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

void WriteFile(const fs::path& APath, const std::string& AText) { std::ofstream(APath) << AText; }

// The wizard window with the start page, the drive page and one page after
// them, over a system whose only drives are those a test gives it.
class SourceDrivePage : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Volumes = std::make_unique<testfiles::TTempFolder>();
    testfiles::MakeNTFSImage(*Volumes / "data.img", "Data");
    testfiles::MakeNTFSImage(*Volumes / "archive.img", "Archive");
    testfiles::MakeNTFSImage(*Volumes / "plain.img");
    testfiles::MakeExt2Image(*Volumes / "linux.img", "Linux");
  }
  static void TearDownTestSuite() { Volumes.reset(); }

  void SetUp() override {
    Drives = std::make_unique<TDriveList>();
    Drives->DeviceRoots() = Devices.Roots();
    Drives->Images().Clear();
    SetAppDataFolder(FromNativePath(Data.Path().string()));
  }

  void TearDown() override {
    Wizard.reset();
    unsetenv("TARNWICK_IMAGES");
    VolumeChooser() = nullptr;
    RescueMapChooser() = nullptr;
    LostVolumeDiskChooser() = nullptr;
    SetAppDataFolder(u"");
  }

  static TVolumeImageChooser& VolumeChooser() { return VolumeImageChooser(); }

  // Lists the images as the drive list does at start.
  void StartWithImages(const std::vector<std::string>& ANames) {
    std::vector<std::string> Paths;
    for (const std::string& Name : ANames)
      Paths.push_back((*Volumes / Name).string());
    Drives->Images().Merge(Paths);
    Drives->Refresh();
  }

  // The mapfile chosen for AImage, if any.
  std::optional<std::string> ChosenMap(const std::string& AImage) const {
    const auto Chosen = Drives->ChosenRescueMaps().find(AImage);
    if (Chosen == Drives->ChosenRescueMaps().end())
      return std::nullopt;
    return Chosen->second;
  }

  void Open() {
    Wizard = std::make_unique<TWizardMain>();
    auto Start = std::make_unique<TStartPage>();
    auto DriveChoice = std::make_unique<TSelectSourceDrivePage>(Context, *Drives, TSourceResolver());
    StartPage = Start.get();
    DrivePage = DriveChoice.get();
    Wizard->AddPage(std::move(Start));
    Wizard->AddPage(std::move(DriveChoice));
    Wizard->AddPage(std::make_unique<TNextPage>());
    Wizard->show();
    Wizard->Run();
  }

  // Destroying the window stops the wizard, which saves the state file.
  void Close() { Wizard.reset(); }

  QPushButton* Button(const char* AName) const { return Wizard->findChild<QPushButton*>(QLatin1String(AName)); }
  void Click(const char* AName) { QTest::mouseClick(Button(AName), Qt::LeftButton); }
  // "caption: text" of the message box the click shows, which is accepted;
  // empty when none shows.
  // The box may come after events the click processes first (a page
  // change does), so the first modal box is waited for.
  QString ClickAndAcceptMessage(const char* AName) {
    QString Shown;
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&Shown, &Poll] {
      if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Shown = Box->windowTitle() + ": " + Box->text();
        Box->accept();
        Poll.stop();
      }
    });
    Poll.start(5);
    Click(AName);
    return Shown;
  }
  QString Title() const { return Wizard->findChild<QLabel*>("lblPageTitle")->text(); }
  QTreeWidget* Tree() const { return DrivePage->findChild<QTreeWidget*>("tvDrive"); }

  QStringList Listed() const {
    QStringList Names;
    for (int Index = 0; Index < Tree()->topLevelItemCount(); ++Index)
      Names << Tree()->topLevelItem(Index)->text(0);
    return Names;
  }
  QString Selected() const {
    const QList<QTreeWidgetItem*> Items = Tree()->selectedItems();
    return Items.isEmpty() ? QString() : Items.first()->text(0);
  }
  void ClickDrive(int AIndex) {
    const QRect Row = Tree()->visualItemRect(Tree()->topLevelItem(AIndex));
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Row.center());
  }
  void SendDeviceChange(std::uint32_t ADeviceEvent) {
    QCoreApplication::postEvent(Wizard.get(), new TDeviceChangeEvent(ADeviceEvent));
    QCoreApplication::processEvents();
  }
  fs::path HistoryFile() const { return Data.Path() / "history.ini"; }

  static std::unique_ptr<testfiles::TTempFolder> Volumes;
  testfiles::TFakeBlockDevices Devices;
  testfiles::TTempFolder Data;
  TNTFSRecoveryContext Context{std::make_shared<TScriptedPrompt>()};
  std::unique_ptr<TWizardMain> Wizard;
  TStartPage* StartPage = nullptr;
  TSelectSourceDrivePage* DrivePage = nullptr;
  std::unique_ptr<TDriveList> Drives;
};

std::unique_ptr<testfiles::TTempFolder> SourceDrivePage::Volumes;

TEST_F(SourceDrivePage, StartPageGreetsWithTheLogoAndLeadsOn) {
  Open();
  EXPECT_EQ(Title(), "Tarnwick");
  EXPECT_EQ(Wizard->findChild<QLabel*>("lblPageDescription")->text(), "Description of recovery steps");
  EXPECT_TRUE(Wizard->findChild<QWidget*>("pnlLogo")->isVisible());
  EXPECT_TRUE(Button("btnNext")->isEnabled());
  EXPECT_FALSE(Button("btnPrev")->isEnabled());
  EXPECT_EQ(Button("btnNext")->toolTip(), "Selection of disk where deleted files placed");

  const auto* Memo = StartPage->findChild<QPlainTextEdit*>("Memo1");
  EXPECT_TRUE(Memo->isReadOnly());
  EXPECT_EQ(Memo->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Memo->toPlainText().split('\n'),
            QStringList({"Software helps to recover deleted files from Hard Disk Drives formatted under NTFS.",
                         "Tool can recover deleted files if subsequent operations with the disk didn't rewrite last one.",
                         "", "For start recovery please press <Next> button.", ""}));

  Click("btnNext");
  EXPECT_EQ(Title(), "Select source disk");
  EXPECT_FALSE(Wizard->findChild<QWidget*>("pnlLogo")->isVisible());
}

TEST_F(SourceDrivePage, ListsOnlyNTFSVolumesWithLetterLabelAndThePictureOfTheirKind) {
  testfiles::MakeNTFSImage(Devices.AddDisk("sdb", true), "Stick");
  testfiles::MakeExt2Image(Devices.AddDisk("sdc"), "Home");
  StartWithImages({"data.img", "linux.img", "plain.img"});
  Open();
  Click("btnNext");

  EXPECT_EQ(Listed(), QStringList({"Stick (C: [NTFS])", "Data (E: [NTFS])", "plain.img (F: [NTFS])"}));
  const QList<QPixmap> Pictures = DrawDriveTypeImages();
  ASSERT_EQ(Pictures.size(), dtRAM + 1);
  const std::pair<int, TDriveType> Kinds[] = {{0, dtFloppy}, {1, dtFixed}, {2, dtFixed}};
  for (const auto& [Index, Kind] : Kinds)
    EXPECT_EQ(Tree()->topLevelItem(Index)->icon(0).pixmap(DriveTypeImageSize).toImage(),
              Pictures[Kind].toImage())
        << Index;
  EXPECT_TRUE(Tree()->isVisible());
  EXPECT_TRUE(DrivePage->findChild<QLabel*>("lblDriveCaption")->isVisible());
}

TEST_F(SourceDrivePage, SelectsTheStoredDriveElseTheFirst) {
  struct TCase {
    const char* Name;
    const char* History;  // null: no state file
    QString Selected;
  };
  const TCase Cases[] = {
      {"stored drive", "[Source]\nDrive=D:\\\n", "Archive (D: [NTFS])"},
      {"stored in lower case", "[Source]\nDrive=d:\\\n", "Data (C: [NTFS])"},
      {"stored drive not listed", "[Source]\nDrive=Q:\\\n", "Data (C: [NTFS])"},
      {"no state file", nullptr, "Data (C: [NTFS])"},
  };
  StartWithImages({"data.img", "archive.img"});
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove(HistoryFile());
    if (Case.History)
      WriteFile(HistoryFile(), Case.History);
    Context.SetSourceDrive(u"");
    Open();
    Click("btnNext");
    EXPECT_EQ(Selected(), Case.Selected);
    EXPECT_TRUE(Button("btnNext")->isEnabled());
    Wizard.reset();
  }
}

TEST_F(SourceDrivePage, OnlyLeavingForwardStoresTheDriveRoot) {
  StartWithImages({"data.img", "archive.img"});
  Open();
  Click("btnNext");
  ClickDrive(1);
  Click("btnPrev");
  EXPECT_EQ(Context.SourceDrive(), u"c:\\") << "the default from the missing state file stays";

  Click("btnNext");
  EXPECT_EQ(Selected(), "Archive (D: [NTFS])") << "a return keeps the user's choice";
  EXPECT_EQ(Context.Source(), nullptr) << "nothing is opened before the user leaves forward";
  Click("btnNext");
  EXPECT_EQ(Title(), "Next page");
  EXPECT_EQ(Context.SourceDrive(), u"D:\\");
  ASSERT_NE(Context.Source(), nullptr) << "leaving opens the drive for the scan";
  EXPECT_EQ(Context.Source()->Request().Path, (*Volumes / "archive.img").string());
}

// Letters run out after Z: the drives after it are listed by where they
// lie, and one of them is opened and remembered like any other.
TEST_F(SourceDrivePage, DrivesBeyondZAreListedWithoutALetterAndCanBeChosen) {
  const fs::path Disk = Data.Path() / "thirty.img";
  ASSERT_TRUE(testsupport::MakeManyVolumesDisk(Disk.string(), 30)) << "sgdisk or mkntfs failed";
  Drives->Images().Merge({Disk.string()});
  Drives->Refresh();
  Open();
  Click("btnNext");
  const QStringList Names = Listed();
  ASSERT_EQ(Names.size(), 30);
  EXPECT_EQ(Names[0], "Part1 (C: [NTFS])");
  EXPECT_EQ(Names[23], "Part24 (Z: [NTFS])");
  EXPECT_EQ(Names[24], "Part25 (partition 25 of thirty.img [NTFS])");
  EXPECT_EQ(Names[29], "Part30 (partition 30 of thirty.img [NTFS])");

  Tree()->scrollToItem(Tree()->topLevelItem(29));
  ClickDrive(29);
  Click("btnNext");
  EXPECT_EQ(Title(), "Next page");
  EXPECT_EQ(Context.SourceDrive(), u"partition 30 of thirty.img\\");
  ASSERT_NE(Context.Source(), nullptr);
  EXPECT_EQ(Context.Source()->Request().Path, Disk.string());
  EXPECT_EQ(Context.Source()->Request().Partition, 30);

  // The state file keeps the choice for the next run.
  Close();
  Open();
  Click("btnNext");
  EXPECT_EQ(Selected(), Names[29]);
}

// A disk whose table was zapped: the search lists its volumes as drives,
// the first selected, and the state file brings them back.
TEST_F(SourceDrivePage, TheVolumesOfALostTableAreFoundListedAndKept) {
  const fs::path Disk = Data.Path() / "zapped.img";
  ASSERT_TRUE(testsupport::MakeManyVolumesDisk(Disk.string(), 2)) << "sgdisk or mkntfs failed";
  ASSERT_EQ(testsupport::RunCommand({"sgdisk", "--zap-all", Disk.string()}).ExitCode, 0);
  Open();
  Click("btnNext");
  ASSERT_TRUE(Listed().isEmpty());
  LostVolumeDiskChooser() = [&Disk](QWidget*) { return QString::fromStdString(Disk.string()); };
  Click("btnSearchLostVolumes");
  EXPECT_EQ(Listed(), QStringList({"Part1 (C: [NTFS])", "Part2 (D: [NTFS])"}));
  EXPECT_EQ(Selected(), "Part1 (C: [NTFS])");

  ClickDrive(1);
  Click("btnNext");
  EXPECT_EQ(Title(), "Next page");
  ASSERT_NE(Context.Source(), nullptr);
  EXPECT_EQ(Context.Source()->Request().Path, Disk.string());
  EXPECT_EQ(Context.Source()->Request().Offset, 3 << 20);
  Close();
  EXPECT_NE(ReadFile(HistoryFile()).find("[LostVolumes]\nDisk1 = " + Disk.string() + "\nOffset1 = 1048576\nDisk2 = " +
                                         Disk.string() + "\nOffset2 = 3145728"),
            std::string::npos)
      << ReadFile(HistoryFile());

  Drives = std::make_unique<TDriveList>();
  Drives->DeviceRoots() = Devices.Roots();
  Open();
  Click("btnNext");
  EXPECT_EQ(Listed(), QStringList({"Part1 (C: [NTFS])", "Part2 (D: [NTFS])"}));
  EXPECT_EQ(Selected(), "Part2 (D: [NTFS])");
}

TEST_F(SourceDrivePage, ADriveThatCannotBeOpenedIsExplainedAndThePageStays) {
  testfiles::MakeNTFSImage(Data.Path() / "vanishing.img", "Vanishing");
  Drives->Images().Merge({(Data.Path() / "vanishing.img").string()});
  Drives->Refresh();
  Open();
  Click("btnNext");
  ASSERT_EQ(Selected(), "Vanishing (C: [NTFS])");
  fs::remove(Data.Path() / "vanishing.img");
  const QString Shown = ClickAndAcceptMessage("btnNext");
  EXPECT_TRUE(Shown.contains("does not exist")) << Shown.toStdString();
  EXPECT_EQ(Title(), "Select source disk");
  EXPECT_EQ(Context.Source(), nullptr);
}

TEST_F(SourceDrivePage, WithoutAnNTFSDriveOnlyAnImageCanBeAdded) {
  StartWithImages({"linux.img"});
  testfiles::MakeExt2Image(Devices.AddDisk("sda"), "Root");
  Open();
  Click("btnNext");
  EXPECT_EQ(Title(), "Select source disk");
  EXPECT_FALSE(Tree()->isVisible());
  EXPECT_FALSE(DrivePage->findChild<QLabel*>("lblDriveCaption")->isVisible());
  EXPECT_FALSE(Button("btnNext")->isEnabled());
  EXPECT_TRUE(Button("btnPrev")->isEnabled());
  EXPECT_TRUE(Button("btnAddVolumeImage")->isVisible());
}

TEST_F(SourceDrivePage, ADriveChangeWhileTheDrivePageIsShownRefreshesItAtOnce) {
  StartWithImages({"data.img"});
  Open();
  Click("btnNext");
  const fs::path Stick = Data.Path() / "stick.img";
  testfiles::MakeNTFSImage(Stick, "Stick");
  Drives->Images().Merge({Stick.string()});

  SendDeviceChange(0x0007);  // nodes changed: not an arrival or a removal
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])"}));
  SendDeviceChange(DBT_DEVICEARRIVAL);
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])", "Stick (D: [NTFS])"}));
  ClickDrive(1);
  Context.SetSourceDrive(u"D:\\");

  fs::remove(Stick);
  SendDeviceChange(DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])"}));
  EXPECT_EQ(Selected(), "Data (C: [NTFS])");
  EXPECT_TRUE(Button("btnNext")->isEnabled());
}

TEST_F(SourceDrivePage, ADriveChangeElsewhereShowsOnTheNextEntryByNextOnly) {
  StartWithImages({"data.img"});
  Open();
  Click("btnNext");
  Click("btnNext");
  ASSERT_EQ(Title(), "Next page");
  StartWithImages({"archive.img"});
  SendDeviceChange(DBT_DEVICEARRIVAL);

  Click("btnPrev");
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])"})) << "a return by Back";
  Click("btnPrev");
  Click("btnNext");
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])", "Archive (D: [NTFS])"}));
}

TEST_F(SourceDrivePage, TheStateFileKeepsTheDriveAndTheAddedImagesAcrossRuns) {
  const fs::path Gone = Data.Path() / "gone.img";
  testfiles::MakeNTFSImage(Gone, "Gone");
  setenv("TARNWICK_IMAGES", (*Volumes / "data.img").c_str(), 1);
  StartWithImages({"data.img", "archive.img"});
  Drives->Images().Merge({Gone.string()});
  const fs::path Map = Data.Path() / "archive.map";
  WriteFile(Map, "0x00000000 +\n0x00000000 0x00100000 +\n");
  Drives->ChooseRescueMap((*Volumes / "archive.img").string(), Map.string());
  WriteFile(HistoryFile(), "[Other]\nKept=yes\n");
  Open();
  Click("btnNext");
  ClickDrive(1);
  Click("btnNext");
  Close();

  const std::string Saved = ReadFile(HistoryFile());
  EXPECT_NE(Saved.find("Drive = D:\\"), std::string::npos) << Saved;
  EXPECT_NE(Saved.find("Image1 = " + (*Volumes / "archive.img").string()), std::string::npos) << Saved;
  EXPECT_NE(Saved.find("Image2 = " + Gone.string()), std::string::npos) << Saved;
  EXPECT_EQ(Saved.find("data.img"), std::string::npos) << "images named by the environment are not kept";
  EXPECT_NE(Saved.find("Kept = yes"), std::string::npos) << "other sections stay";

  EXPECT_NE(Saved.find("[Mapfiles]\nImage1 = " + (*Volumes / "archive.img").string() + "\nMap1 = " + Map.string()),
            std::string::npos)
      << Saved;

  // The next run, with one stored image gone.
  fs::remove(Gone);
  Drives = std::make_unique<TDriveList>();
  Drives->DeviceRoots() = Devices.Roots();
    StartWithImages({"data.img"});
  Context.SetSourceDrive(u"");
  Open();
  Click("btnNext");
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])", "Archive (D: [NTFS])"}));
  EXPECT_EQ(Selected(), "Archive (D: [NTFS])");
  EXPECT_EQ(ChosenMap((*Volumes / "archive.img").string()), Map.string()) << "the chosen mapfile comes back";
}

TEST_F(SourceDrivePage, IncludingPreviousVersionsIsTheUsersChoiceKeptAcrossRuns) {
  StartWithImages({"data.img"});
  Open();
  Click("btnNext");
  auto* Include = DrivePage->findChild<QCheckBox*>("cbIncludeSnapshots");
  ASSERT_NE(Include, nullptr);
  EXPECT_TRUE(Include->isVisible());
  EXPECT_TRUE(Include->isChecked()) << "on without a state file";
  QTest::mouseClick(Include, Qt::LeftButton, {}, QPoint(4, Include->height() / 2));
  EXPECT_FALSE(Context.GetIncludeSnapshots());
  Click("btnNext");
  Close();
  EXPECT_NE(ReadFile(HistoryFile()).find("IncludePreviousVersions = false"), std::string::npos)
      << ReadFile(HistoryFile());

  Context.SetIncludeSnapshots(true);
  Open();
  Click("btnNext");
  EXPECT_FALSE(DrivePage->findChild<QCheckBox*>("cbIncludeSnapshots")->isChecked());
  EXPECT_FALSE(Context.GetIncludeSnapshots());
}

TEST_F(SourceDrivePage, StateFileErrorsAreSwallowed) {
  struct TCase {
    const char* Name;
    std::function<fs::path(const fs::path& AData)> Prepare;  // gives the data folder
  };
  const TCase Cases[] = {
      {"missing data folder", [](const fs::path& AData) { return AData / "not-yet-created"; }},
      {"state file is a folder",
       [](const fs::path& AData) {
         fs::create_directory(AData / "history.ini");
         return AData;
       }},
  };
  StartWithImages({"data.img", "archive.img"});
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const fs::path Folder = Case.Prepare(Data.Path());
    SetAppDataFolder(FromNativePath(Folder.string()));
    Context.SetSourceDrive(u"D:\\");
    Open();
    Click("btnNext");
    EXPECT_EQ(Selected(), "Data (C: [NTFS])") << "the context's default";
    Click("btnNext");
    EXPECT_NO_THROW(Close());
    EXPECT_EQ(fs::exists(Folder), Folder == Data.Path()) << "nothing creates the folder";
  }
}

TEST_F(SourceDrivePage, AnAddedVolumeImageIsListedAndSelected) {
  StartWithImages({"data.img"});
  Open();
  Click("btnNext");
  fs::path Chosen;
  VolumeChooser() = [&Chosen](QWidget*) { return QString::fromStdString(Chosen.string()); };

  Chosen = *Volumes / "archive.img";
  Click("btnAddVolumeImage");
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])", "Archive (D: [NTFS])"}));
  EXPECT_EQ(Selected(), "Archive (D: [NTFS])");
  EXPECT_TRUE(Button("btnNext")->isEnabled());

  Chosen.clear();  // the dialog cancelled
  Click("btnAddVolumeImage");
  EXPECT_EQ(Listed().size(), 2);
}

TEST_F(SourceDrivePage, ARefusedVolumeImageIsExplainedAndChangesNothing) {
  StartWithImages({"data.img"});
  Open();
  Click("btnNext");
  const fs::path Refused = *Volumes / "linux.img";
  VolumeChooser() = [&Refused](QWidget*) { return QString::fromStdString(Refused.string()); };
  const QString Shown = ClickAndAcceptMessage("btnAddVolumeImage");
  EXPECT_EQ(Shown, QString::fromStdString("Add volume image: The file \"" + Refused.string() +
                                          "\" holds no NTFS boot sector: it is not an NTFS volume image."));
  EXPECT_EQ(Listed(), QStringList({"Data (C: [NTFS])"}));
  EXPECT_EQ(Selected(), "Data (C: [NTFS])");
}

// The mapfile goes with the image selected, only with an image, and only
// when it reads as a mapfile.
TEST_F(SourceDrivePage, AMapfileIsChosenForTheSelectedImage) {
  testfiles::MakeNTFSImage(Devices.AddDisk("sdb"), "Stick");
  StartWithImages({"data.img"});
  const std::string Image = (*Volumes / "data.img").string();
  const fs::path Good = Data.Path() / "rescue.map";
  WriteFile(Good, "0x00000000 +\n0x00000000 0x00100000 +\n0x00100000 0x00100000 -\n");
  const fs::path Bad = Data.Path() / "broken.map";
  WriteFile(Bad, "0 +\n0 zero +\n");
  fs::path Chosen;
  QString AskedFor;
  RescueMapChooser() = [&Chosen, &AskedFor](QWidget*, const QString& AImage) {
    AskedFor = AImage;
    return QString::fromStdString(Chosen.string());
  };
  Open();
  Click("btnNext");
  ASSERT_EQ(Listed(), QStringList({"Stick (C: [NTFS])", "Data (D: [NTFS])"}));
  QPushButton* Choose = Button("btnChooseRescueMap");
  EXPECT_EQ(Choose->text(), "Choose &mapfile...");
  EXPECT_FALSE(Choose->isEnabled()) << "a device has no mapfile";

  ClickDrive(1);
  ASSERT_TRUE(Choose->isEnabled());
  Chosen = Bad;
  const QString Shown = ClickAndAcceptMessage("btnChooseRescueMap");
  EXPECT_EQ(AskedFor, QString::fromStdString(Image));
  EXPECT_TRUE(Shown.startsWith("Choose mapfile: ")) << Shown.toStdString();
  EXPECT_TRUE(Shown.contains("at line 2")) << Shown.toStdString();
  EXPECT_EQ(ChosenMap(Image), std::nullopt) << "a broken mapfile is not chosen";

  Chosen = Good;
  Click("btnChooseRescueMap");
  EXPECT_EQ(ChosenMap(Image), Good.string());
  // The source opened for the drive now reads only the rescued areas.
  const std::vector<TByteRange> Unread = TSourceResolver().Open(*Drives->RequestOf(u'D'))->Source()->KnownUnreadable();
  EXPECT_EQ(Unread, std::vector<TByteRange>({{0x100000, 0x100000}}));

  Chosen.clear();  // the dialog cancelled: the choice stays
  Click("btnChooseRescueMap");
  EXPECT_EQ(ChosenMap(Image), Good.string());

  ClickDrive(0);
  EXPECT_FALSE(Choose->isEnabled());
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
