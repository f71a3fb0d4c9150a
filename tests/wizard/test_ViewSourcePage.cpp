#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <functional>

#include "engine/uAppContext.h"
#include "platform/uDriveList.h"
#include "platform/uSourceResolver.h"
#include "progress/uProgressExForm.h"
#include "tests/support/Content.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uFakeBlockDevices.h"
#include "tests/support/uFileViewDriving.h"
#include "tests/support/uSlowFailingSource.h"
#include "wizard/uCheckStateDelegate.h"
#include "wizard/uFilePreview.h"
#include "wizard/uFileViewModels.h"
#include "wizard/uSelectSourceDrivePage.h"
#include "wizard/uStartPage.h"
#include "wizard/uViewSourcePage.h"
#include "wizard/uWizardMain.h"

namespace {

namespace fs = std::filesystem;

// Stands for the target folder page.
class TNextPage : public TWizardPage {
public:
  QString GetTitle() override { return QStringLiteral("Next page"); }
  QString GetDescription() override { return QStringLiteral("What comes next"); }
  bool GetAllowNext() override { return true; }
};

// Every node of the context's tree, parents before children.
void WalkTree(const IExListPtr& AItems, const std::function<void(PTreeItemInfo)>& AVisit) {
  if (!AItems)
    return;
  for (auto [Bookmark, Node] : ListItems<PTreeItemInfo>(*AItems)) {
    AVisit(Node);
    WalkTree(Node->SubItems, AVisit);
  }
}

// The wizard window with the start page, the drive page, the file selection
// page and one page after them, over a system whose only drive is the
// volume image a test names.
class ViewSourcePage : public testing::Test {
protected:
  void SetUp() override {
    Drives.DeviceRoots() = Devices.Roots();
    Drives.Images().Clear();
  }

  void TearDown() override {
    Wizard.reset();
    Context.Clear();
  }

  void Open(const std::string& AImage) {
    Drives.Images().Merge({AImage});
    Drives.Refresh();
    Context.SetSourceDrive(u"");
    Wizard = std::make_unique<TWizardMain>();
    auto Page = std::make_unique<TViewSourcePage>(Context);
    Files = Page.get();
    Wizard->AddPage(std::make_unique<TStartPage>());
    Wizard->AddPage(std::make_unique<TSelectSourceDrivePage>(
        Context, Drives, TSourceResolver([this](const std::string& APath) { return OpenFile(APath); })));
    Wizard->AddPage(std::move(Page));
    Wizard->AddPage(std::make_unique<TNextPage>());
    Wizard->resize(900, 650);
    Wizard->show();
    Wizard->Run();
  }

  // Opens the wizard on the volume and moves on to the file selection page.
  void Enter(const std::string& AImage) {
    Open(AImage);
    Click("btnNext");
    Click("btnNext");
  }

  QPushButton* Button(const char* AName) const { return Wizard->findChild<QPushButton*>(QLatin1String(AName)); }
  void Click(const char* AName) { QTest::mouseClick(Button(AName), Qt::LeftButton); }
  bool NextEnabled() const { return Button("btnNext")->isEnabled(); }
  QString Title() const { return Wizard->findChild<QLabel*>("lblPageTitle")->text(); }
  QTreeView* Tree() const { return Files->findChild<QTreeView*>("tvFiles"); }
  QTableView* List() const { return Files->findChild<QTableView*>("lvFiles"); }
  QToolButton* Up() const { return Files->findChild<QToolButton*>("btnBack"); }
  QString ViewPath() const { return Files->findChild<QLabel*>("lblViewPath")->text(); }
  QString Status() const { return Files->findChild<QLabel*>("lblStatus")->text(); }
  template <class TWidget>
  TWidget* Find(const char* AName) const {
    return Files->findChild<TWidget*>(QLatin1String(AName));
  }
  void OpenFolder(const QStringList& ATreePath) {
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(TreeIndex(ATreePath)).center());
  }
  // The folders below a tree node, depth first, as "Parent/Child".
  QStringList TreeFolders(const QModelIndex& AParent = QModelIndex(), const QString& APrefix = QString()) const {
    QStringList Result;
    const QAbstractItemModel& Model = *Tree()->model();
    for (int Row = 0; Row < Model.rowCount(AParent); ++Row) {
      const QModelIndex Index = Model.index(Row, 0, AParent);
      const QString Path = APrefix + Index.data().toString();
      Result << Path << TreeFolders(Index, Path + "/");
    }
    return Result;
  }

  // As the mouse delivers it: a press and a release, then the second press
  // as a double click.
  static void DoubleClick(QWidget* AWidget, QPoint APoint) {
    QTest::mouseMove(AWidget, APoint);
    QTest::mouseClick(AWidget, Qt::LeftButton, {}, APoint);
    QTest::mouseDClick(AWidget, Qt::LeftButton, {}, APoint);
  }

  static QString Name(PTreeItemInfo ANode) { return QString::fromStdU16String(ANode->Data->Name); }

  QModelIndex TreeIndex(const QStringList& APath) const { return fileviews::TreeIndex(*Tree(), APath); }
  PTreeItemInfo TreeNode(const QStringList& APath) const { return NodeOfIndex(TreeIndex(APath)); }

  // Each row of the list as "name|size|ticked state".
  QStringList ListRows() const {
    QStringList Rows;
    const QAbstractItemModel& Model = *List()->model();
    for (int Row = 0; Row < Model.rowCount(); ++Row)
      Rows << Model.index(Row, 0).data().toString();
    return Rows;
  }
  QString SelectedListRow() const {
    const QModelIndexList Selected = List()->selectionModel()->selectedRows();
    return Selected.isEmpty() ? QString() : Selected.first().data().toString();
  }
  QString SelectedTreeNode() const {
    const QModelIndexList Selected = Tree()->selectionModel()->selectedIndexes();
    return Selected.isEmpty() ? QString() : Selected.first().data().toString();
  }

