#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTableView>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/uMain.h"
#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "platform/uDriveList.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/Sha256.h"
#include "tests/support/uFakeBlockDevices.h"
#include "tests/support/uFileViewDriving.h"
#include "tests/support/uLogPaneLines.h"

namespace {

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAreArray;

class TQuietShell : public IShellService {
public:
  void OpenUrl(const QUrl&) override {}
  void ShowMessage(QWidget*, const QString& ACaption, const QString& AText, QMessageBox::Icon) override {
    Boxes << ACaption + ": " + AText;
  }
  QStringList Boxes;
};

// Stands for xdg-open: keeps the addresses the desktop was asked to open.
class TUrlRecorder : public QObject {
  Q_OBJECT
public:
  TUrlRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "OpenUrl"); }
  ~TUrlRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> Opened;

public slots:
  void OpenUrl(const QUrl& AUrl) { Opened << AUrl; }
};

std::string FileSha256(const fs::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  std::stringstream Bytes;
  Bytes << In.rdbuf();
  return testsupport::Sha256Hex(Bytes.str());
}

// The whole program's window over the demo volume image as its only drive,
// walked by its buttons from the start page to the restore page.
class RecoveryWalk : public testing::Test {
protected:
  void SetUp() override {
    std::filesystem::copy_file(testsupport::FixtureImage("demo"), Demo());
    Drives.DeviceRoots() = Devices.Roots();
    Drives.Images().Clear();
    Drives.Images().Merge({Demo().string()});
    Drives.Refresh();
    SetAppDataFolder(FromNativePath(Data.Path().string()));
    Window = std::make_unique<TfMain>(Shell,
                                      [this](IWizardApplication& AApp) { AssemblePages(AApp, Context, Drives); });
    Progress.View().SetAnchor(Window.get());
    Window->show();
  }

  void TearDown() override {
    Window.reset();
    SetAppDataFolder(u"");
  }

  // The demo volume, copied for the test: one test takes it away.
  std::filesystem::path Demo() const { return Sources.Path() / "demo.img"; }

  void Click(const char* AName) {
    QTest::mouseClick(Window->findChild<QPushButton*>(QLatin1String(AName)), Qt::LeftButton);
  }
  bool Enabled(const char* AName) const { return Window->findChild<QPushButton*>(QLatin1String(AName))->isEnabled(); }
  QString Title() const { return Window->findChild<QLabel*>("lblPageTitle")->text(); }
  QTextEdit* Log() const { return Window->findChild<QTextEdit*>("reLog"); }

  QTreeView* Tree() const { return Window->findChild<QTreeView*>("tvFiles"); }
  QTableView* List() const { return Window->findChild<QTableView*>("lvFiles"); }

  // A folder ticked by its picture in the tree.
  void TickFolder(const QStringList& APath) {
    const QModelIndex Folder = fileviews::TreeIndex(*Tree(), APath);
    ASSERT_TRUE(Folder.isValid()) << APath.join('/').toStdString();
    Tree()->scrollTo(Folder);
    fileviews::ClickTickPicture(*Tree(), Folder);
  }

  // A file ticked by its picture in the list of its folder, which a click on
  // the folder's name in the tree opens.
  void TickFile(const QStringList& AFolder, const QString& AName) {
    const QModelIndex Folder = fileviews::TreeIndex(*Tree(), AFolder);
    ASSERT_TRUE(Folder.isValid()) << AFolder.join('/').toStdString();
    Tree()->scrollTo(Folder);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(Folder).center());
    const QModelIndexList File =
        List()->model()->match(List()->model()->index(0, 0), Qt::DisplayRole, AName, 1, Qt::MatchExactly);
    ASSERT_EQ(File.size(), 1) << AName.toStdString();
    fileviews::ClickTickPicture(*List(), File.first());
  }

  // From the start page to the target page, with the demo volume scanned and
  // the thesis ticked.
  void WalkToTarget() {
    Click("btnNext");
    Click("btnNext");
    ASSERT_EQ(Title(), "Explorer of deleted files");
    TickFile({"C:", "Documents"}, "thesis.docx");
    Click("btnNext");
    ASSERT_EQ(Title(), "Target directory");
    SetTarget(Target / "restored");
  }

  void SetTarget(const fs::path& AFolder) {
    auto* Field = Window->findChild<QComboBox*>("editTargetScriptDir")->lineEdit();
    Field->clear();
    QTest::keyClicks(Field, QString::fromStdString(AFolder.string()));
  }

  // The bold line of one file's level, as the log shows a copy into AFolder.
  static std::string CopyLine(const fs::path& AFolder, const std::string& ARelative, std::uint64_t ASize) {
    return "  Create file " + (AFolder / ARelative).string() + " ( " + std::to_string(ASize) + " bytes) | bold";
  }

  testfiles::TFakeBlockDevices Devices;
  TDriveList Drives;
  testfiles::TTempFolder Sources;
  testfiles::TTempFolder Data;
  testfiles::TTempFolder Target;
  TQuietShell Shell;
  TProgressExFormRegistration Progress;
  TNTFSRecoveryContext Context{std::make_shared<TScriptedPrompt>()};
  std::unique_ptr<TfMain> Window;
};

