#include "engine/uAppContext.h"

#include "engine/uTreeWalk.h"
#include "foundation/uSysPath.h"
#include "platform/uDrivePart.h"
#include "progress/uProgressEx.h"
#include "ntfs/uFSError.h"

#include <algorithm>

namespace {

constexpr std::int32_t kPointerSize = sizeof(void*);
constexpr char16_t kDefaultMask[] = u"*.*";

// history.ini
constexpr char kSourceSection[] = "Source";
constexpr char kDriveKey[] = "Drive";
constexpr char kTargetSection[] = "Target";
constexpr char kDirKey[] = "Dir";
constexpr char kModeKey[] = "Mode";
constexpr char kResolveConflictKey[] = "ResolveConflict";
constexpr char kRestoreTimesKey[] = "RestoreTimes";
constexpr char kRestoreStreamsKey[] = "RestoreStreams";
constexpr char kIncludeSnapshotsKey[] = "IncludePreviousVersions";
constexpr char kDefaultSourceDrive[] = "c:\\";

std::string AsciiUpper(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; });
  return AText;
}

bool EndsWithDelimiter(const std::u16string& APath) {
  return !APath.empty() && (APath.back() == u'\\' || APath.back() == u'/');
}

void FreeItemsOf(const IExListPtr& AList) {
  for (auto [bookmark, item] : ListItems<PItemInfo>(*AList))
    if (item->Owner == AList.get())
      delete item;
  AList->Clear();
}

} // namespace

TNTFSRecoveryContext::TNTFSRecoveryContext(std::shared_ptr<IPrompt> APrompt,
                                           std::shared_ptr<const IFileSystem> AFileSystem,
                                           TDrivePartFunction ADrivePart)
    : FPrompt(std::move(APrompt)),
      FFileSystem(AFileSystem ? std::move(AFileSystem) : std::make_shared<TLinuxFileSystem>()),
      FDrivePart(ADrivePart ? std::move(ADrivePart) : TDrivePartFunction([](const std::string& APath) {
        static const TDriveTable noDrives;
        return SystemDrivePart(noDrives, APath);
      })),
      FItems(ExListBuilder::CreateList(kPointerSize)),
      FRootItems(ExListBuilder::CreateList(kPointerSize)),
      FTreeItems(ExListBuilder::CreateList(kPointerSize)),
      FDriveMap(std::make_unique<TDriveMap>(0)),
      FMask(kDefaultMask) {}

TNTFSRecoveryContext::~TNTFSRecoveryContext() { Clear(); }

void TNTFSRecoveryContext::Clear() {
  FreeTree(FTreeItems);
  FreeItemsOf(FItems);
  FreeItemsOf(FRootItems);
  FDriveMap->Clear();
  FDataRuns.Clear();
  FShortData.clear();
  FFreedExtensions.clear();
  FTakenRuns.clear();
  FLiveRecycleInfos.clear();
  for (const TSnapshotScan& snapshot : FSnapshots) {
    FreeItemsOf(snapshot.Items);
    FreeItemsOf(snapshot.RootItems);
  }
  FSnapshots.clear();
}

void TNTFSRecoveryContext::FreeTree(const IExListPtr& ATreeItems) {
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*ATreeItems))
    FreeTreeNode(node);
  ATreeItems->Clear();
}

std::vector<PItemInfo> PathItems(PTreeItemInfo ANode, bool AIncludeRoot) {
  std::vector<PItemInfo> items{ANode->Data};
  for (PTreeItemInfo parent = ANode->Parent; parent != nullptr; parent = parent->Parent) {
    // Only the drive folder and the orphans folder have no parent record.
    if (!AIncludeRoot && parent->Data->DirREF.Address() == 0)
      break;
    items.push_back(parent->Data);
  }
  std::reverse(items.begin(), items.end());
  return items;
}

std::u16string TNTFSRecoveryContext::GetFullName(PTreeItemInfo AInfo, bool IncludeRoot) {
  std::u16string result;
  for (PItemInfo item : PathItems(AInfo, IncludeRoot)) {
    if (!result.empty() && !EndsWithDelimiter(result))
      result += u'\\';
    result += item->Name;
  }
  return result;
}

