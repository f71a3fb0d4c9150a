#include "engine/uAppContext.h"

#include "engine/uContentType.h"
#include "engine/uRecycleInfo.h"
#include "engine/uScannedName.h"
#include "foundation/uUnicode.h"
#include "ntfs/uFSError.h"
#include "ntfs/uMFTReader.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace {

constexpr std::int64_t kOrphansRecord = 1;
constexpr char16_t kOrphansName[] = u"???";
// Enough of a file's start for every signature libmagic knows by its first bytes.
constexpr std::size_t kSniffedBytes = 4096;

// When a record last wrote: the later of its data and its record change
// times. A file created early and grown late took its new clusters late,
// which its name's times (set when it was named) do not tell. A record
// without standard information falls back on its name's change time, else
// 0. Kept below ClaimHeldNow, which only records in use are dated.
std::int64_t LastWriteOf(const std::optional<PMFTStandardInformation>& ATimes,
                         const std::optional<TScannedName>& AFileName) {
  const std::int64_t written = ATimes ? std::max(ATimes->ModificationTime(), ATimes->RecordChangeTime())
                               : AFileName ? AFileName->ChangeTime
                                           : 0;
  return std::min(written, ClaimHeldNow - 1);
}

// A deleted record without any name is still worth listing when it is a
// file's base record (it has the standard information only base records
// have) with the start of its data.
bool IsNamelessFile(TAttributeSearch& ASearch, const std::optional<PMFTStandardInformation>& ATimes) {
  return ATimes && ASearch.FindFirst(AttributeType::Data, 0) &&
         (NTFSAttribute::IsResident(ASearch.Rec().AttributeRecord) || ASearch.Rec().AttributeRecord.LowVCN() == 0);
}

// What a file found without a name is listed as: "record-" and its record
// number, with the extension its first bytes suggest ("record-65.jpeg").
std::u16string NamelessName(PNTFSVolume AVolume, std::int64_t ANumber) {
  std::string name = "record-" + std::to_string(ANumber);
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ANumber));
  TAttributeSearch search(node.Get());
  if (search.FindFirst(AttributeType::Data, 0)) {
    try {
      const IStreamExPtr data = NTFSAttribute::GetDataStream(search.Rec());
      std::array<std::uint8_t, kSniffedBytes> head{};
      const std::int64_t read = std::clamp<std::int64_t>(data->Read(0, head.size(), head.data()), 0, head.size());
      const std::string extension = GuessExtension(head.data(), static_cast<std::size_t>(read));
      if (!extension.empty())
        name += "." + extension;
    } catch (const CompressedDataException&) {
      // Compressed by a method no writer uses: there is nothing to guess from.
    }
  }
  return std::u16string(name.begin(), name.end());
}

// ntfs-3g frees the extension record that holds a deleted file's name, but
// leaves the name's bytes in it: a deleted record with an attribute list may
// still find its name there. The log says which names came from where.
std::optional<TScannedName> FormerFileNameOf(std::int64_t ANumber, PNTFSNode ANode) {
  const std::optional<TFormerFileName> former = NTFSAttribute::FormerFileName(ANode);
  if (!former)
    return std::nullopt;
  TScannedName name = ScannedName(PMFTFilenameAttribute(TByteView(former->Content.data(), former->Content.size())));
  ProgressEx::Detail(pdsInformation, "MFT record " + std::to_string(ANumber) + " takes its name \"" +
                                         ToNativePath(name.Name) + "\" from the freed extension record " +
                                         std::to_string(former->Record) + ".");
  return name;
}

// The bytes AClusters clusters hold; as many as can be counted when that
// overflows.
std::int64_t MappedBytes(std::int64_t AClusters, std::uint32_t AClusterSize) {
  return CheckedMul<std::int64_t>(AClusters, AClusterSize).value_or(std::numeric_limits<std::int64_t>::max());
}

std::string HexOf(std::uint32_t AValue) {
  char digits[8];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), AValue, 16).ptr;
  return "0x" + std::string(digits, end);
}

