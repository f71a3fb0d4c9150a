#include "engine/uAppContext.h"

#include "engine/uRecycleInfo.h"
#include "foundation/uUnicode.h"
#include "ntfs/uNTFSAttribute.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <utility>

namespace {

constexpr char16_t kRecycleBinName[] = u"$RECYCLE.BIN";

// Windows compares names without regard to case; so does the search for the
// folder a file came from.
std::u16string UpperName(const std::u16string& AName) {
  std::u16string upper = AName;
  for (char16_t& unit : upper)
    if (unit < 0xD800 || unit > 0xDFFF)
      unit = static_cast<char16_t>(std::towupper(unit));
  return upper;
}

using TFolderKey = std::pair<std::int64_t, std::u16string>; // parent record, upper-case name

// The two names of a pair share what follows "$I" or "$R", within one
// user's folder of the bin.
TFolderKey PairKey(MFT_REF AFolder, const std::u16string& AName) { return {AFolder.Address(), AName.substr(2)}; }

std::string RecordText(std::int64_t ARecord) { return "MFT record " + std::to_string(ARecord); }

} // namespace

void TNTFSRecoveryContext::PlaceRecycledItems(PNTFSVolume AVolume) {
  // Folders by record, and by the folder that holds them and their name; a
  // folder in use wins over a deleted one of the same path.
  std::map<std::int64_t, PItemInfo> folders;
  std::map<TFolderKey, PItemInfo> folderByName;
  for (auto [bookmark, item] : ListItems<PItemInfo>(*FItems)) {
    if (!item->IsDirectory)
      continue;
    folders.emplace(item->MFTNumber.Address(), item);
    const auto [place, added] = folderByName.try_emplace({item->DirREF.Address(), UpperName(item->Name)}, item);
    if (!added && place->second->IsDeleted && !item->IsDeleted)
      place->second = item;
  }
  const auto isBinFolder = [&folders](MFT_REF AFolder) {
    const auto folder = folders.find(AFolder.Address());
    if (folder == folders.end())
      return false;
    const auto bin = folders.find(folder->second->DirREF.Address());
    return bin != folders.end() && UpperName(bin->second->Name) == kRecycleBinName;
  };

  // The "$I" files by what their names share with their "$R" file: the
  // deleted ones with their items, the live ones by record alone.
  std::map<TFolderKey, std::pair<std::int64_t, PItemInfo>> infos;
  for (const TLiveRecycleInfo& live : FLiveRecycleInfos)
    if (isBinFolder(live.DirREF))
      infos.try_emplace(PairKey(live.DirREF, live.Name), live.Record, nullptr);
  std::vector<PItemInfo> recycled;
  for (auto [bookmark, item] : ListItems<PItemInfo>(*FItems)) {
    if (!item->IsDeleted || !isBinFolder(item->DirREF))
      continue;
    if (!item->IsDirectory && IsRecycleName(item->Name, u'I'))
      infos.try_emplace(PairKey(item->DirREF, item->Name), item->MFTNumber.Address(), item);
    else if (IsRecycleName(item->Name, u'R'))
      recycled.push_back(item);
  }

  // Folders made for the paths no folder of the volume holds take record
  // numbers past the MFT's end, which no record can have.
  std::int64_t nextPlace = std::max(AVolume->MFTRecordCount, AVolume->MFTRecordsClaimed);
  const auto folderFor = [&](std::int64_t AParent, const std::u16string& AName) {
    const auto [place, added] = folderByName.try_emplace({AParent, UpperName(AName)}, nullptr);
    if (added) {
      place->second = NewItem(FItems, MFT_REF::Build(nextPlace++), MFT_REF::Build(AParent), AName, true, true);
      place->second->FromRecycleBin = true;
    }
    return place->second->MFTNumber.Address();
  };

  for (const PItemInfo item : recycled) {
    const auto info = infos.find(PairKey(item->DirREF, item->Name));
    if (info == infos.end())
      continue;
    const auto [infoRecord, infoItem] = info->second;
    const std::string what = "The Recycle Bin file \"" + ToNativePath(item->Name) + "\" (" +
                             RecordText(item->MFTNumber.Address()) + ")";
    TRecycleInfoResult parsed;
    try {
      // One byte more than the format allows, so that an oversized file shows.
      const std::string bytes = ReadDataStart(AVolume, infoRecord, TakenRunsOf(infoRecord), kRecycleInfoMaxBytes + 1,
                                                TReading::Quiet);
      parsed = ParseRecycleInfo(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    } catch (const std::exception& error) {
      parsed.Problem = error.what();
    }
    if (!parsed.Info) {
      ProgressEx::Detail(pdsWarning, what + " stays in the bin: its \"$I\" file (" + RecordText(infoRecord) +
                                         ") cannot be used: " + parsed.Problem + ".");
      continue;
    }
    const TRecycleInfo& original = *parsed.Info;
    if (!item->IsDirectory && item->DataSize != original.OriginalSize)
      ProgressEx::Detail(pdsWarning, what + " holds " + std::to_string(item->DataSize) +
                                         " bytes, but its \"$I\" file says the original held " +
                                         std::to_string(original.OriginalSize) + ".");
    std::int64_t parent = AVolume->RootDirRef.Address();
    for (std::size_t i = 0; i + 1 < original.PathParts.size(); ++i)
      parent = folderFor(parent, original.PathParts[i]);
    item->DirREF = MFT_REF::Build(parent);
    item->Name = original.PathParts.back();
    item->DeletionTime = original.DeletionTime;
    // A later file from inside a recycled folder's path goes into it.
    if (item->IsDirectory)
      folderByName.try_emplace({parent, UpperName(item->Name)}, item);
    if (infoItem)
      infoItem->IsRecycleInfo = true;
  }
}
