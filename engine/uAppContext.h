#pragma once

#include "engine/uDataRunsStore.h"
#include "engine/uDriveMap.h"
#include "engine/uRestoreTargets.h"
#include "engine/uSelectorHelper.h"
#include "foundation/uLists.h"
#include "ntfs/uIndexNames.h"
#include "ntfs/uMFTRunList.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSVolume.h"
#include "platform/uFileSystem.h"
#include "platform/uOpenedSource.h"
#include "platform/uPrompt.h"
#include "platform/uShadowCopies.h"

#include <SimpleIni.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

struct TAttributeSearchRec;
class TClusterBitmap;

// One file or folder found on the volume. Only clearing its Owner list frees it.
struct TItemInfo {
  IExList* Owner = nullptr;
  std::u16string Name;     // without any path
  MFT_REF MFTNumber;       // the base record, sequence number 0
  std::uint16_t SequenceNumber = 0; // the record's own, as its header holds it
  // The parent folder as the record's $FILE_NAME names it; 0 for the two
  // synthetic folders; the orphans folder once the item is placed there.
  MFT_REF DirREF;
  std::int64_t DataSize = 0;
  // What a restored copy takes on the target: the clusters the data keeps
  // on disk, holes of a sparse file left out (they stay holes).
  std::int64_t StoredSize = 0;
  std::int64_t CreationTime = 0;
  // When the record last wrote (its data or itself): orders the claims of
  // deleted records in the overwrite estimate.
  std::int64_t ChangeTime = 0;
  std::uint32_t Attributes = 0;
  // Named data streams besides the file's data ("Zone.Identifier" and the
  // like), each counted once however many extents it has.
  std::int32_t NamedStreams = 0;
  // When the file went into the Recycle Bin, as its "$I" file tells; 0
  // where nothing tells it.
  std::int64_t DeletionTime = 0;
  bool IsDirectory = false;
  bool Checked = false;
  bool IsDeleted = false;
  // A folder made to hold what came back from the Recycle Bin, where the
  // volume has no folder of that path any more: it has no record.
  bool FromRecycleBin = false;
  // A "$I" file whose "$R" file was put back at its original place: what it
  // held is shown there, so it is not picked as a file worth restoring.
  bool IsRecycleInfo = false;
  double OverwritePercent = 0; // 0 to 100
  // The shadow copy store the item was found in, as the volume numbers its
  // stores (1 for the oldest); 0 for the volume as it is now.
  std::int32_t Store = 0;
};
using PItemInfo = TItemInfo*;

// One node of the folder tree shown to the user. A node owns its SubItems
// and the nodes in them.
struct TTreeItemInfo;
using PTreeItemInfo = TTreeItemInfo*;
struct TTreeItemInfo {
  PTreeItemInfo Parent = nullptr;
  IExListPtr SubItems; // of PTreeItemInfo; nil until the first child arrives
  std::int32_t CheckedChildren = 0;
  PItemInfo Data = nullptr;
};

// Stored as one byte each; RestoreState keeps whatever byte the file held,
// so every value other than rmTree restores flat.
enum TRestoreMode : std::uint8_t { rmTree = 0, rmFlat = 1 };
// Every value other than rcmRename and rcmDontSave overwrites.
enum TResolveConflictMode : std::uint8_t { rcmOvewrite = 0, rcmRename = 1, rcmDontSave = 2 };

// The recovery context as the target folder page sees it.
class ISupportTargetDir {
public:
  virtual void SetTargetDir(const std::u16string& Value) = 0;
  virtual std::u16string GetTargetDir() = 0;
  virtual bool TargetDirIsValid(const std::u16string& Value) = 0;
  virtual TRestoreMode GetRestoreMode() = 0;
  virtual void SetRestoreMode(TRestoreMode Value) = 0;
  virtual TResolveConflictMode GetResolveConflictMode() = 0;
  virtual void SetResolveConflictMode(TResolveConflictMode Value) = 0;
  // Whether restored files and folders get the modification and access
  // times their records hold.
  virtual bool GetRestoreTimes() = 0;
  virtual void SetRestoreTimes(bool Value) = 0;
  // Whether restored files take their named data streams along.
  virtual bool GetRestoreStreams() = 0;
  virtual void SetRestoreStreams(bool Value) = 0;

protected:
  ~ISupportTargetDir() = default;
};

