#include "engine/uAppContext.h"

#include "engine/uClusterBitmap.h"
#include "engine/uRestoreTargets.h"
#include "foundation/uSysPath.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"
#include "platform/uRestorePath.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

constexpr std::int32_t kCopyBlockSize = 65536;
// Zeros are left as holes in pieces of this size, the block size of most
// Linux file systems.
constexpr std::size_t kHoleGrain = 4096;
// Room left on the target beyond the data itself; decimal, as the message
// to the user counts bytes.
constexpr std::int64_t kFreeSpaceMargin = 1000000;
constexpr char kInsufficientSpace[] = "Insufficient free space on target drive. ";

// Byte positions within the file, first and last, as the user would look
// them up in the restored copy.
std::string ByteRangeText(const TByteRange& ARange) {
  return "Bytes " + std::to_string(ARange.Offset) + " to " + std::to_string(ARange.Offset + ARange.Length - 1);
}

std::string PartialMessage(const std::string& APath, std::int64_t AWritten, std::int64_t ASize) {
  return "File " + APath + " is partial: " + std::to_string(AWritten) + " of " + std::to_string(ASize) +
         " bytes were written.";
}

bool IsFileNode(PTreeItemInfo ANode) {
  // Folders, the synthetic ones included, only count as steps.
  return ANode->Data->DirREF.Address() != 0 && !ANode->Data->IsDirectory;
}

// The modification and access times of a record's standard information,
// each one only when it was set.
TFileTimes TimesOf(PNTFSNode ANode) {
  return {NTFSUtils::Int64TimeToUnixTime(ANode->ChangeTime), NTFSUtils::Int64TimeToUnixTime(ANode->LastAccessTime)};
}

bool HasAny(const TFileTimes& ATimes) { return ATimes.Modified || ATimes.Accessed; }

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

// Up to AMaxBytes from the start of AStream; ALevel, when given, counts the
// bytes read and a cancel there keeps what was read so far.
std::string ReadStreamStart(IStreamEx& AStream, std::int64_t AMaxBytes, std::optional<TProgressExLevel>& ALevel) {
  std::string bytes(static_cast<std::size_t>(std::clamp<std::int64_t>(AStream.Size(), 0, AMaxBytes)), '\0');
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::int64_t wanted = std::min<std::int64_t>(kCopyBlockSize, bytes.size() - position);
    const std::int64_t read =
        std::min(AStream.Read(static_cast<std::int64_t>(position), wanted, bytes.data() + position), wanted);
    if (read <= 0)
      break;
    position += static_cast<std::size_t>(read);
    if (ALevel && !ProgressEx::DoProgress(static_cast<std::int64_t>(position)))
      break;
  }
  bytes.resize(position);
  return bytes;
}

// Why a stream that could not become an extended attribute went into a
// file of its own, as the log line ends.
// Between a file's name and its stream's in the name of the stream's file
// where the target refuses ":", as FAT does.
constexpr char kRefusedStreamSeparator = '_';

std::string SidecarReason(TXattrOutcome AOutcome, std::int64_t ASize) {
  if (AOutcome == TXattrOutcome::xoNotSupported)
    return "the target's file system takes no extended attributes";
  if (ASize > static_cast<std::int64_t>(MaxXattrValueBytes))
    return "it is larger than the " + std::to_string(MaxXattrValueBytes) + " bytes an extended attribute can hold";
  return "it does not fit the room the target's file system keeps for extended attributes";
}

struct TStreamFile {
  TRestoreTargets::TFilePlan Plan;
  IOutputFilePtr Output; // none when the conflict rule says skip
};

