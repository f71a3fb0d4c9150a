#pragma once

#include "ntfs/uVolumeSource.h"
#include "platform/uUDisksBus.h"

#include <string>

// A block device opened for a desktop user by udisks2: its
// org.freedesktop.UDisks2.Block.OpenForBackup hands back a read-only
// descriptor once polkit agrees, asking for the administrator's password in
// the desktop's own dialog where needed. udisks2 answers on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS moves it, as for every D-Bus client).

// Raises NoDriveException naming both ways out (run as root, join the
// "disk" group) when udisks2 refuses or is not there.
IVolumeSourcePtr OpenThroughUDisks(const std::string& ADevice);

// AOpener, with udisks2 asked for a block device the process may not open.
TDriveSourceOpener WithUDisksFallback(TDriveSourceOpener AOpener);
