#include "wizard/uSelectSourceDrivePage.h"

#include <filesystem>

#include <QCheckBox>
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
#include "engine/uLostVolumeSearch.h"
#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
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
// Each mapfile chosen with its image, as "ImageN" and "MapN".
constexpr char MapfilesSection[] = "Mapfiles";
constexpr char MapKeyPrefix[] = "Map";
// Each lost volume found, as "DiskN" and "OffsetN".
constexpr char LostVolumesSection[] = "LostVolumes";
constexpr char DiskKeyPrefix[] = "Disk";
constexpr char OffsetKeyPrefix[] = "Offset";
const QString AddVolumeImageCaption = QStringLiteral("Add volume image");
const QString ChooseRescueMapCaption = QStringLiteral("Choose mapfile");
const QString SearchLostVolumesCaption = QStringLiteral("Search for lost volumes");

PVolumeInformationRecord RecordOf(const QTreeWidgetItem* ANode) {
  return static_cast<PVolumeInformationRecord>(ANode->data(0, Qt::UserRole).value<void*>());
}

// The images the user added, in the order added. Those named by
// TARNWICK_IMAGES come back with every start that names them, so they are
// not kept. A value must come back from the file as written: no line breaks,
// no spaces at its ends (the INI reader trims them).
bool Storable(const std::string& APath) {
  return !APath.empty() && APath.find_first_of("\r\n") == std::string::npos && APath.back() != ' ';
}

void StoreImages(CSimpleIniA& AIni, const TDriveList& ADrives) {
  TVolumeImageList FromEnvironment;
  FromEnvironment.Merge(ImagePathsFromEnvironment());
  AIni.Delete(ImagesSection, nullptr);
  int Number = 0;
  for (const std::string& Path : ADrives.Images().Paths())
    if (Storable(Path) && !FromEnvironment.Contains(Path))
      AIni.SetValue(ImagesSection, (ImageKeyPrefix + std::to_string(++Number)).c_str(), Path.c_str());
}

void StoreRescueMaps(CSimpleIniA& AIni, const TDriveList& ADrives) {
  AIni.Delete(MapfilesSection, nullptr);
  int Number = 0;
  for (const auto& [Image, Map] : ADrives.ChosenRescueMaps())
    if (Storable(Image) && Storable(Map)) {
      const std::string Suffix = std::to_string(++Number);
      AIni.SetValue(MapfilesSection, (ImageKeyPrefix + Suffix).c_str(), Image.c_str());
      AIni.SetValue(MapfilesSection, (MapKeyPrefix + Suffix).c_str(), Map.c_str());
    }
}

// A pair with either half missing is passed over.
void LoadRescueMaps(const CSimpleIniA& AIni, TDriveList& ADrives) {
  for (int Number = 1;; ++Number) {
    const std::string Suffix = std::to_string(Number);
    const char* Image = AIni.GetValue(MapfilesSection, (ImageKeyPrefix + Suffix).c_str(), nullptr);
    const char* Map = AIni.GetValue(MapfilesSection, (MapKeyPrefix + Suffix).c_str(), nullptr);
    if (Image == nullptr || Map == nullptr)
      return;
    ADrives.ChooseRescueMap(Image, Map);
  }
}

void StoreLostVolumes(CSimpleIniA& AIni, const TDriveList& ADrives) {
  AIni.Delete(LostVolumesSection, nullptr);
  int Number = 0;
  for (const TDriveSource& Volume : ADrives.LostVolumes())
    if (Storable(Volume.Path)) {
      const std::string Suffix = std::to_string(++Number);
      AIni.SetValue(LostVolumesSection, (DiskKeyPrefix + Suffix).c_str(), Volume.Path.c_str());
      AIni.SetValue(LostVolumesSection, (OffsetKeyPrefix + Suffix).c_str(), std::to_string(Volume.Offset).c_str());
    }
}

