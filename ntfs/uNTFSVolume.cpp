#include "ntfs/uNTFSVolume.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uPhysicalFile.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// Boot sector fields.
namespace BootSectorField {
constexpr std::size_t OEMId = 0x03;
constexpr std::size_t BytesPerSector = 0x0B;
constexpr std::size_t SectorsPerCluster = 0x0D;
constexpr std::size_t TotalSectors = 0x28;
constexpr std::size_t MFTLcn = 0x30;
constexpr std::size_t MFTMirrLcn = 0x38;
constexpr std::size_t ClustersPerMFTRecord = 0x40;
constexpr std::size_t EndMarker = 0x1FE;
constexpr std::size_t ReadSize = 556;
} // namespace BootSectorField

// The boot sector's OEM id on every NTFS volume, and the marker every boot
// sector ends its first 512 bytes with.
constexpr std::string_view NTFSOEMId = "NTFS    ";
constexpr std::uint16_t BootSectorEndMarker = 0xAA55;
// Formatting keeps a copy of the boot sector in the sector just past the
// volume's sector count; sectors are 512 to 4,096 bytes.
constexpr std::int64_t LargestSectorSize = 4096;

// Windows 10 1709 and later store more than 128 sectors per cluster (2 MiB
// clusters on 512-byte sectors) as a negative power of two: 0xF4 means
// 2^(256 - 0xF4) = 4,096 sectors.
constexpr std::uint8_t FirstNegativeSectorsPerCluster = 0xF4;
// The boot sector's record size field gives a cluster count below 128, a
// negative power of two from there on.
constexpr std::uint32_t FirstNegativeClustersPerRecord = 0x80;
// Records are 1,024 or 4,096 bytes in practice; outside these bounds the
// fix-up stride or the record buffers make no sense.
constexpr std::int64_t MinMFTRecordSize = 512;
constexpr std::int64_t MaxMFTRecordSize = 65536;

constexpr std::int64_t MFTRecordNumber = 0;
constexpr std::int64_t BitmapRecordNumber = 6;
constexpr std::u16string_view MFTFileName = u"$MFT";

const std::string NotNTFS = "Error: It is not a valid NTFS partition! ";

bool IsPowerOfTwo(std::uint64_t AValue) {
  return AValue != 0 && (AValue & (AValue - 1)) == 0;
}

std::uint32_t SectorsPerCluster(std::uint8_t AValue) {
  if (AValue >= FirstNegativeSectorsPerCluster)
    return std::uint32_t{1} << (256 - AValue);
  if (AValue == 0)
    throw FSError(NotNTFS + "sectors_per_cluster (boot sector offset 0x0D) is 0.");
  if (!IsPowerOfTwo(AValue))
    throw FSError(NotNTFS + "sectors_per_cluster is not a power of 2.");
  return AValue;
}

std::int64_t MFTRecordSizeOf(std::uint32_t AClustersPerMFTRecord, std::uint32_t AClusterSize) {
  const std::int64_t size = AClustersPerMFTRecord < FirstNegativeClustersPerRecord
                                ? std::int64_t{AClustersPerMFTRecord} * AClusterSize
                                : std::int64_t{1} << ((256u - AClustersPerMFTRecord) % 32u);
  if (size < MinMFTRecordSize || size > MaxMFTRecordSize || !IsPowerOfTwo(static_cast<std::uint64_t>(size)))
    throw FSError(NotNTFS + "clusters_per_mft_record (boot sector offset 0x40) gives " + std::to_string(size) +
                  "-byte MFT records; expected a power of 2 from 512 to 65536.");
  return size;
}

// The geometry of ABoot, raising FSError that names the first field that
// makes no sense.
TNTFSBootSector ParseBootSector(TByteView ABoot) {
  TNTFSBootSector boot;
  boot.SectorSize = ABoot.Get<std::uint16_t>(BootSectorField::BytesPerSector);
  if (!IsPowerOfTwo(boot.SectorSize))
    throw FSError(NotNTFS + "bytes_per_sector (boot sector offset 0x0B) is " + std::to_string(boot.SectorSize) +
                  "; expected a power of 2.");
  boot.SectorsPerCluster = SectorsPerCluster(ABoot.Get<std::uint8_t>(BootSectorField::SectorsPerCluster));
  boot.TotalSectors = static_cast<std::int64_t>(ABoot.Get<std::uint64_t>(BootSectorField::TotalSectors) &
                                                static_cast<std::uint64_t>(INT64_MAX));
  boot.MFTLcn = ABoot.Get<std::int64_t>(BootSectorField::MFTLcn);
  boot.MFTMirrLcn = ABoot.Get<std::int64_t>(BootSectorField::MFTMirrLcn);
  boot.ClustersPerMFTRecord = ABoot.Get<std::uint32_t>(BootSectorField::ClustersPerMFTRecord);
  boot.MFTRecordSize = static_cast<std::uint32_t>(MFTRecordSizeOf(boot.ClustersPerMFTRecord, boot.ClusterSize()));
  return boot;
}

