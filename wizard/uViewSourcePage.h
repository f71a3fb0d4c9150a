#pragma once

#include <functional>

#include <QList>
#include <QPixmap>

#include "engine/uAppContext.h"
#include "wizard/uCheckStateDelegate.h"
#include "wizard/uFileFilter.h"
#include "wizard/uWizardPage.h"

class QAbstractItemView;
class QAction;
class QCheckBox;
class QDateEdit;
class QLayout;
class QSpinBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTableView;
class QToolButton;
class QTreeView;
class TFolderListModel;
class TPreviewDialog;
class TFolderTreeModel;

// The third page: the folders and files the scan found, in a folder tree and
// a detailed list of one folder, each with a tick the user sets to choose
// what to restore. Entering it by Next scans the chosen drive. The page keeps
// no item data of its own, only the context's nodes.
class TViewSourcePage : public TWizardPage, public ICheckStateImageIndexProvider {
public:
  explicit TViewSourcePage(TNTFSRecoveryContext& AContext);

  QString GetTitle() override;
  QString GetDescription() override;
  bool GetAllowNext() override;
  void PageBeforeEnter(bool AForward, bool& AllowEnter) override;
  void PageAfterEnter(bool AForward) override;

  std::int32_t GetCheckStateImageIndex(std::uint8_t ACheckState) override;

  // The models behind the two views.
  TFolderTreeModel& FolderTree() const { return *FTreeModel; }
  TFolderListModel& FolderList() const { return *FListModel; }
  // The node whose children the list shows, or nil.
  PTreeItemInfo ListViewParent() const { return FListViewParent; }

protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

  void btnBackClick();
  void btnSearchClick();
  void treeSelectGoodClick();
  void treeSelectAllClick();
  void treeDeselectAllClick();
  void listSelectGoodClick();
  void listSelectAllClick();
  void listDeselectAllClick();
  void tvFilesChange();
  void lvFilesDblClick();
  // Shows the first bytes of the file in the list's current row.
  void btnPreviewClick();

  QLabel* lblDriveCaption = nullptr;
  // Index = check state + 1; the first picture is never shown.
  QList<QPixmap> ilCheckedStates;
  // 0 folder, 1 file.
  QList<QPixmap> ilFileTypes;
  QTreeView* tvFiles = nullptr;
  QSplitter* Splitter1 = nullptr;
  QFrame* Panel1 = nullptr;
  QTableView* lvFiles = nullptr;
  QFrame* pnlNavigateFiles = nullptr;
  QToolButton* btnBack = nullptr;
  QLabel* lblViewPath = nullptr;
  QFrame* Panel5 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edtSearchMask = nullptr;
  QToolButton* btnSearch = nullptr;
  QMenu* ppmTree = nullptr;
  QAction* treeSelectGood = nullptr;
  QAction* treeSelectAll = nullptr;
  QAction* treeDeselectAll = nullptr;
  QMenu* ppmList = nullptr;
  QAction* listSelectGood = nullptr;
  QAction* listSelectAll = nullptr;
  QAction* listDeselectAll = nullptr;
  QPushButton* btnSelectGood = nullptr;
  QPushButton* btnSelectAll = nullptr;
  QPushButton* btnDeselectAll = nullptr;
  QPushButton* btnPreview = nullptr;
  QAction* actPreview = nullptr;
  // The filters beside the mask, and the mark that one is on.
  QCheckBox* chkRestorableOnly = nullptr;
  QCheckBox* chkSize = nullptr;
  QSpinBox* spnSizeFrom = nullptr;
  QLabel* lblSizeTo = nullptr;
  QSpinBox* spnSizeTo = nullptr;
  QCheckBox* chkDate = nullptr;
  QDateEdit* dteFrom = nullptr;
  QLabel* lblDateTo = nullptr;
  QDateEdit* dteTo = nullptr;
  QCheckBox* chkDeleted = nullptr;
  QDateEdit* dteDeletedFrom = nullptr;
  QLabel* lblDeletedTo = nullptr;
  QDateEdit* dteDeletedTo = nullptr;
  QLabel* lblFilterOn = nullptr;
  // The ticked files counted, under the views.
  QLabel* lblStatus = nullptr;

private:
  QWidget* BuildNavigationBar();
  QWidget* BuildButtonBar();
  QLayout* BuildFilterBar();
  QMenu* BuildSelectMenu(QWidget* AView, QAction*& ASelectGood, QAction*& ASelectAll, QAction*& ADeselectAll);
  void BuildTreeView();
  void BuildListView();

  void ClearView();
  // Builds the tree for the filter of the controls and selects ASelect when
  // it is shown, else the first node.
  void BuildTree(PTreeItemInfo ASelect = nullptr);
  TFileFilter FilterOfControls() const;
  void FilterChanged();
  void UpdateStatusLine();
  // The file in the list's current row, or nil for a folder or no row.
  PTreeItemInfo CurrentFile() const;
  // Space ticks or unticks the current row of a view.
  void ToggleCurrent(const QAbstractItemView& AView);
  // The tick commands, for AItems and everything below them; with a filter
  // on, only the files shown change.
  void SelectAll(const IExListPtr& AItems, bool AChecked);
  void SelectGood(const IExListPtr& AItems);
  void ShowFolder(PTreeItemInfo ANode);
  void RefreshChecks();
  // The list's own commands act on the folder it shows, and only when it shows one.
  void ForListedFolder(const std::function<void(const IExListPtr& AItems)>& ACommand);

  bool TreeEvent(QEvent& AEvent);
  bool TreeViewportEvent(QEvent& AEvent);
  bool ListEvent(QEvent& AEvent);
  bool ListViewportEvent(QEvent& AEvent);
  bool SearchMaskEvent(QEvent& AEvent);

  TNTFSRecoveryContext& FContext;
  PTreeItemInfo FListViewParent = nullptr;
  TShownItems FShown;
  TPreviewDialog* FPreview = nullptr;
  TFolderTreeModel* FTreeModel = nullptr;
  TFolderListModel* FListModel = nullptr;
};