  testfiles::TFakeBlockDevices Devices;
  TDriveList Drives;
  // How the drive page opens the image; a test may put a failing disk there.
  TFileOpener OpenFile = TFileSource::Open;
  std::shared_ptr<TScriptedPrompt> Prompt = std::make_shared<TScriptedPrompt>();
  TNTFSRecoveryContext Context{Prompt};
  std::unique_ptr<TWizardMain> Wizard;
  TViewSourcePage* Files = nullptr;
};

// The state number of every node of the context's tree, as "name=state".
QStringList Ticks(TNTFSRecoveryContext& AContext) {
  QStringList Result;
  WalkTree(AContext.TreeItems(), [&](PTreeItemInfo ANode) {
    Result << QString::fromStdU16String(ANode->Data->Name) + "=" + QString::number(GetCheckState(AContext, ANode));
  });
  return Result;
}

TEST_F(ViewSourcePage, EnteringByNextScansAndShowsTheFolderTree) {
  Enter(testsupport::FixtureImage("demo"));
  EXPECT_EQ(Title(), "Explorer of deleted files");
  const QModelIndex Drive = TreeIndex({"C:"});
  ASSERT_TRUE(Drive.isValid());
  EXPECT_TRUE(Tree()->isExpanded(Drive));
  EXPECT_EQ(SelectedTreeNode(), "C:");
  QStringList Folders;
  for (int Row = 0; Row < Tree()->model()->rowCount(Drive); ++Row)
    Folders << Tree()->model()->index(Row, 0, Drive).data().toString();
  EXPECT_EQ(Folders, QStringList({"$RECYCLE.BIN", "Documents", "Notes", "Photos"})) << "folders only, by name";
  EXPECT_TRUE(TreeIndex({"C:", "$RECYCLE.BIN"}).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(TreeIndex({"C:", "Notes"}).data(Qt::FontRole).value<QFont>().bold());

  EXPECT_EQ(ViewPath(), "C:");
  EXPECT_EQ(ListRows(), Folders);
  EXPECT_EQ(SelectedListRow(), "$RECYCLE.BIN");
  EXPECT_FALSE(Up()->isEnabled()) << "the drive folder has no parent";
  EXPECT_FALSE(NextEnabled());
  EXPECT_EQ(Files->findChild<QLineEdit*>("edtSearchMask")->text(), "*.*") << "the context's mask";
}

TEST_F(ViewSourcePage, AClickOnATickPictureTicksTheSubtreeAndAncestorsOnly) {
  Enter(testsupport::FixtureImage("deleted"));
  Tree()->expand(TreeIndex({"C:", "Work"}));
  const QModelIndex Old = TreeIndex({"C:", "Work", "Old"});
  const QPoint Picture = TCheckStateDelegate::StateImageRectOf(*Tree(), Old).center();
  QTest::mouseMove(Tree()->viewport(), Picture);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Picture);

  EXPECT_EQ(Ticks(Context), QStringList({"C:=1", "Work=2", "Old=1", "Deeper=1", "c.bin=1", "a.txt=1", "b.bin=1",
                                         "intact.bin=0", "half.bin=0", "whole.bin=0", "\?\?\?=0", "orphan.txt=0"}));
  EXPECT_EQ(Old.data(Qt::CheckStateRole).value<int>(), Qt::Checked);
  EXPECT_EQ(TreeIndex({"C:", "Work"}).data(Qt::CheckStateRole).value<int>(), Qt::PartiallyChecked);
  EXPECT_EQ(SelectedTreeNode(), "C:") << "the selection stays";
  EXPECT_FALSE(Tree()->isExpanded(Old)) << "the expansion stays";
  EXPECT_TRUE(NextEnabled());

  const QPoint Beside = Tree()->visualRect(Old).center();
  ASSERT_FALSE(TCheckStateDelegate::StateImageRectOf(*Tree(), Old).contains(Beside));
  QTest::mouseMove(Tree()->viewport(), Beside);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Beside);
  EXPECT_EQ(SelectedTreeNode(), "Old");
  EXPECT_TRUE(Ticks(Context).contains("Old=1")) << "a click beside the picture does not tick";

  QTest::mouseMove(Tree()->viewport(), Picture);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Picture);
  EXPECT_FALSE(Ticks(Context).join(',').contains("=1"));
  EXPECT_FALSE(NextEnabled());
}

TEST_F(ViewSourcePage, TheListShowsOneFolderWithColoursAndTicksByItsPictures) {
  Enter(testsupport::FixtureImage("deleted"));
  const QModelIndex Work = TreeIndex({"C:", "Work"});
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(Work).center());
  EXPECT_EQ(ViewPath(), "C:\\Work");
  EXPECT_TRUE(Up()->isEnabled());

  const QColor Black(0, 0, 0), Maroon(128, 0, 0), Navy(0, 0, 128);
  struct TRow {
    QString Name, Size, Overwrited;
    QColor Colour;
  };
  const TRow Expected[] = {{"Old", "0", "0.00%", Black},
                           {"half.bin", "32768", "50.00%", Maroon},
                           {"intact.bin", "32768", "0.00%", Navy},
                           {"whole.bin", "16384", "100.00%", Maroon}};
  const QAbstractItemModel& Model = *List()->model();
  ASSERT_EQ(Model.rowCount(), std::size(Expected));
  for (int Row = 0; Row < Model.rowCount(); ++Row) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Model.index(Row, TFolderListModel::colFileName).data().toString(), Expected[Row].Name);
    EXPECT_EQ(Model.index(Row, TFolderListModel::colDataSize).data().toString(), Expected[Row].Size);
    EXPECT_EQ(Model.index(Row, TFolderListModel::colOverwrited).data().toString(), Expected[Row].Overwrited);
    EXPECT_EQ(Model.index(Row, TFolderListModel::colFileName).data(Qt::ForegroundRole).value<QColor>(),
              Expected[Row].Colour);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                    .match(Model.index(Row, TFolderListModel::colTime).data().toString())
                    .hasMatch())
        << "a local time, without a zone";
  }

  const QPoint Intact = TCheckStateDelegate::StateImageRectOf(*List(), Model.index(2, 0)).center();
  QTest::mouseMove(List()->viewport(), Intact);
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, Intact);
  EXPECT_TRUE(Ticks(Context).contains("intact.bin=1"));
  EXPECT_TRUE(Ticks(Context).contains("Work=2"));
  EXPECT_TRUE(NextEnabled());

  // A double click on a folder's picture ticks and unticks it, and does not open it.
  const QPoint Old = TCheckStateDelegate::StateImageRectOf(*List(), Model.index(0, 0)).center();
  DoubleClick(List()->viewport(), Old);
  EXPECT_EQ(ViewPath(), "C:\\Work");
  EXPECT_TRUE(Ticks(Context).contains("Old=0"));
}

