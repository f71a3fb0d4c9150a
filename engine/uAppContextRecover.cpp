#include "engine/uAppContext.h"

#include "foundation/uSysPath.h"
#include "ntfs/uNTFSAttribute.h"
#include "platform/uRestorePath.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

constexpr std::int32_t kCopyBlockSize = 65536;
// Zeros are left as holes in pieces of this size, the block size of most
// Linux file systems.
constexpr std::size_t kHoleGrain = 4096;
// NTFS counts time in 100-nanosecond steps from 1 January 1601.
constexpr std::int64_t kFileTimeAt1970 = 116444736000000000;
constexpr std::int64_t kNanosecondsPerFileTimeStep = 100;
// Room left on the target beyond the data itself; decimal, as the message
// to the user counts bytes.
constexpr std::int64_t kFreeSpaceMargin = 1000000;
constexpr char kInsufficientSpace[] = "Insufficient free space on target drive. ";

std::string FolderOf(const std::string& APath) { return APath.substr(0, APath.rfind('/')); }

std::string NameOf(const std::string& APath) { return APath.substr(APath.rfind('/') + 1); }

// Byte positions within the file, first and last, as the user would look
// them up in the restored copy.
std::string ByteRangeText(const TByteRange& ARange) {
  return "Bytes " + std::to_string(ARange.Offset) + " to " + std::to_string(ARange.Offset + ARange.Length - 1);
}

// A file time as nanoseconds since 1970; nothing for a time never set (0)
// or one the target cannot hold.
std::optional<std::int64_t> UnixNanoseconds(std::int64_t AFileTime) {
  if (AFileTime <= 0)
    return std::nullopt;
  return CheckedMul<std::int64_t>(AFileTime - kFileTimeAt1970, kNanosecondsPerFileTimeStep);
}

// The modification and access times of a record's standard information.
std::optional<TFileTimes> TimesOf(PNTFSNode ANode) {
  const std::optional<std::int64_t> modified = UnixNanoseconds(ANode->ChangeTime);
  const std::optional<std::int64_t> accessed = UnixNanoseconds(ANode->LastAccessTime);
  if (!modified || !accessed)
    return std::nullopt;
  return TFileTimes{*modified, *accessed};
}

bool IsZero(const std::uint8_t* AData, std::size_t ASize) {
  return ASize == 0 || (AData[0] == 0 && std::memcmp(AData, AData + 1, ASize - 1) == 0);
}

// Writes the block with its zero pieces left as holes, so that the holes of
// a sparse file stay holes.
void WriteLeavingHoles(IOutputFile& AOutput, const std::uint8_t* AData, std::size_t ASize) {
  for (std::size_t piece = 0; piece < ASize;) {
    const std::size_t length = std::min(kHoleGrain, ASize - piece);
    const bool zero = IsZero(AData + piece, length);
    std::size_t end = piece + length;
    while (end < ASize && IsZero(AData + end, std::min(kHoleGrain, ASize - end)) == zero)
      end += std::min(kHoleGrain, ASize - end);
    if (zero)
      AOutput.Skip(end - piece);
    else
      AOutput.Write(AData + piece, end - piece);
    piece = end;
  }
}

// What the ticked files take on the target, holes left out.
std::int64_t StoredSizeOf(IExList& AChecked) {
  std::int64_t total = 0;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(AChecked))
    total = CheckedAdd(total, node->Data->StoredSize).value_or(std::numeric_limits<std::int64_t>::max());
  return total;
}

} // namespace

bool TNTFSRecoveryContext::HasFreeSpace(const std::u16string& AFolder, std::int64_t ASize) const {
  const std::optional<std::int64_t> freeBytes = FFileSystem->FreeBytesForUser(ToNativePath(AFolder));
  if (!freeBytes || ASize > std::numeric_limits<std::int64_t>::max() - kFreeSpaceMargin)
    return false;
  return ASize + kFreeSpaceMargin < *freeBytes;
}

void TNTFSRecoveryContext::ProcessRecover() {
  // Without a folder every path would be taken from the current folder.
  if (FTargetDir.empty())
    throw std::invalid_argument("No target folder is set for the recovery.");
  std::int64_t dataSize = 0;
  const IExListPtr checked = GetCheckedList(dataSize);
  const std::int64_t total = StoredSizeOf(*checked);
  if (!HasFreeSpace(FTargetDir, total) &&
      !FPrompt->AskWarningYesNo(kInsufficientSpace + std::to_string(total) +
                                " bytes required. Do you want to continue?"))
    return;

  TNTFSVolumeRef volume(NTFSVolumeInit(std::u16string{GetSourceDriveLetter(), u':'}));
  TProgressExLevel level("Recovering...", checked->Count(), "objects");
  try {
    std::int32_t done = 0;
    std::vector<PTreeItemInfo> folders;
    for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*checked)) {
      if (node->Data->IsDirectory)
        folders.push_back(node);
      // Folders, the synthetic ones included, only count as steps.
      if (node->Data->DirREF.Address() != 0 && !node->Data->IsDirectory) {
        try {
          RecoverFile(volume.Get(), node);
        } catch (const std::exception& error) {
          ProgressEx::Detail(pdsError, error.what());
        }
      }
      if (!ProgressEx::DoProgress(done))
        break;
      ++done;
    }
    if (FRestoreTimes && FRestoreMode == rmTree)
      RestoreFolderTimes(volume.Get(), folders);
  } catch (const std::exception& error) {
    FPrompt->ShowMessage(error.what());
  }
  if (!ProgressEx::IsCanceled())
    ProgressEx::Detail(pdsInformation, "Recovering completed.");
}

