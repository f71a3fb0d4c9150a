#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/uDriveList.h"
#include "platform/uSourceResolver.h"
#include "wizard/uWizardPage.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TNTFSRecoveryContext;

// The second page: the NTFS drives to recover from, one of which the user
// picks; leaving it opens that drive once, through AResolver, for the scan,
// the previews and the restore. It also loads the wizard's state file when
// the wizard starts and saves it when the wizard stops, and follows drives
// as they come and go.
class TSelectSourceDrivePage : public TWizardPage {
public:
  TSelectSourceDrivePage(TNTFSRecoveryContext& AContext, TDriveList& ADrives, TSourceResolver AResolver);

  QString GetTitle() override;
  QString GetDescription() override;
  bool GetAllowNext() override;
  bool NeedToListenMessages() override;

  void WizardRun(IWizardApplication* AApp) override;
  void WizardStop(IWizardApplication* AApp) override;
  void PageAfterEnter(bool AForward) override;
  void PageBeforeExit(bool AForward, bool& AllowExit) override;
  void ListenWizardMessage(QEvent& Message) override;

  // Rebuilds the tree from the drive list, when the list has changed.
  void RefreshDriveList();
  // Selects the context's source drive, else the first drive listed.
  void SelectCurrentDrive();

protected:
  void tvDriveChange();
  void btnAddVolumeImageClick();
  void btnChooseRescueMapClick();
  void btnSearchLostVolumesClick();

  QLabel* lblDriveCaption = nullptr;
  QTreeWidget* tvDrive = nullptr;
  QPushButton* btnAddVolumeImage = nullptr;
  // Enabled while an image file is selected.
  QPushButton* btnChooseRescueMap = nullptr;
  // Lists the volumes no partition table of a disk lists any more.
  QPushButton* btnSearchLostVolumes = nullptr;
  // Whether the scan lists the files kept in the drive's shadow copies.
  QCheckBox* cbIncludeSnapshots = nullptr;
  // One picture per TDriveType value, in its order.
  QList<QPixmap> ilDriveTypes;

private:
  // The image file of the selected drive; empty for a device or no selection.
  std::string SelectedImage() const;
  void AddDriveNode(TVolumeInformationRecord& ARecord);
  // The first node whose drive AIsIt picks, or null.
  QTreeWidgetItem* FindDriveNode(const std::function<bool(const TVolumeInformationRecord&)>& AIsIt) const;
  void DrivesChanged(std::optional<TDriveSource> AArrivedDrive);
  void AddChosenImage(const std::string& APath);
  // Opens the selected drive for the context; false, with the reason shown,
  // when it cannot be opened.
  bool OpenSelectedDrive();

  bool FDriveListChanged = true;
  // An image the user has just added, selected when the tree is next built.
  std::optional<TDriveSource> FArrivedDrive;
  TNTFSRecoveryContext& FContext;
  TDriveList& FDrives;
  TSourceResolver FResolver;
};

// "history.ini" in the per-user data folder; empty while that folder is
// unknown.
std::string HistoryFilePath();

// Asks for a file name for "Add volume image..."; empty when the user
// cancels. The file dialog by default; tests put a script in its place.
using TVolumeImageChooser = std::function<QString(QWidget* AOwner)>;
TVolumeImageChooser& VolumeImageChooser();

// Asks for the ddrescue mapfile of the image AImage for "Choose mapfile...";
// empty when the user cancels. The file dialog by default, opened in the
// image's folder; tests put a script in its place.
using TRescueMapChooser = std::function<QString(QWidget* AOwner, const QString& AImage)>;
TRescueMapChooser& RescueMapChooser();

// Asks for the disk or disk image that "Search for lost volumes..."
// searches; empty when the user cancels. The file dialog by default; tests
// put a script in its place.
using TLostVolumeDiskChooser = std::function<QString(QWidget* AOwner)>;
TLostVolumeDiskChooser& LostVolumeDiskChooser();

// The command "Add volume image...": asks for an image file and offers it to
// the pages of the wizard window AWizard, where the drive page lists it as a
// drive; a refused file is explained in a message box and changes nothing.
void AddVolumeImageTo(QWidget& AWizard);
