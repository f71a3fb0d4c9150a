#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "engine/uAppContext.h"
#include "platform/uDrivePart.h"
#include "platform/uDriveTable.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uTestFiles.h"
#include "wizard/uSelectTargetDirPage.h"
#include "wizard/uWizardMain.h"

namespace {

namespace fs = std::filesystem;

// Stands for the pages around the target page.
class TPlainPage : public TWizardPage {
public:
  explicit TPlainPage(QString ATitle) : FTitle(std::move(ATitle)) {}
  QString GetTitle() override { return FTitle; }
  QString GetDescription() override { return FTitle; }
  bool GetAllowNext() override { return true; }

private:
  QString FTitle;
};

// A system on which the listed block device "sdb1" (drive C:) is mounted at
// the folder "source" of the test's own folder.
class TMountedSource : public TDrivePartResolver {
public:
  TMountedSource(const IListedVolumes& AVolumes, std::string AMountPoint)
      : TDrivePartResolver(AVolumes), FMountPoint(std::move(AMountPoint)) {}

protected:
  std::string ReadMountInfo() const override {
    return "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
           "40 22 8:17 / " + FMountPoint + " rw - fuseblk /dev/sdb1 rw\n";
  }

private:
  std::string FMountPoint;
};

class TargetDirPage : public testing::Test {
protected:
  TargetDirPage()
      : Volumes(Table), Resolver(Volumes, (Folder / "source").string()),
        Context(std::make_shared<TScriptedPrompt>(), nullptr,
                [this](const std::string& APath) { return Resolver.DrivePart(APath); }) {
    for (const char* Name : {"source/inner", "elsewhere", "other"})
      fs::create_directories(Folder / Name);
    Table.Assign(u'C', "/dev/sdb1");
    Context.SetSourceDrive(u"C:\\");
    Context.SetResolveConflictMode(rcmRename);
  }
  ~TargetDirPage() override { Wizard.reset(); }

  void Open() {
    Wizard = std::make_unique<TWizardMain>();
    auto Target = std::make_unique<TSelectTargetDirPage>(Context);
    Page = Target.get();
    Wizard->AddPage(std::make_unique<TPlainPage>("Before"));
    Wizard->AddPage(std::move(Target));
    Wizard->AddPage(std::make_unique<TPlainPage>("After"));
    Wizard->show();
    Wizard->Run();
    Click("btnNext");
  }

  QString Path(const char* AName) const { return QString::fromStdString((Folder / AName).string()); }
  QPushButton* Button(const char* AName) const { return Wizard->findChild<QPushButton*>(QLatin1String(AName)); }
  void Click(const char* AName) { QTest::mouseClick(Button(AName), Qt::LeftButton); }
  QString Title() const { return Wizard->findChild<QLabel*>("lblPageTitle")->text(); }
  QComboBox* Field() const { return Page->findChild<QComboBox*>("editTargetScriptDir"); }
  bool WarningShown() const { return Page->findChild<QLabel*>("lblWarning")->isVisible(); }
  bool NextEnabled() const { return Button("btnNext")->isEnabled(); }

  void Type(const QString& AText) {
    Field()->lineEdit()->clear();
    QTest::keyClicks(Field()->lineEdit(), AText);
  }
  QStringList Entries() const {
    QStringList Items;
    for (int Index = 0; Index < Field()->count(); ++Index)
      Items << Field()->itemText(Index);
    return Items;
  }
  QCheckBox* TimesBox() const { return Page->findChild<QCheckBox*>("cbRestoreTimes"); }
  QCheckBox* StreamsBox() const { return Page->findChild<QCheckBox*>("cbRestoreStreams"); }

  QRadioButton* Radio(const char* AGroup, int AIndex) const {
    return Page->findChild<QGroupBox*>(QLatin1String(AGroup))->findChildren<QRadioButton*>().at(AIndex);
  }
  // Goes on to the page after, then back to the target page.
  void RunAndReturn() {
    Click("btnNext");
    EXPECT_EQ(Title(), "After");
    Click("btnPrev");
    EXPECT_EQ(Title(), "Target directory");
  }