TEST_F(RecoveryWalk, RestoresTickedFilesByteForByteAndAppendsEachRunToTheLog) {
  const testsupport::Manifest Manifest = testsupport::FixtureManifest("demo");
  struct TRestored {
    std::string Source;  // in the manifest
    std::string Written; // below the target folder, first run
    std::string Again;   // second run, with the rename rule
  };
  const std::vector<TRestored> Files = {
      {"/Notes/shopping.txt", "Notes/shopping.txt", "Notes/shopping[1].txt"},
      {"/Notes/ideas.txt", "Notes/ideas.txt", "Notes/ideas[1].txt"},
      {"/Documents/thesis.docx", "Documents/thesis.docx", "Documents/thesis[1].docx"},
      {"/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/$IABC123.jpg",
       "$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/$IABC123.jpg",
       "$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/$IABC123[1].jpg"},
  };

  EXPECT_EQ(Title(), "Tarnwick");
  Click("btnNext");
  ASSERT_EQ(Title(), "Select source disk");
  EXPECT_EQ(Window->findChild<QTreeWidget*>("tvDrive")->currentItem()->text(0), "demo (C: [NTFS])");
  Click("btnNext");
  ASSERT_EQ(Title(), "Explorer of deleted files");
  TickFolder({"C:", "Notes"});
  TickFile({"C:", "Documents"}, "thesis.docx");
  TickFile({"C:", "$RECYCLE.BIN", "S-1-5-21-1004336348-1177238915-682003330-1001"}, "$IABC123.jpg");
  ASSERT_TRUE(Enabled("btnNext"));
  Click("btnNext");
  ASSERT_EQ(Title(), "Target directory");
  std::int64_t TickedSize = 0;
  const std::int64_t Ticked = Context.GetCheckedList(TickedSize)->Count();

  const fs::path Out = Target / "restored";
  SetTarget(Out);
  EXPECT_TRUE(Window->findChild<QRadioButton*>()->isChecked()) << "the state file's default: directory tree";
  ASSERT_TRUE(Enabled("btnNext"));
  Click("btnNext");
  ASSERT_EQ(Title(), "Restore data");
  EXPECT_EQ(Window->findChild<QLabel*>("lblPageDescription")->text(), "Restore the all possible data");
  EXPECT_FALSE(Enabled("btnNext"));
  EXPECT_TRUE(Enabled("btnPrev"));
  EXPECT_TRUE(Shell.Boxes.isEmpty()) << Shell.Boxes.join("\n").toStdString();

  std::vector<std::string> FirstRun;
  for (const TRestored& File : Files) {
    const testsupport::ManifestEntry* Entry = Manifest.Find(File.Source);
    ASSERT_NE(Entry, nullptr) << File.Source;
    EXPECT_EQ(FileSha256(Out / File.Written), Entry->Sha256) << File.Written;
    FirstRun.push_back(CopyLine(Out, File.Written, Entry->Size));
  }
  std::vector<std::string> Lines = testfiles::LogPaneLines(*Log());
  const std::string Outer = "Recovering... ( " + std::to_string(Ticked) + " objects) | bold";
  ASSERT_EQ(Lines.size(), Files.size() + 2);
  EXPECT_EQ(Lines.front(), Outer);
  EXPECT_THAT(std::vector<std::string>(Lines.begin() + 1, Lines.end() - 1), UnorderedElementsAreArray(FirstRun));
  EXPECT_EQ(Lines.back(), "Recovering completed.");

  TUrlRecorder Desktop;
  auto* OpenTarget = Window->findChild<QPushButton*>("btnOpenTarget");
  ASSERT_TRUE(OpenTarget->isVisible());
  QTest::mouseClick(OpenTarget, Qt::LeftButton);
  ASSERT_EQ(Desktop.Opened.size(), 1);
  EXPECT_TRUE(Desktop.Opened.first().isLocalFile());
  EXPECT_TRUE(fs::equivalent(Desktop.Opened.first().toLocalFile().toStdString(), Out))
      << Desktop.Opened.first().toString().toStdString();
  EXPECT_TRUE(Shell.Boxes.isEmpty()) << Shell.Boxes.join("\n").toStdString();

  Click("btnPrev");
  ASSERT_EQ(Title(), "Target directory");
  EXPECT_FALSE(OpenTarget->isVisible());
  Click("btnNext");
  ASSERT_EQ(Title(), "Restore data");

  std::vector<std::string> SecondRun;
  for (const TRestored& File : Files) {
    const testsupport::ManifestEntry* Entry = Manifest.Find(File.Source);
    EXPECT_EQ(FileSha256(Out / File.Again), Entry->Sha256) << File.Again;
    EXPECT_EQ(FileSha256(Out / File.Written), Entry->Sha256) << "the first copy stays: " << File.Written;
    SecondRun.push_back(CopyLine(Out, File.Again, Entry->Size));
  }
  Lines = testfiles::LogPaneLines(*Log());
  ASSERT_EQ(Lines.size(), 2 * (Files.size() + 2));
  const auto Second = Lines.begin() + static_cast<std::ptrdiff_t>(Files.size() + 2);
  EXPECT_EQ(*Second, Outer) << "the second run follows the first";
  EXPECT_THAT(std::vector<std::string>(Second + 1, Lines.end() - 1), UnorderedElementsAreArray(SecondRun));
  EXPECT_EQ(Lines.back(), "Recovering completed.");
}