// Damage a FILE record shows, one warning each: sectors of a torn write
// (the record is still read, as it came), and attributes whose form does
// not hold together (every search passes over them).
void ReportDamage(std::int64_t ANumber, const TMFTRecordBlock& ABlock, std::int64_t AIndex) {
  const std::vector<std::uint32_t> tornSectors = ABlock.TornSectors(AIndex);
  const std::vector<TAttributeDamage> damaged = ABlock.DamagedAttributes(AIndex);
  if (tornSectors.empty() && damaged.empty())
    return;
  const std::string record = "MFT record " + std::to_string(ANumber);
  for (const std::uint32_t sector : tornSectors) {
    const std::uint64_t first = std::uint64_t{sector} * NTFSUtils::FixupStride;
    ProgressEx::Detail(pdsWarning, record + " was torn while being written: its sector " + std::to_string(sector) +
                                       " (bytes " + std::to_string(first) + " to " +
                                       std::to_string(first + NTFSUtils::FixupStride - 1) +
                                       ") does not carry the update sequence number.");
  }
  for (const TAttributeDamage& damage : damaged)
    ProgressEx::Detail(pdsWarning, record + ": the attribute of type " + HexOf(damage.TypeCode) + " at offset " +
                                       std::to_string(damage.Offset) + " is skipped: " + damage.Problem + ".");
}

// Runs of MFT records the device could not deliver whole, one log line per
// run, so that a bad region of the MFT does not flood the log.
class TUnreadRecordLog {
public:
  // ACount records from AFirst on, joined to the pending run when they follow it.
  void Add(std::int64_t AFirst, std::int64_t ACount) {
    if (FCount > 0 && FFirst + FCount == AFirst) {
      FCount += ACount;
      return;
    }
    Flush();
    FFirst = AFirst;
    FCount = ACount;
  }

  void Flush() {
    if (FCount == 0)
      return;
    const std::string records = FCount == 1 ? "MFT record " + std::to_string(FFirst)
                                            : "MFT records " + std::to_string(FFirst) + " to " +
                                                  std::to_string(FFirst + FCount - 1);
    FCount = 0;
    ProgressEx::Detail(pdsWarning, records + " could not be read from the source drive.");
  }

private:
  std::int64_t FFirst = 0;
  std::int64_t FCount = 0;
};

} // namespace

PItemInfo TNTFSRecoveryContext::NewItem(const IExListPtr& AList, MFT_REF AMFTNumber, MFT_REF ADirREF,
                                        const std::u16string& AName, bool AIsDirectory, bool AIsDeleted) {
  auto item = std::make_unique<TItemInfo>();
  item->Owner = AList.get();
  item->Name = AName;
  item->MFTNumber = AMFTNumber;
  item->DirREF = ADirREF;
  item->IsDirectory = AIsDirectory;
  item->IsDeleted = AIsDeleted;
  ListAdd(*AList, item.get());
  return item.release();
}

void TNTFSRecoveryContext::ProcessScan() {
  Clear();
  const std::u16string driveName = SourceDriveName();
  TNTFSVolumeRef volume(OpenSourceVolume());
  NoteUnreadableClusters(volume.Get(), *FSource->Source());
  TProgressExLevel level("Scanning...", 3, "");
  for (const std::string& note : volume->OpeningNotes)
    ProgressEx::Detail(pdsWarning, note);
  try {
    NewItem(FRootItems, volume->RootDirRef, MFT_REF{}, driveName, true, false)->SequenceNumber =
        volume->RootDirRef.Number();
    NewItem(FRootItems, MFT_REF::Build(kOrphansRecord), MFT_REF{}, kOrphansName, true, true);
    // Every stage runs, even after a cancel: a stopped record pass keeps
    // what it found, and that still gets its tree.
    ScanDrive(volume.Get(), FItems);
    PlaceRecycledItems(volume.Get());
    ProgressEx::DoProgress(1);
    AnalyzeItems(volume.Get());
    ScanSnapshots(volume.Get());
    ProgressEx::DoProgress(2);
    PrepareView(FRootItems, FItems, FMask, FTreeItems);
    ProgressEx::DoProgress(3);
  } catch (const std::exception& error) {
    FPrompt->ShowMessage(error.what());
    Clear();
  }
  if (!ProgressEx::IsCanceled())
    ProgressEx::Detail(pdsInformation, "Scanning completed.");
}