// The file beside AFile that takes its stream AStream: "file:stream", or
// "file_stream" where the target refuses ":", which AReason then tells.
TStreamFile CreateStreamFile(TRestoreTargets& ATargets, const TRestoreTargets::TFilePlan& AFile,
                             std::u16string_view AStream, std::string& AReason) {
  TStreamFile file{ATargets.PlanStreamFile(AFile, AStream), nullptr};
  try {
    if (!file.Plan.Skip)
      file.Output = ATargets.CreateFile(file.Plan);
  } catch (const TNameRefusedError&) {
    file.Plan = ATargets.PlanStreamFile(AFile, AStream, kRefusedStreamSeparator);
    AReason += "; the target's file system takes no \":\" in file names";
    if (!file.Plan.Skip)
      file.Output = ATargets.CreateFile(file.Plan);
  }
  return file;
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
  // A folder that can take no file at all is named for what it is before
  // its free space is asked about.
  const std::string targetDir = ToNativePath(FTargetDir);
  const ITargetFolderPtr target = FFileSystem->OpenTargetFolder(targetDir, SourceIdentity());
  const std::int64_t total = StoredSizeOf(*checked);
  if (!HasFreeSpace(FTargetDir, total) &&
      !FPrompt->AskWarningYesNo(kInsufficientSpace + std::to_string(total) +
                                " bytes required. Do you want to continue?"))
    return;

  TNTFSVolumeRef volume(OpenSourceVolume());
  FRestoreInUse.reset();
  TRestoreTargets targets(*target, FRestoreMode, FResolveConflictMode, FFileSystem->MaxNameBytes(targetDir));
  TRecoverTally tally;
  TProgressExLevel level("Recovering...", checked->Count(), "objects");
  try {
    std::int32_t done = 0;
    std::vector<PTreeItemInfo> folders;
    for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*checked)) {
      if (node->Data->IsDirectory)
        folders.push_back(node);
      if (IsFileNode(node)) {
        ++tally.Files;
        try {
          RecoverFile(VolumeOf(*node->Data, volume.Get()), node, targets, tally);
        } catch (const std::exception& error) {
          ProgressEx::Detail(pdsError, error.what());
        }
      }
      if (!ProgressEx::DoProgress(done))
        break;
      ++done;
    }
    if (FRestoreTimes && FRestoreMode == rmTree)
      RestoreFolderTimes(volume.Get(), folders, targets, tally);
  } catch (const std::exception& error) {
    FPrompt->ShowMessage(error.what());
  }
  ReportTally(tally, *checked);
}

void TNTFSRecoveryContext::ReportTally(const TRecoverTally& ATally, IExList& AChecked) const {
  std::int64_t files = 0;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(AChecked))
    files += IsFileNode(node);
  // A stop for want of space or a cancel leaves the rest of the ticked files
  // unwritten; the user must know how many.
  if (const std::int64_t leftOut = files - ATally.Files + ATally.LeftOut; leftOut > 0)
    ProgressEx::Detail(pdsWarning, "Ticked files not restored: " + std::to_string(leftOut) + " of " +
                                       std::to_string(files) + ".");
  if (ATally.WithZeros > 0)
    ProgressEx::Detail(pdsError, "Files restored with zeros for bytes that could not be read or have no data runs: " +
                                     std::to_string(ATally.WithZeros) + ".");
  if (ATally.TimesNotHeld > 0)
    ProgressEx::Detail(pdsWarning, "Times that the target folder's file system cannot hold were not restored: " +
                                       std::to_string(ATally.TimesNotHeld) + " files and folders.");
  if (!ProgressEx::IsCanceled())
    ProgressEx::Detail(pdsInformation, "Recovering completed.");
}

void TNTFSRecoveryContext::RecoverFile(PNTFSVolume AVolume, PTreeItemInfo ANode, TRestoreTargets& ATargets,
                                       TRecoverTally& ATally) {
  const PItemInfo item = ANode->Data;
  if (!HasFreeSpace(FTargetDir, item->StoredSize)) {
    ProgressEx::Detail(pdsError, kInsufficientSpace + std::to_string(item->StoredSize) + " bytes required.");
    ++ATally.LeftOut;
    // Cancels the "Recovering..." level: the walk stops after this file.
    ProgressEx::Cancel();
    return;
  }
  const TRestoreTargets::TFilePlan plan = ATargets.PlanFile(ANode);
  if (plan.Skip) {
    ProgressEx::Detail(pdsWarning, "Skip file " + plan.Path + ". (Already exists)");
    return;
  }

  TNTFSNodeRef node(AVolume, item->MFTNumber);
  TMemHolder buffer(kCopyBlockSize);
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data, 0))
    return;

  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec(), TakenRunsOf(item));
  const IOutputFilePtr output = ATargets.CreateFile(plan);
  TProgressExLevel level((plan.Replace ? "Overwrite file " : "Create file ") + plan.Path, stream->Size(), "bytes");
  // EFS data cannot be decrypted without its owner's keys; the copy is
  // still worth having, but the user must know it is not readable as such.
  if (NTFSAttribute::IsEncrypted(search.Rec().AttributeRecord))
    ProgressEx::Detail(pdsWarning, "File " + plan.Path + " was encrypted; its content is restored in encrypted form.");
  std::int64_t written = 0;
  bool canceled = false;
  try {
    canceled = !CopyStream(*stream, *output, buffer, written);
    if (FRestoreStreams && !canceled)
      RecoverStreams(AVolume, item, plan, *output, ATargets, buffer);
    if (const TFileTimes times = TimesOf(node.Get()); FRestoreTimes && HasAny(times))
      ATally.TimesNotHeld += !output->SetTimes(times);
    output->Close();
  } catch (const std::exception& error) {
    ProgressEx::Detail(pdsError, error.what());
    ProgressEx::Detail(pdsError, PartialMessage(plan.Path, written, stream->Size()));
    return;
  }
  if (canceled && written < stream->Size())
    ProgressEx::Detail(pdsWarning, PartialMessage(plan.Path, written, stream->Size()));
  // A bad sector does not stop the restore: its bytes became zeros, and the
  // file's own line says which ones. So does a run list that breaks off.
  const std::vector<TByteRange> unread = UnreadRangesOf(*stream);
  for (const TByteRange& range : unread)
    ProgressEx::Detail(pdsWarning,
                       ByteRangeText(range) + " could not be read from the source drive and were written as zeros.");
  const std::vector<TByteRange> noRuns = NoRunsRangesOf(*stream);
  for (const TByteRange& range : noRuns)
    ProgressEx::Detail(pdsWarning, ByteRangeText(range) + " have no data runs and were written as zeros.");
  ATally.WithZeros += !unread.empty() || !noRuns.empty();
}