std::string TNTFSRecoveryContext::TargetPathOf(PTreeItemInfo ANode) const {
  const std::string targetDir = ToNativePath(FTargetDir);
  std::vector<std::u16string> names;
  if (FRestoreMode == rmTree)
    for (PItemInfo item : PathItems(ANode, false))
      names.push_back(item->Name);
  else
    names.push_back(ANode->Data->Name);
  return RestoredFilePath(targetDir, names, FFileSystem->MaxNameBytes(targetDir));
}

std::string TNTFSRecoveryContext::FreeNumberedPath(const std::string& APath) const {
  if (!FFileSystem->FileExists(APath))
    return APath;
  const std::string folder = FolderOf(APath);
  const std::string name = NameOf(APath);
  const std::size_t maxNameBytes = FFileSystem->MaxNameBytes(folder);
  for (std::int32_t number = 1; number < std::numeric_limits<std::int32_t>::max(); ++number) {
    std::string candidate = folder + '/' + NumberedFileName(name, number, maxNameBytes);
    if (!FFileSystem->FileExists(candidate))
      return candidate;
  }
  throw std::runtime_error("No free numbered name for \"" + APath + "\".");
}

void TNTFSRecoveryContext::RecoverFile(PNTFSVolume AVolume, PTreeItemInfo ANode) {
  const PItemInfo item = ANode->Data;
  if (!HasFreeSpace(FTargetDir, item->StoredSize)) {
    ProgressEx::Detail(pdsError, kInsufficientSpace + std::to_string(item->StoredSize) + " bytes required.");
    // Cancels the "Recovering..." level: the walk stops after this file.
    ProgressEx::Cancel();
    return;
  }
  std::string path = TargetPathOf(ANode);
  if (FResolveConflictMode == rcmDontSave && FFileSystem->FileExists(path)) {
    ProgressEx::Detail(pdsWarning, "Skip file " + path + ". (Already exists)");
    return;
  }

  TNTFSNodeRef node(AVolume, item->MFTNumber);
  TMemHolder buffer(kCopyBlockSize);
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data, 0))
    return;
  const std::string folder = FolderOf(path);
  if (!FFileSystem->DirectoryExists(folder))
    FFileSystem->ForceDirectories(folder);
  if (FResolveConflictMode == rcmRename)
    path = FreeNumberedPath(path);

  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  const bool existed = FFileSystem->FileExists(path);
  const IOutputFilePtr output = FFileSystem->CreateOutputFile(path);
  TProgressExLevel level((existed ? "Overwrite file " : "Create file ") + path, stream->Size(), "bytes");
  // EFS data cannot be decrypted without its owner's keys; the copy is
  // still worth having, but the user must know it is not readable as such.
  if (NTFSAttribute::IsEncrypted(search.Rec().AttributeRecord))
    ProgressEx::Detail(pdsWarning, "File " + path + " was encrypted; its content is restored in encrypted form.");
  CopyStream(*stream, *output, buffer);
  if (FRestoreTimes)
    if (const std::optional<TFileTimes> times = TimesOf(node.Get()))
      output->SetTimes(*times);
  output->Close();
}

void TNTFSRecoveryContext::RestoreFolderTimes(PNTFSVolume AVolume, const std::vector<PTreeItemInfo>& ANodes) const {
  for (auto node = ANodes.rbegin(); node != ANodes.rend(); ++node) {
    const PItemInfo item = (*node)->Data;
    // The drive folder and the orphans folder stand for the target itself.
    if (item->DirREF.Address() == 0)
      continue;
    const std::string path = TargetPathOf(*node);
    try {
      if (!FFileSystem->DirectoryExists(path))
        continue;
      const TNTFSNodeRef record(AVolume, item->MFTNumber);
      if (const std::optional<TFileTimes> times = TimesOf(record.Get()))
        FFileSystem->SetFolderTimes(path, *times);
    } catch (const std::exception& error) {
      ProgressEx::Detail(pdsWarning, error.what());
    }
  }
}

void TNTFSRecoveryContext::CopyStream(IStreamEx& AStream, IOutputFile& AOutput, TMemHolder& ABuffer) {
  for (std::int64_t position = 0;;) {
    const std::int64_t read = std::min<std::int64_t>(AStream.Read(position, ABuffer.Size(), ABuffer.Ptr()),
                                                     ABuffer.Size());
    if (read <= 0)
      break;
    WriteLeavingHoles(AOutput, static_cast<const std::uint8_t*>(ABuffer.Ptr()), static_cast<std::size_t>(read));
    position += read;
    // A cancel keeps what was written; the file's level hands it on to
    // "Recovering..." when it closes.
    if (!ProgressEx::DoProgress(position))
      break;
  }
  // A bad sector does not stop the restore: its bytes became zeros, and the
  // file's own line says which ones. So does a run list that breaks off.
  for (const TByteRange& range : UnreadRangesOf(AStream))
    ProgressEx::Detail(pdsWarning,
                       ByteRangeText(range) + " could not be read from the source drive and were written as zeros.");
  for (const TByteRange& range : NoRunsRangesOf(AStream))
    ProgressEx::Detail(pdsWarning, ByteRangeText(range) + " have no data runs and were written as zeros.");
}
