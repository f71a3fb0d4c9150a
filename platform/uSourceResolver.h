#pragma once

#include "platform/uOpenedSource.h"

#include <functional>
#include <string>

// Opens a block device or file read-only, raising NoDriveException (or
// AccessDeniedException) saying why it cannot.
using TFileOpener = std::function<IVolumeSourcePtr(const std::string& APath)>;
// Opens a block device the process may not open itself: udisks2 asks
// polkit for a desktop user.
using TDeviceOpener = std::function<IVolumeSourcePtr(const std::string& ADevice)>;

// Turns what the user named into the one opened source that a scan, its
// previews and its restore read: the device or file opened once, read
// through its container's library or its rescue's mapfile, narrowed to the
// partition asked for and to the volume at the byte asked for. Both front
// ends resolve through it.
class TSourceResolver {
public:
  // ADeniedDevice, when given, is asked for a block device the process may
  // not open; image files are never passed to it: their owner decides who
  // reads them.
  explicit TSourceResolver(TFileOpener AOpenFile = TFileSource::Open, TDeviceOpener ADeniedDevice = nullptr);

  // Raises NoDriveException saying why the source cannot be opened: it
  // cannot be read, its container or mapfile is broken, its disk has no
  // such partition, no NTFS volume starts at the offset.
  TOpenedSourcePtr Open(const TSourceRequest& ARequest) const;

private:
  IVolumeSourcePtr OpenFile(const std::string& APath) const;

  TFileOpener FOpenFile;
  TDeviceOpener FDeniedDevice;
};
