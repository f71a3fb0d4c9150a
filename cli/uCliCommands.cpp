#include "cli/uCliCommands.h"

#include "cli/uCliProgressView.h"
#include "cli/uCliPrompt.h"
#include "cli/uCliSource.h"
#include "engine/uFileMask.h"
#include "engine/uLostVolumeSearch.h"
#include "foundation/uSizeText.h"
#include "foundation/uUnicode.h"
#include "ntfs/uFSError.h"
#include "platform/uDrivePart.h"
#include "platform/uUDisksBus.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace {

// The drive column of a drive listed after the letters ran out.
constexpr char kNoLetter[] = "-";

// What a scan built is hundreds of thousands of small blocks (the tree, the
// lists, the cluster map); freeing them one by one took a sixth of a whole
// scan, and the command is the last thing the process does. The process's
// exit gives them back instead; until then they stay reachable from here,
// so leak checkers do not count them.
void KeepUntilExit(std::unique_ptr<TNTFSRecoveryContext> AContext) {
  static auto* const kept = new std::vector<std::unique_ptr<TNTFSRecoveryContext>>;
  kept->push_back(std::move(AContext));
}

// In a desktop session polkit's agent can ask for the password, so udisks2
// opens the devices the user may not; elsewhere the permission message
// stands.
TSourceResolver CliResolver() {
  return TSourceResolver(TFileSource::Open, InDesktopSession() ? TDeviceOpener(OpenThroughUDisksBus) : nullptr);
}

// The engine with the terminal's prompt and progress view, and the drive
// list that names the source, for one command.
class TCliSession {
public:
  TCliSession(TTerminal& ATerminal, TTerminalPrompt::TAnswerMode AAnswers)
      : FTerminal(ATerminal),
        FPrompt(std::make_shared<TTerminalPrompt>(ATerminal, AAnswers)),
        FView(std::make_shared<TTerminalProgressView>(ATerminal)),
        FContext(std::make_unique<TNTFSRecoveryContext>(
            FPrompt, nullptr,
            [this](const std::string& APath) { return SystemDrivePart(FDrives.Table(), APath); })) {
    ProgressEx::AddView(FView);
  }
  ~TCliSession() {
    ProgressEx::RemoveView(FView);
    KeepUntilExit(std::move(FContext));
  }
  TCliSession(const TCliSession&) = delete;
  TCliSession& operator=(const TCliSession&) = delete;

  TNTFSRecoveryContext& Context() { return *FContext; }
  TTerminalProgressView& View() { return *FView; }
  TTerminal& Terminal() { return FTerminal; }

  void SetSource(const TScanOptions& AOptions) {
    // A mask that cannot be used is the command line's fault, found before
    // the source is read.
    const std::u16string mask = FromNativePath(AOptions.Mask);
    try {
      TFileMask check(mask.empty() ? u"*" : mask);
    } catch (const InvalidMaskError& error) {
      throw UsageError(error.what());
    }
    const TCliSource source = ResolveSource(FDrives, CliResolver(), TDriveSource{AOptions.Source, AOptions.Partition,
                                                                                 AOptions.Offset},
                                            AOptions.MapFile);
    // Said before anything is read: a mapfile passed over, a volume the
    // system may write to while it is scanned.
    for (const std::string& warning : source.Opened->Warnings())
      FTerminal.WriteLine(warning, TTerminal::tnWarning);
    FContext->SetSource(source.Opened);
    FContext->SetSourceDrive(source.Drive);
    FContext->SetMask(mask);
    FContext->SetIncludeSnapshots(AOptions.IncludeSnapshots);
  }

  // Everything but a volume that cannot be opened is reported through the
  // prompt and the view.
  void ProcessScan() {
    try {
      FContext->ProcessScan();
    } catch (const std::exception& error) {
      throw SourceError(error.what());
    }
  }

  int ExitCode() const {
    if (FView->Canceled())
      return ecCanceled;
    return FPrompt->ErrorCount() + FView->ErrorCount() > 0 ? ecFileErrors : ecDone;
  }

private:
  TTerminal& FTerminal;
  TDriveList FDrives;
  std::shared_ptr<TTerminalPrompt> FPrompt;
  std::shared_ptr<TTerminalProgressView> FView;
  std::unique_ptr<TNTFSRecoveryContext> FContext;
};

