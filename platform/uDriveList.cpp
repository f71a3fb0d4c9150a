#include "platform/uDriveList.h"

#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
#include "ntfs/uNTFSVolume.h"
#include "platform/uSourceIdentity.h"
#include "platform/uSourceResolver.h"
#include "platform/uVolumeProbe.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

namespace fs = std::filesystem;

namespace {

constexpr char16_t kNoLabel[] = u"Local Drive";
constexpr char kNTFSType[] = "ntfs";
// Where an NTFS boot sector names its file system.
constexpr std::size_t kOEMIDOffset = 3;
constexpr char kNTFSOEMID[] = "NTFS    ";
constexpr char kImagesVariable[] = "TARNWICK_IMAGES";
constexpr char kImagePathSeparator = ':';
// NTFS names, like those of the other file systems the kernel mounts, have
// at most 255 UTF-16 units per component.
constexpr std::uint32_t kMaximumComponentLength = 255;

// One thing a letter can be given to, in listing order.
struct TDriveCandidate {
  TDriveSource Source;
  TDriveType DriveType = dtFixed;
  std::optional<TVolumeProbe> Probe;
  bool IsImage = false;
  // For a partition the kernel split off but the process may not open: its
  // table entry as udev knows it, and its disk's node.
  std::optional<std::pair<TPartitionEntry, std::string>> EntryOnDisk;
};

TDriveType DriveTypeOf(TBlockDeviceKind AKind) {
  switch (AKind) {
  case TBlockDeviceKind::bdkRemovable:
    return dtFloppy;
  case TBlockDeviceKind::bdkOptical:
    return dtCDROM;
  case TBlockDeviceKind::bdkRAM:
    return dtRAM;
  case TBlockDeviceKind::bdkFixed:
    break;
  }
  return dtFixed;
}

bool HoldsNTFS(const std::optional<TVolumeProbe>& AProbe) {
  return AProbe && AProbe->Type == kNTFSType;
}

// The names the Windows volume query gives; other file systems keep
// libblkid's name.
std::u16string FileSystemNameOf(const std::string& AType) {
  static const std::map<std::string, std::u16string> names = {
      {kNTFSType, u"NTFS"}, {"vfat", u"FAT"}, {"exfat", u"exFAT"}};
  const auto found = names.find(AType);
  return found != names.end() ? found->second : FromNativePath(AType);
}

// NTFS keeps a 64-bit serial, which libblkid shows as 16 hex digits, and FAT
// a 32-bit one shown as "ABCD-1234"; the system reports the low 32 bits.
// Longer identifiers (the UUIDs of Linux file systems) give no serial.
std::uint32_t SerialFromUUID(std::string AUUID) {
  std::erase(AUUID, '-');
  if (AUUID.empty() || AUUID.size() > 16 || AUUID.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return 0;
  return static_cast<std::uint32_t>(std::stoull(AUUID, nullptr, 16));
}

std::string AbsoluteImagePath(const std::string& APath) {
  return fs::absolute(APath).lexically_normal().string();
}

// The NTFS volume with a damaged boot sector or MFT start that APath holds.
std::optional<TVolumeProbe> DamagedNTFSAt(const std::string& APath) {
  try {
    return ProbeDamagedNTFS(TSourceResolver().Open(TSourceRequest{APath})->Source());
  } catch (const NoDriveException&) {
    return std::nullopt;
  }
}

// The NTFS partitions of a disk's partition table, each a candidate of its
// own.
std::vector<TDriveCandidate> NTFSPartitionsOf(const std::string& APath, TDriveType ADriveType, bool AIsImage) {
  std::vector<TDriveCandidate> partitions;
  for (TPartition& partition : ProbePartitions(APath))
    if (partition.Probe.Type == kNTFSType)
      partitions.push_back({{APath, partition.Number}, ADriveType, std::move(partition.Probe), AIsImage, std::nullopt});
  return partitions;
}

// A device or image holding a volume is one candidate; a disk whose table
// holds NTFS partitions gives those instead.
std::vector<TDriveCandidate> CandidatesOf(const std::string& APath, TDriveType ADriveType, bool AIsImage) {
  std::optional<TVolumeProbe> probe = ProbeVolume(APath);
  if (probe && !HoldsNTFS(probe)) {
    if (std::vector<TDriveCandidate> partitions = NTFSPartitionsOf(APath, ADriveType, AIsImage); !partitions.empty())
      return partitions;
    if (probe->Type.empty())
      probe = DamagedNTFSAt(APath).value_or(*probe);
  }
  return {{{APath}, ADriveType, std::move(probe), AIsImage, std::nullopt}};
}

// Drops the images that are gone or no longer hold NTFS and gives the rest
// with what their probe found.
std::vector<TDriveCandidate> CurrentImages(TVolumeImageList& AImages) {
  std::vector<TDriveCandidate> images;
  for (const std::string& path : std::vector<std::string>(AImages.Paths())) {
    std::vector<TDriveCandidate> volumes = CandidatesOf(path, dtFixed, true);
    if (HoldsNTFS(volumes.front().Probe))
      images.insert(images.end(), std::make_move_iterator(volumes.begin()), std::make_move_iterator(volumes.end()));
    else
      AImages.Remove(path);
  }
  return images;
}

// Whether a lost volume lies in an image file rather than on a device; a
// path that can no longer be looked at counts as an image.
bool IsOnImage(const TDriveSource& AVolume) {
  std::error_code ignored;
  return !fs::is_block_file(AVolume.Path, ignored);
}

// A lost volume with what its probe finds, read through the resolver;
// raises NoDriveException when no volume opens there.
TDriveCandidate OpenedLostVolume(const TDriveSource& AVolume, const TSourceRequest& ARequest) {
  const IVolumeSourcePtr source = TSourceResolver().Open(ARequest)->Source();
  std::optional<TVolumeProbe> probe = ProbeVolume(source);
  if (!HoldsNTFS(probe))
    probe = ProbeDamagedNTFS(source);
  return {AVolume, dtFixed, std::move(probe), IsOnImage(AVolume), std::nullopt};
}

// Gone or no longer NTFS, a lost volume is listed without a file system,
// so the drive list leaves it out.
TDriveCandidate LostVolumeCandidate(const TDriveSource& AVolume, const TSourceRequest& ARequest) {
  try {
    return OpenedLostVolume(AVolume, ARequest);
  } catch (const NoDriveException&) {
    return {AVolume, dtFixed, std::nullopt, IsOnImage(AVolume), std::nullopt};
  }
}

std::vector<TDriveCandidate> CurrentVolumes(const TBlockDeviceRoots& ARoots, TVolumeImageList& AImages,
                                            const std::vector<TDriveCandidate>& ALostVolumes) {
  std::vector<TDriveCandidate> volumes;
  for (const TBlockDevice& device : ListBlockDevices(ARoots)) {
    std::vector<TDriveCandidate> found = CandidatesOf(device.DevicePath, DriveTypeOf(device.Kind), false);
    // A device the process may not open (a desktop user without root) is
    // still listed with what udev knows of it; opening it then says why not.
    if (!found.front().Probe) {
      found.front().Probe = ProbeFromUdev(ARoots.UdevData, device.DeviceNumber);
      const std::optional<TPartitionEntry> entry = PartitionEntryFromUdev(ARoots.UdevData, device.DeviceNumber);
      if (entry && !device.DiskPath.empty())
        found.front().EntryOnDisk.emplace(*entry, device.DiskPath);
    }
    volumes.insert(volumes.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  std::vector<TDriveCandidate> images = CurrentImages(AImages);
  volumes.insert(volumes.end(), std::make_move_iterator(images.begin()), std::make_move_iterator(images.end()));
  volumes.insert(volumes.end(), ALostVolumes.begin(), ALostVolumes.end());
  return volumes;
}

// A volume keeps the letter it had, so that a drive chosen earlier ("D:\" in
// the state file) still names it; the others take the first free letters in
// listing order. Volumes beyond Z get none.
std::vector<std::optional<TDriveLetter>> AssignLetters(const TDriveTable& APrevious,
                                                       const std::vector<TDriveCandidate>& AVolumes) {
  std::map<TDriveSource, TDriveLetter> previousLetters;
  for (const TDriveLetter letter : APrevious.Letters())
    previousLetters.emplace(*APrevious.SourceOf(letter), letter);

  TDriveTable assigned;
  std::vector<std::optional<TDriveLetter>> letters(AVolumes.size());
  for (std::size_t i = 0; i < AVolumes.size(); ++i) {
    const auto previous = previousLetters.find(AVolumes[i].Source);
    if (previous != previousLetters.end() && !assigned.SourceOf(previous->second)) {
      assigned.Assign(previous->second, AVolumes[i].Source);
      letters[i] = previous->second;
    }
  }
  for (std::size_t i = 0; i < AVolumes.size(); ++i)
    if (!letters[i])
      letters[i] = assigned.Add(AVolumes[i].Source);
  return letters;
}

// Where a volume lies, as short as tells it apart: its device, or its
// image's file name, with the partition and the offset.
std::string PlaceOf(const TDriveCandidate& AVolume) {
  const TDriveSource& source = AVolume.Source;
  const std::string shown = AVolume.IsImage ? fs::path(source.Path).filename().string() : source.Path;
  const std::string disk = source.Partition != 0 ? PartitionText(source.Partition, shown) : shown;
  return source.Offset != 0 ? LostVolumeText(source.Offset, disk) : disk;
}

std::u16string VolumeNameOf(const TDriveCandidate& AVolume) {
  if (AVolume.Probe && !AVolume.Probe->Label.empty())
    return FromNativePath(AVolume.Probe->Label);
  if (AVolume.EntryOnDisk) {
    const auto& [entry, disk] = *AVolume.EntryOnDisk;
    const std::string where = PartitionText(entry.Number, disk);
    return FromNativePath(entry.Name.empty() ? where : entry.Name + ", " + where);
  }
  if (AVolume.Source.Partition != 0 || AVolume.Source.Offset != 0 || AVolume.IsImage)
    return FromNativePath(PlaceOf(AVolume));
  return kNoLabel;
}

// A volume that could not be read gets no file system name, so the drive
// list leaves it out. One without a letter is named by where it lies.
void FillRecord(TVolumeInformationRecord& ARecord, TDriveLetter ALetter, const TDriveCandidate& AVolume) {
  ARecord.Letter = ALetter;
  ARecord.RootPathName =
      (ALetter != 0 ? std::u16string{ALetter, u':'} : FromNativePath(PlaceOf(AVolume))) + u'\\';
  ARecord.Source = AVolume.Source;
  ARecord.DriveType = AVolume.DriveType;
  ARecord.VolumeName = VolumeNameOf(AVolume);
  ARecord.FileSystemName = AVolume.Probe ? FileSystemNameOf(AVolume.Probe->Type) : std::u16string();
  ARecord.SerialNumber = AVolume.Probe ? SerialFromUUID(AVolume.Probe->UUID) : 0;
  ARecord.MaximumComponentLength = AVolume.Probe ? kMaximumComponentLength : 0;
  // Linux reports no flags in the Windows sense.
  ARecord.FileSystemFlags = 0;
}

// libblkid passes over an NTFS boot sector whose MFT it cannot make sense
// of; the volume's own opening then names the damage.
std::string WhyNotNTFS(const std::string& APath, IVolumeSourcePtr ASource) {
  std::array<char, kOEMIDOffset + sizeof kNTFSOEMID - 1> boot{};
  if (ASource->ReadAt(0, boot.data(), boot.size()) != static_cast<std::int64_t>(boot.size()) ||
      std::string_view(boot.data() + kOEMIDOffset, boot.size() - kOEMIDOffset) != kNTFSOEMID)
    return "The file \"" + APath + "\" holds no NTFS boot sector: it is not an NTFS volume image.";
  try {
    TNTFSVolumeRef volume(NTFSVolumeInit(FromNativePath(APath), std::move(ASource)));
  } catch (const FSError& error) {
    return "The file \"" + APath + "\" holds no readable NTFS volume. " + error.what();
  }
  return "The file \"" + APath + "\" is not an NTFS volume image.";
}



} // namespace

TDriveList::TDriveList() { FImages.Merge(ImagePathsFromEnvironment()); }

TVolumeInformationRecord& TDriveList::Record(TDriveLetter ALetter) {
  if (ALetter < u'A' || ALetter > u'Z')
    throw std::out_of_range("TDriveList: drive letters run from A to Z.");
  return FRecords[ALetter - u'A'];
}

void TDriveList::Refresh() {
  std::vector<TDriveCandidate> lostVolumes;
  for (const TDriveSource& volume : FLostVolumes)
    lostVolumes.push_back(LostVolumeCandidate(volume, RequestOf(volume)));
  const std::vector<TDriveCandidate> volumes = CurrentVolumes(FRoots, FImages, lostVolumes);
  const std::vector<std::optional<TDriveLetter>> letters = AssignLetters(FTable, volumes);

  FTable.Clear();
  FUnlettered.clear();
  for (TDriveLetter letter = TDriveTable::kFirstLetter; letter <= TDriveTable::kLastLetter; ++letter)
    Record(letter).DriveType = dtUnknown;
  for (auto& [source, record] : FUnletteredRecords)
    record.DriveType = dtUnknown;
  for (std::size_t i = 0; i < volumes.size(); ++i)
    if (letters[i]) {
      FTable.Assign(*letters[i], volumes[i].Source);
      FillRecord(Record(*letters[i]), *letters[i], volumes[i]);
    } else {
      FUnlettered.push_back(volumes[i].Source);
      FillRecord(FUnletteredRecords[volumes[i].Source], 0, volumes[i]);
    }
}

std::u16string DriveName(const TVolumeInformationRecord& ARecord) {
  const std::u16string& root = ARecord.RootPathName;
  return root.ends_with(u'\\') ? root.substr(0, root.size() - 1) : root;
}

std::u16string DriveDisplayName(const TVolumeInformationRecord& ARecord) {
  const std::u16string name = DriveName(ARecord);
  const std::u16string fileSystem = ARecord.FileSystemName.empty() ? u"" : u" [" + ARecord.FileSystemName + u"]";
  // Unlabelled, a drive without a letter is named by its place alone.
  if (ARecord.Letter == 0 && ARecord.VolumeName == name)
    return name + fileSystem;
  return ARecord.VolumeName + u" (" + name + fileSystem + u")";
}

bool IsListedSourceDrive(const TVolumeInformationRecord& ARecord) {
  return ARecord.DriveType >= dtFloppy && ARecord.FileSystemName.find(u"NTFS") != std::u16string::npos;
}

std::vector<PVolumeInformationRecord> TDriveList::ListedSourceDrives() {
  std::vector<PVolumeInformationRecord> drives;
  for (TDriveLetter letter = TDriveTable::kFirstLetter; letter <= TDriveTable::kLastLetter; ++letter)
    if (IsListedSourceDrive(Record(letter)))
      drives.push_back(&Record(letter));
  for (const TDriveSource& source : FUnlettered)
    if (TVolumeInformationRecord& record = FUnletteredRecords.at(source); IsListedSourceDrive(record))
      drives.push_back(&record);
  return drives;
}

bool TVolumeImageList::Contains(const std::string& APath) const {
  return std::any_of(FPaths.begin(), FPaths.end(),
                     [&APath](const std::string& AListed) { return IsSameSourcePath(AListed, APath); });
}

void TVolumeImageList::Merge(const std::vector<std::string>& APaths) {
  for (const std::string& path : APaths)
    if (!path.empty() && !Contains(path))
      FPaths.push_back(AbsoluteImagePath(path));
}

void TVolumeImageList::Remove(const std::string& APath) {
  std::erase_if(FPaths, [&APath](const std::string& AListed) { return IsSameSourcePath(AListed, APath); });
}

std::vector<std::string> ImagePathsFromEnvironment() {
  std::vector<std::string> paths;
  const char* value = std::getenv(kImagesVariable);
  if (value == nullptr)
    return paths;
  const std::string text(value);
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(kImagePathSeparator, start), text.size());
    if (end > start)
      paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

const TVolumeInformationRecord& TDriveList::AddVolumeImage(const std::string& APath) {
  const std::string path = APath.empty() ? APath : AbsoluteImagePath(APath);
  IVolumeSourcePtr source;
  try {
    // Opening it first tells why a file cannot be read.
    source = TSourceResolver().Open(RequestOf(TDriveSource{path}))->Source();
  } catch (const NoDriveException& error) {
    throw VolumeImageError(error.what());
  }
  const std::optional<TVolumeProbe> probe = ProbeVolume(path);
  if (!probe)
    throw VolumeImageError("The volume image \"" + path + "\" cannot be read.");
  if (!HoldsNTFS(probe)) {
    const std::vector<TPartition> partitions = ProbePartitions(path);
    const bool ntfsPartition = std::any_of(partitions.begin(), partitions.end(), [](const TPartition& APartition) {
      return APartition.Probe.Type == kNTFSType;
    });
    if (!ntfsPartition && !ProbeDamagedNTFS(source))
      throw VolumeImageError(partitions.empty() ? WhyNotNTFS(path, std::move(source))
                                                : "The disk \"" + path + "\" holds no NTFS partition.");
  }
  FImages.Merge({path});
  Refresh();
  const std::vector<PVolumeInformationRecord> drives = DrivesOf(path);
  // Listed above, unless the file changed since: then it holds no NTFS.
  if (drives.empty())
    throw VolumeImageError(WhyNotNTFS(path, std::move(source)));
  return *drives.front();
}

const TVolumeInformationRecord& TDriveList::AddLostVolume(const TDriveSource& AVolume) {
  const TDriveSource volume{AVolume.Path.empty() ? AVolume.Path : AbsoluteImagePath(AVolume.Path), AVolume.Partition,
                            AVolume.Offset};
  TDriveCandidate candidate;
  try {
    // Opening it first tells why no volume is there.
    candidate = OpenedLostVolume(volume, RequestOf(volume));
  } catch (const NoDriveException& error) {
    throw VolumeImageError(error.what());
  }
  if (!HoldsNTFS(candidate.Probe))
    throw VolumeImageError("The " + PlaceOf(candidate) + " holds no readable NTFS volume.");
  MergeLostVolumes({volume});
  Refresh();
  for (const PVolumeInformationRecord drive : DrivesOf(volume.Path))
    if (drive->Source == volume)
      return *drive;
  throw VolumeImageError("The " + PlaceOf(candidate) + " holds no readable NTFS volume.");
}

void TDriveList::MergeLostVolumes(const std::vector<TDriveSource>& AVolumes) {
  for (const TDriveSource& volume : AVolumes)
    if (std::find(FLostVolumes.begin(), FLostVolumes.end(), volume) == FLostVolumes.end())
      FLostVolumes.push_back(volume);
}

std::vector<PVolumeInformationRecord> TDriveList::DrivesOf(const std::string& APath) {
  std::vector<PVolumeInformationRecord> drives;
  for (const TDriveLetter letter : FTable.Letters())
    if (IsSameSourcePath(FTable.SourceOf(letter)->Path, APath))
      drives.push_back(&Record(letter));
  for (const TDriveSource& source : FUnlettered)
    if (IsSameSourcePath(source.Path, APath))
      drives.push_back(&FUnletteredRecords.at(source));
  std::stable_sort(drives.begin(), drives.end(), [](PVolumeInformationRecord ALeft, PVolumeInformationRecord ARight) {
    return ALeft->Source.Partition < ARight->Source.Partition;
  });
  return drives;
}

void TDriveList::ChooseRescueMap(const std::string& AImage, const std::string& AMap) {
  std::erase_if(FChosenMaps, [&AImage](const auto& AChosen) { return IsSameSourcePath(AChosen.first, AImage); });
  if (!AMap.empty())
    FChosenMaps[AbsoluteImagePath(AImage)] = AMap;
}

std::optional<TSourceRequest> TDriveList::RequestOf(TDriveLetter ALetter) const {
  const std::optional<TDriveSource> source = FTable.SourceOf(ALetter);
  if (!source)
    return std::nullopt;
  return RequestOf(*source);
}

TSourceRequest TDriveList::RequestOf(const TDriveSource& ASource) const {
  const std::string& path = ASource.Path;
  const auto chosen =
      path.empty() ? FChosenMaps.end()
                   : std::find_if(FChosenMaps.begin(), FChosenMaps.end(),
                                  [&path](const auto& AChosen) { return IsSameSourcePath(AChosen.first, path); });
  return TSourceRequest{path, ASource.Partition, chosen != FChosenMaps.end() ? chosen->second : std::string(),
                        ASource.Offset};
}
