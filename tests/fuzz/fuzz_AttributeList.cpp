// A file whose attributes are spread over extension records: its base record,
// up to three more records and two clusters (where a non-resident attribute
// list may lie) come from the input; every search a scan and a recovery make
// runs on it, through the node cache of a real, small volume in memory.

#include "AttributeListVolume.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "tests/support/uMemoryDevice.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr ATTRIBUTE_TYPE_CODE kSearchedTypes[] = {AttributeType::StandardInformation, AttributeType::FileName,
                                                  AttributeType::Data, AttributeType::Any};
constexpr std::int64_t kReadLimit = 3 * 4096;

// Compressed data that cannot be expanded raises FSError by design; every
// other damage reads as zeros or ends the data early.
void ReadSome(const TAttributeSearchRec& ASearch) {
  try {
    const IStreamExPtr stream = NTFSAttribute::GetDataStream(ASearch);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kReadLimit));
    (void)stream->Read(0, kReadLimit, buffer.data());
    (void)UnreadRangesOf(*stream);
  } catch (const FSError&) {
  }
}

void SearchEverything(PNTFSVolume AVolume, std::int64_t ARecord) {
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ARecord));
  for (ATTRIBUTE_TYPE_CODE type : kSearchedTypes) {
    TAttributeSearch search(node.Get());
    for (bool found = search.FindFirst(type); found; found = search.FindNext()) {
      (void)NTFSAttribute::GetDataSize(search.Rec());
      if (type == AttributeType::Data)
        ReadSome(search.Rec());
      else if (!NTFSAttribute::IsResident(search.Rec().AttributeRecord))
        NTFSAttribute::RunListBuild(search.Rec(), MFTRunList::New());
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const auto device = std::make_shared<testsupport::TMemorySource>(
      static_cast<std::int64_t>(fuzz::AttributeListVolume().size()));
  device->Put(0, fuzz::AttributeListVolume());
  const std::size_t recordBytes = std::min<std::size_t>(ASize, fuzz::kRecords * fuzz::kRecordSize);
  device->Put(fuzz::RecordOffset(fuzz::kBaseRecord), AData, recordBytes);
  device->Put(fuzz::ListClusterOffset(), AData + recordBytes,
              std::min(ASize - recordBytes, fuzz::kClusterBytes));

  const TNTFSVolumeRef volume(NTFSVolumeInit(u"fuzz", device));
  for (std::int64_t record = fuzz::kBaseRecord; record < fuzz::kBaseRecord + fuzz::kRecords; ++record)
    SearchEverything(volume.Get(), record);
  return 0;
}
