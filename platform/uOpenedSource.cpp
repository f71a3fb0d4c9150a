#include "platform/uOpenedSource.h"

#include "foundation/uSizeText.h"
#include "ntfs/uFSError.h"

namespace {

constexpr std::int64_t kSectorSize = 512;

// What the user can do about a source mounted read-write.
std::string WritableMountWarning(const std::string& AName, const std::string& AMountPoint) {
  return "\"" + AName + "\" is mounted read-write at \"" + AMountPoint +
         "\": while it stays mounted, the system may write over deleted files. Unmount it first (umount \"" +
         AMountPoint + "\", or eject it in the file manager), or remount it read-only (mount -o remount,ro \"" +
         AMountPoint + "\").";
}

} // namespace

std::string PartitionText(int APartition, const std::string& ADisk) {
  return "partition " + std::to_string(APartition) + " of " + ADisk;
}

std::string LostVolumeText(std::int64_t AOffset, const std::string& ADisk) {
  return "lost volume at " + SizeText(AOffset) + " of " + ADisk;
}

TOpenedSource::TOpenedSource(TSourceRequest ARequest, IVolumeSourcePtr ASource, std::vector<std::string> AWarnings)
    : TOpenedSource(std::move(ARequest), std::move(ASource), std::move(AWarnings), TSystemSourceView()) {}

TOpenedSource::TOpenedSource(TSourceRequest ARequest, IVolumeSourcePtr ASource, std::vector<std::string> AWarnings,
                             const ISourceSystemView& ASystem)
    : FRequest(std::move(ARequest)),
      FSource(std::move(ASource)),
      FIdentity(TSourceIdentity::Of(FSource->Pieces(), ASystem)),
      FWarnings(std::move(AWarnings)),
      FOpened(Fingerprint()) {
  for (const std::string& mountPoint : FIdentity.WritableMounts())
    FWarnings.push_back(WritableMountWarning(DisplayName(), mountPoint));
}

std::string TOpenedSource::DisplayName() const {
  const std::string disk = FRequest.Partition != 0 ? PartitionText(FRequest.Partition, FRequest.Path) : FRequest.Path;
  return FRequest.Offset != 0 ? LostVolumeText(FRequest.Offset, disk) : disk;
}

TOpenedSource::TFingerprint TOpenedSource::Fingerprint() const {
  TFingerprint fingerprint{FSource->Size(), std::vector<std::uint8_t>(kSectorSize)};
  const std::int64_t got = FSource->ReadAt(0, fingerprint.FirstSector.data(), kSectorSize);
  fingerprint.FirstSector.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  return fingerprint;
}

void TOpenedSource::CheckUnchanged() const {
  const TFingerprint now = Fingerprint();
  if (now == FOpened)
    return;
  if (now.FirstSector.empty() && !FOpened.FirstSector.empty())
    throw NoDriveException("The source drive \"" + DisplayName() +
                           "\" cannot be read any more: it was removed or has failed. Nothing was read from it.");
  throw NoDriveException("The source drive \"" + DisplayName() +
                         "\" no longer holds the volume that was scanned: its size or boot sector changed. Scan it "
                         "again before restoring from it.");
}