// The recovery context as the restore page sees it.
class ISupportRecover {
public:
  virtual void ProcessRecover() = 0;
  // Where the recovery writes, for the user to open afterwards.
  virtual std::u16string GetTargetDir() = 0;

protected:
  ~ISupportRecover() = default;
};

// The drive part of a path ("X:" for a path on a listed volume), as
// SystemDrivePart tells it.
using TDrivePartFunction = std::function<std::string(const std::string& APath)>;

// The recovery engine: the wizard's settings, the items of the last scan with
// their folder tree, the cluster usage map, the ticks and the recovery. One
// instance lives for the whole program; the pages borrow it.
// A record that holds clusters of a deleted file now: why the file counts as
// overwritten.
struct TClaimant {
  // -1: clusters the volume counts as in use that no record read claims.
  std::int64_t Record = -1;
  // The record's names as the volume tells them now, from below the drive
  // folder down to its own; "???" for a folder that cannot be named.
  std::vector<std::u16string> Path;
  std::int64_t Clusters = 0; // of the file's clusters, each counted once
};

// A name a folder's index still holds whose file is gone: its record has
// since held another file, so nothing of its data is known.
struct TGoneName {
  // The folders' names from below the drive folder, then the name itself;
  // "???" for a folder that cannot be named.
  std::vector<std::u16string> Path;
  TIndexName Entry;
  std::string Reason; // "record 75 now holds "report-final.docx""
};

class TNTFSRecoveryContext final : public ISupportTargetDir, public ISupportRecover, public ISelector {
public:
  // The prompt answers the engine's questions; the file system and the
  // drive-part function are the target's services, replaced in tests.
  explicit TNTFSRecoveryContext(std::shared_ptr<IPrompt> APrompt,
                                std::shared_ptr<const IFileSystem> AFileSystem = nullptr,
                                TDrivePartFunction ADrivePart = nullptr);
  ~TNTFSRecoveryContext();
  TNTFSRecoveryContext(const TNTFSRecoveryContext&) = delete;
  TNTFSRecoveryContext& operator=(const TNTFSRecoveryContext&) = delete;

  // Forgets the last scan; the settings stay.
  void Clear();

  // Where the engine's messages go; the pages show theirs there too.
  IPrompt& Prompt() const { return *FPrompt; }

  static PItemInfo ItemInfo(PTreeItemInfo AInfo) { return AInfo->Data; }
  // The node's path from the top of the tree, joined with "\"; without
  // IncludeRoot the drive folder and the orphans folder are left out.
  static std::u16string GetFullName(PTreeItemInfo AInfo, bool IncludeRoot);

  // The first character of SourceDrive, or 0 when it is empty.
  char16_t GetSourceDriveLetter() const;
  // The drive the user chose, as its letter labels it ("D:\"), or for a
  // drive without a letter where it lies ("partition 27 of disk.img\"):
  // the root of the tree and what the state file keeps.
  const std::u16string& SourceDrive() const { return FSourceDrive; }
  void SetSourceDrive(const std::u16string& AValue) { FSourceDrive = AValue; }
  // SourceDrive without its closing "\": the name of the tree's drive folder.
  std::u16string SourceDriveName() const;
  // The source the scan, every preview and the restore read, opened once
  // by the front end; nothing here opens it again.
  const TOpenedSourcePtr& Source() const { return FSource; }
  void SetSource(TOpenedSourcePtr ASource) { FSource = std::move(ASource); }
  const IExListPtr& Items() const { return FItems; }
  const IExListPtr& TreeItems() const { return FTreeItems; }
  const IExListPtr& RootItems() const { return FRootItems; }
  const TDriveMap& DriveMap() const { return *FDriveMap; }
  const std::u16string& Mask() const { return FMask; }
  // An empty mask stands for "*.*". The tree follows only with Search.
  void SetMask(const std::u16string& Value);

