#include "platform/uBlockDevices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute; none when it cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& APath) {
  std::ifstream in(APath);
  std::string line;
  if (!in || !std::getline(in, line))
    return std::nullopt;
  return line;
}

bool AttributeIs(const fs::path& APath, const std::string& AValue) {
  return ReadAttribute(APath) == AValue;
}

bool HasNonZeroSize(const fs::path& ADeviceDir) {
  const std::optional<std::string> size = ReadAttribute(ADeviceDir / "size");
  return size && !size->empty() && size->find_first_not_of("0") != std::string::npos;
}

bool IsPartition(const fs::path& ADeviceDir) {
  std::error_code ignored;
  return fs::exists(ADeviceDir / "partition", ignored);
}

bool HoldsPartitions(const fs::path& ADiskDir) {
  std::error_code error;
  for (fs::directory_iterator entry(ADiskDir, error), end; !error && entry != end; entry.increment(error))
    if (entry->is_directory(error) && IsPartition(entry->path()))
      return true;
  return false;
}

bool IsLoopDevice(const std::string& ADiskName) {
  return ADiskName.starts_with("loop");
}

// A loop device that is not bound to a file reads as nothing.
bool IsUnboundLoop(const fs::path& ADiskDir) {
  std::error_code ignored;
  return IsLoopDevice(ADiskDir.filename().string()) && !fs::exists(ADiskDir / "loop" / "backing_file", ignored);
}

TBlockDeviceKind KindOf(const fs::path& ADiskDir) {
  const std::string disk = ADiskDir.filename().string();
  if (disk.starts_with("sr"))
    return TBlockDeviceKind::bdkOptical;
  if (disk.starts_with("ram") || disk.starts_with("zram"))
    return TBlockDeviceKind::bdkRAM;
  if (AttributeIs(ADiskDir / "removable", "1"))
    return TBlockDeviceKind::bdkRemovable;
  return TBlockDeviceKind::bdkFixed;
}

// The node's name below /dev as the kernel announces it; sysfs writes the
// "/" of names such as "cciss/c0d0" as "!".
std::string DeviceNodeName(const fs::path& ADeviceDir, std::string AName) {
  std::ifstream in(ADeviceDir / "uevent");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("DEVNAME="))
      return line.substr(8);
  std::replace(AName.begin(), AName.end(), '!', '/');
  return AName;
}

std::optional<TBlockDevice> DeviceOf(const fs::directory_entry& AEntry, const TBlockDeviceRoots& ARoots) {
  std::error_code error;
  // The class folder holds links into the device tree, where a partition's
  // folder lies inside its disk's folder.
  fs::path deviceDir = fs::canonical(AEntry.path(), error);
  if (error)
    deviceDir = AEntry.path();
  const bool partition = IsPartition(deviceDir);
  const fs::path diskDir = partition ? deviceDir.parent_path() : deviceDir;
  if (!HasNonZeroSize(deviceDir) || IsUnboundLoop(diskDir) || (!partition && HoldsPartitions(deviceDir)))
    return std::nullopt;
  const std::string name = AEntry.path().filename().string();
  const auto nodeOf = [&ARoots](const fs::path& ADir) {
    return (fs::path(ARoots.Dev) / DeviceNodeName(ADir, ADir.filename().string())).string();
  };
  return TBlockDevice{name, nodeOf(deviceDir), ReadAttribute(deviceDir / "dev").value_or(""),
                      partition ? nodeOf(diskDir) : std::string(), KindOf(diskDir)};
}

bool ListedBefore(const TBlockDevice& ALeft, const TBlockDevice& ARight) {
  const bool leftLoop = IsLoopDevice(ALeft.Name);
  const bool rightLoop = IsLoopDevice(ARight.Name);
  if (leftLoop != rightLoop)
    return rightLoop;
  return NaturalNameLess(ALeft.Name, ARight.Name);
}

bool IsDigit(char AChar) {
  return std::isdigit(static_cast<unsigned char>(AChar)) != 0;
}

} // namespace

std::vector<TBlockDevice> ListBlockDevices(const TBlockDeviceRoots& ARoots) {
  std::vector<TBlockDevice> devices;
  std::error_code error;
  for (fs::directory_iterator entry(fs::path(ARoots.Sysfs) / "class" / "block", error), end; !error && entry != end;
       entry.increment(error))
    if (std::optional<TBlockDevice> device = DeviceOf(*entry, ARoots))
      devices.push_back(std::move(*device));
  std::sort(devices.begin(), devices.end(), ListedBefore);
  return devices;
}

bool NaturalNameLess(const std::string& ALeft, const std::string& ARight) {
  std::size_t l = 0;
  std::size_t r = 0;
  while (l < ALeft.size() && r < ARight.size()) {
    if (IsDigit(ALeft[l]) && IsDigit(ARight[r])) {
      const std::size_t lEnd = std::find_if_not(ALeft.begin() + l, ALeft.end(), IsDigit) - ALeft.begin();
      const std::size_t rEnd = std::find_if_not(ARight.begin() + r, ARight.end(), IsDigit) - ARight.begin();
      // Leading zeros aside, the longer run of digits is the larger number.
      const std::string_view lDigits = std::string_view(ALeft).substr(l, lEnd - l);
      const std::string_view rDigits = std::string_view(ARight).substr(r, rEnd - r);
      const std::string_view lValue = lDigits.substr(std::min(lDigits.find_first_not_of('0'), lDigits.size()));
      const std::string_view rValue = rDigits.substr(std::min(rDigits.find_first_not_of('0'), rDigits.size()));
      if (lValue.size() != rValue.size())
        return lValue.size() < rValue.size();
      if (lValue != rValue)
        return lValue < rValue;
      l = lEnd;
      r = rEnd;
    } else {
      if (ALeft[l] != ARight[r])
        return ALeft[l] < ARight[r];
      ++l;
      ++r;
    }
  }
  return ALeft.size() - l < ARight.size() - r;
}
