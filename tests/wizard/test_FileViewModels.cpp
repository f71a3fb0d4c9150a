#include <QAbstractItemModelTester>
#include <QApplication>
#include <QColor>
#include <QDate>
#include <QFont>
#include <QLocale>

#include <gtest/gtest.h>

#include "engine/uAppContext.h"
#include "progress/uProgressEx.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uHandMadeTree.h"
#include "wizard/uFileViewModels.h"

namespace {

// Keeps the titles of the levels opened and cancels the innermost level at
// its first update when told to.
class TLevelRecorder : public IProgressExView {
public:
  void AddItem(IProgressExInfo& AItem) override { Titles.push_back(AItem.GetTitle()); }
  void UpdateItem(IProgressExInfo& AItem) override {
    if (CancelAtFirstUpdate)
      AItem.Cancel();
  }
  void CloseItem(IProgressExInfo&) override {}
  void Detail(IProgressExInfo&, const std::string&, TProgressDetailStatus) override {}

  std::vector<std::string> Titles;
  bool CancelAtFirstUpdate = false;
};

class FileViewModels : public testing::Test {
protected:
  FileViewModels() {
    ProgressEx::AddView(Levels);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  ~FileViewModels() override {
    QLocale::setDefault(QLocale::system());
    ProgressEx::RemoveView(Levels);
  }

  // Each row of the list as "name|size|overwrited|colour|bold|tick".
  static QStringList Rows(const TFolderListModel& AModel) {
    QStringList Result;
    for (int Row = 0; Row < AModel.rowCount(); ++Row) {
      const auto Cell = [&](int AColumn, int ARole = Qt::DisplayRole) { return AModel.index(Row, AColumn).data(ARole); };
      Result << QStringList({Cell(TFolderListModel::colFileName).toString(),
                             Cell(TFolderListModel::colDataSize).toString(),
                             Cell(TFolderListModel::colOverwrited).toString(),
                             Cell(TFolderListModel::colAttributes, Qt::ForegroundRole).value<QColor>().name(),
                             Cell(TFolderListModel::colFileName, Qt::FontRole).value<QFont>().bold() ? "bold" : "",
                             Cell(TFolderListModel::colFileName, Qt::CheckStateRole).toString()})
                    .join('|');
    }
    return Result;
  }

  // The names under AParent, depth first, indented by level.
  static QStringList Outline(const QAbstractItemModel& AModel, const QModelIndex& AParent = QModelIndex(),
                             const QString& AIndent = QString()) {
    QStringList Result;
    for (int Row = 0; Row < AModel.rowCount(AParent); ++Row) {
      const QModelIndex Index = AModel.index(Row, 0, AParent);
      Result << AIndent + Index.data().toString();
      Result << Outline(AModel, Index, AIndent + "  ");
    }
    return Result;
  }

  std::shared_ptr<TLevelRecorder> Levels = std::make_shared<TLevelRecorder>();
  TNTFSRecoveryContext Selector{std::make_shared<TScriptedPrompt>()};
  testfiles::THandMadeTree Tree;
  QList<QPixmap> FileTypes{QPixmap(16, 16), QPixmap(16, 16)};
};

TEST_F(FileViewModels, TheListShowsFoldersFirstThenFilesByNameIgnoringCaseWithTheirColours) {
  const PTreeItemInfo Drive = Tree.AddFolder(nullptr, u"C:");
  Tree.AddFile(Drive, u"b.txt", 1234, 12.5);
  Tree.AddFile(Drive, u"A.txt", 7, GoodFileThreshold);
  Tree.AddFile(Drive, u"a2.txt", 0, 4.99);
  const PTreeItemInfo Zeta = Tree.AddFolder(Drive, u"zeta");
  Zeta->Data->DataSize = 4096;
  Zeta->Data->OverwritePercent = 100;
  Tree.AddFolder(Drive, u"$Recycle.Bin");
  Tree.AddFolder(Drive, u"$RECYCLE.BIN");
  Tree.AddFolder(Drive, u"Alpha");
  ToggleCheckState(Selector, Zeta);

  TFolderListModel Model(Selector, FileTypes);
  QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (const QLocale& Language : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
    SCOPED_TRACE(Language.name().toStdString());
    QLocale::setDefault(Language);
    Model.Fill(Drive);
    EXPECT_EQ(Rows(Model), QStringList({"$Recycle.Bin|0|0.00%|#000000||0",
                                      "$RECYCLE.BIN|0|0.00%|#000000|bold|0",
                                      "Alpha|0|0.00%|#000000||0",
                                      "zeta|0|100.00%|#000000||2",
                                      "A.txt|7|5.00%|#800000||0",
                                      "a2.txt|0|4.99%|#000080||0",
                                      "b.txt|1234|12.50%|#800000||0"}));
  }
  EXPECT_EQ(Model.RowOf(Zeta), 3);
  EXPECT_EQ(Model.NodeAt(3), Zeta);
  EXPECT_EQ(NodeOfIndex(Model.index(3, TFolderListModel::colTime)), Zeta);

  Model.ChecksChanged();
  Model.Clear();
  EXPECT_EQ(Model.rowCount(), 0);
  EXPECT_EQ(Model.RowOf(Zeta), -1);
}

// The names of the list's rows in order.
QStringList Names(const TFolderListModel& AModel) {
  QStringList Result;
  for (int Row = 0; Row < AModel.rowCount(); ++Row)
    Result << AModel.index(Row, TFolderListModel::colFileName).data().toString();
  return Result;
}

TEST_F(FileViewModels, SortingByAnyColumnKeepsFoldersFirstAndMovesTheCurrentRowAlong) {
  const PTreeItemInfo Drive = Tree.AddFolder(nullptr, u"C:");
  struct TFile {
    std::u16string Name;
    std::int64_t Size;
    double Overwrite;
    std::int64_t Created;
    std::uint32_t Attributes;
    std::int64_t Deleted; // 0: not known
    std::int32_t Streams;
  };
  // Ties in size and time fall back on the names.
  const TFile Files[] = {{u"b.txt", 300, 50, 30, 0x20, 0, 1},
                         {u"a.txt", 100, 0, 20, 0x01, 133537248000000000, 0},
                         {u"C.txt", 300, 10, 10, 0x21, 133364142000000000, 2},
                         {u"d.txt", 5, 10, 20, 0x02, 0, 1}};
  for (const TFile& File : Files) {
    const PTreeItemInfo Node = Tree.AddFile(Drive, File.Name, File.Size, File.Overwrite);
    Node->Data->CreationTime = File.Created;
    Node->Data->Attributes = File.Attributes;
    Node->Data->DeletionTime = File.Deleted;
    Node->Data->NamedStreams = File.Streams;
  }
  const PTreeItemInfo Zed = Tree.AddFolder(Drive, u"Zed");
  Zed->Data->CreationTime = 1;
  Tree.AddFolder(Drive, u"alpha")->Data->CreationTime = 2;

  TFolderListModel Model(Selector, FileTypes);
  QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  Model.Fill(Drive);
  EXPECT_EQ(Names(Model), QStringList({"alpha", "Zed", "a.txt", "b.txt", "C.txt", "d.txt"}));
  const QPersistentModelIndex Current = Model.index(Model.RowOf(Zed), TFolderListModel::colDate);

  struct TCase {
    int Column;
    Qt::SortOrder Order;
    QStringList Expected;
  };
  const TCase Cases[] = {
      {TFolderListModel::colFileName, Qt::DescendingOrder, {"Zed", "alpha", "d.txt", "C.txt", "b.txt", "a.txt"}},
      {TFolderListModel::colDataSize, Qt::AscendingOrder, {"alpha", "Zed", "d.txt", "a.txt", "b.txt", "C.txt"}},
      {TFolderListModel::colDataSize, Qt::DescendingOrder, {"Zed", "alpha", "C.txt", "b.txt", "a.txt", "d.txt"}},
      {TFolderListModel::colOverwrited, Qt::AscendingOrder, {"alpha", "Zed", "a.txt", "C.txt", "d.txt", "b.txt"}},
      {TFolderListModel::colDate, Qt::AscendingOrder, {"Zed", "alpha", "C.txt", "a.txt", "d.txt", "b.txt"}},
      {TFolderListModel::colTime, Qt::DescendingOrder, {"alpha", "Zed", "b.txt", "d.txt", "a.txt", "C.txt"}},
      {TFolderListModel::colDeleted, Qt::AscendingOrder, {"alpha", "Zed", "b.txt", "d.txt", "C.txt", "a.txt"}},
      {TFolderListModel::colAttributes, Qt::AscendingOrder, {"alpha", "Zed", "b.txt", "d.txt", "a.txt", "C.txt"}},
      {TFolderListModel::colStreams, Qt::DescendingOrder, {"Zed", "alpha", "C.txt", "d.txt", "b.txt", "a.txt"}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::Message() << "column " << Case.Column << " order " << Case.Order);
    Model.sort(Case.Column, Case.Order);
    EXPECT_EQ(Names(Model), Case.Expected);
    EXPECT_EQ(NodeOfIndex(Current), Zed) << "the current row moves with its node";
    EXPECT_EQ(Current.column(), TFolderListModel::colDate);
  }
  Model.Fill(Drive);
  EXPECT_EQ(Names(Model), Cases[std::size(Cases) - 1].Expected) << "a new fill keeps the order chosen";
}

// The Recycle Bin's deletion time shows where one is known, and nothing
// stands in for it elsewhere.
TEST_F(FileViewModels, TheDeletedColumnShowsOnlyKnownDeletionTimes) {
  const PTreeItemInfo Drive = Tree.AddFolder(nullptr, u"C:");
  Tree.AddFile(Drive, u"a.jpg")->Data->DeletionTime = 133364142000000000; // 2023-08-13 15:30 UTC
  Tree.AddFile(Drive, u"b.jpg")->Data->CreationTime = 133364142000000000;
  TFolderListModel Model(Selector, FileTypes);
  Model.Fill(Drive);
  EXPECT_EQ(Model.headerData(TFolderListModel::colDeleted, Qt::Horizontal).toString(), "Deleted");
  const QString Deleted = Model.index(0, TFolderListModel::colDeleted).data().toString();
  // In the system's language and time zone: a day either side of UTC's.
  const auto ShowsDay = [&](int ADay) {
    return Deleted.startsWith(QLocale::system().toString(QDate(2023, 8, ADay), QLocale::ShortFormat));
  };
  EXPECT_TRUE(ShowsDay(12) || ShowsDay(13) || ShowsDay(14)) << Deleted.toStdString();
  EXPECT_EQ(Model.index(1, TFolderListModel::colDeleted).data().toString(), "");
}

TEST_F(FileViewModels, TheTreeHoldsFoldersOnlyWithChildrenByName) {
  const PTreeItemInfo Drive = Tree.AddFolder(nullptr, u"C:");
  Tree.AddFolder(nullptr, u"Lost");
  const PTreeItemInfo Photos = Tree.AddFolder(Drive, u"Photos");
  Tree.AddFolder(Photos, u"2023");
  Tree.AddFile(Photos, u"cat.jpg");
  Tree.AddFolder(Drive, u"documents");
  Tree.AddFile(Drive, u"a.txt");
  Tree.AddFolder(Drive, u"Archive");

  TFolderTreeModel Model(Selector, FileTypes);
  QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  Model.Build(Tree.TreeItems());
  EXPECT_EQ(Outline(Model), QStringList({"C:", "  Archive", "  documents", "  Photos", "    2023", "Lost"}));

  ToggleCheckState(Selector, Photos);
  Model.ChecksChanged();
  const QModelIndex DriveIndex = Model.index(0, 0);
  EXPECT_EQ(DriveIndex.data(Qt::CheckStateRole).value<int>(), Qt::PartiallyChecked);
  EXPECT_EQ(NodeOfIndex(Model.index(2, 0, DriveIndex)), Photos);

  Model.Clear();
  EXPECT_EQ(Model.rowCount(), 0);
}

// A filter hides files and the folders with nothing shown below them; the
// counters count what is shown and only number the ticked files hidden.
TEST_F(FileViewModels, BothModelsShowWhatAFilterLetsThroughAndTheCountersFollow) {
  const PTreeItemInfo Drive = Tree.AddFolder(nullptr, u"C:");
  const PTreeItemInfo Photos = Tree.AddFolder(Drive, u"Photos");
  const PTreeItemInfo Old = Tree.AddFolder(Photos, u"Old");
  Tree.AddFile(Old, u"lost.jpg", 500, 80);
  const PTreeItemInfo Cat = Tree.AddFile(Photos, u"cat.jpg", 2000, 0);
  Cat->Data->CreationTime = 100;
  Cat->Data->DeletionTime = 150;
  Tree.AddFile(Photos, u"dog.jpg", 3000, 4.99)->Data->CreationTime = 200;
  Tree.AddFile(Drive, u"big.iso", 1 << 20, 0)->Data->DeletionTime = 300;
  const PTreeItemInfo Orphans = Tree.AddFolder(nullptr, u"???");
  Tree.AddFile(Orphans, u"x.txt", 10, 50);
  Selector.CheckAll(Tree.TreeItems(), true);

  TShownItems Shown;
  TFolderTreeModel TreeModel(Selector, FileTypes, nullptr, &Shown);
  TFolderListModel ListModel(Selector, FileTypes, nullptr, &Shown);
  QAbstractItemModelTester TreeTester(&TreeModel, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QAbstractItemModelTester ListTester(&ListModel, QAbstractItemModelTester::FailureReportingMode::Fatal);

  struct TCase {
    const char* Name;
    TFileFilter Filter;
    QStringList Outline;
    QStringList Photos;
    std::int64_t Files, Bytes, OverwrittenFiles, HiddenFiles;
  };
  TFileFilter Restorable;
  Restorable.RestorableOnly = true;
  TFileFilter Small;
  Small.MaxSize = 2500;
  TFileFilter Later;
  Later.CreatedFrom = 150;
  Later.CreatedBefore = 201;
  // A file whose deletion time is not known (0) is not taken for one before 140.
  TFileFilter Recycled;
  Recycled.DeletedFrom = 140;
  Recycled.DeletedBefore = 300;
  const TCase Cases[] = {
      {"none", {}, {"C:", "  Photos", "    Old", "???"}, {"Old", "cat.jpg", "dog.jpg"}, 5, 2000 + 3000 + (1 << 20) + 510, 2, 0},
      {"restorable", Restorable, {"C:", "  Photos"}, {"cat.jpg", "dog.jpg"}, 3, 2000 + 3000 + (1 << 20), 0, 2},
      {"up to 2500 bytes", Small, {"C:", "  Photos", "    Old", "???"}, {"Old", "cat.jpg"}, 3, 2510, 2, 2},
      {"made at 150 to 200", Later, {"C:", "  Photos"}, {"dog.jpg"}, 1, 3000, 0, 4},
      {"deleted at 140 to 299", Recycled, {"C:", "  Photos"}, {"cat.jpg"}, 1, 2000, 0, 4},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Shown.Apply(Case.Filter, Tree.TreeItems());
    EXPECT_EQ(Shown.IsActive(), Case.Filter.IsActive());
    TreeModel.Build(Tree.TreeItems());
    ListModel.Fill(Photos);
    EXPECT_EQ(Outline(TreeModel), Case.Outline);
    EXPECT_EQ(Names(ListModel), Case.Photos);
    const TTickCounts Counts = CountTicks(Tree.TreeItems(), Shown);
    EXPECT_EQ(Counts.Files, Case.Files);
    EXPECT_EQ(Counts.Bytes, Case.Bytes);
    EXPECT_EQ(Counts.OverwrittenFiles, Case.OverwrittenFiles);
    EXPECT_EQ(Counts.HiddenFiles, Case.HiddenFiles);
  }
}

// A crafted volume can chain folders as deep as its MFT.
TEST_F(FileViewModels, ATreeOfAHundredThousandLevelsIsBuiltAndFreed) {
  PTreeItemInfo Folder = nullptr;
  for (int Level = 0; Level < 100000; ++Level)
    Folder = Tree.AddFolder(Folder, u"f");
  TFolderTreeModel Model(Selector, FileTypes);
  Model.Build(Tree.TreeItems());
  QModelIndex Deepest = Model.index(0, 0);
  int Depth = 1;
  while (Model.rowCount(Deepest) > 0) {
    Deepest = Model.index(0, 0, Deepest);
    ++Depth;
  }
  EXPECT_EQ(Depth, 100000);
  EXPECT_EQ(NodeOfIndex(Deepest), Folder);
}

TEST_F(FileViewModels, FoldersOfMoreThanAThousandEntriesLoadUnderACancellableLevel) {
  struct TCase {
    int Files;
    bool Cancel;
    std::vector<std::string> Titles;
    bool AllLoaded;
  };
  const TCase Cases[] = {
      {1000, false, {}, true},
      {1001, false, {"Loading..."}, true},
      {1001, true, {"Loading..."}, false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Files << (Case.Cancel ? " cancelled" : ""));
    testfiles::THandMadeTree Folders;
    const PTreeItemInfo Drive = Folders.AddFolder(nullptr, u"C:");
    for (int File = 0; File < Case.Files; ++File)
      Folders.AddFile(Drive, u"file-" + QString::number(File).toStdU16String());
    Levels->Titles.clear();
    Levels->CancelAtFirstUpdate = Case.Cancel;

    TFolderListModel Model(Selector, FileTypes);
    Model.Fill(Drive);
    EXPECT_EQ(Levels->Titles, Case.Titles);
    EXPECT_EQ(Model.rowCount() == Case.Files, Case.AllLoaded) << Model.rowCount();
    EXPECT_GT(Model.rowCount(), 0) << "what was read stays";
  }
}

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
