#pragma once

#include "ntfs/uVolumeSource.h"

#include <string>

// The way to a block device for a user without root, for both front ends:
// udisks2's org.freedesktop.UDisks2.Block.OpenDevice with mode "r" hands
// back a read-only descriptor once polkit agrees, asking for the
// administrator's password through the session's authentication agent. It
// opens a mounted device too (an automounted USB stick), which
// OpenForBackup's exclusive open refuses. udisks2 answers on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS moves it, as for every D-Bus client).

// What to tell the user when udisks2 did not open ADevice: AErrorName is
// the D-Bus error's name, AWhy its message. A refusal by polkit says that
// authentication was refused or cancelled; every refusal names both ways
// out, run as root or join the "disk" group.
std::string UDisksRefusal(const std::string& ADevice, const std::string& AErrorName, const std::string& AWhy);

// Asks udisks2 over sd-bus, waiting while polkit asks for a password.
// Raises NoDriveException with UDisksRefusal's text when udisks2 refuses or
// is not there.
IVolumeSourcePtr OpenThroughUDisksBus(const std::string& ADevice);

// Whether the process runs in a graphical session, where an authentication
// agent can ask for the password; a text console or ssh login has none.
bool InDesktopSession();