bool HasNTFSSignature(TByteView ABoot) {
  const TByteView oemId = ABoot.Sub(BootSectorField::OEMId, NTFSOEMId.size());
  return oemId.Size() == NTFSOEMId.size() &&
         std::equal(NTFSOEMId.begin(), NTFSOEMId.end(), oemId.Data()) &&
         ABoot.Get<std::uint16_t>(BootSectorField::EndMarker) == BootSectorEndMarker;
}

void ReadGeometry(PNTFSVolume AVolume, const TNTFSBootSector& ABoot) {
  AVolume->SectorSize = ABoot.SectorSize;
  AVolume->SectorSizeBits = NTFSUtils::GetSizeBits(AVolume->SectorSize);
  AVolume->NumberOfClusters = ABoot.TotalSectors >> NTFSUtils::GetSizeBits(ABoot.SectorsPerCluster);
  AVolume->MFTLcn = ABoot.MFTLcn;
  AVolume->ClusterSize = ABoot.ClusterSize();
  AVolume->ClusterSizeBits = NTFSUtils::GetSizeBits(AVolume->ClusterSize);
  AVolume->ClustersPerMFTRecord = ABoot.ClustersPerMFTRecord;
  AVolume->MFTRecordSize = ABoot.MFTRecordSize;
  AVolume->MFTRecordSizeBits = NTFSUtils::GetSizeBits(AVolume->MFTRecordSize);
}

using TBootSectorBytes = std::array<std::uint8_t, BootSectorField::ReadSize>;

// The backup copy of the boot sector in the volume's last sector, tried for
// each sector size; nothing when none is there to be read.
std::optional<TBootSectorBytes> BackupBootSector(IStreamEx& ADevice) {
  const std::int64_t size = ADevice.Size();
  for (std::int64_t sectorSize = kSmallestSectorSize; sectorSize <= LargestSectorSize && sectorSize <= size;
       sectorSize *= 2) {
    TBootSectorBytes boot{};
    const TByteView bytes(boot.data(), boot.size());
    if (ADevice.Read(size - sectorSize, kSmallestSectorSize, boot.data()) == kSmallestSectorSize &&
        HasNTFSSignature(bytes) && bytes.Get<std::uint16_t>(BootSectorField::BytesPerSector) == sectorSize)
      return boot;
  }
  return std::nullopt;
}

// The boot sector, or its backup when the first sector cannot be read or
// holds no NTFS boot sector (AVolume's notes say so): a volume whose boot
// sector is damaged is named as such, not taken for an empty one. Nothing
// for a source that holds no bytes.
std::optional<TBootSectorBytes> BootSectorOf(PNTFSVolume AVolume) {
  IStreamEx& device = *AVolume->Device;
  TBootSectorBytes boot{};
  const bool read = device.Read(0, boot.size(), boot.data()) > 0;
  if (read && HasNTFSSignature(TByteView(boot.data(), boot.size())))
    return boot;
  if (device.Size() == 0)
    return std::nullopt;
  if (const std::optional<TBootSectorBytes> backup = BackupBootSector(device)) {
    AVolume->OpeningNotes.push_back(
        std::string("The boot sector ") + (read ? "is damaged" : "cannot be read") +
        ": the volume was opened from its backup copy in the volume's last sector.");
    return backup;
  }
  if (read)
    return boot;
  throw FSError("The boot sector (byte 0 of the volume) cannot be read from the source drive, nor its backup copy "
                "in the volume's last sector.");
}

// The byte offset of the MFT's first cluster, checked against the device.
std::int64_t MFTOffsetOf(PNTFSVolume AVolume, NTFS_LCN AMFTLcn) {
  const auto offset = CheckedMul<std::int64_t>(AMFTLcn, AVolume->ClusterSize);
  if (AMFTLcn < 0 || !offset || *offset > AVolume->Device->Size())
    throw FSError(NotNTFS + "The MFT's first cluster (boot sector offset 0x30) is " + std::to_string(AMFTLcn) +
                  ", outside the volume.");
  return *offset;
}

