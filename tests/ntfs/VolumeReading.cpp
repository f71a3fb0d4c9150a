#include "VolumeReading.h"

#include "foundation/uSysPath.h"
#include "ntfs/uNTFSUtils.h"

#include <vector>

namespace volumereading {

namespace {

// The block size recovery reads in.
constexpr std::int64_t kBlockSize = 65536;

} // namespace

std::string ReadWhole(const IStreamExPtr& AStream) {
  std::string data;
  std::vector<char> block(kBlockSize);
  for (std::int64_t pos = 0;;) {
    const std::int64_t got = AStream->Read(pos, kBlockSize, block.data());
    if (got <= 0)
      return data;
    data.append(block.data(), static_cast<std::size_t>(got));
    pos += got;
  }
}

bool FindUnnamedData(TAttributeSearch& ASearch) {
  for (bool found = ASearch.FindFirst(AttributeType::Data); found; found = ASearch.FindNext())
    if (ASearch.Rec().AttributeRecord.Name().Empty())
      return true;
  return false;
}

std::optional<std::string> ReadUnnamedData(PNTFSNode ANode) {
  TAttributeSearch search(ANode);
  if (!FindUnnamedData(search))
    return std::nullopt;
  return ReadWhole(NTFSAttribute::GetDataStream(search.Rec()));
}

std::string FileNameOf(PNTFSNode ANode) {
  PMFTFilenameAttribute name =
      NTFSAttribute::GetFileNameAttribute(ANode->MFTRecord.Ptr, ANode->Volume->MFTRecordSize, FILE_NAME_WIN32);
  // ntfs-3g moves $FILE_NAME into an extension record when the base record
  // fills up with runs; the attribute list still leads there.
  TAttributeSearch search(ANode);
  if (!name && search.FindFirst(AttributeType::FileName))
    name = PMFTFilenameAttribute(NTFSAttribute::GetResidentData(search.Rec().AttributeRecord));
  return name ? ToNativePath(NTFSUtils::GetFileName(name)) : std::string();
}

TOpenedVolume::TOpenedVolume(const std::string& AImage) : FRef(NTFSVolumeInit(FromNativePath(AImage), TFileSource::Open(AImage))) {}

} // namespace volumereading
