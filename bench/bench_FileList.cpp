// Opening a folder of a hundred thousand files in the file selection page's
// list: the model's fill (names sorted by the user's language) and the table
// view taking the new rows. The page must do it in well under 2 seconds.

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include "engine/uAppContext.h"
#include "tests/support/uHandMadeTree.h"
#include "wizard/uFileViewModels.h"

namespace {

constexpr int FolderFiles = 100000;

void BM_OpenFolderOfAHundredThousandFiles(benchmark::State& AState) {
  testfiles::THandMadeTree Tree;
  const PTreeItemInfo Folder = Tree.AddFolder(nullptr, u"C:");
  for (int File = 0; File < FolderFiles; ++File)
    Tree.AddFile(Folder, u"Photo " + QString::number((File * 7919) % FolderFiles).toStdU16String() + u".jpg", File,
                 File % 10);
  TNTFSRecoveryContext Selector(std::make_shared<TScriptedPrompt>());
  TFolderListModel Model(Selector, {});
  QTableView View;
  View.setModel(&Model);
  View.resize(800, 600);
  View.show();
  for (auto _ : AState) {
    Model.Fill(Folder);
    View.setCurrentIndex(Model.index(0, 0));
    QApplication::processEvents();
    Model.Clear();
  }
  AState.counters["files"] = FolderFiles;
}
BENCHMARK(BM_OpenFolderOfAHundredThousandFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