TEST_F(ViewSourcePage, TheCommandsTickAllNothingOrTheGoodFiles) {
  Enter(testsupport::FixtureImage("deleted"));
  Click("btnSelectGood");
  WalkTree(Context.TreeItems(), [](PTreeItemInfo ANode) {
    if (ANode->Data->IsDirectory)
      return;
    EXPECT_EQ(ANode->Data->Checked, ANode->Data->OverwritePercent < GoodFileThreshold) << Name(ANode).toStdString();
  });
  EXPECT_TRUE(NextEnabled());

  // The list's menu acts on the folder the list shows.
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(TreeIndex({"C:", "Work"})).center());
  Files->findChild<QTableView*>("lvFiles")->findChild<QMenu*>()->actions().at(2)->trigger();
  EXPECT_EQ(Ticks(Context), QStringList({"C:=0", "Work=0", "Old=0", "Deeper=0", "c.bin=0", "a.txt=0", "b.bin=0",
                                         "intact.bin=0", "half.bin=0", "whole.bin=0", "\?\?\?=1", "orphan.txt=1"}));

  Click("btnSelectAll");
  EXPECT_FALSE(Ticks(Context).join(',').contains("=0"));
  Click("btnDeselectAll");
  EXPECT_FALSE(Ticks(Context).join(',').contains("=1"));
  EXPECT_FALSE(NextEnabled());
}

TEST_F(ViewSourcePage, HeaderClicksSortTheListBothWaysKeepingTicksAndTheCurrentRow) {
  Enter(testsupport::FixtureImage("deleted"));
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(TreeIndex({"C:", "Work"})).center());
  const QAbstractItemModel& Model = *List()->model();
  const auto RowNamed = [&](const QString& AName) {
    return Model.match(Model.index(0, 0), Qt::DisplayRole, AName, 1, Qt::MatchExactly).value(0);
  };
  fileviews::ClickTickPicture(*List(), RowNamed("intact.bin"));
  List()->setCurrentIndex(RowNamed("whole.bin"));

  // ntfs-3g stamps each file as it makes it: intact.bin, half.bin and
  // whole.bin were made in that order.
  struct TClick {
    int Column;
    QStringList Expected;
  };
  const TClick Clicks[] = {
      {TFolderListModel::colDataSize, {"Old", "whole.bin", "half.bin", "intact.bin"}},
      {TFolderListModel::colDataSize, {"Old", "intact.bin", "half.bin", "whole.bin"}},
      {TFolderListModel::colOverwrited, {"Old", "intact.bin", "half.bin", "whole.bin"}},
      {TFolderListModel::colOverwrited, {"Old", "whole.bin", "half.bin", "intact.bin"}},
      {TFolderListModel::colDate, {"Old", "intact.bin", "half.bin", "whole.bin"}},
      {TFolderListModel::colDate, {"Old", "whole.bin", "half.bin", "intact.bin"}},
      {TFolderListModel::colFileName, {"Old", "half.bin", "intact.bin", "whole.bin"}},
      {TFolderListModel::colFileName, {"Old", "whole.bin", "intact.bin", "half.bin"}},
  };
  QHeaderView* Header = List()->horizontalHeader();
  for (const TClick& Click : Clicks) {
    SCOPED_TRACE(Click.Column);
    const QPoint Middle(Header->sectionViewportPosition(Click.Column) + Header->sectionSize(Click.Column) / 2,
                        Header->height() / 2);
    QTest::mouseClick(Header->viewport(), Qt::LeftButton, {}, Middle);
    EXPECT_EQ(ListRows(), Click.Expected);
    EXPECT_EQ(SelectedListRow(), "whole.bin");
    EXPECT_EQ(List()->currentIndex().siblingAtColumn(0).data().toString(), "whole.bin");
    EXPECT_EQ(RowNamed("intact.bin").data(Qt::CheckStateRole).value<int>(), Qt::Checked);
    EXPECT_EQ(RowNamed("half.bin").data(Qt::CheckStateRole).value<int>(), Qt::Unchecked);
  }
  EXPECT_TRUE(Ticks(Context).contains("intact.bin=1"));
}

QString SizeText(std::int64_t ABytes) { return QLocale::system().formattedDataSize(ABytes); }

