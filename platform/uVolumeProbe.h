#pragma once

#include <optional>
#include <string>

// What the file system signature of a device or image file says about it, as
// libblkid reads it: texts as found, empty where the volume has none.
struct TVolumeProbe {
  std::string Type;   // "ntfs", "vfat", "ext4", ...; empty when no file system was recognised
  std::string Label;  // UTF-8
  std::string UUID;   // for NTFS the 64-bit volume serial as 16 hex digits
};

// Opens APath read-only and reads its signatures. None when it cannot be
// opened or read (no permission, no medium, gone); a readable device without
// a recognisable file system gives an empty Type.
std::optional<TVolumeProbe> ProbeVolume(const std::string& APath);
