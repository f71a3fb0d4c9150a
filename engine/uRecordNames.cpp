#include "engine/uRecordNames.h"

#include "engine/uScannedName.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>

namespace {

constexpr std::int64_t kRootFolderRecord = 5;
// A chain of parent references longer than any real path is a loop.
constexpr std::size_t kMaxPathDepth = 1024;

} // namespace

std::optional<TRecordName> RecordNameOf(PNTFSVolume AVolume, std::int64_t ARecord, TMemHolder& ABuffer) {
  NTFSUtils::GetMFTRecord(AVolume, MFT_REF::Build(ARecord), ABuffer.Ptr());
  const TByteView record(ABuffer.Ptr(), AVolume->MFTRecordSize);
  const PMFTRecord header(record);
  if (!header.IsFileRecord())
    return std::nullopt;
  TAttributeSearch search(AVolume, MFT_REF::Build(ARecord), record);
  const std::optional<TScannedName> name = FileNameOf(record, search);
  if (!name)
    return std::nullopt;
  return TRecordName{name->Name, name->DirREF.Address(), (header.Flags() & MFT_RECORD_IN_USE) != 0,
                     header.SequenceNumber()};
}

std::vector<std::u16string> RecordPathOf(PNTFSVolume AVolume, std::int64_t ARecord, TMemHolder& ABuffer) {
  std::vector<std::u16string> names;
  for (std::int64_t record = ARecord; record != kRootFolderRecord;) {
    const std::optional<TRecordName> name = RecordNameOf(AVolume, record, ABuffer);
    if (!name || names.size() == kMaxPathDepth) {
      names.push_back(u"???");
      break;
    }
    names.push_back(name->Name);
    record = name->Parent;
  }
  std::reverse(names.begin(), names.end());
  return names;
}
