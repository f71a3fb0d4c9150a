#include "wizard/uDiskUtils.h"

#include "foundation/uSysPath.h"
#include "platform/uDriveTable.h"
#include "platform/uVolumeProbe.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace {

constexpr char16_t kNoLabel[] = u"Local Drive";
constexpr char kNTFSType[] = "ntfs";
constexpr char kImagesVariable[] = "TARNWICK_IMAGES";
constexpr char kImagePathSeparator = ':';
// NTFS names, like those of the other file systems the kernel mounts, have
// at most 255 UTF-16 units per component.
constexpr std::uint32_t kMaximumComponentLength = 255;

// One thing a letter can be given to, in listing order.
struct TDriveCandidate {
  std::string Path;
  TDriveType DriveType = dtFixed;
  std::optional<TVolumeProbe> Probe;
  bool IsImage = false;
};

std::array<TVolumeInformationRecord, 26>& Records() {
  static std::array<TVolumeInformationRecord, 26> records;
  return records;
}

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

// Drops the images that are gone or no longer hold NTFS and gives the rest
// with what their probe found.
std::vector<TDriveCandidate> CurrentImages() {
  std::vector<TDriveCandidate> images;
  for (const std::string& path : std::vector<std::string>(VolumeImages().Paths())) {
    std::optional<TVolumeProbe> probe = ProbeVolume(path);
    if (HoldsNTFS(probe))
      images.push_back({path, dtFixed, std::move(probe), true});
    else
      VolumeImages().Remove(path);
  }
  return images;
}

std::vector<TDriveCandidate> CurrentVolumes() {
  std::vector<TDriveCandidate> volumes;
  for (const TBlockDevice& device : ListBlockDevices(BlockDeviceRoots()))
    volumes.push_back({device.DevicePath, DriveTypeOf(device.Kind), ProbeVolume(device.DevicePath), false});
  std::vector<TDriveCandidate> images = CurrentImages();
  volumes.insert(volumes.end(), std::make_move_iterator(images.begin()), std::make_move_iterator(images.end()));
  return volumes;
}

// A volume keeps the letter it had, so that a drive chosen earlier ("D:\" in
// the state file) still names it; the others take the first free letters in
// listing order. Volumes beyond Z get none.
std::vector<std::optional<TDriveLetter>> AssignLetters(const TDriveTable& APrevious,
                                                       const std::vector<TDriveCandidate>& AVolumes) {
  std::map<std::string, TDriveLetter> previousLetters;
  for (const TDriveLetter letter : APrevious.Letters())
    previousLetters.emplace(*APrevious.PathOf(letter), letter);

  TDriveTable assigned;
  std::vector<std::optional<TDriveLetter>> letters(AVolumes.size());
  for (std::size_t i = 0; i < AVolumes.size(); ++i) {
    const auto previous = previousLetters.find(AVolumes[i].Path);
    if (previous != previousLetters.end() && !assigned.PathOf(previous->second)) {
      assigned.Assign(previous->second, AVolumes[i].Path);
      letters[i] = previous->second;
    }
  }
  for (std::size_t i = 0; i < AVolumes.size(); ++i)
    if (!letters[i])
      letters[i] = assigned.Add(AVolumes[i].Path);
  return letters;
}

std::u16string VolumeNameOf(const TDriveCandidate& AVolume) {
  if (AVolume.Probe && !AVolume.Probe->Label.empty())
    return FromNativePath(AVolume.Probe->Label);
  if (AVolume.IsImage)
    return FromNativePath(fs::path(AVolume.Path).filename().string());
  return kNoLabel;
}

// A volume that could not be read gets no file system name, so the drive
// list leaves it out.
void FillRecord(TVolumeInformationRecord& ARecord, TDriveLetter ALetter, const TDriveCandidate& AVolume) {
  ARecord.Letter = ALetter;
  ARecord.RootPathName = std::u16string{ALetter, u':', u'\\'};
  ARecord.DriveType = AVolume.DriveType;
  ARecord.VolumeName = VolumeNameOf(AVolume);
  ARecord.FileSystemName = AVolume.Probe ? FileSystemNameOf(AVolume.Probe->Type) : std::u16string();
  ARecord.SerialNumber = AVolume.Probe ? SerialFromUUID(AVolume.Probe->UUID) : 0;
  ARecord.MaximumComponentLength = AVolume.Probe ? kMaximumComponentLength : 0;
  // Linux reports no flags in the Windows sense.
  ARecord.FileSystemFlags = 0;
}