  // ISupportTargetDir
  void SetTargetDir(const std::u16string& Value) override;
  std::u16string GetTargetDir() override { return FTargetDir; }
  bool TargetDirIsValid(const std::u16string& Value) override;
  TRestoreMode GetRestoreMode() override { return FRestoreMode; }
  void SetRestoreMode(TRestoreMode Value) override { FRestoreMode = Value; }
  TResolveConflictMode GetResolveConflictMode() override { return FResolveConflictMode; }
  void SetResolveConflictMode(TResolveConflictMode Value) override { FResolveConflictMode = Value; }
  bool GetRestoreTimes() override { return FRestoreTimes; }
  void SetRestoreTimes(bool Value) override { FRestoreTimes = Value; }
  bool GetRestoreStreams() override { return FRestoreStreams; }
  void SetRestoreStreams(bool Value) override { FRestoreStreams = Value; }

  // The source drive, target folder, the two modes, the times and streams
  // choices and whether previous versions are listed, in "history.ini".
  void StoreState(CSimpleIniA& AIniFile) const;
  void RestoreState(const CSimpleIniA& AIniFile);

  // Reads the source volume's MFT and builds the items and the tree.
  void ProcessScan();

  // Whether the scan lists the files kept in the volume's shadow copies
  // ("previous versions"); kept in "history.ini".
  bool GetIncludeSnapshots() const { return FIncludeSnapshots; }
  void SetIncludeSnapshots(bool AValue) { FIncludeSnapshots = AValue; }
  // When the snapshot the item was found in was taken (100 ns units since
  // 1601, UTC); 0 for an item of the volume as it is now.
  std::int64_t SnapshotTime(const TItemInfo& AItem) const;

  // Selection and search.
  void CheckAll(const IExListPtr& ATreeItems, bool AChecked);
  // Ticks the files of the list and below it that look intact, unticks the rest.
  void SmartCheck(const IExListPtr& ATreeItems);
  bool HasChecked() const;
  // Every ticked node of the tree in depth-first pre-order, and the summed
  // DataSize of their items.
  IExListPtr GetCheckedList(std::int64_t& ACheckedSize) const;
  // Rebuilds the tree for the current mask; every item placed is unticked.
  void Search();

  // ISupportRecover: writes every ticked file into the target folder.
  void ProcessRecover() override;

  // The first bytes of ANode's file, at most AMaxBytes, read from the source
  // drive through the data stream the recovery copies from, under a progress
  // level "Reading..." whose cancel keeps what was read so far. Empty for a
  // folder or a file without data.
  std::string ReadFileStart(PTreeItemInfo ANode, std::int64_t AMaxBytes);

  // For each node, the records that claim its file's clusters now, most
  // clusters first; none for a folder, a live file or one estimated intact.
  // Reads the source drive.
  std::vector<std::vector<TClaimant>> ClaimantsOf(const std::vector<PTreeItemInfo>& ANodes);

  // The names the index blocks of the scanned folders still hold whose
  // records have since held other files, each once, by folder. Reads the
  // source drive.
  std::vector<TGoneName> GoneNames();

