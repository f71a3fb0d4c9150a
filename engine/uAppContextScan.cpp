#include "engine/uAppContext.h"

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

namespace {

constexpr std::int64_t kOrphansRecord = 1;
constexpr char16_t kOrphansName[] = u"???";

// What the scan keeps of a record's $FILE_NAME.
struct TScannedName {
  MFT_REF DirREF;
  std::u16string Name;
  std::int64_t DataSize = 0;
  std::int64_t CreationTime = 0;
  std::int64_t ChangeTime = 0;
  std::uint32_t FileAttributes = 0;
};

TScannedName ScannedName(const PMFTFilenameAttribute& AFileName) {
  return {AFileName.DirectoryFileReferenceNumber(), NTFSUtils::GetFileName(AFileName), AFileName.DataSize(),
          AFileName.CreationTime(), AFileName.ChangeTime(), AFileName.FileAttributes()};
}

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

std::optional<TScannedName> FileNameOf(TByteView ARecord, TAttributeSearch& ASearch) {
  const PMFTFilenameAttribute inRecord =
      NTFSAttribute::GetFileNameAttribute(ARecord.Data(), static_cast<std::uint32_t>(ARecord.Size()), FILE_NAME_WIN32);
  if (inRecord)
    return ScannedName(inRecord);
  return FileNameFromAttributeList(ASearch);
}

// Runs of MFT records the device could not deliver whole, one log line per
// run, so that a bad region of the MFT does not flood the log. The MFT
// stream notes what it could not read in order; the last note tells
// whether the record just read was among it.
class TUnreadRecordLog {
public:
  TUnreadRecordLog(const IStreamExPtr& AMFTStream, std::uint32_t ARecordSize)
      : FMFT(dynamic_cast<const IUnreadReporter*>(AMFTStream.get())), FRecordSize(ARecordSize) {}

  void Check(std::int64_t ANumber) {
    if (WasUnread(ANumber))
      Add(ANumber, 1);
  }

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
  bool WasUnread(std::int64_t ANumber) const {
    if (FMFT == nullptr || FMFT->UnreadRanges().empty())
      return false;
    const TByteRange& last = FMFT->UnreadRanges().back();
    const std::int64_t start = ANumber * FRecordSize;
    return last.Offset < start + FRecordSize && last.Offset + last.Length > start;
  }

  const IUnreadReporter* FMFT;
  std::int64_t FRecordSize;
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
  const std::u16string driveName{GetSourceDriveLetter(), u':'};
  IVolumeSourcePtr source;
  TNTFSVolumeRef volume(OpenSourceVolume(&source));
  NoteUnreadableClusters(volume.Get(), *source);
  TProgressExLevel level("Scanning...", 3, "");
  try {
    NewItem(FRootItems, volume->RootDirRef, MFT_REF{}, driveName, true, false);
    NewItem(FRootItems, MFT_REF::Build(kOrphansRecord), MFT_REF{}, kOrphansName, true, true);
    // Every stage runs, even after a cancel: a stopped record pass keeps
    // what it found, and that still gets its tree.
    ScanDrive(volume.Get(), FItems);
    ProgressEx::DoProgress(1);
    AnalyzeItems();
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
  TMemHolder record(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  const IMFTRunListPtr runs = MFTRunList::New();
  TProgressExLevel level("Scanning drive...", AVolume->MFTRecordCount, "records");
  TUnreadRecordLog unread(AVolume->MFTDataStream, AVolume->MFTRecordSize);
  for (std::int64_t number = 0; number < AVolume->MFTRecordCount; ++number) {
    NTFSUtils::GetMFTRecord(AVolume, MFT_REF::Build(number), record.Ptr());
    unread.Check(number);
    ScanRecord(AVolume, number, record.Mem(), AList, runs);
    if (!ProgressEx::DoProgress(number))
      break;
  }
  // Records the MFT claims beyond what the device can hold cannot be read,
  // whether or not the pass got that far.
  if (AVolume->MFTRecordsClaimed > AVolume->MFTRecordCount)
    unread.Add(AVolume->MFTRecordCount, AVolume->MFTRecordsClaimed - AVolume->MFTRecordCount);
  unread.Flush();
}

void TNTFSRecoveryContext::ScanRecord(PNTFSVolume AVolume, std::int64_t ANumber, const TMem& ARecord,
                                      const IExListPtr& AList, const IMFTRunListPtr& ARunList) {
  const TByteView record(ARecord.Ptr, static_cast<std::size_t>(ARecord.Size));
  const PMFTRecord header(record);
  // Extension records are reached through their base record's attribute list.
  if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
    return;
  const bool inUse = (header.Flags() & MFT_RECORD_IN_USE) != 0;
  const bool isFolder = (header.Flags() & MFT_RECORD_IS_DIRECTORY) != 0;

  TAttributeSearch search(AVolume, MFT_REF::Build(ANumber), record);
  const std::optional<TScannedName> fileName = FileNameOf(record, search);
  PItemInfo item = nullptr;
  // Live files are not collected; the root folder, its own parent, is
  // represented by the drive folder.
  if ((isFolder || !inUse) && fileName && fileName->DirREF.Address() != ANumber) {
    item = NewItem(AList, MFT_REF::Build(ANumber), fileName->DirREF, fileName->Name, isFolder, !inUse);
    item->DataSize = fileName->DataSize;
    item->Attributes = fileName->FileAttributes;
    item->CreationTime = fileName->CreationTime;
    item->ChangeTime = fileName->ChangeTime;
  }

  if (item && search.FindFirst(AttributeType::Data, 0))
    TakeData(AVolume, item, search.Rec(), ARunList);

  // Every record's clusters count, live files and metafiles included: they
  // are what overwrites deleted files written before them.
  const std::int64_t ownerDate = fileName ? fileName->ChangeTime : 0;
  for (bool found = search.FindFirst(AttributeType::Any, 0); found; found = search.FindNext()) {
    if (NTFSAttribute::IsResident(search.Rec().AttributeRecord))
      continue;
    ARunList->Clear();
    NTFSAttribute::RunListBuild(search.Rec(), ARunList);
    for (std::int32_t i = 0; i < ARunList->ItemCount(); ++i) {
      std::int64_t first = 0, last = 0;
      if (RunClusters(ARunList->Item(i), first, last))
        FDriveMap->AddUsing(first, last, item, ownerDate);
    }
  }
}

void TNTFSRecoveryContext::TakeData(PNTFSVolume AVolume, PItemInfo AItem, const TAttributeSearchRec& AData,
                                    const IMFTRunListPtr& ARunList) {
  AItem->DataSize = NTFSAttribute::GetAttributeDataSize(AData.AttributeRecord);
  if (AItem->IsDirectory || NTFSAttribute::IsResident(AData.AttributeRecord))
    return;
  ARunList->Clear();
  NTFSAttribute::RunListBuild(AData, ARunList);
  FDataRuns.Keep(AItem, *ARunList);
  // Reading ends where the runs end: a damaged or crafted size beyond them
  // must not make the restore ask for room it will never fill.
  const std::int64_t mapped = CheckedMul<std::int64_t>(ARunList->VCNCount(), AVolume->ClusterSize)
                                  .value_or(std::numeric_limits<std::int64_t>::max());
  AItem->DataSize = std::min(AItem->DataSize, mapped);
}