TEST_F(ViewSourcePage, FiltersNarrowTheTreeAndTheListAndTheCommandsActOnWhatIsShown) {
  Enter(testsupport::FixtureImage("deleted"));
  OpenFolder({"C:", "Work"});
  EXPECT_FALSE(Find<QLabel>("lblFilterOn")->isVisible());
  const QStringList Everything = TreeFolders();
  EXPECT_EQ(Everything, QStringList({"C:", "C:/Work", "C:/Work/Old", "C:/Work/Old/Deeper", "???"}));

  QTest::mouseClick(Find<QCheckBox>("chkRestorableOnly"), Qt::LeftButton);
  EXPECT_TRUE(Find<QLabel>("lblFilterOn")->isVisible());
  EXPECT_EQ(ViewPath(), "C:\\Work") << "the list stays in its folder";
  EXPECT_EQ(ListRows(), QStringList({"Old", "intact.bin"}));
  EXPECT_EQ(TreeFolders(), Everything) << "the files of every other folder can be restored";
  EXPECT_TRUE(Tree()->isExpanded(TreeIndex({"C:"}))) << "the tree stays open as it was";
  EXPECT_EQ(SelectedTreeNode(), "Work");
  QTest::mouseClick(Find<QCheckBox>("chkRestorableOnly"), Qt::LeftButton);
  EXPECT_EQ(ListRows(), QStringList({"Old", "half.bin", "intact.bin", "whole.bin"}));
  EXPECT_FALSE(Find<QLabel>("lblFilterOn")->isVisible());

  // 20 to 32 KiB: b.bin (20 KiB), half.bin and intact.bin (32 KiB).
  Find<QSpinBox>("spnSizeFrom")->setValue(20);
  EXPECT_EQ(ListRows(), QStringList({"Old", "half.bin", "intact.bin", "whole.bin"})) << "the range is off";
  QTest::mouseClick(Find<QCheckBox>("chkSize"), Qt::LeftButton);
  Find<QSpinBox>("spnSizeTo")->setValue(32);
  EXPECT_EQ(ListRows(), QStringList({"Old", "half.bin", "intact.bin"}));
  EXPECT_EQ(TreeFolders(), QStringList({"C:", "C:/Work", "C:/Work/Old"}));

  Click("btnSelectAll");
  EXPECT_EQ(Ticks(Context), QStringList({"C:=1", "Work=2", "Old=2", "Deeper=0", "c.bin=0", "a.txt=0", "b.bin=1",
                                         "intact.bin=1", "half.bin=1", "whole.bin=0", "\?\?\?=0", "orphan.txt=0"}));
  const QString Counted = "Ticked: 3 files, " + SizeText(20480 + 32768 + 32768) +
                          "; estimated overwritten among them: 1 file, " + SizeText(32768);
  EXPECT_EQ(Status(), Counted);
  EXPECT_TRUE(NextEnabled());

  // The list's own command: only the files shown in Work and below.
  Click("btnDeselectAll");
  Files->findChild<QTableView*>("lvFiles")->findChild<QMenu*>()->actions().at(0)->trigger();
  EXPECT_EQ(Ticks(Context), QStringList({"C:=1", "Work=2", "Old=2", "Deeper=0", "c.bin=0", "a.txt=0", "b.bin=1",
                                         "intact.bin=1", "half.bin=0", "whole.bin=0", "\?\?\?=0", "orphan.txt=0"}));

  // Files ticked but hidden are still restored, so the line tells of them.
  QTest::mouseClick(Find<QCheckBox>("chkSize"), Qt::LeftButton);
  Click("btnDeselectAll");
  Click("btnSelectAll");
  QTest::mouseClick(Find<QCheckBox>("chkRestorableOnly"), Qt::LeftButton);
  EXPECT_TRUE(Status().endsWith("; 2 files ticked but hidden by the filter")) << Status().toStdString();
  EXPECT_TRUE(Status().contains("estimated overwritten among them: 0 files, " + SizeText(0))) << Status().toStdString();
  QTest::mouseClick(Find<QCheckBox>("chkRestorableOnly"), Qt::LeftButton);

  // The volume was made before tomorrow and after 2000.
  auto* From = Find<QDateEdit>("dteFrom");
  auto* To = Find<QDateEdit>("dteTo");
  From->setDate(QDate(2000, 1, 1));
  To->setDate(QDate::currentDate().addDays(1));
  QTest::mouseClick(Find<QCheckBox>("chkDate"), Qt::LeftButton);
  EXPECT_EQ(TreeFolders(), Everything);
  EXPECT_EQ(ListRows(), QStringList({"Old", "half.bin", "intact.bin", "whole.bin"}));
  From->setDate(QDate::currentDate().addDays(2));
  To->setDate(QDate::currentDate().addDays(3));
  EXPECT_EQ(TreeFolders(), QStringList());
  EXPECT_EQ(ListRows(), QStringList());
  EXPECT_EQ(ViewPath(), "");
  Click("btnDeselectAll");
  EXPECT_EQ(Context.HasChecked(), true) << "nothing is shown, so nothing changes";
  QTest::mouseClick(Find<QCheckBox>("chkDate"), Qt::LeftButton);
  EXPECT_EQ(TreeFolders(), Everything);
}

// The bytes the fixture builder wrote into a file of a recipe.
std::string WrittenContent(const std::string& ARecipe, const std::string& APath) {
  const testsupport::Manifest Manifest = testsupport::FixtureManifest(ARecipe);
  const testsupport::ManifestEntry* Entry = Manifest.Find(APath);
  return testsupport::GenerateContent(testsupport::ContentLayout::Parse(Entry->Layout), Entry->Seed);
}

QByteArray PngOf(const QImage& AImage) {
  QByteArray Png;
  QBuffer Buffer(&Png);
  Buffer.open(QIODevice::WriteOnly);
  AImage.save(&Buffer, "PNG");
  return Png;
}

// A copy of the "deleted" volume in which the clusters of the deleted
// intact.bin hold a small PNG picture instead of its random bytes: a
// deleted photo as the engine finds it.
fs::path VolumeWithAPicture(const fs::path& AFolder, const QImage& APicture) {
  const fs::path Image = AFolder / "picture.img";
  fs::copy_file(testsupport::FixtureImage("deleted"), Image);
  std::string Volume;
  {
    std::ifstream In(Image, std::ios::binary);
    Volume.assign(std::istreambuf_iterator<char>(In), {});
  }
  const std::string Intact = WrittenContent("deleted", "/Work/intact.bin");
  const std::size_t Offset = Volume.find(Intact.substr(0, 4096));
  EXPECT_NE(Offset, std::string::npos);
  const QByteArray Png = PngOf(APicture);
  EXPECT_LT(Png.size(), static_cast<qsizetype>(Intact.size()));
  std::fstream Out(Image, std::ios::in | std::ios::out | std::ios::binary);
  Out.seekp(static_cast<std::streamoff>(Offset));
  Out.write(Png.constData(), Png.size());
  return Image;
}