  // ISelector, over PTreeItemInfo handles.
  bool GetChecked(void* AData) override;
  void SetChecked(void* AData, bool AChecked) override;
  void EnumChildren(void* AParentData, TChildEnumProc AProc, void* AEnumContext) override;
  std::int32_t GetChildrenChecked(void* AParentData) override;
  std::int32_t GetChildrenCount(void* AParentData) override;
  void* GetParentData(void* AData) override;
  void IncChildrenChecked(void* AParentData) override;
  void DecChildrenChecked(void* AParentData) override;

private:
  // Scan (uAppContextScan.cpp)
  PItemInfo NewItem(const IExListPtr& AList, MFT_REF AMFTNumber, MFT_REF ADirREF,
                    const std::u16string& AName, bool AIsDirectory, bool AIsDeleted);
  void ScanDrive(PNTFSVolume AVolume, const IExListPtr& AList);
  void ScanRecord(PNTFSVolume AVolume, std::int64_t ANumber, TByteView ARecord,
                  const IExListPtr& AList, const IMFTRunListPtr& ARunList);
  // The item's size from its first $DATA and, for a deleted file, the runs
  // the analysis will need.
  void TakeData(PNTFSVolume AVolume, PItemInfo AItem, const TAttributeSearchRec& AData,
                const IMFTRunListPtr& ARunList);
  // Notes a freed extension record by the base record it names.
  void NoteExtension(std::int64_t ANumber, const PMFTRecord& AHeader);
  // After the record pass: the deleted files whose runs end short of their
  // data take the further extents their freed extension records still
  // hold; what is still missing then is named in the log.
  void TakeFreedExtents(PNTFSVolume AVolume);
  // Sizes the file of kept runs AKept by them: its data as far as they
  // reach (at most ADataSize), and what of it keeps clusters on disk.
  void SizeByKeptRuns(std::size_t AKept, std::int64_t ADataSize, bool ACompressed, std::uint32_t AClusterSize);
  // The runs the restore reads an item's data by when the record pass found
  // more of them than its record names; nil otherwise.
  IMFTRunListPtr TakenRunsOf(PItemInfo AItem) const;
  IMFTRunListPtr TakenRunsOf(std::int64_t ARecord) const;

  // Claims (uAppContextClaims.cpp)
  static bool HasLostClusters(PTreeItemInfo ANode);
  std::vector<TClaimant> ClaimantsOf(PNTFSVolume AVolume, PItemInfo AItem, const TClusterBitmap& AInUse,
                                     TMemHolder& ABuffer) const;
  // Whether a read of a file's data shows as a level "Reading..." whose
  // cancel keeps what was read so far.
  enum class TReading { Shown, Quiet };
  // Up to AMaxBytes from the start of record ARecord's data, read through
  // the data stream a restore copies from.
  std::string ReadDataStart(PNTFSVolume AVolume, std::int64_t ARecord, const IMFTRunListPtr& ATakenRuns,
                            std::int64_t AMaxBytes, TReading AReading) const;

  // Recycle Bin (uAppContextRecycle.cpp)
  // After the record pass: every deleted "$R" file or folder whose "$I"
  // file can be read takes its original name and the folder it came from,
  // found on the volume or made for it.
  void PlaceRecycledItems(PNTFSVolume AVolume);