// A pair with either half missing, or an offset that is no number, is
// passed over.
std::vector<TDriveSource> StoredLostVolumes(const CSimpleIniA& AIni) {
  std::vector<TDriveSource> Volumes;
  for (int Number = 1;; ++Number) {
    const std::string Suffix = std::to_string(Number);
    const char* Disk = AIni.GetValue(LostVolumesSection, (DiskKeyPrefix + Suffix).c_str(), nullptr);
    const char* Offset = AIni.GetValue(LostVolumesSection, (OffsetKeyPrefix + Suffix).c_str(), nullptr);
    if (Disk == nullptr || Offset == nullptr)
      return Volumes;
    bool Valid = false;
    const qlonglong Bytes = QString::fromUtf8(Offset).toLongLong(&Valid);
    if (Valid && Bytes > 0)
      Volumes.push_back(TDriveSource{Disk, 0, Bytes});
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
void LoadHistory(TNTFSRecoveryContext& AContext, TDriveList& ADrives) {
  const std::string Path = HistoryFilePath();
  if (Path.empty())
    return;
  CSimpleIniA Ini;
  LoadIfPresent(Ini, Path);
  AContext.RestoreState(Ini);
  LoadRescueMaps(Ini, ADrives);
  const std::size_t ImagesBefore = ADrives.Images().Paths().size();
  const std::size_t LostVolumesBefore = ADrives.LostVolumes().size();
  ADrives.Images().Merge(StoredImages(Ini));
  ADrives.MergeLostVolumes(StoredLostVolumes(Ini));
  if (ADrives.Images().Paths().size() != ImagesBefore || ADrives.LostVolumes().size() != LostVolumesBefore)
    ADrives.Refresh();
}

// Keeps whatever else the file holds. Nothing creates the data folder: when
// it is missing, the write fails and the state is not kept.
void SaveHistory(const TNTFSRecoveryContext& AContext, const TDriveList& ADrives) {
  const std::string Path = HistoryFilePath();
  if (Path.empty())
    return;
  CSimpleIniA Ini;
  LoadIfPresent(Ini, Path);
  AContext.StoreState(Ini);
  StoreImages(Ini, ADrives);
  StoreRescueMaps(Ini, ADrives);
  StoreLostVolumes(Ini, ADrives);
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

QString ChooseLostVolumeDisk(QWidget* AOwner) {
  return QFileDialog::getOpenFileName(AOwner, SearchLostVolumesCaption, QString(),
                                      QStringLiteral("Disk images (*.img *.raw *.dd *.bin *.E01 *.vhd *.vhdx *.vmdk "
                                                     "*.qcow2);;All files (*)"));
}

}  // namespace

TSelectSourceDrivePage::TSelectSourceDrivePage(TNTFSRecoveryContext& AContext, TDriveList& ADrives,
                                               TSourceResolver AResolver)
    : ilDriveTypes(DrawDriveTypeImages()), FContext(AContext), FDrives(ADrives), FResolver(std::move(AResolver)) {
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

  btnSearchLostVolumes = new QPushButton(QStringLiteral("Search for &lost volumes..."), this);
  btnSearchLostVolumes->setObjectName(QStringLiteral("btnSearchLostVolumes"));
  connect(btnSearchLostVolumes, &QPushButton::clicked, this,
          [this] { RunUserAction([this] { btnSearchLostVolumesClick(); }); });

  cbIncludeSnapshots = new QCheckBox(QStringLiteral("Include &previous versions"), this);
  cbIncludeSnapshots->setObjectName(QStringLiteral("cbIncludeSnapshots"));
  cbIncludeSnapshots->setToolTip(
      QStringLiteral("Also list the files kept in the drive's shadow copies (restore points) that it no longer holds "
                     "as they were"));
  cbIncludeSnapshots->setChecked(FContext.GetIncludeSnapshots());
  connect(cbIncludeSnapshots, &QCheckBox::toggled, this,
          [this](bool AChecked) { FContext.SetIncludeSnapshots(AChecked); });

  auto* Buttons = new QHBoxLayout;
  Buttons->addWidget(btnAddVolumeImage);
  Buttons->addWidget(btnChooseRescueMap);
  Buttons->addWidget(btnSearchLostVolumes);
  Buttons->addStretch(1);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(lblDriveCaption);
  Layout->addWidget(tvDrive, 1);
  Layout->addLayout(Buttons);
  Layout->addWidget(cbIncludeSnapshots);
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
  IgnoringHistoryErrors([this] { LoadHistory(FContext, FDrives); });
  cbIncludeSnapshots->setChecked(FContext.GetIncludeSnapshots());
}

void TSelectSourceDrivePage::WizardStop(IWizardApplication* AApp) {
  TWizardPage::WizardStop(AApp);
  IgnoringHistoryErrors([this] { SaveHistory(FContext, FDrives); });
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
  AllowExit = OpenSelectedDrive();
}

bool TSelectSourceDrivePage::OpenSelectedDrive() {
  const QList<QTreeWidgetItem*> Selected = tvDrive->selectedItems();
  if (Selected.isEmpty())
    return true;
  const TVolumeInformationRecord& Record = *RecordOf(Selected.first());
  TOpenedSourcePtr Source;
  try {
    Source = FResolver.Open(FDrives.RequestOf(Record.Source));
  } catch (const NoDriveException& E) {
    QMessageBox::warning(window(), GetTitle(), QString::fromStdString(E.what()));
    return false;
  }
  // Said before anything is read: a mapfile passed over, a volume the
  // system may write to while it is scanned.
  if (!Source->Warnings().empty()) {
    QStringList Warnings;
    for (const std::string& Warning : Source->Warnings())
      Warnings << QString::fromStdString(Warning);
    QMessageBox::warning(window(), GetTitle(), Warnings.join(QStringLiteral("\n\n")));
  }
  FContext.SetSourceDrive(Record.RootPathName);
  FContext.SetSource(std::move(Source));
  return true;
}

void TSelectSourceDrivePage::ListenWizardMessage(QEvent& Message) {
  TWizardPage::ListenWizardMessage(Message);
  if (Message.type() == TVolumeImageChosenEvent::EventType())
    AddChosenImage(static_cast<const TVolumeImageChosenEvent&>(Message).Path());
  if (Message.type() != TDeviceChangeEvent::EventType())
    return;
  const auto& Change = static_cast<const TDeviceChangeEvent&>(Message);
  if (Change.DeviceEvent() == DBT_DEVICEARRIVAL || Change.DeviceEvent() == DBT_DEVICEREMOVECOMPLETE)
    DrivesChanged(FDrives.Table().SourceOf(Change.ArrivedDrive()));
}

void TSelectSourceDrivePage::AddChosenImage(const std::string& APath) {
  try {
    DrivesChanged(FDrives.AddVolumeImage(APath).Source);
  } catch (const VolumeImageError& E) {
    QMessageBox::warning(window(), AddVolumeImageCaption, QString::fromStdString(E.what()));
  }
}

void TSelectSourceDrivePage::DrivesChanged(std::optional<TDriveSource> AArrivedDrive) {
  FDrives.Refresh();
  FDriveListChanged = true;
  if (AArrivedDrive)
    FArrivedDrive = std::move(AArrivedDrive);
  if (IsActive())
    RefreshDriveList();
}

void TSelectSourceDrivePage::RefreshDriveList() {
  if (!FDriveListChanged)
    return;
  tvDrive->clear();
  for (const PVolumeInformationRecord Record : FDrives.ListedSourceDrives())
    AddDriveNode(*Record);
  const bool HasDrives = tvDrive->topLevelItemCount() > 0;
  tvDrive->setVisible(HasDrives);
  lblDriveCaption->setVisible(HasDrives);
  SelectCurrentDrive();
  if (FArrivedDrive)
    if (QTreeWidgetItem* Arrived = FindDriveNode(
            [this](const TVolumeInformationRecord& ARecord) { return ARecord.Source == *FArrivedDrive; }))
      tvDrive->setCurrentItem(Arrived);
  FArrivedDrive.reset();
  FDriveListChanged = false;
}

void TSelectSourceDrivePage::AddDriveNode(TVolumeInformationRecord& ARecord) {
  auto* Node = new QTreeWidgetItem(tvDrive, {QString::fromStdU16String(DriveDisplayName(ARecord))});
  Node->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(&ARecord)));
  Node->setIcon(0, QIcon(ilDriveTypes.value(ARecord.DriveType)));
}

