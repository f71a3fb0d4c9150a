#include "cli/uCliSource.h"

#include "cli/uCliCommands.h"

#include "foundation/uUnicode.h"
#include "ntfs/uFSError.h"

#include <optional>
#include <vector>

namespace {

std::string LetterText(TDriveLetter ALetter) { return ToNativePath(std::u16string{ALetter, u':'}); }

std::string PartitionList(TDriveList& ADrives, const std::vector<TDriveLetter>& ALetters) {
  std::string list;
  for (const TDriveLetter letter : ALetters)
    list += (list.empty() ? "" : ", ") + std::to_string(ADrives.Table().SourceOf(letter)->Partition) + " (" +
            LetterText(letter) + " " + ToNativePath(ADrives.Record(letter).VolumeName) + ")";
  return list;
}

// The drive of the disk or volume APath, which ADrives lists under
// ALetters: the volume itself, the partition numbered APartition, or the one
// NTFS partition of the disk.
TDriveLetter ChosenDrive(TDriveList& ADrives, const std::string& APath, const std::vector<TDriveLetter>& ALetters,
                         int APartition) {
  const TDriveTable& table = ADrives.Table();
  if (ALetters.size() == 1 && table.SourceOf(ALetters.front())->Partition == 0) {
    if (APartition != 0)
      throw UsageError("\"" + APath + "\" holds no partition table: leave out --partition.");
    return ALetters.front();
  }
  if (APartition == 0) {
    if (ALetters.size() == 1)
      return ALetters.front();
    throw UsageError("The disk \"" + APath + "\" holds several NTFS partitions; choose one with --partition: " +
                     PartitionList(ADrives, ALetters) + ".");
  }
  for (const TDriveLetter letter : ALetters)
    if (table.SourceOf(letter)->Partition == APartition)
      return letter;
  throw UsageError("The disk \"" + APath + "\" has no NTFS partition " + std::to_string(APartition) +
                   "; its NTFS partitions: " + PartitionList(ADrives, ALetters) + ".");
}

TDriveLetter ChosenLetter(TDriveList& ADrives, const std::string& ASource, int APartition) {
  if (const std::optional<char16_t> letter = TDriveTable::DriveLetter(FromNativePath(ASource))) {
    if (APartition != 0)
      throw UsageError("--partition goes with a disk or a disk image, not with a drive letter.");
    return static_cast<TDriveLetter>(*letter);
  }
  // A device or image the list holds already, by whatever name or link,
  // keeps its letters; an image it does not hold is added.
  std::vector<TDriveLetter> letters = ADrives.LettersOf(ASource);
  if (letters.empty()) {
    ListImage(ADrives, ASource);
    letters = ADrives.LettersOf(ASource);
  }
  return ChosenDrive(ADrives, ASource, letters, APartition);
}

} // namespace

TCliSource ResolveSource(TDriveList& ADrives, const TSourceResolver& AResolver, const std::string& ASource,
                         int APartition, const std::string& AMapFile) {
  ADrives.Refresh();
  const TDriveLetter letter = ChosenLetter(ADrives, ASource, APartition);
  const std::optional<std::string> path = ADrives.Table().PathOf(letter);
  if (!path)
    throw SourceError("There is no drive " + LetterText(letter) + ".");
  if (!AMapFile.empty())
    ADrives.ChooseRescueMap(*path, AMapFile);
  TCliSource source{nullptr, letter};
  try {
    source.Opened = AResolver.Open(*ADrives.RequestOf(letter));
  } catch (const NoDriveException& error) {
    throw SourceError(error.what());
  }
  // A drive the list shows with another file system holds no NTFS; one it
  // could not look into (a device only udisks2 opens for the user) is
  // found out by the scan.
  const TVolumeInformationRecord& record = ADrives.Record(letter);
  if (!IsListedSourceDrive(record) && !record.FileSystemName.empty())
    throw SourceError("The drive " + LetterText(letter) + " does not hold a readable NTFS volume.");
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
  const std::optional<std::string> path = ADrives.Table().PathOf(ARecord.Letter);
  if (path && ADrives.Images().Contains(*path))
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
