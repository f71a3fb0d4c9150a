#include "engine/uRestoreTargets.h"

#include "engine/uAppContext.h"
#include "foundation/uSysPath.h"
#include "platform/uRestorePath.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr char kTakenInRun[] = "by a file or folder restored earlier in this run";
constexpr char kTakenByFolder[] = "by a folder";
constexpr char kTakenByOther[] = "by something that is not a regular file (a link, device or pipe)";
constexpr char kTakenByNonFolder[] = "by something that is not a folder";

// The drive folder and the orphans folder stand for the target folder itself.
bool IsTopFolder(PTreeItemInfo ANode) { return ANode->Data->DirREF.Address() == 0; }

void WarnTaken(const char* AWhat, const std::string& APath, const char* AReason, const std::string& ANewPath) {
  ProgressEx::Detail(pdsWarning, "\"" + APath + "\" is taken " + AReason + ": the " + AWhat + " is restored as \"" +
                                     ANewPath + "\".");
}

} // namespace

TRestoreTargets::TRestoreTargets(ITargetFolder& ATarget, TRestoreMode AMode, TResolveConflictMode AConflict,
                                 std::size_t AMaxNameBytes)
    : FTarget(ATarget), FMode(AMode), FConflict(AConflict), FMaxNameBytes(AMaxNameBytes) {}

std::string TRestoreTargets::Join(const std::string& AFolder, const std::string& AName) const {
  return AFolder.empty() ? AName : AFolder + '/' + AName;
}

std::string TRestoreTargets::SafeName(PTreeItemInfo ANode) const {
  const std::u16string& name = ANode->Data->Name;
  std::string safe = SafeFileName(name, FMaxNameBytes);
  const std::string original = ToNativePath(name);
  if (safe != original)
    ProgressEx::Detail(pdsWarning, "The name \"" + original + "\" cannot be written on the target as it is and is "
                                   "restored as \"" + safe + "\".");
  return safe;
}

std::string TRestoreTargets::Shown(const std::string& ARelative) const {
  const std::string& target = FTarget.Path();
  return target.ends_with('/') ? target + ARelative : target + '/' + ARelative;
}

bool TRestoreTargets::WrittenHere(const TTargetEntry& AEntry) const {
  return AEntry.Kind != TEntryKind::ekNone && FWritten.contains({AEntry.Device, AEntry.Inode});
}

void TRestoreTargets::NoteMade(const TTargetEntry& AEntry) { FWritten.emplace(AEntry.Device, AEntry.Inode); }

bool TRestoreTargets::FolderMade(const std::string& AFolder) const {
  return AFolder.empty() || FMade.contains(AFolder);
}

TTargetEntry TRestoreTargets::EntryAt(const std::string& AFolder, const std::string& ARelative) const {
  // A folder this run has not made yet holds nothing.
  return FolderMade(AFolder) ? FTarget.Entry(ARelative) : TTargetEntry{};
}

std::string TRestoreTargets::FreeNumbered(const std::string& AFolder, const std::string& AName) const {
  for (std::int32_t number = 1; number < std::numeric_limits<std::int32_t>::max(); ++number) {
    const std::string candidate = Join(AFolder, NumberedFileName(AName, number, FMaxNameBytes));
    if (!FTaken.contains(candidate) && EntryAt(AFolder, candidate).Kind == TEntryKind::ekNone)
      return candidate;
  }
  throw std::runtime_error("No free numbered name for \"" + Shown(Join(AFolder, AName)) + "\".");
}

const std::string& TRestoreTargets::FolderOf(PTreeItemInfo ANode) {
  // From the nearest folder chosen before down to this one, without a call
  // per level: a crafted volume can chain folders thousands deep.
  std::vector<PTreeItemInfo> unplanned;
  for (PTreeItemInfo node = ANode; node != nullptr && !FFolders.contains(node); node = node->Parent)
    unplanned.push_back(node);
  for (auto node = unplanned.rbegin(); node != unplanned.rend(); ++node)
    FFolders.emplace(*node, ChooseFolder(*node));
  return FFolders.at(ANode);
}