// The $FILE_NAME of a FILE record as it lies on disk (fix-ups not applied:
// they touch only the last word of each sector, never a name this early in
// the record); none when it has none.
PMFTFilenameAttribute FileNameOf(TByteView ARecord) {
  PMFTAttributeRecord fileName;
  if (!PMFTRecord(ARecord).IsFileRecord() ||
      !NTFSAttribute::FindInternal(true, ARecord, AttributeType::FileName, 0, fileName))
    return {};
  return PMFTFilenameAttribute(NTFSAttribute::GetResidentData(fileName));
}

// Record 0 where the MFT's first cluster says, or else its copy in
// $MFTMirr (the note says so): without record 0 there is no way to the rest
// of the MFT, so when neither is a FILE record the opening ends with the
// reason. Gives the offset record 0 is read from.
std::int64_t MFTRecordZeroOffset(PNTFSVolume AVolume, const TNTFSBootSector& ABoot) {
  const std::int64_t mftOffset = MFTOffsetOf(AVolume, ABoot.MFTLcn);
  TMemHolder record(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  const TByteView bytes(record.Ptr(), static_cast<std::size_t>(record.Size()));
  const bool read = AVolume->Device->Read(mftOffset, record.Size(), record.Ptr()) == record.Size();
  if (read && PMFTRecord(bytes).IsFileRecord())
    return mftOffset;
  const std::string damage = "The MFT's first record (byte " + std::to_string(mftOffset) + " of the volume)" +
                             (read ? " is damaged: it does not start with \"FILE\"" : " cannot be read from the source drive");
  // The mirror's cluster is checked like the MFT's, but a mirror outside
  // the volume only means there is no copy to fall back on.
  const auto mirrorOffset = CheckedMul<std::int64_t>(ABoot.MFTMirrLcn, AVolume->ClusterSize);
  if (ABoot.MFTMirrLcn > 0 && mirrorOffset && *mirrorOffset < AVolume->Device->Size() &&
      AVolume->Device->Read(*mirrorOffset, record.Size(), record.Ptr()) == record.Size() && IsMFTRecordZero(bytes)) {
    AVolume->OpeningNotes.push_back(damage + ": the MFT was found through its copy in $MFTMirr (byte " +
                                    std::to_string(*mirrorOffset) + " of the volume).");
    return *mirrorOffset;
  }
  throw FSError(damage + ".");
}

// The unnamed data of a system record, or nothing when it has no $DATA.
IStreamExPtr DataStreamOfRecord(PNTFSVolume AVolume, std::int64_t ARecordNumber) {
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ARecordNumber));
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data))
    return nullptr;
  return NTFSAttribute::GetDataStream(search.Rec());
}

// Record 0's data size says how many records there are, but a crafted size
// would have a scan of a tiny image walk billions of empty records: the
// MFT's records each occupy their own bytes of the device, so there are no
// more of them than the device can hold. A device that cannot tell its
// size (0) bounds nothing.
void CountMFTRecords(PNTFSVolume AVolume) {
  const std::int64_t mftSize = std::max<std::int64_t>(0, AVolume->MFTDataStream->Size());
  const std::int64_t deviceSize = AVolume->Device->Size();
  const std::int64_t bounded = deviceSize > 0 ? std::min(mftSize, deviceSize) : mftSize;
  AVolume->MFTRecordsClaimed = mftSize >> AVolume->MFTRecordSizeBits;
  AVolume->MFTRecordCount = bounded >> AVolume->MFTRecordSizeBits;
}

// Holds the volume while it is being set up, so that the node references
// taken and dropped on the way never free it.
class TSetupReference {
public:
  explicit TSetupReference(PNTFSVolume AVolume) : FVolume(AVolume) { ++FVolume->RefCount; }
  ~TSetupReference() { --FVolume->RefCount; }
  TSetupReference(const TSetupReference&) = delete;
  TSetupReference& operator=(const TSetupReference&) = delete;

private:
  PNTFSVolume FVolume;
};

