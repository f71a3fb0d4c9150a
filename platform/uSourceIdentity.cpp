#include "platform/uSourceIdentity.h"

#include "platform/uDrivePart.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

std::string FirstLineOf(const fs::path& APath) {
  std::ifstream in(APath);
  std::string line;
  std::getline(in, line);
  return line;
}

// "7:0" as sysfs writes a device number.
std::optional<dev_t> SysfsDeviceNumber(const fs::path& AFile) {
  unsigned major = 0, minor = 0;
  char colon = 0;
  std::istringstream in(FirstLineOf(AFile));
  if (!(in >> major >> colon >> minor) || colon != ':')
    return std::nullopt;
  return makedev(major, minor);
}

bool SameFile(const struct stat& A, const struct stat& B) { return A.st_dev == B.st_dev && A.st_ino == B.st_ino; }

} // namespace

std::optional<struct stat> TSystemSourceView::Stat(const std::string& APath) const {
  struct stat info {};
  if (::stat(APath.c_str(), &info) != 0)
    return std::nullopt;
  return info;
}

std::string TSystemSourceView::MountInfo() const {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::pair<dev_t, std::string>> TSystemSourceView::LoopDevices() const {
  std::vector<std::pair<dev_t, std::string>> loops;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/block", error)) {
    const std::string backing = FirstLineOf(entry.path() / "loop" / "backing_file");
    const std::optional<dev_t> device = SysfsDeviceNumber(entry.path() / "dev");
    if (!backing.empty() && device)
      loops.emplace_back(*device, backing);
  }
  return loops;
}

std::vector<dev_t> TSystemSourceView::PartitionsOf(dev_t ADisk) const {
  std::vector<dev_t> partitions;
  const fs::path disk = "/sys/dev/block/" + std::to_string(major(ADisk)) + ":" + std::to_string(minor(ADisk));
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(disk, error))
    if (fs::exists(entry.path() / "partition", error))
      if (const std::optional<dev_t> device = SysfsDeviceNumber(entry.path() / "dev"))
        partitions.push_back(*device);
  return partitions;
}

TSourceIdentity TSourceIdentity::Of(const std::vector<TSourcePiece>& APieces) {
  return Of(APieces, TSystemSourceView());
}

TSourceIdentity TSourceIdentity::Of(const std::vector<TSourcePiece>& APieces, const ISourceSystemView& AView) {
  TSourceIdentity identity;
  const auto loops = AView.LoopDevices();
  for (const TSourcePiece& piece : APieces)
    identity.AddPiece(piece.Identity, AView, loops);
  identity.AddMounts(AView);
  return identity;
}

TSourceIdentity TSourceIdentity::Of(const std::string& ASourcePath, const ISourceSystemView& AView) {
  const std::optional<struct stat> source = AView.Stat(ASourcePath);
  if (!source)
    return TSourceIdentity();
  return Of({TSourcePiece{ASourcePath, *source}}, AView);
}

void TSourceIdentity::AddPiece(const struct stat& AInfo, const ISourceSystemView& AView,
                               const std::vector<std::pair<dev_t, std::string>>& ALoops) {
  std::optional<struct stat> image;
  if (S_ISREG(AInfo.st_mode))
    image = AInfo;
  if (S_ISBLK(AInfo.st_mode)) {
    AddDevice(AInfo.st_rdev, AView);
    // A loop device given as the source writes through to its backing file.
    for (const auto& [device, backing] : ALoops)
      if (device == AInfo.st_rdev)
        image = AView.Stat(backing);
  }
  if (!image)
    return;
  FFiles.emplace(image->st_dev, image->st_ino);
  // Every loop device over the image is the source by another name.
  for (const auto& [device, backing] : ALoops)
    if (const std::optional<struct stat> info = AView.Stat(backing); info && SameFile(*info, *image))
      AddDevice(device, AView);
}

void TSourceIdentity::AddDevice(dev_t ADevice, const ISourceSystemView& AView) {
  FDevices.insert(ADevice);
  for (const dev_t partition : AView.PartitionsOf(ADevice))
    FDevices.insert(partition);
}

void TSourceIdentity::AddMounts(const ISourceSystemView& AView) {
  for (const TMountEntry& mount : ParseMountInfo(AView.MountInfo())) {
    // A FUSE mount (ntfs-3g) has a number of its own and names what it
    // mounted: the image, or a device of the source.
    if (!mount.Source.starts_with('/'))
      continue;
    if (const std::optional<struct stat> info = AView.Stat(mount.Source); info && IsSource(*info)) {
      FFileSystems.insert(mount.Device);
      if (mount.Writable)
        FWritableMounts.push_back(mount.MountPoint);
    }
  }
}

bool TSourceIdentity::IsSource(const struct stat& AInfo) const {
  if (S_ISREG(AInfo.st_mode) && FFiles.contains({AInfo.st_dev, AInfo.st_ino}))
    return true;
  if (S_ISBLK(AInfo.st_mode) && FDevices.contains(AInfo.st_rdev))
    return true;
  return HoldsFileSystem(AInfo.st_dev);
}

bool IsSameSourcePath(const std::string& A, const std::string& B) {
  struct stat a {};
  struct stat b {};
  if (stat(A.c_str(), &a) == 0 && stat(B.c_str(), &b) == 0) {
    if (S_ISBLK(a.st_mode) || S_ISBLK(b.st_mode))
      return S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev;
    return SameFile(a, b);
  }
  std::error_code error;
  return fs::absolute(A, error).lexically_normal() == fs::absolute(B, error).lexically_normal();
}
