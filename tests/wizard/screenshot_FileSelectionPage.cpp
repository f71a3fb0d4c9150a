// Makes the README's picture of the file selection page: the program's
// window over the demo volume with the files that look intact ticked, and
// the holiday photos open, sorted by size, largest first, one of the two
// overwritten photos ticked as well.
//
//   tarnwick_screenshot DEMO_IMAGE OUTPUT.png
//
// It runs under the offscreen platform unless another is asked for, keeps
// its settings in a folder of its own and lists no block device of the
// machine, so that it needs no display, leaves the user's history.ini alone
// and shows the demo volume as drive C: wherever it runs.

#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <iostream>

#include "app/uMain.h"
#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "foundation/uUnicode.h"
#include "tests/support/uFakeBlockDevices.h"
#include "tests/support/uFileViewDriving.h"
#include "platform/uDriveList.h"
#include "wizard/uFileViewModels.h"

namespace {

// Nothing to show or ask on the way.
class TSilentShell : public IShellService {
public:
  void OpenUrl(const QUrl&) override {}
  void ShowMessage(QWidget*, const QString&, const QString& AText, QMessageBox::Icon) override {
    std::cerr << AText.toStdString() << '\n';
  }
};

void Click(QWidget& AWindow, const char* AName) {
  QTest::mouseClick(AWindow.findChild<QPushButton*>(QLatin1String(AName)), Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  TTarnwickApplication App(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: tarnwick_screenshot DEMO_IMAGE OUTPUT.png\n";
    return 2;
  }
  QTemporaryDir Settings;
  SetAppDataFolder(FromNativePath(Settings.path().toStdString()));
  testfiles::TFakeBlockDevices Devices;
  TDriveList Drives;
  Drives.DeviceRoots() = Devices.Roots();
  Drives.Images().Merge({argv[1]});
  Drives.Refresh();

  TSilentShell Shell;
  TNTFSRecoveryContext Context(std::make_shared<TScriptedPrompt>());
  TfMain Window(Shell, [&Context, &Drives](IWizardApplication& AApp) { AssemblePages(AApp, Context, Drives); });
  Window.resize(1000, 620);
  Window.show();
  Click(Window, "btnNext");
  Click(Window, "btnNext");

  auto* Tree = Window.findChild<QTreeView*>("tvFiles");
  auto* List = Window.findChild<QTableView*>("lvFiles");
  const QModelIndex Holiday = fileviews::TreeIndex(*Tree, {"C:", "Photos", "Holiday 2023"});
  if (!Holiday.isValid()) {
    std::cerr << "The demo volume has no folder Photos/Holiday 2023: " << argv[1] << '\n';
    return 1;
  }
  Click(Window, "btnSelectGood");
  Tree->scrollTo(Holiday);
  QTest::mouseClick(Tree->viewport(), Qt::LeftButton, {}, Tree->visualRect(Holiday).center());
  List->sortByColumn(TFolderListModel::colDataSize, Qt::DescendingOrder);
  const QModelIndexList Hotel =
      List->model()->match(List->model()->index(0, 0), Qt::DisplayRole, QStringLiteral("hotel.jpg"), 1, Qt::MatchExactly);
  if (!Hotel.isEmpty())
    fileviews::ClickTickPicture(*List, Hotel.first());
  List->setCurrentIndex(List->model()->index(0, 0));
  QTest::qWait(50);
  if (!Window.grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::cerr << "Could not write " << argv[2] << '\n';
    return 1;
  }
  SetAppDataFolder(u"");
  return 0;
}
