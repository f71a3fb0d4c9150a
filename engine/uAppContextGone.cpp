// Names that are gone: a folder's index blocks still name files whose
// records have since held other files. Nothing of their data is known, but
// the person looking for one learns that it was there and what took it.

#include "engine/uAppContext.h"

#include "engine/uRecordNames.h"
#include "foundation/uUnicode.h"
#include "ntfs/uNTFSAttribute.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

namespace {

constexpr std::int64_t kRootFolderRecord = 5;
constexpr std::uint32_t kIndexBlockSizeField = 0x08; // in the $INDEX_ROOT
constexpr std::uint32_t kMinIndexBlockSize = 512;
constexpr std::uint32_t kMaxIndexBlockSize = 65536;
constexpr std::size_t kMaxFolderDepth = 1024;

// The size of the folder's index blocks, from its index root; none when it
// has no sound one.
std::optional<std::uint32_t> IndexBlockSizeOf(TAttributeSearch& ASearch) {
  if (!ASearch.FindFirst(AttributeType::IndexRoot) || !NTFSAttribute::IsResident(ASearch.Rec().AttributeRecord))
    return std::nullopt;
  const std::uint32_t size =
      NTFSAttribute::GetResidentData(ASearch.Rec().AttributeRecord).Get<std::uint32_t>(kIndexBlockSizeField);
  if (size < kMinIndexBlockSize || size > kMaxIndexBlockSize || (size & (size - 1)) != 0)
    return std::nullopt;
  return size;
}

// Every name the folder's index blocks hold, used part and slack.
std::vector<TIndexName> FolderIndexNames(PNTFSVolume AVolume, MFT_REF AFolder) {
  TNTFSNodeRef node(AVolume, AFolder);
  TAttributeSearch search(node.Get());
  const std::optional<std::uint32_t> blockSize = IndexBlockSizeOf(search);
  if (!blockSize || !search.FindFirst(AttributeType::IndexAllocation) ||
      NTFSAttribute::IsResident(search.Rec().AttributeRecord))
    return {};
  const IStreamExPtr blocks = NTFSAttribute::GetDataStream(search.Rec());
  std::vector<std::uint8_t> block(*blockSize);
  std::vector<TIndexName> names;
  for (std::int64_t at = 0; at + *blockSize <= blocks->Size(); at += *blockSize) {
    if (blocks->Read(at, *blockSize, block.data()) != *blockSize || !FixupIndexBlock(block.data(), *blockSize))
      continue;
    for (TIndexName& name : IndexBlockNames(TByteView(block.data(), block.size()), AFolder.Address()))
      names.push_back(std::move(name));
  }
  return names;
}

// Why the name's file is gone, or nothing when it is not: its record still
// holds it, live or deleted the way the scan finds it.
std::optional<std::string> GoneReason(PNTFSVolume AVolume, const TIndexName& AName, TMemHolder& ABuffer) {
  const std::int64_t record = AName.File.Address();
  const std::optional<TRecordName> now = RecordNameOf(AVolume, record, ABuffer);
  const std::uint16_t sequence = AName.File.Number();
  if (now && (now->InUse ? now->Sequence == sequence : now->Sequence == SequenceAfterFreeing(sequence)))
    return std::nullopt;
  const std::string number = "record " + std::to_string(record);
  if (!now)
    return number + " holds no name now";
  return number + " now holds " + (now->InUse ? "" : "the deleted ") + "\"" + ToNativePath(now->Name) + "\"";
}

} // namespace

std::vector<TGoneName> TNTFSRecoveryContext::GoneNames() {
  // Every folder the scan met, live or deleted, by record.
  std::unordered_map<std::int64_t, PItemInfo> folders;
  for (const IExListPtr& list : {FRootItems, FItems})
    for (auto [bookmark, item] : ListItems<PItemInfo>(*list))
      if (item->IsDirectory && !item->FromRecycleBin && item->MFTNumber.Address() >= kRootFolderRecord)
        folders.try_emplace(item->MFTNumber.Address(), item);
  const auto PathOf = [&folders](std::int64_t AFolder) {
    std::vector<std::u16string> names;
    for (std::int64_t record = AFolder; record != kRootFolderRecord; ) {
      const auto folder = folders.find(record);
      if (folder == folders.end() || names.size() == kMaxFolderDepth) {
        names.push_back(u"???");
        break;
      }
      names.push_back(folder->second->Name);
      record = folder->second->DirREF.Address();
    }
    return std::vector<std::u16string>(names.rbegin(), names.rend());
  };

  TNTFSVolumeRef volume(OpenSourceVolume());
  TMemHolder buffer(static_cast<std::int32_t>(volume.Get()->MFTRecordSize));
  std::vector<TGoneName> gone;
  std::set<std::tuple<std::int64_t, std::u16string, std::int64_t>> seen;
  // Every folder's index is read again: long on a large volume, and a
  // cancel keeps what was found.
  TProgressExLevel level("Looking for names that are gone...", static_cast<std::int64_t>(folders.size()), "folders");
  std::int64_t done = 0;
  for (const auto& [record, folder] : folders) {
    if (!ProgressEx::DoProgress(done++))
      break;
    std::vector<TIndexName> names = FolderIndexNames(volume.Get(), folder->MFTNumber);
    // The slack also keeps older copies of entries still in the index.
    std::set<std::u16string> indexed;
    for (const TIndexName& name : names)
      if (!name.InSlack)
        indexed.insert(name.Name);
    for (TIndexName& name : names) {
      // A short DOS name only doubles a long one; a reference past the MFT
      // is a torn entry.
      if (name.NameType == FILE_NAME_DOS || (name.InSlack && indexed.contains(name.Name)) ||
          name.File.Address() >= volume.Get()->MFTRecordCount ||
          !seen.emplace(record, name.Name, name.File.Address()).second)
        continue;
      if (std::optional<std::string> reason = GoneReason(volume.Get(), name, buffer)) {
        std::vector<std::u16string> path = PathOf(record);
        path.push_back(name.Name);
        gone.push_back({std::move(path), std::move(name), std::move(*reason)});
      }
    }
  }
  std::sort(gone.begin(), gone.end(), [](const TGoneName& A, const TGoneName& B) { return A.Path < B.Path; });
  return gone;
}
