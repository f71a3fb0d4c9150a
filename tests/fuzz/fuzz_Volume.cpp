// A whole volume image, mutated anywhere: opening it, then walking every
// record as the scan does (names, node summaries, every attribute's runs)
// and reading each file's data as the recovery does, through a device held
// in memory.

#include "SparseImage.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// Enough to cross several clusters and run lists, few enough to stay quick.
constexpr std::int64_t kReadLimit = 4 * 65536;
constexpr std::int64_t kReadPiece = 65536;

void ReadData(const TAttributeSearchRec& ASearch, std::vector<std::uint8_t>& ABuffer) {
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(ASearch);
  for (std::int64_t pos = 0; pos < kReadLimit; pos += kReadPiece)
    if (stream->Read(pos, kReadPiece, ABuffer.data()) <= 0)
      break;
  (void)UnreadRangesOf(*stream);
}

void VisitRecord(PNTFSVolume AVolume, std::int64_t ANumber, TMemHolder& ARecord, std::vector<std::uint8_t>& ABuffer) {
  NTFSUtils::GetMFTRecord(AVolume, MFT_REF::Build(ANumber), ARecord.Ptr());
  const PMFTRecord header(TByteView(ARecord.Ptr(), static_cast<std::size_t>(ARecord.Size())));
  if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
    return;
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ANumber));
  const PMFTFilenameAttribute name = NTFSAttribute::GetFileNameAttribute(
      ARecord.Ptr(), static_cast<std::uint32_t>(ARecord.Size()), FILE_NAME_WIN32);
  if (name)
    (void)NTFSUtils::GetFileName(name);
  TAttributeSearch search(node.Get());
  for (bool found = search.FindFirst(AttributeType::Any); found; found = search.FindNext())
    if (!NTFSAttribute::IsResident(search.Rec().AttributeRecord))
      NTFSAttribute::RunListBuild(search.Rec(), MFTRunList::New());
  TAttributeSearch data(node.Get());
  if (data.FindFirst(AttributeType::Data))
    ReadData(data.Rec(), ABuffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const auto device = std::make_shared<testsupport::TMemoryDeviceIO>();
  fuzz::LoadSparseImage(*device, AData, ASize);
  const testsupport::TDeviceIOGuard installed(device);
  PNTFSVolume opened = nullptr;
  try {
    opened = NTFSVolumeInit(u"fuzz");
  } catch (const FSError&) {
    return 0;
  }
  const TNTFSVolumeRef volume(opened);
  TMemHolder record(static_cast<std::int32_t>(volume->MFTRecordSize));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kReadPiece));
  for (std::int64_t number = 0; number < volume->MFTRecordCount; ++number)
    VisitRecord(volume.Get(), number, record, buffer);
  return 0;
}
