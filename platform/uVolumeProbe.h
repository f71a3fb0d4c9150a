#pragma once

#include "ntfs/uVolumeSource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
// The same, read through the opened source ASource (a container, a volume
// inside a disk).
std::optional<TVolumeProbe> ProbeVolume(const IVolumeSourcePtr& ASource);

// libblkid passes over an NTFS volume whose boot sector or first MFT record
// is damaged; the volume's own opening reads their copies. An NTFS probe
// (no label, no serial) when the volume on ASource opens so, none otherwise.
std::optional<TVolumeProbe> ProbeDamagedNTFS(const IVolumeSourcePtr& ASource);

// What udev's database says of the block device numbered ADeviceNumber
// ("8:1"), read from the folder AUdevData: ID_FS_TYPE, the label and the
// UUID. Any user may read it, so a device the process may not open is still
// known. None when udev knows no file system on the device.
std::optional<TVolumeProbe> ProbeFromUdev(const std::string& AUdevData, const std::string& ADeviceNumber);

// A partition's entry in its disk's table as udev's database gives it
// (ID_PART_ENTRY_NUMBER, ID_PART_ENTRY_NAME): what tells partitions apart
// when their volumes carry no label.
struct TPartitionEntry {
  int Number = 0;
  std::string Name;  // the GPT entry's name, UTF-8; empty in an MBR table
};

// None when udev knows no partition entry for the device (a whole disk).
std::optional<TPartitionEntry> PartitionEntryFromUdev(const std::string& AUdevData, const std::string& ADeviceNumber);

// One partition of a disk's partition table, with what its own signatures say.
struct TPartition {
  int Number = 0;           // as the table numbers it: MBR logical partitions from 5, GPT entries from 1
  std::int64_t Offset = 0;  // bytes from the start of the disk
  std::int64_t Length = 0;  // bytes
  TVolumeProbe Probe;
};

// The partitions of the MBR (primary, extended and logical) or GPT table of
// the disk or disk image APath, as libblkid's partition probing reads it; an
// extended partition, which only holds the logical ones, is left out. Empty
// when APath cannot be read or holds no partition table.
std::vector<TPartition> ProbePartitions(const std::string& APath);
// The same, read through the opened source ASource.
std::vector<TPartition> ProbePartitions(const IVolumeSourcePtr& ASource);
