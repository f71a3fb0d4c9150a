// One MFT record as it lies on disk: the fix-up, the walk over every
// attribute, the accessors of each header, the runs of non-resident ones and
// the choice of the file's name, as the scan makes it.

#include "ntfs/uMFTRunList.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Records are 1 KiB or 4 KiB; the largest the volume accepts is 64 KiB.
constexpr std::size_t kMaxRecordSize = 65536;

void TouchAttribute(const PMFTAttributeRecord& AAttribute) {
  (void)AAttribute.Name();
  (void)NTFSAttribute::GetAttributeDataSize(AAttribute);
  if (NTFSAttribute::IsResident(AAttribute)) {
    (void)NTFSAttribute::GetResidentData(AAttribute);
    return;
  }
  const IMFTRunListPtr runs = MFTRunList::New();
  NTFSAttribute::RunListAddNonResidentPart(AAttribute, runs);
  for (std::int32_t i = 0; i < runs->ItemCount(); ++i) {
    const RunListElement run = runs->Item(i);
    (void)runs->VCN2LCN(run.VCN);
    (void)runs->IsUse(run.LCN);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::vector<std::uint8_t> record(AData, AData + (ASize < kMaxRecordSize ? ASize : kMaxRecordSize));
  const auto size = static_cast<std::uint32_t>(record.size());
  NTFSUtils::FixupSectorEnds(record.data(), size, PMFTRecord(TByteView(record.data(), size)).UsaOffset());
  const TByteView bytes(record.data(), size);

  PMFTAttributeRecord attribute;
  for (bool first = true; NTFSAttribute::FindInternal(first, bytes, AttributeType::Any, 0, attribute); first = false)
    TouchAttribute(attribute);

  for (std::uint8_t nameType : {FILE_NAME_POSIX, FILE_NAME_WIN32, FILE_NAME_DOS}) {
    const PMFTFilenameAttribute name = NTFSAttribute::GetFileNameAttribute(record.data(), size, nameType);
    if (name) {
      (void)NTFSUtils::GetFileName(name);
      (void)NTFSUtils::Int64TimeToDateTime(name.ChangeTime());
      (void)NTFSUtils::FileAttributesToString(name.FileAttributes());
    }
  }
  return 0;
}