QTreeWidgetItem* TSelectSourceDrivePage::FindDriveNode(
    const std::function<bool(const TVolumeInformationRecord&)>& AIsIt) const {
  for (int Index = 0; Index < tvDrive->topLevelItemCount(); ++Index)
    if (AIsIt(*RecordOf(tvDrive->topLevelItem(Index))))
      return tvDrive->topLevelItem(Index);
  return nullptr;
}

// The stored letter is compared as it is: a lower-case "c:\" (the context's
// default) never matches, and the first drive is taken. A drive without a
// letter is known by the whole name it was stored under.
void TSelectSourceDrivePage::SelectCurrentDrive() {
  const TDriveLetter Current = FContext.GetSourceDriveLetter();
  const auto IsCurrent = [this, Current](const TVolumeInformationRecord& ARecord) {
    return ARecord.Letter != 0 ? ARecord.Letter == Current : ARecord.RootPathName == FContext.SourceDrive();
  };
  QTreeWidgetItem* Node = Current != 0 ? FindDriveNode(IsCurrent) : nullptr;
  if (!Node)
    Node = tvDrive->topLevelItem(0);
  if (Node)
    tvDrive->setCurrentItem(Node);
}

std::string TSelectSourceDrivePage::SelectedImage() const {
  const QList<QTreeWidgetItem*> Selected = tvDrive->selectedItems();
  if (Selected.isEmpty())
    return std::string();
  const std::string& Path = RecordOf(Selected.first())->Source.Path;
  return FDrives.Images().Contains(Path) ? Path : std::string();
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
    FDrives.ChooseRescueMap(Image, Map);
  } catch (const NoDriveException& E) {
    QMessageBox::warning(window(), ChooseRescueMapCaption, QString::fromStdString(E.what()));
  }
}