std::string TRestoreTargets::ChooseFolder(PTreeItemInfo ANode) {
  if (IsTopFolder(ANode) || ANode->Parent == nullptr)
    return {};
  const std::string& parent = FFolders.at(ANode->Parent);
  const std::string name = SafeName(ANode);
  std::string relative = Join(parent, name);
  // An earlier run's folder is restored into; anything else of the name
  // makes this folder numbered, and everything below it follows.
  const char* reason = nullptr;
  if (FTaken.contains(relative)) {
    reason = kTakenInRun;
  } else if (const TTargetEntry entry = EntryAt(parent, relative); entry.Kind != TEntryKind::ekNone) {
    if (WrittenHere(entry))
      reason = kTakenInRun;
    else if (entry.Kind != TEntryKind::ekFolder)
      reason = kTakenByNonFolder;
    else
      FMade.insert(relative);
  }
  if (reason) {
    const std::string wanted = relative;
    relative = FreeNumbered(parent, name);
    WarnTaken("folder", Shown(wanted), reason, Shown(relative));
  }
  FTaken.insert(relative);
  return relative;
}

TRestoreTargets::TFilePlan TRestoreTargets::PlanFile(PTreeItemInfo ANode) {
  TFilePlan plan;
  if (FMode == rmTree)
    for (PTreeItemInfo parent = ANode->Parent; parent != nullptr && !IsTopFolder(parent); parent = parent->Parent)
      plan.Folders.insert(plan.Folders.begin(), parent);
  plan.Folder = FMode == rmTree && ANode->Parent ? FolderOf(ANode->Parent) : "";
  plan.Name = SafeName(ANode);
  PlanName(plan);
  return plan;
}

TRestoreTargets::TFilePlan TRestoreTargets::PlanStreamFile(const TFilePlan& AFile, std::u16string_view AStream,
                                                           char ASeparator) {
  TFilePlan plan;
  plan.Folders = AFile.Folders;
  plan.Folder = AFile.Folder;
  const std::string stream = SafeFileName(AStream, FMaxNameBytes);
  const std::string file = AFile.Relative.substr(AFile.Folder.empty() ? 0 : AFile.Folder.size() + 1);
  plan.Name = ShortenFileName(file + ASeparator + stream, FMaxNameBytes);
  PlanName(plan);
  return plan;
}

void TRestoreTargets::PlanName(TFilePlan& APlan) {
  const std::string& folder = APlan.Folder;
  const std::string& name = APlan.Name;
  APlan.Relative = Join(folder, name);

  const char* reason = nullptr;
  if (FTaken.contains(APlan.Relative)) {
    reason = kTakenInRun;
  } else {
    const TTargetEntry entry = EntryAt(folder, APlan.Relative);
    if (entry.Kind != TEntryKind::ekNone && WrittenHere(entry))
      reason = kTakenInRun;
    else if (entry.Kind != TEntryKind::ekNone && FConflict == rcmDontSave)
      APlan.Skip = true;
    else if (entry.Kind == TEntryKind::ekFolder)
      reason = kTakenByFolder;
    else if (entry.Kind == TEntryKind::ekOther)
      reason = kTakenByOther;
    else if (entry.Kind == TEntryKind::ekFile && FConflict == rcmRename)
      APlan.Relative = FreeNumbered(folder, name);
    else
      APlan.Replace = entry.Kind == TEntryKind::ekFile;
  }
  if (reason) {
    const std::string wanted = APlan.Relative;
    APlan.Relative = FreeNumbered(folder, name);
    WarnTaken("file", Shown(wanted), reason, Shown(APlan.Relative));
  }
  APlan.Path = Shown(APlan.Relative);
}

IOutputFilePtr TRestoreTargets::CreateFile(const TFilePlan& APlan) {
  // A path the system cannot take at all fails before its first folder is
  // made, instead of leaving thousands of them behind.
  if (APlan.Path.size() >= PATH_MAX) {
    const std::string folder = APlan.Folders.empty() ? FTarget.Path() : Shown(FFolders.at(APlan.Folders.back()));
    throw std::runtime_error("Cannot create folder \"" + folder + "\". " + std::strerror(ENAMETOOLONG));
  }
  for (PTreeItemInfo node : APlan.Folders) {
    const std::string& folder = FFolders.at(node);
    if (!FMade.contains(folder)) {
      NoteMade(FTarget.CreateFolder(folder));
      FMade.insert(folder);
    }
  }
  TTargetEntry created;
  IOutputFilePtr file = FTarget.CreateFile(APlan.Relative, APlan.Replace, created);
  FTaken.insert(APlan.Relative);
  NoteMade(created);
  return file;
}

std::optional<std::string> TRestoreTargets::MadeFolder(PTreeItemInfo ANode) const {
  const auto found = FFolders.find(ANode);
  if (found == FFolders.end() || found->second.empty() || !FMade.contains(found->second))
    return std::nullopt;
  return found->second;
}
