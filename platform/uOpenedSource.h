#pragma once

#include "ntfs/uVolumeSource.h"
#include "platform/uSourceIdentity.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the user names as the source: a block device, a volume or disk
// image, a container; a partition in it or a volume at a byte of it; the
// mapfile of a rescued image.
struct TSourceRequest {
  TSourceRequest(std::string APath = {}, int APartition = 0, std::string AMapFile = {}, std::int64_t AOffset = 0)
      : Path(std::move(APath)), Partition(APartition), MapFile(std::move(AMapFile)), Offset(AOffset) {}

  std::string Path;
  int Partition = 0;   // in the disk's table; 0 for the whole device or image
  std::string MapFile; // empty: a mapfile beside the image, when one reads as such
  std::int64_t Offset = 0; // the byte the volume starts at (in the partition, if one is named); 0 for none

  bool operator==(const TSourceRequest&) const = default;
};

// "partition 2 of disk.img", as the partitions of a disk are named.
std::string PartitionText(int APartition, const std::string& ADisk);
// "lost volume at 1.0 MiB of disk.img", as a volume no table lists is named.
std::string LostVolumeText(std::int64_t AOffset, const std::string& ADisk);

// A source opened once and kept for a scan, every preview and the restore:
// its bytes, everything through which it could be written (taken from the
// handles it reads, not from names that may since point elsewhere), and
// what the user should hear before it is read.
class TOpenedSource {
public:
  TOpenedSource(TSourceRequest ARequest, IVolumeSourcePtr ASource, std::vector<std::string> AWarnings,
                const ISourceSystemView& ASystem);
  TOpenedSource(TSourceRequest ARequest, IVolumeSourcePtr ASource, std::vector<std::string> AWarnings = {});
  TOpenedSource(const TOpenedSource&) = delete;
  TOpenedSource& operator=(const TOpenedSource&) = delete;

  const TSourceRequest& Request() const { return FRequest; }
  const IVolumeSourcePtr& Source() const { return FSource; }
  const TSourceIdentity& Identity() const { return FIdentity; }
  // The path, or the partition of it, for messages.
  std::string DisplayName() const;
  // A mapfile passed over, a volume mounted read-write.
  const std::vector<std::string>& Warnings() const { return FWarnings; }

  // Raises NoDriveException when the source no longer delivers the volume
  // it delivered when opened: the device is gone or failing, or the image
  // was written over with another volume.
  void CheckUnchanged() const;

private:
  // What tells one volume from another without reading it all: its size
  // and its first sector, which holds the boot sector and serial number.
  struct TFingerprint {
    std::int64_t Size = 0;
    std::vector<std::uint8_t> FirstSector;
    bool operator==(const TFingerprint&) const = default;
  };
  TFingerprint Fingerprint() const;

  TSourceRequest FRequest;
  IVolumeSourcePtr FSource;
  TSourceIdentity FIdentity;
  std::vector<std::string> FWarnings;
  TFingerprint FOpened;
};
using TOpenedSourcePtr = std::shared_ptr<const TOpenedSource>;