  // Analysis and view (uAppContextView.cpp)
  // Estimates the deleted files from the runs the record pass kept, then
  // lets the runs go. Files it kept no runs for stay at 0 %.
  void AnalyzeItems(PNTFSVolume AVolume);
  void PrepareView(const IExListPtr& ARootItems, const IExListPtr& AItems, const std::u16string& AMask,
                   const IExListPtr& ATreeItems);
  // Adds the nodes of one volume's items to ATreeItems, each in its folder;
  // those whose folder is not found go into the folder of record AFallback.
  static void PlaceItems(const IExListPtr& ARootItems, const IExListPtr& AItems, const std::u16string& AMask,
                         std::int64_t AFallback, const IExListPtr& ATreeItems);
  // Makes the nodes into APlaced and hangs each below its folder.
  static void LinkItems(const IExListPtr& ARootItems, const IExListPtr& AItems, const std::u16string& AMask,
                        std::int64_t AFallback, const IExListPtr& APlaced);
  static PTreeItemInfo NewTreeItem(const IExListPtr& AList, PItemInfo AItem);
  static bool IsAncestor(PTreeItemInfo A, PTreeItemInfo B);
  static void RemoveEmptyFolders(const IExListPtr& AList);
  static void FreeTree(const IExListPtr& ATreeItems);
  // The share of the file's clusters that are lost: overwritten, in use,
  // unreadable or without a run, each cluster counted once.
  double OverwritePercentOf(std::size_t AKept, const TClusterBitmap& AInUse) const;
  // The same share for the runs ARuns of AItem, covering AVCNCount clusters,
  // with AMissing clusters of its data left without runs.
  double LostPercentOf(std::span<const RunListElement> ARuns, PItemInfo AItem, std::int64_t AMissing,
                       std::int64_t AVCNCount, const TClusterBitmap& AInUse) const;
  void NoteUnreadableClusters(PNTFSVolume AVolume, const IVolumeSource& ASource);
  // Appends the unreadable parts of [AFirst, ALast].
  void AddUnreadableRanges(std::int64_t AFirst, std::int64_t ALast, std::vector<TClusterRange>& ARanges) const;
  // The clusters of a run with clusters on disk, both ends inclusive; false
  // for a sparse run or one whose numbers do not add up.
  static bool RunClusters(const RunListElement& ARun, std::int64_t& AFirst, std::int64_t& ALast);

  // Shadow copies (uAppContextSnapshots.cpp)
  // After the volume's own scan: the files and folders of each snapshot
  // that the volume no longer holds as they were, newest snapshot first,
  // each version listed once.
  void ScanSnapshots(PNTFSVolume AVolume);
  struct TVersionSet;
  void ScanSnapshot(const TShadowCopy& ACopy, TVersionSet& AVersions);
  // The volume that holds AItem: ALive, or the snapshot it was found in.
  PNTFSVolume VolumeOf(const TItemInfo& AItem, PNTFSVolume ALive) const;

  // The volume of the opened source, for a scan, a preview or a restore;
  // raises NoDriveException when there is no source, or when it no longer
  // holds the volume it held when opened.
  PNTFSVolume OpenSourceVolume() const;
  // The NTFS volume ASource holds, read as the scan reads: the source's or
  // a snapshot's.
  static PNTFSVolume OpenVolume(const std::u16string& AName, IVolumeSourcePtr ASource);

  // Recovery (uAppContextRecover.cpp)
  // What one recovery did, for the lines that sum it up.
  struct TRecoverTally {
    std::int64_t Files = 0;        // ticked files the walk came to
    std::int64_t LeftOut = 0;      // of those, not written for want of space
    std::int64_t WithZeros = 0;    // written with zeros for bytes unreadable or without runs
    std::int64_t TimesNotHeld = 0; // files and folders whose times the target cannot hold
  };
  void RecoverFile(PNTFSVolume AVolume, PTreeItemInfo ANode, TRestoreTargets& ATargets, TRecoverTally& ATally);
  void ReportTally(const TRecoverTally& ATally, IExList& AChecked) const;
  // The named data streams of ANode, restored as the file APlan: each one an
  // extended attribute of AOutput where the target takes it, else a file
  // beside it. A stream that fails is named in the log; the file stays.
  void RecoverStreams(PNTFSVolume AVolume, PItemInfo AItem, const TRestoreTargets::TFilePlan& APlan,
                      IOutputFile& AOutput, TRestoreTargets& ATargets, TMemHolder& ABuffer);
  // The estimate of a named stream of AItem, as the file's own is made.
  double StreamLostPercent(PNTFSVolume AVolume, PItemInfo AItem, const TAttributeSearchRec& AStream);
  // AStream is restored as RecoverStreams says; the log line gives
  // ALostPercent, its estimate.
  void RecoverStream(const TAttributeSearchRec& AStream, double ALostPercent, const TRestoreTargets::TFilePlan& APlan,
                     IOutputFile& AOutput, TRestoreTargets& ATargets, TMemHolder& ABuffer);
  bool HasFreeSpace(const std::u16string& AFolder, std::int64_t ASize) const;
  // Everything through which the source drive could be written.
  TSourceIdentity SourceIdentity() const;
  // Copies within the file's progress level, which the caller holds open;
  // APosition counts the bytes written, also when a write fails. False when
  // a cancel stopped it.
  static bool CopyStream(IStreamEx& AStream, IOutputFile& AOutput, TMemHolder& ABuffer, std::int64_t& APosition);
  // Gives the restored folders among ANodes their records' times, deepest
  // first: writing into a folder changes its times.
  void RestoreFolderTimes(PNTFSVolume AVolume, const std::vector<PTreeItemInfo>& ANodes, TRestoreTargets& ATargets,
                          TRecoverTally& ATally) const;

