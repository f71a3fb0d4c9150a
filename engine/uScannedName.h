#pragma once

#include "ntfs/uNTFSAttribute.h"

#include <cstdint>
#include <optional>
#include <string>

// What the scan reads of a FILE record's names and times.

// What the scan keeps of a record's $FILE_NAME.
struct TScannedName {
  MFT_REF DirREF;
  std::u16string Name;
  std::int64_t DataSize = 0;
  std::int64_t CreationTime = 0;
  std::int64_t ChangeTime = 0;
  std::uint32_t FileAttributes = 0;
};

TScannedName ScannedName(const PMFTFilenameAttribute& AFileName);

// The record's long name, from the record itself or, where the record keeps
// its names elsewhere, from the extension records its attribute list names.
std::optional<TScannedName> FileNameOf(TByteView ARecord, TAttributeSearch& ASearch);

// The record's own $STANDARD_INFORMATION, when it holds the times and the
// attribute bits; it lives in the base record and in no other.
std::optional<PMFTStandardInformation> StandardInformationOf(TAttributeSearch& ASearch);