  testfiles::TTempFolder Folder;
  TDriveTable Table;
  TDriveTableVolumes Volumes;
  TMountedSource Resolver;
  TNTFSRecoveryContext Context;
  std::unique_ptr<TWizardMain> Wizard;
  TSelectTargetDirPage* Page = nullptr;
};

TEST_F(TargetDirPage, ShowsItsControlsWithTheirCaptionsAndTheContextsSettings) {
  Context.SetTargetDir(Path("elsewhere").toStdU16String());
  Context.SetRestoreMode(rmFlat);
  Context.SetResolveConflictMode(rcmDontSave);
  Open();
  EXPECT_EQ(Title(), "Target directory");
  EXPECT_EQ(Wizard->findChild<QLabel*>("lblPageDescription")->text(),
            "Set target directory where files will be restored to and restore mode.");

  auto* Caption = Page->findChild<QLabel*>("Label12");
  EXPECT_EQ(Caption->text(), "Target &dir: ");
  EXPECT_EQ(Caption->buddy(), Field());
  EXPECT_TRUE(Field()->isEditable());
  EXPECT_EQ(Page->findChild<QToolButton*>("btnTargetScriptDir")->toolTip(), "Click to select script directory");
  EXPECT_EQ(Page->findChild<QLabel*>("lblWarning")->text(),
            "Please select other destination disk for saving a recovered files. "
            "You can't save a recovered files on source disk.");
  EXPECT_EQ(Page->findChild<QLabel*>("lblWarning")->palette().color(QPalette::WindowText), QColor(255, 0, 0));

  const std::pair<const char*, QStringList> Groups[] = {
      {"rgRestoreMode", {"Directory &tree", "One directory for &all files"}},
      {"rgResolveConflict",
       {"Ove&write existing files", "&Rename saved file (add a number at the end of file name)",
        "D&on't save a file"}}};
  for (const auto& [Group, Items] : Groups) {
    QStringList Shown;
    for (const QRadioButton* Radio : Page->findChild<QGroupBox*>(Group)->findChildren<QRadioButton*>())
      Shown << Radio->text();
    EXPECT_EQ(Shown, Items) << Group;
  }
  EXPECT_EQ(Page->findChild<QGroupBox*>("rgResolveConflict")->title(),
            " Action if a file in target directory already exists ");
  EXPECT_EQ(Page->findChild<QGroupBox*>("rgRestoreMode")->title(), "Restore Mode");
  EXPECT_EQ(TimesBox()->text(), "&Keep the original modification and access times");
  EXPECT_TRUE(TimesBox()->isChecked());
  EXPECT_TRUE(StreamsBox()->isChecked());

  EXPECT_EQ(Field()->currentText(), Path("elsewhere") + "/");
  EXPECT_TRUE(Radio("rgRestoreMode", 1)->isChecked());
  EXPECT_TRUE(Radio("rgResolveConflict", 2)->isChecked());
  EXPECT_FALSE(WarningShown());
  EXPECT_TRUE(NextEnabled());
}

TEST_F(TargetDirPage, NextIsAllowedExactlyForAFolderOffTheSourceDrive) {
  struct TCase {
    const char* Name;
    QString Text;
    bool Allowed;
  };
  Open();
  const TCase Cases[] = {
      {"empty field", "", false},
      {"folder on the mounted source", Path("source/inner"), false},
      {"the source's mount point itself", Path("source"), false},
      {"source drive by its letter", "c:\\out", false},
      {"another folder", Path("elsewhere"), true},
      {"a folder not made yet", Path("not-yet/below"), true},
      {"another drive letter", "D:\\out", true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Type(Case.Text);
    EXPECT_EQ(WarningShown(), !Case.Allowed);
    EXPECT_EQ(NextEnabled(), Case.Allowed);
  }
}

TEST_F(TargetDirPage, OnlyLeavingByNextWritesTheSettings) {
  Context.SetTargetDir(Path("elsewhere").toStdU16String());
  Open();
  Type(Path("other"));
  Radio("rgRestoreMode", 1)->click();
  Radio("rgResolveConflict", 0)->click();
  Click("btnPrev");
  EXPECT_EQ(Context.GetTargetDir(), (Path("elsewhere") + "/").toStdU16String());
  EXPECT_EQ(Context.GetRestoreMode(), rmTree);

  Click("btnNext");
  EXPECT_EQ(Field()->currentText(), Path("elsewhere") + "/") << "the typed folder is discarded";
  EXPECT_TRUE(Radio("rgRestoreMode", 0)->isChecked());
  EXPECT_TRUE(Radio("rgResolveConflict", 1)->isChecked());

  Type(Path("other"));
  Radio("rgRestoreMode", 1)->click();
  Radio("rgResolveConflict", 2)->click();
  TimesBox()->click();
  StreamsBox()->click();
  RunAndReturn();
  EXPECT_FALSE(Context.GetRestoreTimes());
  EXPECT_FALSE(Context.GetRestoreStreams());
  EXPECT_FALSE(StreamsBox()->isChecked()) << "the page shows what the context holds";
  EXPECT_EQ(Context.GetTargetDir(), (Path("other") + "/").toStdU16String());
  EXPECT_EQ(Context.GetRestoreMode(), rmFlat);
  EXPECT_EQ(Context.GetResolveConflictMode(), rcmDontSave);
  EXPECT_EQ(Field()->currentText(), Path("other")) << "a return by Back keeps the page as it was";
}

TEST_F(TargetDirPage, ModesOutsideTheirRangeShowWhatTheRecoveryWillDo) {
  Context.SetRestoreMode(static_cast<TRestoreMode>(7));
  Context.SetResolveConflictMode(static_cast<TResolveConflictMode>(9));
  Open();
  EXPECT_TRUE(Radio("rgRestoreMode", 1)->isChecked());
  EXPECT_TRUE(Radio("rgResolveConflict", 0)->isChecked());
}

TEST_F(TargetDirPage, TheDropDownListsTheFoldersOfEachRunNewestFirst) {
  Open();
  const QString A = Path("elsewhere");
  const QString B = Path("other");
  Type(A);
  RunAndReturn();
  Type(B);
  RunAndReturn();
  EXPECT_EQ(Entries(), QStringList({B, A}));

  Field()->setCurrentIndex(1);
  EXPECT_EQ(Field()->currentText(), A);
  EXPECT_TRUE(NextEnabled());
  RunAndReturn();
  EXPECT_EQ(Entries(), QStringList({A, B})) << "a known folder trades places with the first";
  EXPECT_EQ(Field()->currentText(), A);

  Type(A + "/");
  RunAndReturn();
  EXPECT_EQ(Entries(), QStringList({A + "/", A, B})) << "with and without the delimiter are two entries";
}

TEST(UsedFoldersAfter, NewGoesFirstKnownTradesPlacesWithTheFirst) {
  EXPECT_EQ(UsedFoldersAfter({}, "a"), QStringList({"a"}));
  EXPECT_EQ(UsedFoldersAfter({"b", "a"}, "c"), QStringList({"c", "b", "a"}));
  EXPECT_EQ(UsedFoldersAfter({"c", "b", "a"}, "a"), QStringList({"a", "b", "c"}));
  EXPECT_EQ(UsedFoldersAfter({"c", "b", "a"}, "c"), QStringList({"c", "b", "a"}));
}

// The folders the picker lists at its current folder, once it has read them.
QStringList ListedFolders(QFileDialog& ADialog, const QStringList& AExpected) {
  auto* View = ADialog.findChild<QAbstractItemView*>("listView");
  QStringList Names;
  (void)QTest::qWaitFor([&] {
    Names.clear();
    const QModelIndex Root = View->rootIndex();
    for (int Row = 0; Row < View->model()->rowCount(Root); ++Row)
      Names << View->model()->index(Row, 0, Root).data().toString();
    Names.sort();
    return Names == AExpected;
  });
  return Names;
}

TEST_F(TargetDirPage, ThePickerNeverListsAFolderOfTheSourceDrive) {
  Open();
  Type(Folder.Path().c_str());
  QStringList Listed;
  QStringList Places;
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    Listed = ListedFolders(*Dialog, {"elsewhere", "other"});
    for (const QUrl& Place : Dialog->sidebarUrls())
      Places << Place.toLocalFile();
    Dialog->setDirectory(Path("other"));
    QMetaObject::invokeMethod(Dialog, "accept");
  });
  QTest::mouseClick(Page->findChild<QToolButton*>("btnTargetScriptDir"), Qt::LeftButton);
  EXPECT_EQ(Listed, QStringList({"elsewhere", "other"}));
  EXPECT_EQ(Places, QStringList({"/", QDir::homePath()}));
  EXPECT_EQ(Field()->currentText(), Path("other"));
  EXPECT_TRUE(NextEnabled());

  // Started from inside the source drive, the picker cannot even open that
  // folder and shows the top of the file system; canceled, it changes nothing.
  Type(Path("source"));
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    Listed = ListedFolders(*Dialog, {"/"});
    Dialog->reject();
  });
  QTest::mouseClick(Page->findChild<QToolButton*>("btnTargetScriptDir"), Qt::LeftButton);
  EXPECT_EQ(Listed, QStringList({"/"}));
  EXPECT_EQ(Field()->currentText(), Path("source"));
  EXPECT_TRUE(WarningShown());
}

} // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
