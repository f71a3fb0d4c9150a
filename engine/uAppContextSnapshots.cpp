#include "engine/uAppContext.h"

#include "engine/uScannedName.h"
#include "foundation/uUnicode.h"
#include "ntfs/uMFTReader.h"
#include "ntfs/uNTFSUtils.h"
#include "progress/uProgressEx.h"

#include <array>
#include <ctime>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

constexpr std::int32_t kPointerSize = sizeof(void*);
// Records below this hold the volume's own metafiles, or are kept for them.
constexpr std::int64_t kFirstUserRecord = 24;
// The folder of the metafiles added since: the change journal, quotas,
// object and reparse point ids.
constexpr std::int64_t kExtendRecord = 11;
// Where Windows keeps the stores themselves and its restore points: they
// change with every snapshot and are nothing a user lost.
constexpr char16_t kSystemVolumeInformation[] = u"System Volume Information";
constexpr char16_t kBranchPrefix[] = u"Previous version of ";

// What a snapshot's record in use says about its file or folder.
struct TRecordVersion {
  std::int64_t Record = 0;
  std::uint16_t Sequence = 0;
  bool IsDirectory = false;
  TScannedName Name;
  std::int64_t DataSize = 0;
  std::int64_t Modified = 0;
  std::int64_t Created = 0;
  std::uint32_t Attributes = 0;
};

// The base record ARecord when it is in use and named, the root folder
// (its own parent) left out.
std::optional<TRecordVersion> VersionInUse(PNTFSVolume AVolume, std::int64_t ANumber, TByteView ARecord) {
  const PMFTRecord header(ARecord);
  if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0 || (header.Flags() & MFT_RECORD_IN_USE) == 0)
    return std::nullopt;
  TAttributeSearch search(AVolume, MFT_REF::Build(ANumber), ARecord);
  std::optional<TScannedName> name = FileNameOf(ARecord, search);
  if (!name || name->DirREF.Address() == ANumber)
    return std::nullopt;
  TRecordVersion version{ANumber, header.SequenceNumber(), (header.Flags() & MFT_RECORD_IS_DIRECTORY) != 0,
                         std::move(*name)};
  version.Modified = version.Name.ChangeTime;
  version.Created = version.Name.CreationTime;
  version.Attributes = version.Name.FileAttributes;
  if (const std::optional<PMFTStandardInformation> times = StandardInformationOf(search)) {
    version.Modified = times->ModificationTime();
    version.Created = times->CreationTime();
    version.Attributes = times->FileAttributes();
  }
  if (!version.IsDirectory && search.FindFirst(AttributeType::Data, 0))
    version.DataSize = NTFSAttribute::GetAttributeDataSize(search.Rec().AttributeRecord);
  return version;
}

// Hands every record of AVolume in use to AVisit, under a progress level
// ATitle; stops early at a cancel.
template <class TVisit>
void ForEachRecordInUse(PNTFSVolume AVolume, const std::string& ATitle, TVisit AVisit) {
  TProgressExLevel level(ATitle, AVolume->MFTRecordCount, "records");
  TMFTRecordReader reader(AVolume, AVolume->MFTRecordCount);
  bool goOn = true;
  while (const TMFTRecordBlock* block = goOn ? reader.Next(ProgressEx::KeepAlive) : nullptr) {
    for (std::int64_t i = 0; goOn && i < block->Count(); ++i) {
      const std::int64_t number = block->FirstRecord() + i;
      if (number >= kFirstUserRecord)
        if (std::optional<TRecordVersion> version = VersionInUse(AVolume, number, block->Record(i)))
          AVisit(std::move(*version));
      goOn = ProgressEx::DoProgress(number);
    }
  }
}

// "Previous version of 2013-12-03 07:35:09", in local time as the user
// knows the moment.
std::u16string BranchName(std::int64_t ACreationTime) {
  const std::time_t seconds = ACreationTime / FileTimeTicksPerSecond - SecondsFrom1601To1970;
  std::tm local{};
  std::array<char, 32> when{};
  if (localtime_r(&seconds, &local) == nullptr ||
      std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S", &local) == 0)
    return kBranchPrefix + FromNativePath(std::to_string(seconds));
  return kBranchPrefix + FromNativePath(when.data());
}

// The folders of a snapshot that hold nothing a user lost, found by
// walking up each folder's parents.
class TSystemFolders {
public:
  explicit TSystemFolders(const std::unordered_map<std::int64_t, TRecordVersion>& AFolders, std::int64_t ARoot)
      : FFolders(AFolders), FRoot(ARoot) {}

  bool Holds(std::int64_t AFolder) {
    std::vector<std::int64_t> path;
    std::unordered_set<std::int64_t> onPath;
    bool system = false;
    // A crafted volume may chain folders in a circle: no folder is met twice.
    for (std::int64_t folder = AFolder; folder != FRoot;) {
      if (const auto known = FKnown.find(folder); known != FKnown.end()) {
        system = known->second;
        break;
      }
      const auto record = FFolders.find(folder);
      if (folder == kExtendRecord || record == FFolders.end() || !onPath.insert(folder).second) {
        system = folder == kExtendRecord;
        break;
      }
      path.push_back(folder);
      if (record->second.Name.DirREF.Address() == FRoot && record->second.Name.Name == kSystemVolumeInformation) {
        system = true;
        break;
      }
      folder = record->second.Name.DirREF.Address();
    }
    for (const std::int64_t folder : path)
      FKnown[folder] = system;
    return system;
  }

private:
  const std::unordered_map<std::int64_t, TRecordVersion>& FFolders;
  std::int64_t FRoot;
  std::unordered_map<std::int64_t, bool> FKnown;
};

} // namespace

