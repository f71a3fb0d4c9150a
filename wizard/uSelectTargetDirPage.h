#pragma once

#include <functional>

#include <QFileDialog>
#include <QSortFilterProxyModel>
#include <QStringList>

#include "wizard/uWizardPage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QToolButton;
class ISupportTargetDir;

// Hides every folder the predicate rejects from the view of a file system
// model; other rows pass.
class TFolderFilterModel : public QSortFilterProxyModel {
public:
  using TFolderPredicate = std::function<bool(const QString& APath)>;

  TFolderFilterModel(TFolderPredicate AShouldShow, QObject* AParent);

protected:
  bool filterAcceptsRow(int ASourceRow, const QModelIndex& ASourceParent) const override;

private:
  TFolderPredicate FShouldShow;
};

// The folder picker of the target page: folders only, and only those the
// filter accepts, in the views as in the side bar.
class TSelectDirDialog : public QFileDialog {
public:
  TSelectDirDialog(TFolderFilterModel::TFolderPredicate AShouldShow, QWidget* AParent);

  // Runs the picker from AStartFolder; the chosen folder, or empty when the
  // user cancels.
  QString Execute(const QString& AStartFolder);

private:
  TFolderFilterModel::TFolderPredicate FShouldShow;
};

// The used folders after a run to AFolder: a new folder goes first; a known
// one trades places with the first entry.
QStringList UsedFoldersAfter(QStringList AUsed, const QString& AFolder);

// The fourth page: the target folder, the restore mode, the rule for names
// that exist already and whether the original times are kept. It refuses a
// folder on the source drive.
class TSelectTargetDirPage : public TWizardPage {
public:
  explicit TSelectTargetDirPage(ISupportTargetDir& AContext);

  QString GetTitle() override;
  QString GetDescription() override;
  bool GetAllowNext() override;
  void PageBeforeEnter(bool AForward, bool& AllowEnter) override;
  void PageAfterExit(bool AForward) override;

protected:
  void editTargetScriptDirChange();
  void btnTargetScriptDirClick();
  bool dialogSelectDirShouldShow(const QString& APath);

  QWidget* Panel1 = nullptr;
  QLabel* Label12 = nullptr;
  QComboBox* editTargetScriptDir = nullptr;
  QToolButton* btnTargetScriptDir = nullptr;
  TSelectDirDialog* dialogSelectDir = nullptr;
  QLabel* lblWarning = nullptr;
  QGroupBox* rgResolveConflict = nullptr;
  QGroupBox* rgRestoreMode = nullptr;
  QCheckBox* cbRestoreTimes = nullptr;
  QCheckBox* cbRestoreStreams = nullptr;

private:
  QWidget* BuildTargetBar();
  QGroupBox* BuildRadioGroup(const char* AObjectName, const QString& ACaption, const QStringList& AItems,
                             int AColumns, QButtonGroup*& AButtons);
  QString TargetText() const;
  void SetUsedFolders(const QStringList& AFolders);

  QButtonGroup* FRestoreModeButtons = nullptr;
  QButtonGroup* FResolveConflictButtons = nullptr;
  ISupportTargetDir& FContext;
};
