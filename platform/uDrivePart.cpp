#include "platform/uDrivePart.h"

#include "platform/uFileSystem.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

char AsciiUpper(char AChar) { return (AChar >= 'a' && AChar <= 'z') ? char(AChar - 'a' + 'A') : AChar; }

bool IsAsciiLetter(char AChar) { return (AChar >= 'a' && AChar <= 'z') || (AChar >= 'A' && AChar <= 'Z'); }

bool IsOctalDigit(char AChar) { return AChar >= '0' && AChar <= '7'; }

// mountinfo writes a space, tab, newline or backslash of a path as "\ooo".
std::string UnescapeMountField(std::string_view AField) {
  std::string result;
  for (std::size_t i = 0; i < AField.size(); ++i) {
    const bool escaped = AField[i] == '\\' && i + 3 < AField.size() && IsOctalDigit(AField[i + 1]) &&
                         IsOctalDigit(AField[i + 2]) && IsOctalDigit(AField[i + 3]);
    if (escaped) {
      result += char(((AField[i + 1] - '0') << 6) | ((AField[i + 2] - '0') << 3) | (AField[i + 3] - '0'));
      i += 3;
    } else {
      result += AField[i];
    }
  }
  return result;
}

std::optional<dev_t> ParseDeviceNumber(const std::string& AField) {
  unsigned major = 0, minor = 0;
  char colon = 0;
  std::istringstream in(AField);
  if (!(in >> major >> colon >> minor) || colon != ':')
    return std::nullopt;
  return makedev(major, minor);
}

// Whether AMountPoint is APath or one of its parent folders, compared by
// whole path elements.
bool IsMountedAt(const std::string& APath, const std::string& AMountPoint) {
  if (AMountPoint == "/")
    return true;
  return APath.starts_with(AMountPoint) &&
         (APath.size() == AMountPoint.size() || APath[AMountPoint.size()] == '/');
}

std::string DeviceIdentity(dev_t ADevice) {
  return "dev:" + std::to_string(major(ADevice)) + ":" + std::to_string(minor(ADevice));
}

std::string CanonicalPath(const std::string& APath) {
  // Symbolic links are followed, so a link into a mounted source volume is
  // seen as the volume it leads to.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(APath, error);
  if (error)
    return APath;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
  return (error ? absolute.lexically_normal() : canonical).string();
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view AText) {
  // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw"
  // mount id, parent id, device, root, mount point, options, optional
  // fields up to "-", file system type, source, super block options.
  std::vector<TMountEntry> entries;
  std::istringstream lines{std::string(AText)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;)
      fields.push_back(field);
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
      ++separator;
    if (separator + 2 >= fields.size())
      continue;
    const std::optional<dev_t> device = ParseDeviceNumber(fields[2]);
    if (!device)
      continue;
    const bool writable = fields[5] == "rw" || fields[5].starts_with("rw,");
    entries.push_back({UnescapeMountField(fields[4]), *device, UnescapeMountField(fields[separator + 2]), writable});
  }
  return entries;
}

std::optional<std::string> WindowsDrivePart(std::string_view APath) {
  if (APath.size() >= 2 && IsAsciiLetter(APath[0]) && APath[1] == ':')
    return std::string{AsciiUpper(APath[0]), ':'};
  if (!APath.starts_with("\\\\"))
    return std::nullopt;
  // Server and share: up to the second backslash after the leading two.
  std::size_t end = APath.find('\\', 2);
  if (end != std::string_view::npos)
    end = APath.find('\\', end + 1);
  std::string part(APath.substr(0, end));
  for (char& c : part)
    c = AsciiUpper(c);
  return part;
}

std::vector<TListedVolume> TDriveTableVolumes::ListedVolumes() const {
  std::vector<TListedVolume> volumes;
  for (char16_t letter : FTable.Letters())
    if (std::optional<std::string> path = FTable.PathOf(letter))
      volumes.push_back({letter, *path});
  return volumes;
}

std::string SystemDrivePart(const TDriveTable& ATable, const std::string& APath) {
  const TDriveTableVolumes volumes(ATable);
  return TDrivePartResolver(volumes).DrivePart(APath);
}

std::string TDrivePartResolver::DrivePart(const std::string& APath) const {
  if (APath.empty())
    return {};
  if (std::optional<std::string> part = WindowsDrivePart(APath))
    return *part;
  return PosixDrivePart(APath);
}

std::string TDrivePartResolver::PosixDrivePart(const std::string& APath) const {
  const std::string path = CanonicalPath(APath);
  const std::vector<TMountEntry> mounts = ParseMountInfo(ReadMountInfo());
  const TMountEntry* mount = nullptr;
  // The longest mount point wins; of equal ones the last, which is mounted
  // over the others.
  for (const TMountEntry& entry : mounts)
    if (IsMountedAt(path, entry.MountPoint) &&
        (!mount || entry.MountPoint.size() >= mount->MountPoint.size()))
      mount = &entry;
  if (mount)
    if (std::optional<char16_t> letter = LetterOf(*mount); letter && *letter < 0x80)
      return std::string{AsciiUpper(static_cast<char>(*letter)), ':'};

  struct stat info {};
  if (::stat(NearestExistingAncestor(path).c_str(), &info) == 0)
    return DeviceIdentity(info.st_dev);
  return mount ? DeviceIdentity(mount->Device) : std::string();
}

std::optional<char16_t> TDrivePartResolver::LetterOf(const TMountEntry& AMount) const {
  // FUSE mounts report an anonymous device of their own, so the source
  // device node is compared as well as the mounted device.
  const std::optional<dev_t> source = BlockDeviceNumber(AMount.Source);
  for (const TListedVolume& volume : FVolumes.ListedVolumes()) {
    if (volume.Path == AMount.Source)
      return volume.Letter;
    const std::optional<dev_t> device = BlockDeviceNumber(volume.Path);
    if (device && (*device == AMount.Device || *device == source))
      return volume.Letter;
  }
  return std::nullopt;
}

std::string TDrivePartResolver::ReadMountInfo() const {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<dev_t> TDrivePartResolver::BlockDeviceNumber(const std::string& APath) const {
  struct stat info {};
  if (APath.empty() || ::stat(APath.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
    return std::nullopt;
  return info.st_rdev;
}
