#include "wizard/uSelectSourceDrivePage.h"

#include <filesystem>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
#include "platform/uDriveTable.h"
#include "platform/uRescueMap.h"
#include "wizard/uDeviceChangeEvent.h"
#include "wizard/uDriveTypeImages.h"
#include "wizard/uWizardMain.h"

namespace {

constexpr int DriveIndent = 27;
constexpr char16_t HistoryFileName[] = u"/history.ini";
constexpr char16_t PlaceholderDelimiter[] = u"*";
constexpr char ImagesSection[] = "Images";
constexpr char ImageKeyPrefix[] = "Image";
const QString AddVolumeImageCaption = QStringLiteral("Add volume image");
const QString ChooseRescueMapCaption = QStringLiteral("Choose mapfile");

PVolumeInformationRecord RecordOf(const QTreeWidgetItem* ANode) {
  return static_cast<PVolumeInformationRecord>(ANode->data(0, Qt::UserRole).value<void*>());
}

// The images the user added, in the order added. Those named by
// TARNWICK_IMAGES come back with every start that names them, so they are
// not kept. A value must come back from the file as written: no line breaks,
// no spaces at its ends (the INI reader trims them).
void StoreImages(CSimpleIniA& AIni) {
  TVolumeImageList FromEnvironment;
  FromEnvironment.Merge(ImagePathsFromEnvironment());
  AIni.Delete(ImagesSection, nullptr);
  int Number = 0;
  for (const std::string& Path : VolumeImages().Paths()) {
    const bool Storable = !Path.empty() && Path.find_first_of("\r\n") == std::string::npos && Path.back() != ' ';
    if (Storable && !FromEnvironment.Contains(Path))
      AIni.SetValue(ImagesSection, (ImageKeyPrefix + std::to_string(++Number)).c_str(), Path.c_str());
  }
}

std::vector<std::string> StoredImages(const CSimpleIniA& AIni) {
  CSimpleIniA::TNamesDepend Keys;
  AIni.GetAllKeys(ImagesSection, Keys);
  Keys.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> Paths;
  for (const CSimpleIniA::Entry& Key : Keys)
    Paths.emplace_back(AIni.GetValue(ImagesSection, Key.pItem, ""));
  return Paths;
}

// A missing or unreadable file reads as an empty one. Only a regular file is
// read: the INI reader takes the size of anything it can open, and a folder
// in the file's place would have it ask for an absurd buffer.
void LoadIfPresent(CSimpleIniA& AIni, const std::string& APath) {
  std::error_code Ignored;
  if (std::filesystem::is_regular_file(APath, Ignored))
    AIni.LoadFile(APath.c_str());
}

// Without a file the context takes its defaults. Images that are gone by now
// leave the list at the refresh.
void LoadHistory(TNTFSRecoveryContext& AContext) {
  const std::string Path = HistoryFilePath();
  if (Path.empty())
    return;
  CSimpleIniA Ini;
  LoadIfPresent(Ini, Path);
  AContext.RestoreState(Ini);
  const std::size_t ImagesBefore = VolumeImages().Paths().size();
  VolumeImages().Merge(StoredImages(Ini));
  if (VolumeImages().Paths().size() != ImagesBefore)
    RefreshDriveTable();
}

// Keeps whatever else the file holds. Nothing creates the data folder: when
// it is missing, the write fails and the state is not kept.
void SaveHistory(const TNTFSRecoveryContext& AContext) {
  const std::string Path = HistoryFilePath();
  if (Path.empty())
    return;
  CSimpleIniA Ini;
  LoadIfPresent(Ini, Path);
  AContext.StoreState(Ini);
  StoreImages(Ini);
  Ini.SaveFile(Path.c_str(), false);
}

// The state file is a convenience: whatever goes wrong with it, the wizard
// goes on with what it has, and the user is not bothered.
template <typename TAction>
void IgnoringHistoryErrors(TAction AAction) {
  try {
    AAction();
  } catch (const std::exception&) {
  }
}

QString ChooseVolumeImageFile(QWidget* AOwner) {
  return QFileDialog::getOpenFileName(AOwner, AddVolumeImageCaption, QString(),
                                      QStringLiteral("Volume images (*.img *.raw *.dd *.bin *.ntfs);;All files (*)"));
}

QString ChooseRescueMapFile(QWidget* AOwner, const QString& AImage) {
  return QFileDialog::getOpenFileName(
      AOwner, ChooseRescueMapCaption, QFileInfo(AImage).absolutePath(),
      QStringLiteral("ddrescue mapfiles (*.map *.mapfile *.log);;All files (*)"));
}

}  // namespace