TEST_F(ViewSourcePage, ThePreviewShowsTextPicturesAndBytesAndWarnsOfOverwrittenFiles) {
  QImage Picture(64, 48, QImage::Format_RGB32);
  Picture.fill(Qt::darkGreen);
  QPainter(&Picture).fillRect(8, 8, 16, 16, Qt::yellow);
  testfiles::TTempFolder Folder;
  Enter(VolumeWithAPicture(Folder.Path(), Picture).string());
  OpenFolder({"C:", "Work"});
  const QAbstractItemModel& Model = *List()->model();
  const auto Preview = [&](const QString& AName) {
    const QModelIndex Row = Model.match(Model.index(0, 0), Qt::DisplayRole, AName, 1, Qt::MatchExactly).value(0);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, List()->visualRect(Row.siblingAtColumn(1)).center());
    QTest::mouseClick(Find<QPushButton>("btnPreview"), Qt::LeftButton);
  };
  auto* Button = Find<QPushButton>("btnPreview");
  EXPECT_FALSE(Button->isEnabled()) << "the current row is the folder Old";

  Preview("intact.bin");
  auto* Dialog = Files->findChild<TPreviewDialog*>("dlgPreview");
  ASSERT_NE(Dialog, nullptr);
  EXPECT_TRUE(Dialog->isVisible());
  EXPECT_EQ(Dialog->windowTitle(), "Preview of intact.bin");
  EXPECT_TRUE(Dialog->findChild<QLabel*>("lblFormat")->text().startsWith("PNG, ")) << "found by its content";
  EXPECT_EQ(Dialog->findChild<QLabel*>("imgPreview")->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
            Picture);
  EXPECT_FALSE(Dialog->findChild<QLabel*>("lblWarning")->isVisible());

  Preview("half.bin");
  EXPECT_TRUE(Dialog->findChild<QLabel*>("lblWarning")->isVisible());
  EXPECT_TRUE(Dialog->findChild<QLabel*>("lblWarning")->text().startsWith("This file is estimated 50.00% overwritten"));
  EXPECT_TRUE(Dialog->findChild<QLabel*>("lblFormat")->text().startsWith("binary, ")) << "random bytes";
  const QString Dump = Dialog->findChild<QPlainTextEdit*>("txtPreview")->toPlainText();
  EXPECT_EQ(Dump.count('\n'), 32768 / 16) << "one line of sixteen bytes each";

  // The text file by the keyboard: into Old, down to a.txt, F3.
  Dialog->close();
  Wizard->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Wizard.get()));
  List()->setFocus();
  QTest::mouseMove(Tree()->viewport(), QPoint(0, 0));
  List()->setCurrentIndex(Model.index(0, 0));
  QTest::keyClick(List(), Qt::Key_Return);
  ASSERT_EQ(ViewPath(), "C:\\Work\\Old");
  ASSERT_EQ(ListRows(), QStringList({"Deeper", "a.txt", "b.bin"}));
  QTest::keyClick(List(), Qt::Key_Down);
  QTest::keyClick(List(), Qt::Key_F3);
  EXPECT_EQ(Dialog->windowTitle(), "Preview of a.txt");
  EXPECT_TRUE(Dialog->findChild<QLabel*>("lblFormat")->text().startsWith("UTF-8, "));
  EXPECT_EQ(Dialog->findChild<QPlainTextEdit*>("txtPreview")->toPlainText().toStdString(),
            WrittenContent("deleted", "/Work/Old/a.txt"));
  EXPECT_FALSE(Dialog->findChild<QLabel*>("lblWarning")->isVisible());

  // Space ticks and unticks the current row.
  QTest::keyClick(List(), Qt::Key_Space);
  EXPECT_TRUE(Ticks(Context).contains("a.txt=1"));
  EXPECT_TRUE(NextEnabled());
  EXPECT_TRUE(Status().startsWith("Ticked: 1 file, ")) << Status().toStdString();
  QTest::keyClick(List(), Qt::Key_Space);
  EXPECT_TRUE(Ticks(Context).contains("a.txt=0"));
  EXPECT_FALSE(NextEnabled());
}

