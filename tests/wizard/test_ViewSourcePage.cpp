#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/uAppContext.h"
#include "platform/uDriveTable.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uFakeBlockDevices.h"
#include "wizard/uCheckStateDelegate.h"
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
    BlockDeviceRoots() = Devices.Roots();
    VolumeImages().Clear();
    DriveTable().Clear();
  }

  void TearDown() override {
    Wizard.reset();
    Context.Clear();
    VolumeImages().Clear();
    DriveTable().Clear();
    BlockDeviceRoots() = TBlockDeviceRoots();
  }

  void Open(const std::string& AImage) {
    VolumeImages().Merge({AImage});
    RefreshDriveTable();
    Context.SetSourceDrive(u"");
    Wizard = std::make_unique<TWizardMain>();
    auto Page = std::make_unique<TViewSourcePage>(Context);
    Files = Page.get();
    Wizard->AddPage(std::make_unique<TStartPage>());
    Wizard->AddPage(std::make_unique<TSelectSourceDrivePage>(Context));
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

  static QString Name(PTreeItemInfo ANode) { return QString::fromStdU16String(ANode->Data->Name); }

  // The model index of the tree node with this path of names from the top.
  QModelIndex TreeIndex(const QStringList& APath) const {
    QModelIndex Index;
    for (const QString& Name : APath) {
      const QModelIndexList Found =
          Tree()->model()->match(Tree()->model()->index(0, 0, Index), Qt::DisplayRole, Name, 1, Qt::MatchExactly);
      if (Found.isEmpty())
        return QModelIndex();
      Index = Found.first();
    }
    return Index;
  }
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
  TNTFSRecoveryContext Context{std::make_shared<TScriptedPrompt>()};
  std::unique_ptr<TWizardMain> Wizard;
  TViewSourcePage* Files = nullptr;
};

TEST_F(ViewSourcePage, Dump) {
  Enter(testsupport::FixtureImage(getenv("FIX")));
  EXPECT_EQ(Title(), "Explorer of deleted files");
  WalkTree(Context.TreeItems(), [](PTreeItemInfo N) {
    int Depth = 0;
    for (PTreeItemInfo P = N->Parent; P; P = P->Parent) ++Depth;
    std::printf("%*s%s dir=%d size=%lld ow=%.2f\n", Depth * 2, "", QString::fromStdU16String(N->Data->Name).toUtf8().constData(),
                N->Data->IsDirectory, (long long)N->Data->DataSize, N->Data->OverwritePercent);
  });
  std::printf("path=%s rows=%s\n", ViewPath().toUtf8().constData(), ListRows().join(",").toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
