#pragma once

#include "ntfs/uVolumeSource.h"

#include <string>

// Disk images in container formats, each read through its library as a
// read-only source of the disk's bytes: E01 (libewf), VHD and VHDX
// (libvhdi), VMDK (libvmdk), QCOW2 (libqcow). The format is told by the
// file's signature, never by its name. A read the library fails becomes an
// unread range, like a failing device's; so do the bytes a container is
// known not to hold (a chunk whose checksum fails, segments missing, a file
// cut short), which the source also lists as known unreadable.

// The container at APath, or nullptr when the file is in none of these
// formats. Raises NoDriveException naming the format and the library's
// reason when a container cannot be opened (a missing segment or extent
// file, a differencing image without its parent).
IVolumeSourcePtr OpenContainer(const std::string& APath);
