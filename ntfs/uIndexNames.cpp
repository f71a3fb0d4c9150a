#include "ntfs/uIndexNames.h"

#include "ntfs/uNTFSUtils.h"

#include <cstring>

namespace {

constexpr std::uint32_t kIndexBlockSignature = 0x58444E49; // "INDX"
constexpr std::size_t kUsaOffsetField = 0x04;
constexpr std::size_t kNodeHeader = 0x18;
// Within the node header, relative to it.
constexpr std::size_t kEntriesOffsetField = 0x00;
constexpr std::size_t kUsedSizeField = 0x04;
constexpr std::size_t kAllocatedSizeField = 0x08;

// An index entry: the reference, its own length, the key's length, flags,
// then the key, a $FILE_NAME.
constexpr std::size_t kEntryLengthField = 0x08;
constexpr std::size_t kKeyLengthField = 0x0A;
constexpr std::size_t kEntryFlagsField = 0x0C;
constexpr std::size_t kEntryKey = 0x10;
constexpr std::uint32_t kEntryIsLast = 0x02;
constexpr std::size_t kEntryAlignment = 8;

// Within the $FILE_NAME key.
constexpr std::size_t kParentField = 0x00;
constexpr std::size_t kCreationField = 0x08;
constexpr std::size_t kChangeField = 0x10;
constexpr std::size_t kDataSizeField = 0x30;
constexpr std::size_t kAttributesField = 0x38;
constexpr std::size_t kNameLengthField = 0x40;
constexpr std::size_t kNameTypeField = 0x41;
constexpr std::size_t kNameField = 0x42;
constexpr std::uint8_t kLastNameType = 3;

// The key of the entry at AOffset when it is a sound $FILE_NAME of AFolder
// that fits the entry's own lengths, with the entry's length.
bool ReadEntry(TByteView ABlock, std::size_t AOffset, std::int64_t AFolder, TIndexName& AName,
               std::size_t& ALength) {
  const TByteView entry = ABlock.From(AOffset);
  const std::size_t length = entry.Get<std::uint16_t>(kEntryLengthField);
  const std::size_t keyLength = entry.Get<std::uint16_t>(kKeyLengthField);
  if (length < kEntryKey + kNameField || length % kEntryAlignment != 0 || !entry.Contains(0, length) ||
      keyLength < kNameField || kEntryKey + keyLength > length)
    return false;
  const TByteView key = entry.Sub(kEntryKey, keyLength);
  const std::size_t nameLength = key.Get<std::uint8_t>(kNameLengthField);
  const std::uint8_t nameType = key.Get<std::uint8_t>(kNameTypeField);
  if (nameLength == 0 || nameType > kLastNameType || kNameField + nameLength * 2 > keyLength ||
      MFT_REF{key.Get<std::int64_t>(kParentField)}.Address() != AFolder)
    return false;
  AName.Name.assign(nameLength, u'\0');
  for (std::size_t i = 0; i < nameLength; ++i) {
    AName.Name[i] = static_cast<char16_t>(key.Get<std::uint16_t>(kNameField + i * 2));
    if (AName.Name[i] == u'\0' || AName.Name[i] == u'/')
      return false;
  }
  AName.File = MFT_REF{entry.Get<std::int64_t>(0)};
  AName.NameType = nameType;
  AName.DataSize = key.Get<std::int64_t>(kDataSizeField);
  AName.CreationTime = key.Get<std::int64_t>(kCreationField);
  AName.ChangeTime = key.Get<std::int64_t>(kChangeField);
  AName.FileAttributes = key.Get<std::uint32_t>(kAttributesField);
  ALength = length;
  return true;
}

} // namespace

bool FixupIndexBlock(std::uint8_t* ABlock, std::uint32_t ASize) {
  const TByteView block(ABlock, ASize);
  if (block.Get<std::uint32_t>(0) != kIndexBlockSignature)
    return false;
  return NTFSUtils::FixupSectorEnds(ABlock, ASize, block.Get<std::uint16_t>(kUsaOffsetField));
}

std::vector<TIndexName> IndexBlockNames(TByteView ABlock, std::int64_t AFolder) {
  std::vector<TIndexName> names;
  const TByteView node = ABlock.From(kNodeHeader);
  const std::size_t first = kNodeHeader + node.Get<std::uint32_t>(kEntriesOffsetField);
  const std::size_t used = std::min<std::size_t>(kNodeHeader + node.Get<std::uint32_t>(kUsedSizeField), ABlock.Size());
  const std::size_t allocated =
      std::min<std::size_t>(kNodeHeader + node.Get<std::uint32_t>(kAllocatedSizeField), ABlock.Size());
  TIndexName name;
  std::size_t length = 0;
  // The used part is a chain of entries up to the one marked last, which
  // holds no key.
  std::size_t offset = first;
  while (offset < used && (ABlock.Get<std::uint32_t>(offset + kEntryFlagsField) & kEntryIsLast) == 0) {
    const std::size_t entryLength = ABlock.Get<std::uint16_t>(offset + kEntryLengthField);
    if (ReadEntry(ABlock.Sub(0, used), offset, AFolder, name, length))
      names.push_back(name);
    if (entryLength < kEntryKey || entryLength % kEntryAlignment != 0)
      break;
    offset += entryLength;
  }
  // What the slack holds lies at the entries' alignment, whole or torn.
  for (offset = (used + kEntryAlignment - 1) / kEntryAlignment * kEntryAlignment; offset + kEntryKey < allocated;) {
    if (ReadEntry(ABlock.Sub(0, allocated), offset, AFolder, name, length)) {
      name.InSlack = true;
      names.push_back(name);
      offset += length;
    } else {
      offset += kEntryAlignment;
    }
  }
  return names;
}