std::optional<TDriveLetter> LetterOfPath(const std::string& APath) {
  for (const TDriveLetter letter : DriveTable().Letters())
    if (DriveTable().PathOf(letter) == APath)
      return letter;
  return std::nullopt;
}

} // namespace

TVolumeInformationRecord& DriveTable(TDriveLetter ALetter) {
  if (ALetter < u'A' || ALetter > u'Z')
    throw std::out_of_range("DriveTable: drive letters run from A to Z.");
  return Records()[ALetter - u'A'];
}

void RefreshDriveTable() {
  const std::vector<TDriveCandidate> volumes = CurrentVolumes();
  const std::vector<std::optional<TDriveLetter>> letters = AssignLetters(DriveTable(), volumes);

  DriveTable().Clear();
  for (TDriveLetter letter = TDriveTable::kFirstLetter; letter <= TDriveTable::kLastLetter; ++letter)
    DriveTable(letter).DriveType = dtUnknown;
  for (std::size_t i = 0; i < volumes.size(); ++i)
    if (letters[i]) {
      DriveTable().Assign(*letters[i], volumes[i].Path);
      FillRecord(DriveTable(*letters[i]), *letters[i], volumes[i]);
    }
}

std::u16string DriveDisplayName(const TVolumeInformationRecord& ARecord) {
  const std::u16string letter(1, ARecord.Letter);
  if (!ARecord.FileSystemName.empty())
    return ARecord.VolumeName + u" (" + letter + u": [" + ARecord.FileSystemName + u"])";
  return ARecord.VolumeName + u" (" + letter + u":)";
}

bool IsListedSourceDrive(const TVolumeInformationRecord& ARecord) {
  return ARecord.DriveType >= dtFloppy && ARecord.FileSystemName.find(u"NTFS") != std::u16string::npos;
}

std::vector<PVolumeInformationRecord> ListedSourceDrives() {
  std::vector<PVolumeInformationRecord> drives;
  for (TDriveLetter letter = TDriveTable::kFirstLetter; letter <= TDriveTable::kLastLetter; ++letter)
    if (IsListedSourceDrive(DriveTable(letter)))
      drives.push_back(&DriveTable(letter));
  return drives;
}

TBlockDeviceRoots& BlockDeviceRoots() {
  static TBlockDeviceRoots roots;
  return roots;
}

bool TVolumeImageList::Contains(const std::string& APath) const {
  return std::find(FPaths.begin(), FPaths.end(), AbsoluteImagePath(APath)) != FPaths.end();
}

void TVolumeImageList::Merge(const std::vector<std::string>& APaths) {
  for (const std::string& path : APaths)
    if (!path.empty() && !Contains(path))
      FPaths.push_back(AbsoluteImagePath(path));
}

void TVolumeImageList::Remove(const std::string& APath) {
  std::erase(FPaths, AbsoluteImagePath(APath));
}

TVolumeImageList& VolumeImages() {
  static TVolumeImageList images = [] {
    TVolumeImageList list;
    list.Merge(ImagePathsFromEnvironment());
    return list;
  }();
  return images;
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

TDriveLetter AddVolumeImage(const std::string& APath) {
  const std::string path = APath.empty() ? APath : AbsoluteImagePath(APath);
  const std::optional<TVolumeProbe> probe = ProbeVolume(path);
  if (!probe)
    throw VolumeImageError("The volume image \"" + path + "\" cannot be read.");
  if (!HoldsNTFS(probe))
    throw VolumeImageError("The file \"" + path + "\" is not an NTFS volume image.");
  VolumeImages().Merge({path});
  RefreshDriveTable();
  if (const std::optional<TDriveLetter> letter = LetterOfPath(path))
    return *letter;
  VolumeImages().Remove(path);
  throw VolumeImageError("No drive letter is left for the volume image \"" + path + "\".");
}