TSelectSourceDrivePage::TSelectSourceDrivePage(TNTFSRecoveryContext& AContext)
    : ilDriveTypes(DrawDriveTypeImages()), FContext(AContext) {
  lblDriveCaption = new QLabel(QStringLiteral("Please select drive you want to restore files from."), this);
  lblDriveCaption->setObjectName(QStringLiteral("lblDriveCaption"));
  lblDriveCaption->setWordWrap(true);

  tvDrive = new QTreeWidget(this);
  tvDrive->setObjectName(QStringLiteral("tvDrive"));
  tvDrive->setColumnCount(1);
  tvDrive->setHeaderHidden(true);
  tvDrive->setRootIsDecorated(false);
  tvDrive->setIndentation(DriveIndent);
  tvDrive->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvDrive->setSelectionMode(QAbstractItemView::SingleSelection);
  tvDrive->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvDrive->setAllColumnsShowFocus(true);
  tvDrive->setIconSize(QSize(DriveTypeImageSize, DriveTypeImageSize));
  // The chosen drive stays plainly marked while the focus is elsewhere.
  QPalette Palette = tvDrive->palette();
  for (const QPalette::ColorRole Role : {QPalette::Highlight, QPalette::HighlightedText})
    Palette.setColor(QPalette::Inactive, Role, Palette.color(QPalette::Active, Role));
  tvDrive->setPalette(Palette);
  connect(tvDrive, &QTreeWidget::itemSelectionChanged, this,
          [this] { RunUserAction([this] { tvDriveChange(); }); });

  // Stays when no drive is listed: an image may still be added.
  btnAddVolumeImage = new QPushButton(QStringLiteral("Add volume image..."), this);
  btnAddVolumeImage->setObjectName(QStringLiteral("btnAddVolumeImage"));
  connect(btnAddVolumeImage, &QPushButton::clicked, this,
          [this] { RunUserAction([this] { btnAddVolumeImageClick(); }); });

  // The areas a rescue could not read are not data; the mapfile says which.
  btnChooseRescueMap = new QPushButton(QStringLiteral("Choose &mapfile..."), this);
  btnChooseRescueMap->setObjectName(QStringLiteral("btnChooseRescueMap"));
  btnChooseRescueMap->setEnabled(false);
  connect(btnChooseRescueMap, &QPushButton::clicked, this,
          [this] { RunUserAction([this] { btnChooseRescueMapClick(); }); });

  auto* Buttons = new QHBoxLayout;
  Buttons->addWidget(btnAddVolumeImage);
  Buttons->addWidget(btnChooseRescueMap);
  Buttons->addStretch(1);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(lblDriveCaption);
  Layout->addWidget(tvDrive, 1);
  Layout->addLayout(Buttons);
  // Holds the button down when the tree is hidden.
  Layout->addStretch(0);
}

QString TSelectSourceDrivePage::GetTitle() { return QStringLiteral("Select source disk"); }

QString TSelectSourceDrivePage::GetDescription() {
  return QStringLiteral("Selection of disk where deleted files placed");
}

bool TSelectSourceDrivePage::GetAllowNext() { return !tvDrive->selectedItems().isEmpty(); }

bool TSelectSourceDrivePage::NeedToListenMessages() { return true; }

void TSelectSourceDrivePage::WizardRun(IWizardApplication* AApp) {
  TWizardPage::WizardRun(AApp);
  IgnoringHistoryErrors([this] { LoadHistory(FContext); });
}

void TSelectSourceDrivePage::WizardStop(IWizardApplication* AApp) {
  TWizardPage::WizardStop(AApp);
  IgnoringHistoryErrors([this] { SaveHistory(FContext); });
}

void TSelectSourceDrivePage::PageAfterEnter(bool AForward) {
  TWizardPage::PageAfterEnter(AForward);
  // On a return by Back the list and its selection stay as the user left them.
  if (AForward)
    RefreshDriveList();
}

void TSelectSourceDrivePage::PageBeforeExit(bool AForward, bool& AllowExit) {
  TWizardPage::PageBeforeExit(AForward, AllowExit);
  if (!AForward)
    return;
  const QList<QTreeWidgetItem*> Selected = tvDrive->selectedItems();
  if (!Selected.isEmpty())
    FContext.SetSourceDrive(RecordOf(Selected.first())->RootPathName);
}

void TSelectSourceDrivePage::ListenWizardMessage(QEvent& Message) {
  TWizardPage::ListenWizardMessage(Message);
  if (Message.type() != TDeviceChangeEvent::EventType())
    return;
  const auto& Change = static_cast<const TDeviceChangeEvent&>(Message);
  if (Change.DeviceEvent() == DBT_DEVICEARRIVAL || Change.DeviceEvent() == DBT_DEVICEREMOVECOMPLETE)
    DrivesChanged(Change.ArrivedDrive());
}

