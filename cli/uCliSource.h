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
// gets the next free letter unless the table already lists it. Fills the
// drive table first.
TDriveLetter ResolveSource(const std::string& ASource);

// "fixed", "removable", "image", ... for the drive list.
std::string DriveKindName(const TVolumeInformationRecord& ARecord);