PNTFSVolume TNTFSRecoveryContext::OpenSourceVolume() const {
  if (!FSource)
    throw NoDriveException();
  FSource->CheckUnchanged();
  return OpenVolume(SourceDriveName(), FSource->Source());
}

PNTFSVolume TNTFSRecoveryContext::OpenVolume(const std::u16string& AName, IVolumeSourcePtr ASource) {
  const PNTFSVolume volume = NTFSVolumeInit(AName, std::move(ASource));
  // A cancel stops the rereads of a failing span, which may take long.
  volume->KeepRereading = [] { return ProgressEx::KeepAlive(); };
  return volume;
}

char16_t TNTFSRecoveryContext::GetSourceDriveLetter() const {
  return FSourceDrive.empty() ? u'\0' : FSourceDrive.front();
}

std::u16string TNTFSRecoveryContext::SourceDriveName() const {
  return EndsWithDelimiter(FSourceDrive) ? FSourceDrive.substr(0, FSourceDrive.size() - 1) : FSourceDrive;
}

void TNTFSRecoveryContext::SetMask(const std::u16string& Value) {
  FMask = Value.empty() ? kDefaultMask : Value;
}

void TNTFSRecoveryContext::SetTargetDir(const std::u16string& Value) {
  FTargetDir = Value;
  // An empty folder stays empty: with a delimiter added it would name the
  // root of the file system.
  if (Value.empty() || EndsWithDelimiter(Value))
    return;
  FTargetDir += WindowsDrivePart(ToNativePath(Value)) ? u'\\' : u'/';
}

bool TNTFSRecoveryContext::TargetDirIsValid(const std::u16string& Value) {
  // No folder at all is no place to write to.
  if (Value.empty())
    return false;
  const std::string path = ToNativePath(Value);
  // A drive without a letter has no drive part to compare; what it is read
  // from still decides.
  const std::string sourceDrive = ToNativePath(FSourceDrive);
  return (!WindowsDrivePart(sourceDrive) || AsciiUpper(FDrivePart(path)) != AsciiUpper(FDrivePart(sourceDrive))) &&
         !LiesOnSource(path, SourceIdentity());
}

TSourceIdentity TNTFSRecoveryContext::SourceIdentity() const {
  return FSource ? FSource->Identity() : TSourceIdentity();
}

void TNTFSRecoveryContext::StoreState(CSimpleIniA& AIniFile) const {
  AIniFile.SetValue(kSourceSection, kDriveKey, ToNativePath(FSourceDrive).c_str());
  AIniFile.SetValue(kTargetSection, kDirKey, ToNativePath(FTargetDir).c_str());
  AIniFile.SetLongValue(kTargetSection, kModeKey, FRestoreMode);
  AIniFile.SetLongValue(kTargetSection, kResolveConflictKey, FResolveConflictMode);
  AIniFile.SetBoolValue(kTargetSection, kRestoreTimesKey, FRestoreTimes);
  AIniFile.SetBoolValue(kTargetSection, kRestoreStreamsKey, FRestoreStreams);
  AIniFile.SetBoolValue(kSourceSection, kIncludeSnapshotsKey, FIncludeSnapshots);
}

void TNTFSRecoveryContext::RestoreState(const CSimpleIniA& AIniFile) {
  FSourceDrive = FromNativePath(AIniFile.GetValue(kSourceSection, kDriveKey, kDefaultSourceDrive));
  FTargetDir = FromNativePath(AIniFile.GetValue(kTargetSection, kDirKey, ""));
  // Each mode keeps only the low byte of what was stored, unchecked.
  FRestoreMode = static_cast<TRestoreMode>(AIniFile.GetLongValue(kTargetSection, kModeKey, rmTree) & 0xFF);
  FResolveConflictMode = static_cast<TResolveConflictMode>(
      AIniFile.GetLongValue(kTargetSection, kResolveConflictKey, rcmRename) & 0xFF);
  FRestoreTimes = AIniFile.GetBoolValue(kTargetSection, kRestoreTimesKey, true);
  FRestoreStreams = AIniFile.GetBoolValue(kTargetSection, kRestoreStreamsKey, true);
  FIncludeSnapshots = AIniFile.GetBoolValue(kSourceSection, kIncludeSnapshotsKey, true);
}