void TSelectSourceDrivePage::DrivesChanged(TDriveLetter AArrivedDrive) {
  RefreshDriveTable();
  FDriveListChanged = true;
  if (AArrivedDrive != 0)
    FArrivedDrive = AArrivedDrive;
  if (IsActive())
    RefreshDriveList();
}

void TSelectSourceDrivePage::RefreshDriveList() {
  if (!FDriveListChanged)
    return;
  tvDrive->clear();
  for (const PVolumeInformationRecord Record : ListedSourceDrives())
    AddDriveNode(*Record);
  const bool HasDrives = tvDrive->topLevelItemCount() > 0;
  tvDrive->setVisible(HasDrives);
  lblDriveCaption->setVisible(HasDrives);
  SelectCurrentDrive();
  if (QTreeWidgetItem* Arrived = FindDriveNode(FArrivedDrive))
    tvDrive->setCurrentItem(Arrived);
  FArrivedDrive = 0;
  FDriveListChanged = false;
}

void TSelectSourceDrivePage::AddDriveNode(TVolumeInformationRecord& ARecord) {
  auto* Node = new QTreeWidgetItem(tvDrive, {QString::fromStdU16String(DriveDisplayName(ARecord))});
  Node->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(&ARecord)));
  Node->setIcon(0, QIcon(ilDriveTypes.value(ARecord.DriveType)));
}

QTreeWidgetItem* TSelectSourceDrivePage::FindDriveNode(TDriveLetter ALetter) const {
  for (int Index = 0; Index < tvDrive->topLevelItemCount(); ++Index)
    if (RecordOf(tvDrive->topLevelItem(Index))->Letter == ALetter)
      return tvDrive->topLevelItem(Index);
  return nullptr;
}

// The stored letter is compared as it is: a lower-case "c:\" (the context's
// default) never matches, and the first drive is taken.
void TSelectSourceDrivePage::SelectCurrentDrive() {
  const TDriveLetter Current = FContext.GetSourceDriveLetter();
  QTreeWidgetItem* Node = Current != 0 ? FindDriveNode(Current) : nullptr;
  if (!Node)
    Node = tvDrive->topLevelItem(0);
  if (Node)
    tvDrive->setCurrentItem(Node);
}

std::string TSelectSourceDrivePage::SelectedImage() const {
  const QList<QTreeWidgetItem*> Selected = tvDrive->selectedItems();
  if (Selected.isEmpty())
    return std::string();
  const std::optional<std::string> Path = DriveTable().PathOf(RecordOf(Selected.first())->Letter);
  return Path && VolumeImages().Contains(*Path) ? *Path : std::string();
}

void TSelectSourceDrivePage::tvDriveChange() {
  btnChooseRescueMap->setEnabled(!SelectedImage().empty());
  if (App())
    App()->UpdateStatus();
}

void TSelectSourceDrivePage::btnAddVolumeImageClick() { AddVolumeImageTo(*window()); }

// A mapfile that cannot be read is explained and not chosen, so the scan
// never starts on a map it would refuse.
void TSelectSourceDrivePage::btnChooseRescueMapClick() {
  const std::string Image = SelectedImage();
  if (Image.empty())
    return;
  const QString File = RescueMapChooser()(window(), QString::fromStdString(Image));
  if (File.isEmpty())
    return;
  const std::string Map = QFile::encodeName(File).toStdString();
  try {
    TRescueMap::Load(Map);
    ChooseRescueMap(Image, Map);
  } catch (const NoDriveException& E) {
    QMessageBox::warning(window(), ChooseRescueMapCaption, QString::fromStdString(E.what()));
  }
}

// ---------------------------------------------------------------------------

std::string HistoryFilePath() {
  if (AppDataFolder().empty())
    return std::string();
  return ToNativePath(SysPaths().AnnouncePath(AppDataFolder() + HistoryFileName, PlaceholderDelimiter));
}

TVolumeImageChooser& VolumeImageChooser() {
  static TVolumeImageChooser Chooser = ChooseVolumeImageFile;
  return Chooser;
}

TRescueMapChooser& RescueMapChooser() {
  static TRescueMapChooser Chooser = ChooseRescueMapFile;
  return Chooser;
}

void AddVolumeImageTo(QWidget& AWizard) {
  const QString File = VolumeImageChooser()(&AWizard);
  if (File.isEmpty())
    return;
  try {
    const TDriveLetter Letter = AddVolumeImage(QFile::encodeName(File).toStdString());
    TDeviceChangeEvent Arrival(DBT_DEVICEARRIVAL, Letter);
    QCoreApplication::sendEvent(&AWizard, &Arrival);
  } catch (const VolumeImageError& E) {
    QMessageBox::warning(&AWizard, AddVolumeImageCaption, QString::fromStdString(E.what()));
  }
}
