#pragma once

#include "wizard/uDiskUtils.h"

#include <stdexcept>
#include <string>

// Raised when a source cannot be read as an NTFS volume, with a message for
// the user.
class SourceError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The drive letter of a source given on the command line: a drive name
// ("D:") from the drive table, or a block device or volume image file, which
// gets the next free letter unless the table already lists it. A disk or
// disk image gives the NTFS partition numbered APartition, or its only one
// when APartition is 0; several without a number are a UsageError that
// lists them. Fills the drive table first.
TDriveLetter ResolveSource(const std::string& ASource, int APartition = 0);

// Lists a volume or disk image file as AddVolumeImage does; SourceError
// when it cannot.
void ListImage(const std::string& APath);

// "fixed", "removable", "image", ... for the drive list.
std::string DriveKindName(const TVolumeInformationRecord& ARecord);