// Clicks the wizard's buttons while the recovery is under way.
class TClickingView : public IProgressExView {
public:
  explicit TClickingView(QWidget& AWindow) : FWindow(AWindow) {}
  void AddItem(IProgressExInfo&) override {
    for (const char* Name : {"btnPrev", "btnNext", "btnExit"})
      QTest::mouseClick(FWindow.findChild<QPushButton*>(QLatin1String(Name)), Qt::LeftButton);
    ++Clicks;
  }
  void UpdateItem(IProgressExInfo&) override {}
  void CloseItem(IProgressExInfo&) override {}
  void Detail(IProgressExInfo&, const std::string&, TProgressDetailStatus) override {}
  int Clicks = 0;

private:
  QWidget& FWindow;
};

TEST_F(RecoveryWalk, TheButtonsDoNothingWhileTheRecoveryRuns) {
  WalkToTarget();
  const auto Clicking = std::make_shared<TClickingView>(*Window);
  ProgressEx::AddView(Clicking);
  Click("btnNext");
  ProgressEx::RemoveView(Clicking);
  EXPECT_GT(Clicking->Clicks, 0);
  EXPECT_EQ(Title(), "Restore data");
  EXPECT_TRUE(Window->isVisible()) << "Exit was not heard";
  EXPECT_EQ(testfiles::LogPaneLines(*Log()).back(), "Recovering completed.");
}

TEST_F(RecoveryWalk, AVolumeGoneBeforeTheRestoreIsShownAndTheLogStaysEmpty) {
  WalkToTarget();
  std::filesystem::resize_file(Demo(), 0);
  Click("btnNext");
  EXPECT_EQ(Title(), "Restore data");
  ASSERT_EQ(Shell.Boxes.size(), 1);
  EXPECT_TRUE(Shell.Boxes.first().startsWith("Error: ")) << Shell.Boxes.first().toStdString();
  EXPECT_EQ(Log()->toPlainText(), "");
  EXPECT_FALSE(Enabled("btnNext"));
  EXPECT_FALSE(Enabled("btnPrev"));
  EXPECT_TRUE(Enabled("btnExit"));
  EXPECT_FALSE(Window->findChild<QPushButton*>("btnOpenTarget")->isVisible()) << "the recovery did not return";
}

} // namespace

int main(int argc, char** argv) { return RunTestsInside<TTarnwickApplication>(argc, argv); }

#include "test_RecoveryWalk.moc"
