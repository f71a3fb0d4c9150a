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
constexpr std::size_t BytesPerSector = 0x0B;
constexpr std::size_t SectorsPerCluster = 0x0D;
constexpr std::size_t TotalSectors = 0x28;
constexpr std::size_t MFTLcn = 0x30;
constexpr std::size_t ClustersPerMFTRecord = 0x40;
constexpr std::size_t OEMId = 0x03;
constexpr std::size_t ReadSize = 556;
} // namespace BootSectorField

// The boot sector's OEM id on every NTFS volume.
constexpr std::string_view NTFSOEMId = "NTFS    ";
// Formatting keeps a copy of the boot sector in the volume's last sector;
// sectors are 512 to 4,096 bytes.
constexpr std::int64_t SmallestSectorSize = 512;
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

void ReadGeometry(PNTFSVolume AVolume, TByteView ABoot) {
  AVolume->SectorSize = ABoot.Get<std::uint16_t>(BootSectorField::BytesPerSector);
  if (!IsPowerOfTwo(AVolume->SectorSize))
    throw FSError(NotNTFS + "bytes_per_sector (boot sector offset 0x0B) is " + std::to_string(AVolume->SectorSize) +
                  "; expected a power of 2.");
  AVolume->SectorSizeBits = NTFSUtils::GetSizeBits(AVolume->SectorSize);
  const std::uint32_t sectorsPerCluster =
      SectorsPerCluster(ABoot.Get<std::uint8_t>(BootSectorField::SectorsPerCluster));
  AVolume->NumberOfClusters = static_cast<std::int64_t>(ABoot.Get<std::uint64_t>(BootSectorField::TotalSectors) >>
                                                        NTFSUtils::GetSizeBits(sectorsPerCluster));
  AVolume->MFTLcn = ABoot.Get<std::int64_t>(BootSectorField::MFTLcn);
  AVolume->ClusterSize = AVolume->SectorSize * sectorsPerCluster;
  AVolume->ClusterSizeBits = NTFSUtils::GetSizeBits(AVolume->ClusterSize);
  AVolume->ClustersPerMFTRecord = ABoot.Get<std::uint32_t>(BootSectorField::ClustersPerMFTRecord);
  AVolume->MFTRecordSize =
      static_cast<std::uint32_t>(MFTRecordSizeOf(AVolume->ClustersPerMFTRecord, AVolume->ClusterSize));
  AVolume->MFTRecordSizeBits = NTFSUtils::GetSizeBits(AVolume->MFTRecordSize);
}

using TBootSector = std::array<std::uint8_t, BootSectorField::ReadSize>;

// Whether ABoot, read from the last ASectorSize bytes of the volume, is the
// copy of an NTFS boot sector that has sectors of that size.
bool IsBackupBootSector(const TBootSector& ABoot, std::int64_t ASectorSize) {
  const TByteView boot(ABoot.data(), ABoot.size());
  return std::equal(NTFSOEMId.begin(), NTFSOEMId.end(), ABoot.begin() + BootSectorField::OEMId) &&
         boot.Get<std::uint16_t>(BootSectorField::BytesPerSector) == ASectorSize;
}

// The backup copy of the boot sector in the volume's last sector, tried for
// each sector size; nothing when none is there to be read.
std::optional<TBootSector> BackupBootSector(IStreamEx& ADevice) {
  const std::int64_t size = ADevice.Size();
  for (std::int64_t sectorSize = SmallestSectorSize; sectorSize <= LargestSectorSize && sectorSize <= size;
       sectorSize *= 2) {
    TBootSector boot{};
    if (ADevice.Read(size - sectorSize, SmallestSectorSize, boot.data()) == SmallestSectorSize &&
        IsBackupBootSector(boot, sectorSize))
      return boot;
  }
  return std::nullopt;
}

// The boot sector, or its backup when the source cannot deliver the first
// sector: a volume whose boot sector is unreadable is named as such, not
// taken for an empty one. Nothing for a source that holds no bytes.
std::optional<TBootSector> BootSectorOf(IStreamEx& ADevice) {
  TBootSector boot{};
  if (ADevice.Read(0, boot.size(), boot.data()) > 0)
    return boot;
  if (ADevice.Size() == 0)
    return std::nullopt;
  if (const std::optional<TBootSector> backup = BackupBootSector(ADevice))
    return backup;
  throw FSError("The boot sector (byte 0 of the volume) cannot be read from the source drive, nor its backup copy "
                "in the volume's last sector.");
}

// The byte offset of the MFT's first cluster, checked against the device.
std::int64_t MFTOffsetOf(PNTFSVolume AVolume) {
  const auto offset = CheckedMul<std::int64_t>(AVolume->MFTLcn, AVolume->ClusterSize);
  if (AVolume->MFTLcn < 0 || !offset || *offset > AVolume->Device->Size())
    throw FSError(NotNTFS + "The MFT's first cluster (boot sector offset 0x30) is " +
                  std::to_string(AVolume->MFTLcn) + ", outside the volume.");
  return *offset;
}

// The root folder's reference is the parent of the MFT's own name, read
// from record 0 as it lies on disk. Without record 0 there is no way to the
// rest of the MFT, so a record the source cannot deliver, or one that is no
// FILE record, ends the opening with the reason.
MFT_REF RootDirRefOf(PNTFSVolume AVolume, std::int64_t AMFTOffset) {
  TMemHolder record(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  const std::string where = "The MFT's first record (byte " + std::to_string(AMFTOffset) + " of the volume)";
  if (AVolume->Device->Read(AMFTOffset, record.Size(), record.Ptr()) < record.Size())
    throw FSError(where + " cannot be read from the source drive.");
  if (!PMFTRecord(TByteView(record.Ptr(), static_cast<std::size_t>(record.Size()))).IsFileRecord())
    throw FSError(where + " is damaged: it does not start with \"FILE\".");
  PMFTAttributeRecord fileName;
  if (!NTFSAttribute::FindInternal(true, TByteView(record.Ptr(), static_cast<std::size_t>(record.Size())),
                                   AttributeType::FileName, 0, fileName))
    return {};
  return PMFTFilenameAttribute(NTFSAttribute::GetResidentData(fileName)).DirectoryFileReferenceNumber();
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

void Bootstrap(PNTFSVolume AVolume, std::int64_t AMFTOffset) {
  const TSetupReference setup(AVolume);
  AVolume->RootDirRef = RootDirRefOf(AVolume, AMFTOffset);
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
    const std::optional<TBootSector> boot = BootSectorOf(*volume->Device);
    if (!boot)
      return volume.release();
    ReadGeometry(volume.get(), TByteView(boot->data(), boot->size()));
    const std::int64_t mftOffset = MFTOffsetOf(volume.get());
    volume->MFTDataStream = StreamEx::GetProxyStream(volume->Device, mftOffset);
    Bootstrap(volume.get(), mftOffset);
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
