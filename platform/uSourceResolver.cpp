#include "platform/uSourceResolver.h"

#include "ntfs/uFSError.h"
#include "platform/uContainerSource.h"
#include "platform/uLostVolumes.h"
#include "platform/uRescueMap.h"
#include "platform/uVolumeProbe.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

bool IsRegularFile(const IVolumeSourcePtr& ASource) {
  const std::vector<TSourcePiece> pieces = ASource->Pieces();
  return pieces.size() == 1 && S_ISREG(pieces.front().Identity.st_mode);
}

} // namespace

TSourceResolver::TSourceResolver(TFileOpener AOpenFile, TDeviceOpener ADeniedDevice)
    : FOpenFile(std::move(AOpenFile)), FDeniedDevice(std::move(ADeniedDevice)) {}

IVolumeSourcePtr TSourceResolver::OpenFile(const std::string& APath) const {
  try {
    return FOpenFile(APath);
  } catch (const AccessDeniedException& denied) {
    if (!FDeniedDevice || !denied.IsBlockDevice())
      throw;
    return FDeniedDevice(denied.Path());
  }
}

TOpenedSourcePtr TSourceResolver::Open(const TSourceRequest& ARequest) const {
  // Opening the file first says why it cannot be read.
  IVolumeSourcePtr source = OpenFile(ARequest.Path);
  std::vector<std::string> warnings;
  if (IVolumeSourcePtr container = IsRegularFile(source) ? OpenContainer(ARequest.Path) : nullptr) {
    source = std::move(container);
  } else {
    // A rescue's mapfile describes the whole image; partitions lie inside it.
    std::optional<TRescueMap> map =
        !ARequest.MapFile.empty() ? std::optional(TRescueMap::Load(ARequest.MapFile))
        : IsRegularFile(source) ? RescueMapBeside(ARequest.Path, warnings)
                                : std::nullopt;
    if (map)
      source = std::make_shared<TRescuedSource>(std::move(source), std::move(*map));
  }
  if (ARequest.Partition != 0) {
    const std::vector<TPartition> partitions = ProbePartitions(source);
    const auto partition = std::find_if(partitions.begin(), partitions.end(), [&ARequest](const TPartition& AEntry) {
      return AEntry.Number == ARequest.Partition;
    });
    if (partition == partitions.end())
      throw NoDriveException("\"" + ARequest.Path + "\" has no partition " + std::to_string(ARequest.Partition) + ".");
    source = std::make_shared<TSliceSource>(std::move(source), partition->Offset, partition->Length);
  }
  if (ARequest.Offset != 0)
    source = VolumeAtOffset(std::move(source), ARequest.Offset,
                            ARequest.Partition != 0 ? PartitionText(ARequest.Partition, ARequest.Path) : ARequest.Path);
  return std::make_shared<const TOpenedSource>(ARequest, std::move(source), std::move(warnings));
}