TEST(FilePreview, BytesAreShownInTheirEncodingOrAsAHexDump) {
  struct TCase {
    const char* Name;
    QByteArray Bytes;
    TPreviewKind Kind;
    QString Format;
    QString Text;
  };
  const QString Umlauts = QStringLiteral("Gr\u00fc\u00dfe aus K\u00f6ln\r\n");
  QByteArray Utf16(Umlauts.size() * 2, '\0');
  std::memcpy(Utf16.data(), Umlauts.utf16(), static_cast<std::size_t>(Utf16.size()));
  const TCase Cases[] = {
      {"ascii", "plain text\n", pvkText, "UTF-8", "plain text\n"},
      {"utf-8", Umlauts.toUtf8(), pvkText, "UTF-8", Umlauts},
      // A multi-byte character cut off by the read limit.
      {"utf-8 cut", Umlauts.toUtf8().left(3), pvkText, "UTF-8", "Gr"},
      {"utf-8 with a mark", "\xef\xbb\xbfmarked", pvkText, "UTF-8", "marked"},
      {"utf-16le", Utf16, pvkText, "UTF-16LE", Umlauts},
      {"utf-16le with a mark", "\xff\xfe" + Utf16, pvkText, "UTF-16LE", Umlauts},
      {"latin-1", Umlauts.toLatin1(), pvkText, "ISO-8859-1", Umlauts},
      {"binary", QByteArray("MZ\x90\x00\x03\x00\x00\x00", 8), pvkHex, "binary",
       "00000000  4d 5a 90 00 03 00 00 00                           |MZ......|\n"},
      {"empty", QByteArray(), pvkHex, "binary", ""},
      {"png", PngOf(QImage(4, 3, QImage::Format_RGB32)), pvkImage, "PNG", ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TPreviewContent Content = MakePreview(Case.Bytes);
    EXPECT_EQ(Content.Kind, Case.Kind);
    EXPECT_EQ(Content.Format, Case.Format);
    EXPECT_EQ(Content.Text, Case.Text);
  }
  EXPECT_EQ(HexDump(QByteArray("0123456789abcdefXY")),
            "00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\n"
            "00000010  58 59                                             |XY|\n");
  EXPECT_EQ(MakePreview(QByteArray(HexDumpBytes + 100, '\x01')).Text.count('\n'), HexDumpBytes / 16)
      << "only the start is dumped";
}

bool HasFocusIn(const QWidget* AWidget) {
  const QWidget* Focus = QApplication::focusWidget();
  return Focus && (Focus == AWidget || AWidget->isAncestorOf(Focus));
}

TEST_F(ViewSourcePage, EveryNewControlHasAnAccelerator) {
  Enter(testsupport::FixtureImage("deleted"));
  Wizard->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Wizard.get()));
  // A button's accelerator clicks it a moment later, as the mouse would.
  const auto Press = [&](Qt::Key AKey, const std::function<bool()>& AEffect) {
    QTest::keyClick(Wizard.get(), AKey, Qt::AltModifier);
    return QTest::qWaitFor(AEffect);
  };
  EXPECT_TRUE(Press(Qt::Key_R, [&] { return Find<QCheckBox>("chkRestorableOnly")->isChecked(); }));
  EXPECT_TRUE(Find<QLabel>("lblFilterOn")->isVisible());
  EXPECT_TRUE(Press(Qt::Key_Z, [&] { return Find<QCheckBox>("chkSize")->isChecked(); }));
  EXPECT_TRUE(Press(Qt::Key_U, [&] { return HasFocusIn(Find<QSpinBox>("spnSizeTo")); }));
  EXPECT_TRUE(Press(Qt::Key_F, [&] { return Find<QCheckBox>("chkDate")->isChecked(); }));
  EXPECT_TRUE(Press(Qt::Key_O, [&] { return HasFocusIn(Find<QDateEdit>("dteTo")); }));

  // The volume was made today; everything restorable of up to 1 GiB shows.
  OpenFolder({"C:", "Work"});
  ASSERT_EQ(ListRows(), QStringList({"Old", "intact.bin"}));
  List()->setCurrentIndex(List()->model()->index(1, 0));
  EXPECT_TRUE(Press(Qt::Key_V, [&] { return Files->findChild<TPreviewDialog*>("dlgPreview") != nullptr; }));
  ASSERT_NE(Files->findChild<TPreviewDialog*>("dlgPreview"), nullptr);
  EXPECT_EQ(Files->findChild<TPreviewDialog*>("dlgPreview")->windowTitle(), "Preview of intact.bin");
}

TEST_F(ViewSourcePage, AMaskSearchRebuildsTheTreeUnticked) {
  Enter(testsupport::FixtureImage("deleted"));
  Click("btnSelectAll");
  auto* Mask = Files->findChild<QLineEdit*>("edtSearchMask");
  Mask->setFocus();
  Mask->setText("*.txt");
  QTest::keyClick(Mask, Qt::Key_Return);
  EXPECT_EQ(Ticks(Context), QStringList({"C:=0", "Work=0", "Old=0", "a.txt=0", "\?\?\?=0", "orphan.txt=0"}));
  EXPECT_EQ(SelectedTreeNode(), "C:");
  EXPECT_EQ(ListRows(), QStringList({"Work"}));
  EXPECT_EQ(NextEnabled(), Context.HasChecked()) << "files left out keep their ticks";

  Mask->clear();
  QTest::mouseClick(Files->findChild<QToolButton*>("btnSearch"), Qt::LeftButton);
  EXPECT_EQ(Context.Mask(), u"*.*");
  EXPECT_EQ(Ticks(Context).size(), 12);
  EXPECT_FALSE(NextEnabled());
}

TEST_F(ViewSourcePage, UpEnterBackspaceAndDoubleClickMoveTheListThroughFolders) {
  Enter(testsupport::FixtureImage("demo"));
  const QAbstractItemModel& Model = *List()->model();
  const auto SelectRow = [&](const QString& AName) {
    List()->setCurrentIndex(Model.match(Model.index(0, 0), Qt::DisplayRole, AName, 1, Qt::MatchExactly).first());
  };
  // Enter does what a double click does, which is nothing over a tick picture.
  QTest::mouseMove(Tree()->viewport(), QPoint(0, 0));
  List()->setFocus();
  SelectRow("Photos");
  QTest::keyClick(List(), Qt::Key_Return);
  EXPECT_EQ(ViewPath(), "C:\\Photos");
  EXPECT_EQ(SelectedTreeNode(), "C:") << "the tree's selection does not follow";

  const QModelIndex Holiday = Model.index(0, 0);
  ASSERT_EQ(Holiday.data().toString(), "Holiday 2023");
  DoubleClick(List()->viewport(), List()->visualRect(Holiday).center());
  EXPECT_EQ(ViewPath(), "C:\\Photos\\Holiday 2023");
  EXPECT_EQ(ListRows(), QStringList({"hotel.jpg", "pier.jpg", "sunset.jpg"})) << "pier.jpg came from the bin";

  QTest::mouseClick(Up(), Qt::LeftButton);
  EXPECT_EQ(ViewPath(), "C:\\Photos");
  EXPECT_EQ(SelectedListRow(), "Holiday 2023");
  QTest::keyClick(List(), Qt::Key_Backspace);
  EXPECT_EQ(ViewPath(), "C:");
  EXPECT_EQ(SelectedListRow(), "Photos") << "going up selects the folder one came from";
  EXPECT_FALSE(Up()->isEnabled());
  QTest::keyClick(List(), Qt::Key_Backspace);
  EXPECT_EQ(ViewPath(), "C:");

  SelectRow("Notes");
  QTest::keyClick(List(), Qt::Key_Return);
  SelectRow("ideas.txt");
  QTest::keyClick(List(), Qt::Key_Return);
  EXPECT_EQ(ViewPath(), "C:\\Notes") << "Enter on a file stays";
}