void TNTFSRecoveryContext::ScanDrive(PNTFSVolume AVolume, const IExListPtr& AList) {
  FDriveMap->SetClusterCount(AVolume->NumberOfClusters);
  const IMFTRunListPtr runs = MFTRunList::New();
  TProgressExLevel level("Scanning drive...", AVolume->MFTRecordCount, "records");
  TUnreadRecordLog unread;
  TMFTRecordReader reader(AVolume, AVolume->MFTRecordCount);
  bool goOn = true;
  // While a failing disk keeps the next block away, the views still hear
  // from the pass, and a cancel they hear stops the reading.
  while (const TMFTRecordBlock* block = goOn ? reader.Next(ProgressEx::KeepAlive) : nullptr) {
    for (std::int64_t i = 0; goOn && i < block->Count(); ++i) {
      const std::int64_t number = block->FirstRecord() + i;
      if (block->WasUnread(i))
        unread.Add(number, 1);
      const TByteView record = block->Record(i);
      ReportDamage(number, *block, i);
      ScanRecord(AVolume, number, record, AList, runs);
      goOn = ProgressEx::DoProgress(number);
    }
  }
  // Records the MFT claims beyond what the device can hold cannot be read,
  // whether or not the pass got that far.
  if (AVolume->MFTRecordsClaimed > AVolume->MFTRecordCount)
    unread.Add(AVolume->MFTRecordCount, AVolume->MFTRecordsClaimed - AVolume->MFTRecordCount);
  unread.Flush();
  TakeFreedExtents(AVolume);
}

void TNTFSRecoveryContext::ScanRecord(PNTFSVolume AVolume, std::int64_t ANumber, TByteView ARecord,
                                      const IExListPtr& AList, const IMFTRunListPtr& ARunList) {
  const PMFTRecord header(ARecord);
  if (!header.IsFileRecord())
    return;
  // Extension records are reached through their base record's attribute
  // list; a freed one is noted for the base record it names, whose list may
  // no longer name it.
  if (header.BaseMFTRecord().Value != 0) {
    NoteExtension(ANumber, header);
    return;
  }
  const bool inUse = (header.Flags() & MFT_RECORD_IN_USE) != 0;
  const bool isFolder = (header.Flags() & MFT_RECORD_IS_DIRECTORY) != 0;

  TAttributeSearch search(AVolume, MFT_REF::Build(ANumber), ARecord);
  std::optional<TScannedName> fileName = FileNameOf(ARecord, search);
  if (!fileName && !inUse && search.Rec().Node != nullptr)
    fileName = FormerFileNameOf(ANumber, search.Rec().Node);
  const std::optional<PMFTStandardInformation> times = StandardInformationOf(search);
  const std::int64_t lastWrite = LastWriteOf(times, fileName);
  PItemInfo item = nullptr;
  // Live files are not collected; the root folder, its own parent, is
  // represented by the drive folder.
  if ((isFolder || !inUse) && fileName && fileName->DirREF.Address() != ANumber) {
    item = NewItem(AList, MFT_REF::Build(ANumber), fileName->DirREF, fileName->Name, isFolder, !inUse);
    item->SequenceNumber = header.SequenceNumber();
    item->DataSize = fileName->DataSize;
    item->Attributes = fileName->FileAttributes;
    item->CreationTime = fileName->CreationTime;
    item->ChangeTime = lastWrite;
  } else if (!inUse && !isFolder && !fileName && IsNamelessFile(search, times)) {
    item = NewItem(AList, MFT_REF::Build(ANumber), MFT_REF::Build(kOrphansRecord), NamelessName(AVolume, ANumber),
                   false, true);
    item->SequenceNumber = header.SequenceNumber();
    item->Attributes = times->FileAttributes();
    item->CreationTime = times->CreationTime();
    item->ChangeTime = lastWrite;
  } else if (inUse && !isFolder && fileName && IsRecycleName(fileName->Name, u'I')) {
    FLiveRecycleInfos.push_back({ANumber, fileName->DirREF, fileName->Name});
  }

  if (item && search.FindFirst(AttributeType::Data, 0))
    TakeData(AVolume, item, search.Rec(), ARunList);

  // Every record's clusters count. What a record in use holds (a live
  // file's data, a folder's index, the MFT, the metafiles) is taken now,
  // whenever the record was written; a deleted record's claims count only
  // against what was deleted before it last wrote. The same walk counts an
  // item's named data streams.
  const std::int64_t claimDate = inUse ? ClaimHeldNow : lastWrite;
  for (bool found = search.FindFirst(AttributeType::Any, 0); found; found = search.FindNext()) {
    if (item)
      item->NamedStreams += NTFSAttribute::IsNamedStreamStart(search.Rec().AttributeRecord);
    if (NTFSAttribute::IsResident(search.Rec().AttributeRecord))
      continue;
    ARunList->Clear();
    NTFSAttribute::RunListBuild(search.Rec(), ARunList);
    for (std::int32_t i = 0; i < ARunList->ItemCount(); ++i) {
      std::int64_t first = 0, last = 0;
      if (RunClusters(ARunList->Item(i), first, last))
        FDriveMap->AddUsing(first, last, item, claimDate, ANumber);
    }
  }
}

