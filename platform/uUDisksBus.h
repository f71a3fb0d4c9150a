#pragma once

#include "ntfs/uVolumeSource.h"

#include <functional>
#include <string>

// The way to a block device for a user without root: udisks2's
// org.freedesktop.UDisks2.Block.OpenForBackup hands back a read-only
// descriptor once polkit agrees, asking for the administrator's password
// through the session's authentication agent. udisks2 answers on the system
// bus (DBUS_SYSTEM_BUS_ADDRESS moves it, as for every D-Bus client).

// What to tell the user when udisks2 did not open ADevice, AWhy saying why:
// both ways out, run as root or join the "disk" group.
std::string UDisksRefusal(const std::string& ADevice, const std::string& AWhy);

// Asks udisks2 over sd-bus, waiting while polkit asks for a password.
// Raises NoDriveException with UDisksRefusal's text when udisks2 refuses or
// is not there.
IVolumeSourcePtr OpenThroughUDisksBus(const std::string& ADevice);

// Whether the process runs in a graphical session, where an authentication
// agent can ask for the password; a text console or ssh login has none.
bool InDesktopSession();

using TDriveSourceOpener = std::function<IVolumeSourcePtr(const std::u16string& ADriveName)>;
using TDeviceOpener = std::function<IVolumeSourcePtr(const std::string& ADevice)>;

// AOpener, with ADeviceOpener asked for a block device the process may not
// open. Image files are never asked for: their owner decides who reads them.
TDriveSourceOpener WithDeniedDeviceFallback(TDriveSourceOpener AOpener, TDeviceOpener ADeviceOpener);