void TNTFSRecoveryContext::RecoverStreams(PNTFSVolume AVolume, PItemInfo AItem, const TRestoreTargets::TFilePlan& APlan,
                                          IOutputFile& AOutput, TRestoreTargets& ATargets, TMemHolder& ABuffer) {
  TNTFSNodeRef node(AVolume, AItem->MFTNumber);
  TAttributeSearch search(node.Get());
  for (bool found = search.FindFirst(AttributeType::Data); found; found = search.FindNext()) {
    if (!NTFSAttribute::IsNamedStreamStart(search.Rec().AttributeRecord))
      continue;
    try {
      RecoverStream(search.Rec(), StreamLostPercent(AVolume, AItem, search.Rec()), APlan, AOutput, ATargets, ABuffer);
    } catch (const std::exception& error) {
      ProgressEx::Detail(pdsError, error.what());
    }
  }
}

double TNTFSRecoveryContext::StreamLostPercent(PNTFSVolume AVolume, PItemInfo AItem,
                                               const TAttributeSearchRec& AStream) {
  const PMFTAttributeRecord& attribute = AStream.AttributeRecord;
  if (NTFSAttribute::IsResident(attribute) || AVolume->ClusterSize <= 0)
    return 0;
  if (!FRestoreInUse)
    FRestoreInUse = std::make_shared<const TClusterBitmap>(AVolume);
  const IMFTRunListPtr runList = MFTRunList::New();
  NTFSAttribute::RunListBuild(AStream, runList);
  std::vector<RunListElement> runs;
  std::int64_t covered = 0;
  for (std::int32_t i = 0; i < runList->ItemCount(); ++i) {
    runs.push_back(runList->Item(i));
    covered = CheckedAdd(covered, runs.back().Length).value_or(std::numeric_limits<std::int64_t>::max());
  }
  const std::int64_t size = NTFSAttribute::GetAttributeDataSize(attribute);
  const std::int64_t needed = size / AVolume->ClusterSize + (size % AVolume->ClusterSize != 0);
  return LostPercentOf(runs, AItem, std::max<std::int64_t>(0, needed - covered), covered, *FRestoreInUse);
}