// A file's version: its record, the record's sequence number, its size and
// when its data was last written.
struct TNTFSRecoveryContext::TVersionSet {
  using TVersion = std::tuple<std::int64_t, std::uint16_t, std::int64_t, std::int64_t>;
  // The versions the volume holds now or a newer snapshot listed already.
  std::set<TVersion> Known;
  // The files in use now, by record and sequence number.
  std::set<std::pair<std::int64_t, std::uint16_t>> InUseNow;

  static TVersion Of(const TRecordVersion& AVersion) {
    return {AVersion.Record, AVersion.Sequence, AVersion.DataSize, AVersion.Modified};
  }
};

void TNTFSRecoveryContext::ScanSnapshots(PNTFSVolume AVolume) {
  if (!FIncludeSnapshots)
    return;
  TShadowCopies copies = OpenShadowCopies(FSource->Source());
  for (const std::string& skipped : copies.Skipped)
    ProgressEx::Detail(pdsWarning, skipped);
  if (copies.Snapshots.empty())
    return;
  TVersionSet versions;
  ForEachRecordInUse(AVolume, "Reading the current files...", [&versions](TRecordVersion AVersion) {
    if (AVersion.IsDirectory)
      return;
    versions.Known.insert(TVersionSet::Of(AVersion));
    versions.InUseNow.emplace(AVersion.Record, AVersion.Sequence);
  });
  for (auto copy = copies.Snapshots.rbegin(); copy != copies.Snapshots.rend() && !ProgressEx::IsCanceled(); ++copy) {
    try {
      ScanSnapshot(*copy, versions);
    } catch (const std::exception& error) {
      ProgressEx::Detail(pdsWarning, SkippedStoreLine(copy->Store, error.what()));
    }
  }
}

void TNTFSRecoveryContext::ScanSnapshot(const TShadowCopy& ACopy, TVersionSet& AVersions) {
  const std::u16string branch = BranchName(ACopy.CreationTime);
  TSnapshotScan scan{ACopy, ExListBuilder::CreateList(kPointerSize), ExListBuilder::CreateList(kPointerSize),
                     std::make_unique<TNTFSVolumeRef>(OpenVolume(branch, ACopy.Source))};
  const PNTFSVolume volume = scan.Volume->Get();
  const std::int64_t root = volume->RootDirRef.Address();
  std::unordered_map<std::int64_t, TRecordVersion> folders;
  std::vector<TRecordVersion> files;
  ForEachRecordInUse(volume, "Scanning " + ToNativePath(branch) + "...", [&](TRecordVersion AVersion) {
    if (AVersion.IsDirectory) {
      folders.emplace(AVersion.Record, std::move(AVersion));
    } else if (AVersions.Known.insert(TVersionSet::Of(AVersion)).second) {
      files.push_back(std::move(AVersion));
    }
  });

  const auto add = [&](const TRecordVersion& AVersion, bool AIsDeleted) {
    const PItemInfo item = NewItem(scan.Items, MFT_REF::Build(AVersion.Record), AVersion.Name.DirREF,
                                   AVersion.Name.Name, AVersion.IsDirectory, AIsDeleted);
    item->SequenceNumber = AVersion.Sequence;
    item->DataSize = AVersion.DataSize;
    item->StoredSize = AVersion.DataSize;
    item->CreationTime = AVersion.Created;
    item->ChangeTime = AVersion.Modified;
    item->Attributes = AVersion.Attributes;
    item->Store = ACopy.Store;
  };
  TSystemFolders system(folders, root);
  for (const TRecordVersion& file : files)
    if (!system.Holds(file.Name.DirREF.Address()))
      add(file, !AVersions.InUseNow.contains({file.Record, file.Sequence}));
  for (const auto& [record, folder] : folders)
    add(folder, false);
  const PItemInfo top = NewItem(scan.RootItems, volume->RootDirRef, MFT_REF{}, branch, true, false);
  top->SequenceNumber = volume->RootDirRef.Number();
  top->Store = ACopy.Store;
  FSnapshots.push_back(std::move(scan));
}

PNTFSVolume TNTFSRecoveryContext::VolumeOf(const TItemInfo& AItem, PNTFSVolume ALive) const {
  for (const TSnapshotScan& snapshot : FSnapshots)
    if (snapshot.Copy.Store == AItem.Store)
      return snapshot.Volume->Get();
  return ALive;
}

std::int64_t TNTFSRecoveryContext::SnapshotTime(const TItemInfo& AItem) const {
  for (const TSnapshotScan& snapshot : FSnapshots)
    if (snapshot.Copy.Store == AItem.Store)
      return snapshot.Copy.CreationTime;
  return 0;
}