// Every node a --path names: by its path as the listing shows it
// ("D:/Photos/cat.jpg", "???/x.txt"), from the drive folder without its name
// ("/Photos/cat.jpg"), or by record number ("#1234"). One path may be held by
// several deleted records, folders and files alike: all of them are meant.
std::vector<PTreeItemInfo> NodesOfPath(const std::vector<TListingRow>& ARows, const std::string& APath,
                                       const std::string& ADriveFolder) {
  std::optional<std::uint64_t> record;
  if (APath.size() > 1 && APath.front() == '#') {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(APath.data() + 1, APath.data() + APath.size(), number);
    if (error != std::errc() || end != APath.data() + APath.size())
      throw UsageError("\"" + APath + "\" is no record number: write it as \"#1234\".");
    record = number;
  }
  const std::string path = APath.starts_with('/') ? ADriveFolder + APath : APath;
  std::vector<PTreeItemInfo> nodes;
  for (const TListingRow& row : ARows)
    if (record ? row.Record == *record : row.Path == path)
      nodes.push_back(row.Node);
  if (nodes.empty())
    throw UsageError("No file or folder \"" + APath + "\" was found on the source drive.");
  return nodes;
}

void TickSelection(TNTFSRecoveryContext& AContext, const TRestoreOptions& AOptions) {
  if (AOptions.Select == TSelection::slAll)
    AContext.CheckAll(AContext.TreeItems(), true);
  else if (AOptions.Select == TSelection::slGood)
    AContext.SmartCheck(AContext.TreeItems());
  if (AOptions.Paths.empty())
    return;
  const std::vector<TListingRow> rows = ListingRows(AContext);
  const std::string driveFolder = ToNativePath(AContext.SourceDriveName());
  for (const std::string& path : AOptions.Paths)
    for (PTreeItemInfo node : NodesOfPath(rows, path, driveFolder))
      // A partly ticked folder turns unticked on the first toggle; the second
      // then ticks all of it.
      if (!ToggleCheckState(AContext, node))
        ToggleCheckState(AContext, node);
}

std::string ColumnText(const std::string& AText, std::size_t AWidth) {
  return AText + std::string(AWidth > AText.size() ? AWidth - AText.size() : 0, ' ');
}

// ARows as columns as wide as their widest text, two blanks apart.
void WriteColumns(const std::vector<std::vector<std::string>>& ARows, std::ostream& AOut) {
  std::vector<std::size_t> widths(ARows.front().size(), 0);
  for (const auto& row : ARows)
    for (std::size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  for (const auto& row : ARows) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i)
      AOut << ColumnText(row[i], widths[i]) << "  ";
    AOut << row.back() << '\n';
  }
}

} // namespace

int RunDrives(const std::vector<std::string>& AImages, std::ostream& AOut) {
  TDriveList drives;
  for (const std::string& image : AImages)
    ListImage(drives, image);
  drives.Refresh();
  std::vector<std::vector<std::string>> rows = {{"DRIVE", "LABEL", "FILE SYSTEM", "KIND", "PATH"}};
  for (const PVolumeInformationRecord drive : drives.ListedSourceDrives()) {
    const TDriveSource& source = drive->Source;
    // Past Z a drive has no letter; its path is what names it on the
    // command line.
    rows.push_back({drive->Letter != 0 ? ToNativePath(DriveName(*drive)) : kNoLetter, ToNativePath(drive->VolumeName),
                    ToNativePath(drive->FileSystemName), DriveKindName(drives, *drive),
                    source.Partition != 0 ? PartitionText(source.Partition, source.Path) : source.Path});
  }
  WriteColumns(rows, AOut);
  return ecDone;
}

int RunSearch(const std::string& ADisk, bool ADeep, std::ostream& AOut, TTerminal& ATerminal) {
  TOpenedSourcePtr disk;
  try {
    disk = CliResolver().Open(TSourceRequest{ADisk});
  } catch (const NoDriveException& error) {
    throw SourceError(error.what());
  }
  const auto view = std::make_shared<TTerminalProgressView>(ATerminal);
  ProgressEx::AddView(view);
  const std::vector<TLostVolume> found = SearchLostVolumesWithProgress(disk->Source(), ADeep);
  ProgressEx::RemoveView(view);
  std::vector<std::vector<std::string>> rows = {{"OFFSET", "SIZE", "FOUND BY", "NAME"}};
  for (const TLostVolume& volume : found)
    rows.push_back({std::to_string(volume.Offset), SizeText(volume.Length),
                    volume.ByBackup ? "backup boot sector" : "boot sector", LostVolumeText(volume.Offset, ADisk)});
  WriteColumns(rows, AOut);
  if (view->Canceled()) {
    ATerminal.WriteLine("Search canceled: the list shows what was found until then.", TTerminal::tnWarning);
    return ecCanceled;
  }
  return ecDone;
}

