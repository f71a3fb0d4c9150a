#include "cli/uCliSource.h"

#include "cli/uCliCommands.h"

#include "foundation/uUnicode.h"
#include "ntfs/uFSError.h"
#include "platform/uDriveTable.h"
#include "platform/uUDisksBus.h"

#include <vector>

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

std::string LetterText(TDriveLetter ALetter) { return ToNativePath(std::u16string{ALetter, u':'}); }

// A drive the table lists without NTFS may be one the process cannot read:
// opening it says so.
TDriveLetter CheckedListedDrive(TDriveLetter ALetter) {
  if (!DriveTable().PathOf(ALetter))
    throw SourceError("There is no drive " + LetterText(ALetter) + ".");
  if (!IsListedSourceDrive(DriveTable(ALetter))) {
    try {
      DriveTable().OpenSource(TDriveTable::DriveName(ALetter));
    } catch (const AccessDeniedException& denied) {
      // Without udev's word on it, the scan finds out what the device holds
      // once udisks2 has opened it.
      if (denied.IsBlockDevice() && InDesktopSession())
        return ALetter;
      throw SourceError(denied.what());
    } catch (const NoDriveException& error) {
      throw SourceError(error.what());
    }
    throw SourceError("The drive " + LetterText(ALetter) + " does not hold a readable NTFS volume.");
  }
  return ALetter;
}

// The path under which the table already lists APath: devices are listed
// under their node in /dev, images under their absolute path.
std::optional<std::string> ListedPathOf(const std::string& APath) {
  std::error_code error;
  const std::string canonical = fs::canonical(APath, error).string();
  const std::string absolute = fs::absolute(APath, error).lexically_normal().string();
  for (const char16_t letter : DriveTable().Letters()) {
    const std::optional<std::string> path = DriveTable().PathOf(letter);
    if (path == canonical || path == absolute)
      return path;
  }
  return std::nullopt;
}

std::string PartitionList(const std::vector<TDriveLetter>& ALetters) {
  std::string list;
  for (const TDriveLetter letter : ALetters)
    list += (list.empty() ? "" : ", ") + std::to_string(DriveTable().SourceOf(letter)->Partition) + " (" +
            LetterText(letter) + " " + ToNativePath(DriveTable(letter).VolumeName) + ")";
  return list;
}

// The drive of the disk or volume APath, which the table lists under
// ALetters: the volume itself, the partition numbered APartition, or the one
// NTFS partition of the disk.
TDriveLetter ChosenDrive(const std::string& APath, const std::vector<TDriveLetter>& ALetters, int APartition) {
  if (ALetters.size() == 1 && DriveTable().SourceOf(ALetters.front())->Partition == 0) {
    if (APartition != 0)
      throw UsageError("\"" + APath + "\" holds no partition table: leave out --partition.");
    return CheckedListedDrive(ALetters.front());
  }
  if (APartition == 0) {
    if (ALetters.size() == 1)
      return CheckedListedDrive(ALetters.front());
    throw UsageError("The disk \"" + APath + "\" holds several NTFS partitions; choose one with --partition: " +
                     PartitionList(ALetters) + ".");
  }
  for (const TDriveLetter letter : ALetters)
    if (DriveTable().SourceOf(letter)->Partition == APartition)
      return CheckedListedDrive(letter);
  throw UsageError("The disk \"" + APath + "\" has no NTFS partition " + std::to_string(APartition) +
                   "; its NTFS partitions: " + PartitionList(ALetters) + ".");
}

} // namespace

TDriveLetter ResolveSource(const std::string& ASource, int APartition) {
  RefreshDriveTable();
  if (const std::optional<char16_t> letter = TDriveTable::DriveLetter(FromNativePath(ASource))) {
    if (APartition != 0)
      throw UsageError("--partition goes with a disk or a disk image, not with a drive letter.");
    return CheckedListedDrive(static_cast<TDriveLetter>(*letter));
  }
  if (const std::optional<std::string> listed = ListedPathOf(ASource))
    return ChosenDrive(ASource, DriveLettersOf(*listed), APartition);
  ListImage(ASource);
  return ChosenDrive(ASource, DriveLettersOf(fs::absolute(ASource).lexically_normal().string()), APartition);
}

void ListImage(const std::string& APath) {
  try {
    AddVolumeImage(APath);
  } catch (const VolumeImageError& error) {
    throw SourceError(error.what());
  }
}

std::string DriveKindName(const TVolumeInformationRecord& ARecord) {
  const std::optional<std::string> path = DriveTable().PathOf(ARecord.Letter);
  if (path && VolumeImages().Contains(*path))
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