void TNTFSRecoveryContext::RecoverStream(const TAttributeSearchRec& AStream, double ALostPercent,
                                         const TRestoreTargets::TFilePlan& APlan, IOutputFile& AOutput,
                                         TRestoreTargets& ATargets, TMemHolder& ABuffer) {
  const std::u16string name = NTFSAttribute::AttributeName(AStream.AttributeRecord);
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(AStream);
  std::array<char, 32> percent{};
  const auto printed =
      std::to_chars(percent.data(), percent.data() + percent.size(), ALostPercent, std::chars_format::fixed, 2);
  const std::string shown = "Stream \"" + ToNativePath(name) + "\" of " + APlan.Path + " (" +
                            std::to_string(stream->Size()) + " bytes, estimated " +
                            std::string(percent.data(), printed.ptr) + "% overwritten)";
  TXattrOutcome outcome = TXattrOutcome::xoTooLarge;
  if (stream->Size() <= static_cast<std::int64_t>(MaxXattrValueBytes)) {
    const std::string attribute = "user." + ToNativePath(name);
    std::optional<TProgressExLevel> quiet;
    outcome = AOutput.SetExtendedAttribute(attribute, ReadStreamStart(*stream, stream->Size(), quiet));
    if (outcome == TXattrOutcome::xoSet) {
      ProgressEx::Detail(pdsInformation, shown + " restored as extended attribute \"" + attribute + "\".");
      return;
    }
  }
  std::string reason = SidecarReason(outcome, stream->Size());
  const TStreamFile file = CreateStreamFile(ATargets, APlan, name, reason);
  const TRestoreTargets::TFilePlan& plan = file.Plan;
  if (!file.Output) {
    ProgressEx::Detail(pdsWarning, "Skip file " + plan.Path + ". (Already exists)");
    return;
  }
  IOutputFile* output = file.Output.get();
  TProgressExLevel level("Create file " + plan.Path, stream->Size(), "bytes");
  std::int64_t written = 0;
  const bool canceled = !CopyStream(*stream, *output, ABuffer, written);
  output->Close();
  if (canceled && written < stream->Size())
    ProgressEx::Detail(pdsWarning, PartialMessage(plan.Path, written, stream->Size()));
  ProgressEx::Detail(pdsInformation, shown + " restored as file \"" + plan.Path + "\": " + reason + ".");
}

void TNTFSRecoveryContext::RestoreFolderTimes(PNTFSVolume AVolume, const std::vector<PTreeItemInfo>& ANodes,
                                              TRestoreTargets& ATargets, TRecoverTally& ATally) const {
  // Deepest first: writing into a folder changes its times.
  for (auto node = ANodes.rbegin(); node != ANodes.rend(); ++node) {
    try {
      const std::optional<std::string> folder = ATargets.MadeFolder(*node);
      // A folder made for what came back from the Recycle Bin has no record.
      if (!folder || (*node)->Data->FromRecycleBin)
        continue;
      const TNTFSNodeRef record(VolumeOf(*(*node)->Data, AVolume), (*node)->Data->MFTNumber);
      if (const TFileTimes times = TimesOf(record.Get()); HasAny(times))
        ATally.TimesNotHeld += !ATargets.SetFolderTimes(*folder, times);
    } catch (const std::exception& error) {
      ProgressEx::Detail(pdsWarning, error.what());
    }
  }
}

std::string TNTFSRecoveryContext::ReadFileStart(PTreeItemInfo ANode, std::int64_t AMaxBytes) {
  const PItemInfo item = ANode ? ANode->Data : nullptr;
  // The two synthetic folders have no record of their own.
  if (!item || item->IsDirectory || item->DirREF.Address() == 0 || AMaxBytes <= 0)
    return {};
  TNTFSVolumeRef volume(OpenSourceVolume());
  return ReadDataStart(VolumeOf(*item, volume.Get()), item->MFTNumber.Address(), TakenRunsOf(item), AMaxBytes,
                       TReading::Shown);
}

std::string TNTFSRecoveryContext::ReadDataStart(PNTFSVolume AVolume, std::int64_t ARecord,
                                                const IMFTRunListPtr& ATakenRuns, std::int64_t AMaxBytes,
                                                TReading AReading) const {
  TNTFSNodeRef node(AVolume, MFT_REF::Build(ARecord));
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data, 0))
    return {};
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec(), ATakenRuns);
  std::optional<TProgressExLevel> level;
  if (AReading == TReading::Shown)
    level.emplace("Reading...", std::clamp<std::int64_t>(stream->Size(), 0, AMaxBytes), "bytes");
  return ReadStreamStart(*stream, AMaxBytes, level);
}

bool TNTFSRecoveryContext::CopyStream(IStreamEx& AStream, IOutputFile& AOutput, TMemHolder& ABuffer,
                                      std::int64_t& APosition) {
  for (;;) {
    const std::int64_t read = std::min<std::int64_t>(AStream.Read(APosition, ABuffer.Size(), ABuffer.Ptr()),
                                                     ABuffer.Size());
    if (read <= 0)
      return true;
    WriteLeavingHoles(AOutput, static_cast<const std::uint8_t*>(ABuffer.Ptr()), static_cast<std::size_t>(read));
    APosition += read;
    // A cancel keeps what was written; the file's level hands it on to
    // "Recovering..." when it closes.
    if (!ProgressEx::DoProgress(APosition))
      return false;
  }
}
