#pragma once

#include "ntfs/uVolumeSource.h"

#include <string>

// A block device opened for a desktop user by udisks2, through the same
// client as the command line's. The window stays alive while polkit's
// dialog asks for the password: the call runs on a thread of its own and
// the window's events go on meanwhile. Raises NoDriveException saying why
// when udisks2 refuses or is not there.
IVolumeSourcePtr OpenThroughUDisks(const std::string& ADevice);