  std::shared_ptr<IPrompt> FPrompt;
  std::shared_ptr<const IFileSystem> FFileSystem;
  TDrivePartFunction FDrivePart;
  TOpenedSourcePtr FSource;

  std::u16string FSourceDrive;
  std::u16string FTargetDir;
  IExListPtr FItems;
  IExListPtr FRootItems;
  IExListPtr FTreeItems;
  std::unique_ptr<TDriveMap> FDriveMap;
  TDataRunsStore FDataRuns; // from the record pass to the analysis
  // A deleted file whose kept runs end short of its $DATA's size.
  struct TShortData {
    std::size_t Kept = 0; // in FDataRuns
    std::int64_t DataSize = 0;
    bool Compressed = false;
    std::vector<std::uint8_t> Name; // the $DATA's name, UTF-16LE
  };
  // From the record pass to TakeFreedExtents: the files short of runs, and
  // the freed extension records as (base record, extension record).
  std::vector<TShortData> FShortData;
  std::vector<std::pair<std::int64_t, std::int64_t>> FFreedExtensions;
  // The whole runs of the files that took extents from freed extension
  // records, by record number: their records no longer name those extents.
  std::unordered_map<std::int64_t, IMFTRunListPtr> FTakenRuns;
  // The "$I" files in use, which the record pass does not list: a "$R" file
  // deleted on its own still finds its original place through them.
  struct TLiveRecycleInfo {
    std::int64_t Record = 0;
    MFT_REF DirREF;
    std::u16string Name;
  };
  std::vector<TLiveRecycleInfo> FLiveRecycleInfos;
  // Clusters whose bytes cannot be had, in order, both ends inclusive: past
  // the end of the volume or of the device, or in an area a rescue never
  // read. Whatever a deleted file had there is lost.
  std::vector<std::pair<std::int64_t, std::int64_t>> FUnreadableClusters;
  TRestoreMode FRestoreMode = rmTree;
  std::u16string FMask;
  TResolveConflictMode FResolveConflictMode = rcmOvewrite;
  bool FRestoreTimes = true;
  bool FRestoreStreams = true;
  // The volume's cluster bitmap for the estimates of named streams, read at
  // the first one a restore meets.
  std::shared_ptr<const TClusterBitmap> FRestoreInUse;
  bool FIncludeSnapshots = true;
  // One snapshot as scanned: the branch folder that holds its items, its
  // items, and its volume, which previews and restores read them from.
  struct TSnapshotScan {
    TShadowCopy Copy;
    IExListPtr RootItems;
    IExListPtr Items;
    std::unique_ptr<TNTFSVolumeRef> Volume;
  };
  std::vector<TSnapshotScan> FSnapshots; // newest first
};

// The items from the top of the tree down to ANode itself; without
// AIncludeRoot the drive folder and the orphans folder are left out. Walks
// up in a loop: a crafted volume can chain folders as deep as its MFT.
std::vector<PItemInfo> PathItems(PTreeItemInfo ANode, bool AIncludeRoot);