// A quick search that finds nothing offers the deep one, which reads the
// whole disk. Each volume found becomes a drive; the first is selected.
void TSelectSourceDrivePage::btnSearchLostVolumesClick() {
  const QString File = LostVolumeDiskChooser()(window());
  if (File.isEmpty())
    return;
  const std::string Disk = QFile::encodeName(File).toStdString();
  TOpenedSourcePtr Source;
  try {
    Source = FResolver.Open(TSourceRequest{Disk});
  } catch (const NoDriveException& E) {
    QMessageBox::warning(window(), SearchLostVolumesCaption, QString::fromStdString(E.what()));
    return;
  }
  std::vector<TLostVolume> Found = SearchLostVolumesWithProgress(Source->Source(), false);
  if (Found.empty() &&
      QMessageBox::question(window(), SearchLostVolumesCaption,
                            QStringLiteral("No lost NTFS volume was found where partitions usually start. Search "
                                           "every sector? This reads the whole disk.")) == QMessageBox::Yes)
    Found = SearchLostVolumesWithProgress(Source->Source(), true);
  std::optional<TDriveSource> First;
  for (const TLostVolume& Volume : Found)
    try {
      const TDriveSource Added = FDrives.AddLostVolume(TDriveSource{Disk, 0, Volume.Offset}).Source;
      First = First.value_or(Added);
    } catch (const VolumeImageError&) {
      // Found, but it does not open as a whole: there is nothing to scan.
    }
  if (!First) {
    QMessageBox::information(window(), SearchLostVolumesCaption,
                             QStringLiteral("No lost NTFS volume was found on \"%1\".").arg(File));
    return;
  }
  DrivesChanged(First);
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

TLostVolumeDiskChooser& LostVolumeDiskChooser() {
  static TLostVolumeDiskChooser Chooser = ChooseLostVolumeDisk;
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
  TVolumeImageChosenEvent Chosen(QFile::encodeName(File).toStdString());
  QCoreApplication::sendEvent(&AWizard, &Chosen);
}