// The demo's Recycle Bin held pier.jpg, deleted on 2023-08-13: it is the
// one file whose deletion time is known.
TEST_F(ViewSourcePage, TheDeletedFilterShowsOnlyFilesDeletedWithinItsDays) {
  Enter(testsupport::FixtureImage("demo"));
  const QModelIndex Holiday = TreeIndex({"C:", "Photos", "Holiday 2023"});
  Tree()->scrollTo(Holiday);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(Holiday).center());
  ASSERT_EQ(ListRows(), QStringList({"hotel.jpg", "pier.jpg", "sunset.jpg"}));
  const QAbstractItemModel& Model = *List()->model();
  EXPECT_FALSE(Model.index(1, TFolderListModel::colDeleted).data().toString().isEmpty());
  EXPECT_TRUE(Model.index(0, TFolderListModel::colDeleted).data().toString().isEmpty());

  Find<QDateEdit>("dteDeletedFrom")->setDate(QDate(2023, 8, 1));
  Find<QDateEdit>("dteDeletedTo")->setDate(QDate(2023, 8, 31));
  QTest::mouseClick(Find<QCheckBox>("chkDeleted"), Qt::LeftButton);
  EXPECT_TRUE(Find<QLabel>("lblFilterOn")->isVisible());
  EXPECT_EQ(ListRows(), QStringList({"pier.jpg"}));
  EXPECT_EQ(TreeFolders(), QStringList({"C:", "C:/Photos", "C:/Photos/Holiday 2023"}));
  Find<QDateEdit>("dteDeletedFrom")->setDate(QDate(2023, 8, 14));
  EXPECT_EQ(TreeFolders(), QStringList());
  QTest::mouseClick(Find<QCheckBox>("chkDeleted"), Qt::LeftButton);
  EXPECT_FALSE(Find<QLabel>("lblFilterOn")->isVisible());
}

// Above its bytes, the preview of a file put back from the Recycle Bin says
// where it was and when it went there, and the preview of an overwritten
// file names what holds its clusters now; each says nothing it does not know.
TEST_F(ViewSourcePage, ThePreviewTellsWhereABinFileWasAndWhatTookAnOverwrittenFile) {
  Enter(testsupport::FixtureImage("demo"));
  const QModelIndex Holiday = TreeIndex({"C:", "Photos", "Holiday 2023"});
  Tree()->scrollTo(Holiday);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(Holiday).center());
  const QAbstractItemModel& Model = *List()->model();
  const QString Deleted = Model.index(1, TFolderListModel::colDeleted).data().toString();
  ASSERT_FALSE(Deleted.isEmpty());
  const testsupport::Manifest Manifest = testsupport::FixtureManifest("demo");
  const auto HeldBy = [&](const char* APath, int AClusters) {
    return QStringLiteral("Its clusters are held now by C:%1 (record %2): %3 clusters.")
        .arg(QString::fromLatin1(APath).replace('/', '\\'))
        .arg(Manifest.Find(APath)->Record)
        .arg(AClusters);
  };
  struct TCase {
    QString File;
    QString FromBin; // empty: the label is hidden
    QString ClaimedBy;
  };
  const TCase Cases[] = {
      {"pier.jpg", "From the emptied Recycle Bin: it was C:\\Photos\\Holiday 2023\\pier.jpg until " + Deleted + ".", ""},
      {"hotel.jpg", "", HeldBy("/Documents/scan.pdf", 95)},
      {"sunset.jpg", "", HeldBy("/Photos/new-phone.jpg", 50)},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.File.toStdString());
    const QModelIndex Row = Model.match(Model.index(0, 0), Qt::DisplayRole, Case.File, 1, Qt::MatchExactly).value(0);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, List()->visualRect(Row.siblingAtColumn(1)).center());
    QTest::mouseClick(Find<QPushButton>("btnPreview"), Qt::LeftButton);
    const auto* Preview = Files->findChild<TPreviewDialog*>("dlgPreview");
    for (const auto& [Label, Text] : {std::pair{"lblRecycleBin", Case.FromBin}, std::pair{"lblClaimedBy", Case.ClaimedBy}}) {
      const QLabel* Shown = Preview->findChild<QLabel*>(Label);
      EXPECT_EQ(Shown->isVisible(), !Text.isEmpty()) << Label;
      if (!Text.isEmpty()) {
        EXPECT_EQ(Shown->text(), Text);
      }
    }
  }
}

TEST_F(ViewSourcePage, KeysCannotMoveTheTreeSelectionWhileThePointerRestsOnATickPicture) {
  Enter(testsupport::FixtureImage("demo"));
  Tree()->setFocus();
  const QModelIndex Drive = TreeIndex({"C:"});
  QTest::mouseMove(Tree()->viewport(), TCheckStateDelegate::StateImageRectOf(*Tree(), Drive).center());
  QTest::keyClick(Tree(), Qt::Key_Down);
  QTest::keyClick(Tree(), Qt::Key_Left);
  EXPECT_EQ(SelectedTreeNode(), "C:");
  EXPECT_TRUE(Tree()->isExpanded(Drive));

  QTest::mouseMove(Tree()->viewport(), Tree()->visualRect(Drive).center());
  QTest::keyClick(Tree(), Qt::Key_Down);
  EXPECT_EQ(SelectedTreeNode(), "$RECYCLE.BIN");
  EXPECT_EQ(ViewPath(), "C:\\$RECYCLE.BIN");
}

