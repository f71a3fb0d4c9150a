#include "engine/uScannedName.h"

#include "ntfs/uNTFSUtils.h"

TScannedName ScannedName(const PMFTFilenameAttribute& AFileName) {
  return {AFileName.DirectoryFileReferenceNumber(),
          NTFSUtils::GetFileName(AFileName),
          AFileName.DataSize(),
          AFileName.CreationTime(),
          AFileName.ChangeTime(),
          AFileName.FileAttributes()};
}

namespace {

// A folder with a large index, or a file with many names, may keep every
// $FILE_NAME in extension records named by its attribute list. Those names
// are looked up there with the same preference as in the base record: the
// first long name, else the last name found.
std::optional<TScannedName> FileNameFromAttributeList(TAttributeSearch& ASearch) {
  std::optional<TScannedName> last;
  for (bool found = ASearch.FindFirst(AttributeType::FileName); found; found = ASearch.FindNext()) {
    const PMFTAttributeRecord& attribute = ASearch.Rec().AttributeRecord;
    if (!NTFSAttribute::IsResident(attribute))
      continue;
    const PMFTFilenameAttribute fileName(NTFSAttribute::GetResidentData(attribute));
    last = ScannedName(fileName);
    if ((fileName.NameType() & FILE_NAME_WIN32) != 0)
      break;
  }
  return last;
}

} // namespace

std::optional<PMFTStandardInformation> StandardInformationOf(TAttributeSearch& ASearch) {
  if (!ASearch.FindFirst(AttributeType::StandardInformation) ||
      !NTFSAttribute::IsResident(ASearch.Rec().AttributeRecord))
    return std::nullopt;
  const PMFTStandardInformation content(NTFSAttribute::GetResidentData(ASearch.Rec().AttributeRecord));
  if (!content.HoldsSummary())
    return std::nullopt;
  return content;
}

std::optional<TScannedName> FileNameOf(TByteView ARecord, TAttributeSearch& ASearch) {
  const PMFTFilenameAttribute inRecord =
      NTFSAttribute::GetFileNameAttribute(ARecord.Data(), static_cast<std::uint32_t>(ARecord.Size()), FILE_NAME_WIN32);
  if (inRecord)
    return ScannedName(inRecord);
  return FileNameFromAttributeList(ASearch);
}
