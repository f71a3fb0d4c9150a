#include "cli/uCliSource.h"

#include "cli/uCliCommands.h"

#include "foundation/uUnicode.h"
#include "ntfs/uFSError.h"

#include <optional>
#include <vector>

namespace {

std::string DriveText(const TVolumeInformationRecord& ADrive) { return ToNativePath(DriveName(ADrive)); }

std::string PartitionList(const std::vector<PVolumeInformationRecord>& ADrives) {
  std::string list;
  for (const PVolumeInformationRecord drive : ADrives) {
    // A drive without a letter is named by its partition already.
    const std::string label = drive->Letter != 0 ? DriveText(*drive) + " " : std::string();
    list += (list.empty() ? "" : ", ") + std::to_string(drive->Source.Partition) + " (" + label +
            ToNativePath(drive->VolumeName) + ")";
  }
  return list;
}

// The drive of the disk or volume APath among ADrives, the drives the list
// holds of it: the volume itself, the partition numbered APartition, or the
// one NTFS partition of the disk.
TVolumeInformationRecord& ChosenPartition(const std::string& APath,
                                          const std::vector<PVolumeInformationRecord>& ADrives, int APartition) {
  if (ADrives.size() == 1 && ADrives.front()->Source.Partition == 0) {
    if (APartition != 0)
      throw UsageError("\"" + APath + "\" holds no partition table: leave out --partition.");
    return *ADrives.front();
  }
  if (APartition == 0) {
    if (ADrives.size() == 1)
      return *ADrives.front();
    throw UsageError("The disk \"" + APath + "\" holds several NTFS partitions; choose one with --partition: " +
                     PartitionList(ADrives) + ".");
  }
  for (const PVolumeInformationRecord drive : ADrives)
    if (drive->Source.Partition == APartition)
      return *drive;
  throw UsageError("The disk \"" + APath + "\" has no NTFS partition " + std::to_string(APartition) +
                   "; its NTFS partitions: " + PartitionList(ADrives) + ".");
}

const TVolumeInformationRecord& ChosenDrive(TDriveList& ADrives, const TDriveSource& ASource) {
  const auto& [path, partition, offset] = ASource;
  if (const std::optional<char16_t> letter = TDriveTable::DriveLetter(FromNativePath(path))) {
    if (partition != 0 || offset != 0)
      throw UsageError(std::string(partition != 0 ? "--partition" : "--offset") +
                       " goes with a disk or a disk image, not with a drive letter.");
    if (!ADrives.Table().SourceOf(*letter))
      throw SourceError("There is no drive " + ToNativePath(std::u16string{*letter, u':'}) + ".");
    return ADrives.Record(static_cast<TDriveLetter>(*letter));
  }
  if (offset != 0) {
    try {
      return ADrives.AddLostVolume(ASource);
    } catch (const VolumeImageError& error) {
      throw SourceError(error.what());
    }
  }
  // A device or image the list holds already, by whatever name or link,
  // keeps its drives; an image it does not hold is added.
  std::vector<PVolumeInformationRecord> drives = ADrives.DrivesOf(path);
  if (drives.empty()) {
    ListImage(ADrives, path);
    drives = ADrives.DrivesOf(path);
  }
  return ChosenPartition(path, drives, partition);
}

} // namespace

TCliSource ResolveSource(TDriveList& ADrives, const TSourceResolver& AResolver, const TDriveSource& ASource,
                         const std::string& AMapFile) {
  ADrives.Refresh();
  const TVolumeInformationRecord& drive = ChosenDrive(ADrives, ASource);
  if (!AMapFile.empty())
    ADrives.ChooseRescueMap(drive.Source.Path, AMapFile);
  TCliSource source{nullptr, drive.RootPathName};
  try {
    source.Opened = AResolver.Open(ADrives.RequestOf(drive.Source));
  } catch (const NoDriveException& error) {
    throw SourceError(error.what());
  }
  // A drive the list shows with another file system holds no NTFS; one it
  // could not look into (a device only udisks2 opens for the user) is
  // found out by the scan.
  if (!IsListedSourceDrive(drive) && !drive.FileSystemName.empty())
    throw SourceError("The drive " + DriveText(drive) + " does not hold a readable NTFS volume.");
  return source;
}

void ListImage(TDriveList& ADrives, const std::string& APath) {
  try {
    ADrives.AddVolumeImage(APath);
  } catch (const VolumeImageError& error) {
    throw SourceError(error.what());
  }
}

std::string DriveKindName(const TDriveList& ADrives, const TVolumeInformationRecord& ARecord) {
  if (ADrives.Images().Contains(ARecord.Source.Path))
    return "image";
  switch (ARecord.DriveType) {
  case dtFloppy:
    return "removable";
  case dtFixed:
    return "fixed";
  case dtNetwork:
    return "network";
  case dtCDROM:
    return "cd-rom";
  case dtRAM:
    return "ram";
  case dtUnknown:
  case dtNoDrive:
    break;
  }
  return "unknown";
}