void TNTFSRecoveryContext::TakeData(PNTFSVolume AVolume, PItemInfo AItem, const TAttributeSearchRec& AData,
                                    const IMFTRunListPtr& ARunList) {
  const PMFTAttributeRecord& attribute = AData.AttributeRecord;
  AItem->DataSize = NTFSAttribute::GetAttributeDataSize(attribute);
  AItem->StoredSize = AItem->DataSize;
  if (AItem->IsDirectory || NTFSAttribute::IsResident(attribute))
    return;
  ARunList->Clear();
  NTFSAttribute::RunListBuild(AData, ARunList);
  FDataRuns.Keep(AItem, *ARunList);
  const std::size_t kept = FDataRuns.Count() - 1;
  const bool compressed = NTFSAttribute::IsCompressed(attribute);
  if (MappedBytes(ARunList->VCNCount(), AVolume->ClusterSize) < AItem->DataSize) {
    const TByteView name = attribute.Name();
    FShortData.push_back({kept, AItem->DataSize, compressed, {name.Data(), name.Data() + name.Size()}});
  }
  SizeByKeptRuns(kept, AItem->DataSize, compressed, AVolume->ClusterSize);
}

void TNTFSRecoveryContext::SizeByKeptRuns(std::size_t AKept, std::int64_t ADataSize, bool ACompressed,
                                          std::uint32_t AClusterSize) {
  const PItemInfo item = FDataRuns.Item(AKept);
  // Reading ends where the runs end: a damaged or crafted size beyond them
  // must not make the restore ask for room it will never fill.
  item->DataSize = std::min(ADataSize, MappedBytes(FDataRuns.VCNCount(AKept), AClusterSize));
  // A compressed file's runs without clusters are what compression saved,
  // which the restored copy needs again; a sparse file's are holes, which
  // it keeps.
  if (ACompressed) {
    item->StoredSize = item->DataSize;
    return;
  }
  std::int64_t stored = 0;
  for (const RunListElement& run : FDataRuns.Runs(AKept))
    if (run.LCN != 0)
      stored = CheckedAdd(stored, run.Length).value_or(std::numeric_limits<std::int64_t>::max());
  item->StoredSize = std::min(item->DataSize, MappedBytes(stored, AClusterSize));
}

void TNTFSRecoveryContext::NoteExtension(std::int64_t ANumber, const PMFTRecord& AHeader) {
  if ((AHeader.Flags() & MFT_RECORD_IN_USE) == 0)
    FFreedExtensions.emplace_back(AHeader.BaseMFTRecord().Address(), ANumber);
}