TEST_F(ViewSourcePage, ABackAndForthKeepsTheViewAndAnEntryFromTheDrivePageScansAgain) {
  Enter(testsupport::FixtureImage("deleted"));
  Click("btnSelectGood");
  const QStringList Ticked = Ticks(Context);
  Click("btnNext");
  ASSERT_EQ(Title(), "Next page");
  Click("btnPrev");
  EXPECT_EQ(Ticks(Context), Ticked);
  EXPECT_EQ(ViewPath(), "C:");
  EXPECT_TRUE(NextEnabled());

  Click("btnPrev");
  Click("btnNext");
  EXPECT_EQ(Title(), "Explorer of deleted files");
  EXPECT_FALSE(Ticks(Context).join(',').contains("=1"));
  EXPECT_FALSE(NextEnabled());
}

TEST_F(ViewSourcePage, AScanThatCannotOpenTheVolumeRefusesTheEntry) {
  testfiles::TTempFolder Folder;
  const fs::path Image = Folder.Path() / "broken.img";
  fs::copy_file(testsupport::FixtureImage("demo"), Image);
  Open(Image.string());
  Click("btnNext");
  // The boot sector and its backup in the volume's last sector go after the
  // drive was listed.
  std::fstream Bytes(Image, std::ios::in | std::ios::out | std::ios::binary);
  Bytes.write(std::string(512, '\0').data(), 512);
  Bytes.seekp(static_cast<std::streamoff>(fs::file_size(Image)) - 4096);
  Bytes.write(std::string(4096, '\0').data(), 4096);
  Bytes.close();
  Click("btnNext");
  EXPECT_EQ(Title(), "Select source disk");
  ASSERT_EQ(Prompt->Shown().size(), 1u);
  EXPECT_EQ(Prompt->Shown()[0].Kind, pkMessage);
  EXPECT_FALSE(Prompt->Shown()[0].Text.empty());
}

// The demo volume's MFT lies in clusters 4 to 25 of 4 KiB; an image cut
// after its record 78 leaves the records from 79 on unreadable, and with
// them the notes and the recycle bin. The page still opens with what was
// found, after saying so.
TEST_F(ViewSourcePage, AScanOfAnMFTThatCannotBeReadWholeSaysSo) {
  testfiles::TTempFolder Folder;
  const fs::path Image = Folder.Path() / "cut.img";
  fs::copy_file(testsupport::FixtureImage("demo"), Image);
  fs::resize_file(Image, 4 * 4096 + 79 * 1024);
  Enter(Image.string());
  EXPECT_EQ(Title(), "Explorer of deleted files");
  ASSERT_EQ(Prompt->Shown().size(), 1u);
  EXPECT_EQ(Prompt->Shown()[0].Kind, pkMessage);
  EXPECT_EQ(Prompt->Shown()[0].Text,
            "The source drive could not be read everywhere; some deleted files and folders may be missing.\n"
            "MFT records 79 to 84 could not be read from the source drive.");
  EXPECT_TRUE(TreeIndex({"C:", "Photos", "Holiday 2023"}).isValid());
  EXPECT_FALSE(TreeIndex({"C:", "Notes"}).isValid());
}

// A drive whose MFT reads fail after a delay from record 75 on, with the
// progress window the program shows. The window's events are handled
// between any two failed reads, and a click on its Cancel among them ends
// the scan after at most one more; the page then opens.
TEST_F(ViewSourcePage, ACancelWhileTheDiskFailsEndsTheScanWithinOneFailedRead) {
  constexpr int CancelAtFailure = 3;
  const TProgressExFormRegistration ProgressWindow;
  const std::string Image = testsupport::FixtureImage("demo");
  const auto [From, Length] = testsupport::FixtureMFTRecordBytes("demo", 75);
  const auto Source =
      std::make_shared<testsupport::TSlowFailingSource>(Image, TByteRange{From, Length}, std::chrono::milliseconds(20));
  // Counted on the reading thread, handled on the window's.
  struct TPumping {
    std::atomic<int> Handled{0};   // the last failed read whose event the window handled
    std::atomic<int> Unhandled{0}; // failed reads made before the event of the one before was handled
  };
  const auto Pumping = std::make_shared<TPumping>();
  Source->SetAtFailure([Pumping, &ProgressWindow](int AFailure) {
    if (Pumping->Handled < AFailure - 1)
      ++Pumping->Unhandled;
    QMetaObject::invokeMethod(qApp, [Pumping, AFailure] { Pumping->Handled = AFailure; }, Qt::QueuedConnection);
    if (AFailure == CancelAtFailure)
      QMetaObject::invokeMethod(
          qApp,
          [&ProgressWindow] {
            if (TProgressExForm* Form = ProgressWindow.View().Form())
              QTest::mouseClick(Form->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
          },
          Qt::QueuedConnection);
  });
  OpenFile = [Source](const std::string&) { return Source; };
  Enter(Image);
  // A click the scan never heard must not outlive the progress window.
  QCoreApplication::processEvents();
  EXPECT_EQ(Title(), "Explorer of deleted files");
  EXPECT_EQ(Pumping->Unhandled, 0);
  EXPECT_GE(Source->Failures(), CancelAtFailure);
  EXPECT_LE(Source->Failures(), CancelAtFailure + 1);
  // The records the pass met unread before the cancel are named.
  ASSERT_EQ(Prompt->Shown().size(), 1u);
  EXPECT_EQ(Prompt->Shown()[0].Text.rfind("The source drive could not be read everywhere", 0), 0u);
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
