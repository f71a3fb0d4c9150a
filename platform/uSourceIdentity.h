#pragma once

#include "ntfs/uVolumeSource.h"

#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

// Everything through which the source drive could be written: the device
// or image file itself, loop devices over the image, the partitions of a
// source disk, and every mount of any of these. A restore compares its
// target folder and each file it opens for writing with this set, so that
// no path (a loop mount, a FUSE mount of the image, a second loop device)
// leads back onto the drive it reads.

// What the system tells about its devices and mounts, read afresh at each
// call; tests replace it.
class ISourceSystemView {
public:
  virtual ~ISourceSystemView() = default;
  // stat of APath, following symbolic links; empty when it fails.
  virtual std::optional<struct stat> Stat(const std::string& APath) const = 0;
  virtual std::string MountInfo() const = 0;
  // Every loop device with a backing file: its device number and the
  // backing file's path as the kernel names it.
  virtual std::vector<std::pair<dev_t, std::string>> LoopDevices() const = 0;
  // The device numbers of the partitions of a whole disk.
  virtual std::vector<dev_t> PartitionsOf(dev_t ADisk) const = 0;
};

// The running system: stat, /proc/self/mountinfo and /sys/block.
class TSystemSourceView : public ISourceSystemView {
public:
  std::optional<struct stat> Stat(const std::string& APath) const override;
  std::string MountInfo() const override;
  std::vector<std::pair<dev_t, std::string>> LoopDevices() const override;
  std::vector<dev_t> PartitionsOf(dev_t ADisk) const override;
};

class TSourceIdentity {
public:
  // Nothing is the source: for a source that is not known.
  TSourceIdentity() = default;

  // The identity of an opened source: every file and device it reads, as
  // its handles saw them, whatever they are called now.
  static TSourceIdentity Of(const std::vector<TSourcePiece>& APieces, const ISourceSystemView& AView);
  static TSourceIdentity Of(const std::vector<TSourcePiece>& APieces);
  // The identity of the device or image file at ASourcePath, as it is now.
  // A path that cannot be looked at gives an identity that matches nothing.
  static TSourceIdentity Of(const std::string& ASourcePath, const ISourceSystemView& AView);

  // Whether the file system with device number ADevice (st_dev) is the
  // source or is mounted from it.
  // A kernel driver's mount carries the device's own number.
  bool HoldsFileSystem(dev_t ADevice) const {
    return FFileSystems.contains(ADevice) || FDevices.contains(ADevice);
  }
  // Whether the file AInfo describes is the source itself: the image file,
  // one of the source's block devices, or a file on a mount of the source.
  bool IsSource(const struct stat& AInfo) const;
  // Where the source, or a file system on it, is mounted read-write: the
  // system may write over deleted files there at any time.
  const std::vector<std::string>& WritableMounts() const { return FWritableMounts; }

private:
  void AddPiece(const struct stat& AInfo, const ISourceSystemView& AView,
                const std::vector<std::pair<dev_t, std::string>>& ALoops);
  void AddDevice(dev_t ADevice, const ISourceSystemView& AView);
  void AddMounts(const ISourceSystemView& AView);

  std::set<std::pair<dev_t, ino_t>> FFiles;  // image files
  std::set<dev_t> FDevices;                  // block devices (st_rdev)
  std::set<dev_t> FFileSystems;              // mounted file systems (st_dev)
  std::vector<std::string> FWritableMounts;
};

// Whether two paths name the same source: the same file or block device,
// through whatever links lead there. Paths that cannot be looked at (an
// image that is gone) are the same when their absolute forms are.
bool IsSameSourcePath(const std::string& A, const std::string& B);
