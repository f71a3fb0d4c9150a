#include "wizard/uSelectTargetDirPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/uAppContext.h"
#include "wizard/uWizardMain.h"

namespace {

constexpr int TargetBarHeight = 25;
const QColor WarningColor(255, 0, 0);

const QStringList RestoreModeItems = {QStringLiteral("Directory &tree"),
                                      QStringLiteral("One directory for &all files")};
const QStringList ResolveConflictItems = {
    QStringLiteral("Ove&write existing files"),
    QStringLiteral("&Rename saved file (add a number at the end of file name)"),
    QStringLiteral("D&on't save a file")};

// A state file may hold any byte for either mode; the engine restores every
// value but rmTree flat and overwrites for every value but rcmRename and
// rcmDontSave, so the page shows what will actually happen.
int RestoreModeItem(TRestoreMode AMode) { return AMode == rmTree ? rmTree : rmFlat; }

int ResolveConflictItem(TResolveConflictMode AMode) {
  return AMode == rcmRename || AMode == rcmDontSave ? AMode : rcmOvewrite;
}

} // namespace

// ---------------------------------------------------------------------------
// The folder picker

TFolderFilterModel::TFolderFilterModel(TFolderPredicate AShouldShow, QObject* AParent)
    : QSortFilterProxyModel(AParent), FShouldShow(std::move(AShouldShow)) {}

bool TFolderFilterModel::filterAcceptsRow(int ASourceRow, const QModelIndex& ASourceParent) const {
  const auto* Model = qobject_cast<const QFileSystemModel*>(sourceModel());
  if (Model == nullptr)
    return true;
  const QModelIndex Row = Model->index(ASourceRow, 0, ASourceParent);
  return !Model->isDir(Row) || FShouldShow(Model->filePath(Row));
}

TSelectDirDialog::TSelectDirDialog(TFolderFilterModel::TFolderPredicate AShouldShow, QWidget* AParent)
    : QFileDialog(AParent, QStringLiteral("Select target directory")), FShouldShow(AShouldShow) {
  setObjectName(QStringLiteral("dialogSelectDir"));
  // Only the toolkit's own dialog lets a model filter what it lists.
  setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
  setFileMode(QFileDialog::Directory);
  setAcceptMode(QFileDialog::AcceptOpen);
  setProxyModel(new TFolderFilterModel(std::move(AShouldShow), this));
}

QString TSelectDirDialog::Execute(const QString& AStartFolder) {
  if (!AStartFolder.isEmpty())
    setDirectory(AStartFolder);
  // The side bar's places are links, not rows of the model: they are
  // filtered here, so that no place on the source drive is offered either.
  QList<QUrl> Places;
  for (const QUrl& Place : {QUrl::fromLocalFile(QDir::rootPath()), QUrl::fromLocalFile(QDir::homePath())})
    if (FShouldShow(Place.toLocalFile()))
      Places << Place;
  setSidebarUrls(Places);
  if (exec() != QDialog::Accepted || selectedFiles().isEmpty())
    return QString();
  return selectedFiles().first();
}

QStringList UsedFoldersAfter(QStringList AUsed, const QString& AFolder) {
  const qsizetype Known = AUsed.indexOf(AFolder);
  if (Known < 0)
    AUsed.prepend(AFolder);
  else
    AUsed.swapItemsAt(0, Known);
  return AUsed;
}

// ---------------------------------------------------------------------------
// The page

TSelectTargetDirPage::TSelectTargetDirPage(ISupportTargetDir& AContext) : FContext(AContext) {
  Panel1 = BuildTargetBar();
  rgRestoreMode =
      BuildRadioGroup("rgRestoreMode", QStringLiteral("Restore Mode"), RestoreModeItems, 2, FRestoreModeButtons);
  rgResolveConflict =
      BuildRadioGroup("rgResolveConflict", QStringLiteral(" Action if a file in target directory already exists "),
                      ResolveConflictItems, 1, FResolveConflictButtons);
  FRestoreModeButtons->button(rmTree)->setChecked(true);
  FResolveConflictButtons->button(rcmRename)->setChecked(true);
  cbRestoreTimes = new QCheckBox(QStringLiteral("&Keep the original modification and access times"), this);
  cbRestoreTimes->setObjectName(QStringLiteral("cbRestoreTimes"));
  cbRestoreTimes->setChecked(true);
  cbRestoreStreams =
      new QCheckBox(QStringLiteral("Restore named data &streams (as extended attributes or files beside)"), this);
  cbRestoreStreams->setObjectName(QStringLiteral("cbRestoreStreams"));
  cbRestoreStreams->setChecked(true);

  lblWarning = new QLabel(QStringLiteral("Please select other destination disk for saving a recovered files. "
                                         "You can't save a recovered files on source disk."),
                          this);
  lblWarning->setObjectName(QStringLiteral("lblWarning"));
  lblWarning->setWordWrap(true);
  QPalette Red = lblWarning->palette();
  Red.setColor(QPalette::WindowText, WarningColor);
  lblWarning->setPalette(Red);
  lblWarning->hide();

  dialogSelectDir =
      new TSelectDirDialog([this](const QString& APath) { return dialogSelectDirShouldShow(APath); }, this);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Panel1);
  Layout->addWidget(rgRestoreMode);
  Layout->addWidget(rgResolveConflict);
  Layout->addWidget(cbRestoreTimes);
  Layout->addWidget(cbRestoreStreams);
  Layout->addWidget(lblWarning);
  Layout->addStretch(1);
}