namespace {

// After the tree, the names that are gone, each with a line saying why.
void WriteGoneNames(TNTFSRecoveryContext& AContext, TListingWriter& AWriter, TTerminal& ATerminal) {
  const std::string drive = ToNativePath(AContext.SourceDriveName());
  for (const TGoneName& name : AContext.GoneNames()) {
    const TListingRow row = GoneListingRow(name, drive);
    AWriter.Write(row);
    ATerminal.WriteLine("Gone: " + row.Path + ": " + name.Reason + ".", TTerminal::tnPlain);
  }
}

} // namespace

int RunScan(const TScanOptions& AOptions, std::ostream& AOut, TTerminal& ATerminal) {
  TCliSession session(ATerminal, TTerminalPrompt::amAsk);
  session.SetSource(AOptions);
  session.ProcessScan();
  if (session.View().Canceled())
    ATerminal.WriteLine("Scan canceled: the tree shows what was found until then.", TTerminal::tnWarning);
  TListingWriter writer(AOut, AOptions.Format);
  if (AOptions.Format == TListingFormat::lfJson) {
    const std::map<PTreeItemInfo, std::vector<TListingClaim>> claims = ListingClaims(session.Context());
    ForEachListingRow(session.Context(), [&writer, &claims](const TListingRow& ARow) {
      const auto claimed = claims.find(ARow.Node);
      if (claimed == claims.end())
        return writer.Write(ARow);
      TListingRow row = ARow;
      row.ClaimedBy = claimed->second;
      writer.Write(row);
    });
  } else {
    ForEachListingRow(session.Context(), [&writer](const TListingRow& ARow) { writer.Write(ARow); });
  }
  if (AOptions.IncludeGone)
    WriteGoneNames(session.Context(), writer, ATerminal);
  writer.Finish();
  // A listing cut short (a full disk, a closed pipe) is no listing.
  if (!AOut.flush())
    throw OutputError("The listing could not be written to standard output.");
  return session.ExitCode();
}

int RunRestore(const TRestoreOptions& AOptions, TTerminal& ATerminal) {
  if (AOptions.Select == TSelection::slNone && AOptions.Paths.empty())
    throw UsageError("Nothing to restore: give --select or --path.");
  if (AOptions.Target.empty())
    throw UsageError("The target folder is empty: give the folder to restore into with --target.");
  TCliSession session(ATerminal, AOptions.AnswerYes ? TTerminalPrompt::amAlwaysYes : TTerminalPrompt::amAsk);
  TNTFSRecoveryContext& context = session.Context();
  session.SetSource(AOptions.Scan);
  const std::u16string target = FromNativePath(fs::absolute(AOptions.Target).lexically_normal().string());
  if (!context.TargetDirIsValid(target))
    throw UsageError("The target folder \"" + AOptions.Target +
                     "\" is on the source drive: files are never written onto the drive they are read from.");
  context.SetTargetDir(target);
  context.SetRestoreMode(AOptions.Mode);
  context.SetResolveConflictMode(AOptions.Conflict);
  context.SetRestoreTimes(AOptions.KeepTimes);
  context.SetRestoreStreams(AOptions.KeepStreams);

  session.ProcessScan();
  if (session.View().Canceled()) {
    ATerminal.WriteLine("Scan canceled: nothing was restored.", TTerminal::tnWarning);
    return ecCanceled;
  }
  TickSelection(context, AOptions);
  std::int64_t size = 0;
  if (context.GetCheckedList(size)->Count() == 0)
    throw UsageError("No file matches the selection: nothing was restored.");
  session.View().SetCancelPoint(TCancelPoint::cpOutermostLevel);
  context.ProcessRecover();
  if (session.View().Canceled())
    ATerminal.WriteLine("Restore canceled: the files written until then are kept.", TTerminal::tnWarning);
  return session.ExitCode();
}