// Reads record 0 from ARecordZeroOffset (the MFT or its mirror) to learn
// where the whole MFT lies, then the bitmap through it.
void Bootstrap(PNTFSVolume AVolume, std::int64_t ARecordZeroOffset) {
  const TSetupReference setup(AVolume);
  AVolume->MFTDataStream = StreamEx::GetProxyStream(AVolume->Device, ARecordZeroOffset);
  TMemHolder record(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  AVolume->Device->Read(ARecordZeroOffset, record.Size(), record.Ptr());
  // The root folder's reference is the parent of the MFT's own name.
  if (const PMFTFilenameAttribute name = FileNameOf(TByteView(record.Ptr(), static_cast<std::size_t>(record.Size()))))
    AVolume->RootDirRef = name.DirectoryFileReferenceNumber();
  IStreamExPtr mft = DataStreamOfRecord(AVolume, MFTRecordNumber);
  if (!mft)
    throw FSError(NotNTFS + "MFT record 0 has no $DATA attribute.");
  AVolume->MFTDataStream = std::move(mft);
  AVolume->BitmapDataStream = DataStreamOfRecord(AVolume, BitmapRecordNumber);
  CountMFTRecords(AVolume);
}

void NTFSVolumeFree(PNTFSVolume AVolume) {
  NTFSNodeCacheTrim(AVolume, true);
  delete AVolume;
}

void CheckVolume(PNTFSVolume AVolume) {
  if (AVolume == nullptr)
    throw std::runtime_error("Volume is null. Call NTFSVolumeInit first!.");
}

} // namespace

TMFTRefKey MFTRefKey(MFT_REF ARef) {
  TMFTRefKey key{};
  const auto address = static_cast<std::uint64_t>(ARef.Address());
  for (std::size_t i = 0; i < key.size(); ++i)
    key[i] = static_cast<std::uint8_t>(address >> (8 * i));
  return key;
}

std::optional<std::int64_t> TNTFSBootSector::VolumeLength() const {
  const std::optional<std::int64_t> sectors = CheckedAdd<std::int64_t>(TotalSectors, 1);
  return sectors ? CheckedMul<std::int64_t>(*sectors, SectorSize) : std::nullopt;
}

std::optional<TNTFSBootSector> ReadNTFSBootSector(TByteView ABytes) {
  if (!HasNTFSSignature(ABytes))
    return std::nullopt;
  try {
    return ParseBootSector(ABytes);
  } catch (const FSError&) {
    return std::nullopt;
  }
}

bool IsMFTRecordZero(TByteView ARecord) {
  const PMFTFilenameAttribute name = FileNameOf(ARecord);
  if (!name || name.NameLength() != MFTFileName.size())
    return false;
  const TByteView chars = name.Bytes().Sub(FileNameField::Name, MFTFileName.size() * 2);
  for (std::size_t i = 0; i < MFTFileName.size(); ++i)
    if (chars.Get<std::uint16_t>(2 * i) != MFTFileName[i])
      return false;
  return true;
}

bool PMFTRecord::IsFileRecord() const {
  return FBytes.Get<std::uint32_t>(MFTRecordField::Identifier) == 0x454C4946; // "FILE"
}

PNTFSVolume NTFSVolumeInit(const std::u16string& AName, IVolumeSourcePtr ASource) {
  auto volume = std::make_unique<TNTFSVolumeRecord>();
  volume->NodeList = ExListBuilder::CreateDictionary(static_cast<std::int32_t>(sizeof(TMFTRefKey)),
                                                     static_cast<std::int32_t>(sizeof(PNTFSNode)));
  volume->NodeCache = ExListBuilder::CreateList(static_cast<std::int32_t>(sizeof(PNTFSNode)));
  volume->Device = std::make_shared<TPhysicalFile>(AName, std::move(ASource));
  try {
    const std::optional<TBootSectorBytes> bytes = BootSectorOf(volume.get());
    if (!bytes)
      return volume.release();
    const TNTFSBootSector boot = ParseBootSector(TByteView(bytes->data(), bytes->size()));
    ReadGeometry(volume.get(), boot);
    Bootstrap(volume.get(), MFTRecordZeroOffset(volume.get(), boot));
    volume->Initialized = true;
    return volume.release();
  } catch (...) {
    NTFSVolumeFree(volume.release());
    throw;
  }
}

void NTFSVolumeAddRef(PNTFSVolume AVolume) {
  CheckVolume(AVolume);
  ++AVolume->RefCount;
}

// The last release frees the volume, also one whose device delivered nothing.
void NTFSVolumeRelease(PNTFSVolume AVolume) {
  CheckVolume(AVolume);
  if (--AVolume->RefCount <= 0)
    NTFSVolumeFree(AVolume);
}
