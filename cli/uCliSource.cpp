#include "cli/uCliSource.h"

#include "foundation/uUnicode.h"
#include "platform/uDriveTable.h"

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

std::string LetterText(TDriveLetter ALetter) { return ToNativePath(std::u16string{ALetter, u':'}); }

TDriveLetter CheckedListedDrive(TDriveLetter ALetter) {
  if (!DriveTable().PathOf(ALetter))
    throw SourceError("There is no drive " + LetterText(ALetter) + ".");
  if (!IsListedSourceDrive(DriveTable(ALetter)))
    throw SourceError("The drive " + LetterText(ALetter) + " does not hold a readable NTFS volume.");
  return ALetter;
}

// The letter the table already gives to APath: devices are listed under
// their node in /dev, images under their absolute path.
std::optional<TDriveLetter> ListedLetterOf(const std::string& APath) {
  std::error_code error;
  const std::string canonical = fs::canonical(APath, error).string();
  const std::string absolute = fs::absolute(APath, error).lexically_normal().string();
  for (const char16_t letter : DriveTable().Letters()) {
    const std::optional<std::string> path = DriveTable().PathOf(letter);
    if (path == canonical || path == absolute)
      return letter;
  }
  return std::nullopt;
}

} // namespace

TDriveLetter ResolveSource(const std::string& ASource) {
  RefreshDriveTable();
  if (const std::optional<char16_t> letter = TDriveTable::DriveLetter(FromNativePath(ASource)))
    return CheckedListedDrive(static_cast<TDriveLetter>(*letter));
  if (const std::optional<TDriveLetter> listed = ListedLetterOf(ASource))
    return CheckedListedDrive(*listed);
  try {
    return CheckedListedDrive(AddVolumeImage(ASource));
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
