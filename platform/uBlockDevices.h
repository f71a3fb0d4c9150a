#pragma once

#include <string>
#include <vector>

// The block devices the kernel lists under /sys/class/block that could hold
// a volume, in the order drive letters are given to them.

enum class TBlockDeviceKind { bdkFixed, bdkRemovable, bdkOptical, bdkRAM };

struct TBlockDevice {
  std::string Name;        // the kernel's name, such as "sda1"
  std::string DevicePath;  // the device node, such as "/dev/sda1"
  std::string DeviceNumber;  // "major:minor" as sysfs gives it, such as "8:1"; empty when unknown
  std::string DiskPath;      // a partition's disk's node, such as "/dev/sda"; empty for a whole disk
  TBlockDeviceKind Kind = TBlockDeviceKind::bdkFixed;
};

// Where the kernel's and udev's view of the devices is found; tests point
// them at a folder of their own with image files standing in for device
// nodes.
struct TBlockDeviceRoots {
  std::string Sysfs = "/sys";
  std::string Dev = "/dev";
  std::string UdevData = "/run/udev/data";
};

// Whole disks without partitions and partitions, leaving out devices of size
// zero (an empty card reader, an unbound network block device), loop devices
// with no file behind them, and disks that hold partitions (only their
// partitions can hold a volume). Loop devices come last, so that the images
// other programs attach do not take the letters of the disks; otherwise the
// order is by name, numbers counted as numbers ("sda2" before "sda10").
// A missing or unreadable sysfs gives an empty list.
std::vector<TBlockDevice> ListBlockDevices(const TBlockDeviceRoots& ARoots);

// Orders names as people count: digit runs compare by value.
bool NaturalNameLess(const std::string& ALeft, const std::string& ARight);
