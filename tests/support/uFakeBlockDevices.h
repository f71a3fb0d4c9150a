#pragma once

// A stand-in for the kernel's view of block devices: a sysfs tree laid out as
// the kernel lays it out (class links into the device tree, partitions inside
// their disk's folder) and a /dev folder whose "device nodes" are image files,
// often real volumes made by mkntfs or mke2fs.

#include "platform/uBlockDevices.h"
#include "tests/support/uTestFiles.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testfiles {

// Small enough to be quick, large enough for mkntfs.
inline constexpr std::int64_t kVolumeSize = 2 * 1024 * 1024;

// A sparse file of ASize bytes.
inline void MakeBlankImage(const std::filesystem::path& APath, std::int64_t ASize = kVolumeSize) {
  std::ofstream(APath, std::ios::binary | std::ios::trunc);
  std::filesystem::resize_file(APath, static_cast<std::uintmax_t>(ASize));
}

inline std::string ShellQuoted(const std::string& AText) {
  std::string quoted = "'";
  for (const char c : AText)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// An NTFS volume made by mkntfs; an empty label makes one without a label.
inline void MakeNTFSImage(const std::filesystem::path& APath, const std::string& ALabel = "") {
  MakeBlankImage(APath);
  const std::string label = ALabel.empty() ? std::string() : " -L " + ShellQuoted(ALabel);
  if (std::system(("mkntfs -F -f -q" + label + " " + ShellQuoted(APath.string()) + " >/dev/null 2>&1").c_str()) != 0)
    throw std::runtime_error("mkntfs failed on " + APath.string());
}

inline void MakeExt2Image(const std::filesystem::path& APath, const std::string& ALabel) {
  MakeBlankImage(APath);
  if (std::system(("mke2fs -q -F -L " + ShellQuoted(ALabel) + " " + ShellQuoted(APath.string()) + " >/dev/null 2>&1").c_str()) != 0)
    throw std::runtime_error("mke2fs failed on " + APath.string());
}

// The low 32 bits of the 64-bit serial in an NTFS boot sector (offset 0x48),
// read straight from the image as a second opinion on libblkid.
inline std::uint32_t NTFSSerialOf(const std::filesystem::path& AImage) {
  std::ifstream in(AImage, std::ios::binary);
  unsigned char bytes[4] = {};
  in.seekg(0x48);
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes))
    throw std::runtime_error("no boot sector in " + AImage.string());
  return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
         std::uint32_t(bytes[3]) << 24;
}

class TFakeBlockDevices {
public:
  TBlockDeviceRoots Roots() const {
    return {(FFolder / "sys").string(), (FFolder / "dev").string(), (FFolder / "udev").string()};
  }
  std::filesystem::path DevicePath(const std::string& ANodeName) const { return FFolder / "dev" / ANodeName; }
  std::filesystem::path Folder() const { return FFolder.Path(); }

  // A disk whose node is a blank file; its sysfs size follows the node's.
  std::filesystem::path AddDisk(const std::string& AName, bool ARemovable = false) {
    const std::filesystem::path dir = DeviceFolder(AName);
    WriteAttribute(dir / "removable", ARemovable ? "1" : "0");
    return AddDevice(AName, dir, "disk");
  }

  std::filesystem::path AddPartition(const std::string& ADisk, const std::string& AName) {
    const std::filesystem::path dir = DeviceFolder(ADisk) / AName;
    WriteAttribute(dir / "partition", "1");
    return AddDevice(AName, dir, "partition");
  }

  // A loop device bound to a file, or an unbound one as the kernel keeps
  // them in reserve (no "loop" folder, size zero).
  std::filesystem::path AddLoop(const std::string& AName, bool ABound) {
    const std::filesystem::path node = AddDisk(AName);
    if (ABound)
      WriteAttribute(DeviceFolder(AName) / "loop" / "backing_file", "/somewhere/file.img");
    else
      SetSectors(AName, 0);
    return node;
  }

  // Names the node in the device's uevent, as the kernel does for names with
  // a "/" (written "!" in sysfs).
  void SetNodeName(const std::string& AName, const std::string& ANodeName) {
    std::ofstream(DeviceFolder(AName) / "uevent", std::ios::app) << "DEVNAME=" << ANodeName << "\n";
  }

  // Gives the device a number and udev's database entry for it, with
  // AProperties ("ID_FS_TYPE=ntfs", ...) as its E: lines.
  void SetUdevProperties(const std::string& AName, const std::string& ANumber,
                         const std::vector<std::string>& AProperties) {
    WriteAttribute(ClassLink(AName) / "dev", ANumber);
    std::filesystem::create_directories(FFolder / "udev");
    std::ofstream data(FFolder / "udev" / ("b" + ANumber));
    data << "S:disk/by-id/fake-" << AName << "\n";
    for (const std::string& property : AProperties)
      data << "E:" << property << "\n";
  }

  void SetSectors(const std::string& AName, std::int64_t ASectors) {
    WriteAttribute(ClassLink(AName) / "size", std::to_string(ASectors));
  }

  // The device leaves: its class link and its node go.
  void Remove(const std::string& AName) {
    std::filesystem::remove(ClassLink(AName));
    std::filesystem::remove(DevicePath(AName));
  }

private:
  std::filesystem::path ClassLink(const std::string& AName) const { return FFolder / "sys" / "class" / "block" / AName; }
  std::filesystem::path DeviceFolder(const std::string& ADisk) const {
    return FFolder / "sys" / "devices" / "virtual" / "block" / ADisk;
  }

  static void WriteAttribute(const std::filesystem::path& APath, const std::string& AValue) {
    std::filesystem::create_directories(APath.parent_path());
    std::ofstream(APath, std::ios::trunc) << AValue << "\n";
  }

  std::filesystem::path AddDevice(const std::string& AName, const std::filesystem::path& ADir, const std::string& AType) {
    WriteAttribute(ADir / "uevent", "DEVTYPE=" + AType);
    std::filesystem::create_directories(ClassLink(AName).parent_path());
    std::filesystem::create_directory_symlink(ADir, ClassLink(AName));
    std::filesystem::create_directories(FFolder / "dev");
    const std::filesystem::path node = DevicePath(AName);
    MakeBlankImage(node);
    SetSectors(AName, kVolumeSize / 512);
    return node;
  }

  TTempFolder FFolder;
};

} // namespace testfiles