QWidget* TSelectTargetDirPage::BuildTargetBar() {
  auto* Bar = new QWidget(this);
  Bar->setObjectName(QStringLiteral("Panel1"));
  Bar->setFixedHeight(TargetBarHeight);

  Label12 = new QLabel(QStringLiteral("Target &dir: "), Bar);
  Label12->setObjectName(QStringLiteral("Label12"));
  Label12->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  editTargetScriptDir = new QComboBox(Bar);
  editTargetScriptDir->setObjectName(QStringLiteral("editTargetScriptDir"));
  editTargetScriptDir->setEditable(true);
  // The list is kept by the page itself, after each run.
  editTargetScriptDir->setInsertPolicy(QComboBox::NoInsert);
  editTargetScriptDir->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Label12->setBuddy(editTargetScriptDir);
  connect(editTargetScriptDir, &QComboBox::editTextChanged, this,
          [this] { RunUserAction([this] { editTargetScriptDirChange(); }); });

  btnTargetScriptDir = new QToolButton(Bar);
  btnTargetScriptDir->setObjectName(QStringLiteral("btnTargetScriptDir"));
  btnTargetScriptDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  btnTargetScriptDir->setToolTip(QStringLiteral("Click to select script directory"));
  connect(btnTargetScriptDir, &QToolButton::clicked, this,
          [this] { RunUserAction([this] { btnTargetScriptDirClick(); }); });

  auto* Layout = new QHBoxLayout(Bar);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Label12);
  Layout->addWidget(editTargetScriptDir, 1);
  Layout->addWidget(btnTargetScriptDir);
  return Bar;
}

// The buttons' ids are the item indexes, which are the ordinals of the
// context's enumerations.
QGroupBox* TSelectTargetDirPage::BuildRadioGroup(const char* AObjectName, const QString& ACaption,
                                                 const QStringList& AItems, int AColumns, QButtonGroup*& AButtons) {
  auto* Group = new QGroupBox(ACaption, this);
  Group->setObjectName(QString::fromLatin1(AObjectName));
  AButtons = new QButtonGroup(Group);
  auto* Layout = new QGridLayout(Group);
  for (int Index = 0; Index < AItems.size(); ++Index) {
    auto* Button = new QRadioButton(AItems[Index], Group);
    AButtons->addButton(Button, Index);
    Layout->addWidget(Button, Index / AColumns, Index % AColumns);
  }
  return Group;
}

QString TSelectTargetDirPage::GetTitle() { return QStringLiteral("Target directory"); }

QString TSelectTargetDirPage::GetDescription() {
  return QStringLiteral("Set target directory where files will be restored to and restore mode.");
}

QString TSelectTargetDirPage::TargetText() const { return editTargetScriptDir->currentText(); }

bool TSelectTargetDirPage::GetAllowNext() {
  const QString Text = TargetText();
  return !Text.isEmpty() && FContext.TargetDirIsValid(Text.toStdU16String());
}

// Entering by Back keeps what the user left on the page.
void TSelectTargetDirPage::PageBeforeEnter(bool AForward, bool& AllowEnter) {
  TWizardPage::PageBeforeEnter(AForward, AllowEnter);
  if (!AForward)
    return;
  FRestoreModeButtons->button(RestoreModeItem(FContext.GetRestoreMode()))->setChecked(true);
  FResolveConflictButtons->button(ResolveConflictItem(FContext.GetResolveConflictMode()))->setChecked(true);
  cbRestoreTimes->setChecked(FContext.GetRestoreTimes());
  cbRestoreStreams->setChecked(FContext.GetRestoreStreams());
  editTargetScriptDir->setEditText(QString::fromStdU16String(FContext.GetTargetDir()));
  editTargetScriptDirChange();
}

// Leaving by Back writes nothing to the context.
void TSelectTargetDirPage::PageAfterExit(bool AForward) {
  TWizardPage::PageAfterExit(AForward);
  if (!AForward)
    return;
  const QString Text = TargetText();
  FContext.SetTargetDir(Text.toStdU16String());
  FContext.SetRestoreMode(static_cast<TRestoreMode>(FRestoreModeButtons->checkedId()));
  FContext.SetResolveConflictMode(static_cast<TResolveConflictMode>(FResolveConflictButtons->checkedId()));
  FContext.SetRestoreTimes(cbRestoreTimes->isChecked());
  FContext.SetRestoreStreams(cbRestoreStreams->isChecked());
  QStringList Used;
  for (int Index = 0; Index < editTargetScriptDir->count(); ++Index)
    Used << editTargetScriptDir->itemText(Index);
  SetUsedFolders(UsedFoldersAfter(Used, Text));
  editTargetScriptDir->setEditText(Text);
}

void TSelectTargetDirPage::SetUsedFolders(const QStringList& AFolders) {
  editTargetScriptDir->clear();
  editTargetScriptDir->addItems(AFolders);
}

void TSelectTargetDirPage::editTargetScriptDirChange() {
  lblWarning->setVisible(!GetAllowNext());
  if (App())
    App()->UpdateStatus();
}

void TSelectTargetDirPage::btnTargetScriptDirClick() {
  const QString Chosen = dialogSelectDir->Execute(TargetText());
  if (Chosen.isEmpty())
    return;
  editTargetScriptDir->setEditText(Chosen);
  editTargetScriptDirChange();
}

bool TSelectTargetDirPage::dialogSelectDirShouldShow(const QString& APath) {
  return FContext.TargetDirIsValid(APath.toStdU16String());
}