// ntfs-3g frees a deleted file's extension records with their extents as
// they were, but its attribute list no longer names the last of them: they
// are found by the base record their headers name, and chained by VCN, each
// where the runs so far end. Each record is read once: a crafted volume may
// name one base record from every record it has.
void TNTFSRecoveryContext::TakeFreedExtents(PNTFSVolume AVolume) {
  std::sort(FFreedExtensions.begin(), FFreedExtensions.end());
  TMemHolder record(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  const TByteView block(record.Ptr(), static_cast<std::size_t>(record.Size()));
  for (const TShortData& data : FShortData) {
    const PItemInfo item = FDataRuns.Item(data.Kept);
    const std::int64_t number = item->MFTNumber.Address();
    const auto first =
        std::lower_bound(FFreedExtensions.begin(), FFreedExtensions.end(), std::pair{number, std::int64_t{0}});
    // The sound extents of the records that name the file as their base,
    // by the VCN each starts at, with the record holding it.
    std::map<NTFS_VCN, std::pair<std::int64_t, std::vector<RunListElement>>> extents;
    for (auto candidate = first; candidate != FFreedExtensions.end() && candidate->first == number; ++candidate) {
      NTFSUtils::GetMFTRecord(AVolume, MFT_REF::Build(candidate->second), record.Ptr());
      if (!NTFSAttribute::IsFreedExtension(PMFTRecord(block), number, item->SequenceNumber))
        continue;
      for (std::vector<RunListElement>& runs :
           NTFSAttribute::FormerExtents(block, AttributeType::Data, TByteView(data.Name.data(), data.Name.size()),
                                        AVolume->NumberOfClusters))
        extents.try_emplace(runs.front().VCN, candidate->second, std::move(runs));
    }
    NTFS_VCN end = FDataRuns.VCNCount(data.Kept);
    std::vector<RunListElement> taken;
    for (auto next = extents.find(end); next != extents.end() && MappedBytes(end, AVolume->ClusterSize) < data.DataSize;
         next = extents.find(end)) {
      const auto& [holder, runs] = next->second;
      ProgressEx::Detail(pdsInformation, "MFT record " + std::to_string(number) + " takes the data runs from VCN " +
                                             std::to_string(end) + " on from the freed extension record " +
                                             std::to_string(holder) + ".");
      taken.insert(taken.end(), runs.begin(), runs.end());
      end = runs.back().VCN + runs.back().Length;
    }
    if (!taken.empty()) {
      FDataRuns.Extend(data.Kept, taken);
      const std::span<const RunListElement> runs = FDataRuns.Runs(data.Kept);
      FTakenRuns[number] = MFTRunList::New({runs.begin(), runs.end()});
      // Taken late, they still claim their clusters against what was
      // deleted before the file.
      for (const RunListElement& run : taken) {
        std::int64_t firstCluster = 0, lastCluster = 0;
        if (RunClusters(run, firstCluster, lastCluster))
          FDriveMap->AddUsing(firstCluster, lastCluster, item, item->ChangeTime, number);
      }
    }
    const std::int64_t mapped = MappedBytes(end, AVolume->ClusterSize);
    if (mapped < data.DataSize) {
      ProgressEx::Detail(pdsWarning, "The data runs of MFT record " + std::to_string(number) + " break off at VCN " +
                                         std::to_string(end) + ": bytes " + std::to_string(mapped) + " to " +
                                         std::to_string(data.DataSize - 1) + " have no clusters.");
      FDataRuns.SetMissingClusters(data.Kept, (data.DataSize - mapped - 1) / AVolume->ClusterSize + 1);
    }
    SizeByKeptRuns(data.Kept, data.DataSize, data.Compressed, AVolume->ClusterSize);
  }
  std::vector<TShortData>().swap(FShortData);
  std::vector<std::pair<std::int64_t, std::int64_t>>().swap(FFreedExtensions);
}

IMFTRunListPtr TNTFSRecoveryContext::TakenRunsOf(PItemInfo AItem) const {
  // A snapshot's files are read through their own records as they were.
  return AItem->Store == 0 ? TakenRunsOf(AItem->MFTNumber.Address()) : nullptr;
}

IMFTRunListPtr TNTFSRecoveryContext::TakenRunsOf(std::int64_t ARecord) const {
  const auto taken = FTakenRuns.find(ARecord);
  return taken == FTakenRuns.end() ? nullptr : taken->second;
}
