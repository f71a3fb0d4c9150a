#pragma once

#include "platform/uDriveList.h"
#include "platform/uSourceResolver.h"

#include <stdexcept>
#include <string>

// Raised when a source cannot be read as an NTFS volume, with a message for
// the user.
class SourceError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What a command reads: the source, opened once, and the root of the drive
// that labels it in the listing ("D:\", or where a drive without a letter
// lies).
struct TCliSource {
  TOpenedSourcePtr Opened;
  std::u16string Drive;
};

// Opens the source given on the command line through AResolver: a drive
// name ("D:") from ADrives, or a block device or volume image file, which
// ADrives lists, under the next free letter while there is one, unless it
// lists it already. A disk or disk image gives the NTFS partition numbered
// ASource.Partition, or its only one when that is 0; several without a
// number are a UsageError that lists them. With ASource.Offset, the volume
// that starts there (in the partition, when one is named) is listed and
// read instead. AMapFile, when given, is the image's ddrescue mapfile.
// Refreshes ADrives first.
TCliSource ResolveSource(TDriveList& ADrives, const TSourceResolver& AResolver, const TDriveSource& ASource,
                         const std::string& AMapFile = {});

// Lists a volume or disk image file in ADrives as AddVolumeImage does;
// SourceError when it cannot.
void ListImage(TDriveList& ADrives, const std::string& APath);

// "fixed", "removable", "image", ... for the drive list.
std::string DriveKindName(const TDriveList& ADrives, const TVolumeInformationRecord& ARecord);
