#pragma once

#include "platform/uTargetFolder.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TTreeItemInfo;
enum TRestoreMode : std::uint8_t;
enum TResolveConflictMode : std::uint8_t;

// Where each file of one restore goes below the target folder. The conflict
// rule decides only about what was there before the restore: whatever this
// restore wrote itself is never overwritten. A name that collides within the
// run (the same path twice, names that became the same once made safe, a
// file and a folder of one name, a target that folds case) gets the numbered
// name of the rename rule and a warning, and a folder keeps its numbered name
// for everything below it.
class TRestoreTargets {
public:
  TRestoreTargets(ITargetFolder& ATarget, TRestoreMode AMode, TResolveConflictMode AConflict,
                  std::size_t AMaxNameBytes);

  struct TFilePlan {
    std::string Relative; // below the target folder
    std::string Path;     // the target folder and Relative, for messages
    bool Skip = false;    // something is there and the rule says skip
    bool Replace = false; // a file of an earlier run is overwritten
    std::vector<TTreeItemInfo*> Folders; // the file's folders, top first
    std::string Folder; // the folder below the target that holds it
    std::string Name;   // the safe name it was meant to have there
  };

  // Chooses the file's path, and the names of its folders not chosen yet,
  // sending a warning for every name that had to change. Creates nothing.
  TFilePlan PlanFile(TTreeItemInfo* ANode);
  // The file beside the planned file AFile that holds its named data stream
  // AStream, "file:stream" (or with ASeparator in place of ":"), chosen by
  // the same rules.
  TFilePlan PlanStreamFile(const TFilePlan& AFile, std::u16string_view AStream, char ASeparator = ':');
  // Creates the planned file with the folders it still lacks, and keeps in
  // mind that this restore wrote it.
  IOutputFilePtr CreateFile(const TFilePlan& APlan);
  // The folder ANode was restored into, when one was made or found for it.
  std::optional<std::string> MadeFolder(TTreeItemInfo* ANode) const;
  // False when the target's file system cannot hold one of the times.
  [[nodiscard]] bool SetFolderTimes(const std::string& AFolder, const TFileTimes& ATimes) {
    return FTarget.SetFolderTimes(AFolder, ATimes);
  }

private:
  // The folder's path below the target, chosen at its first file.
  const std::string& FolderOf(TTreeItemInfo* ANode);
  // The path of a folder whose parent folder is chosen already.
  std::string ChooseFolder(TTreeItemInfo* ANode);
  std::string SafeName(TTreeItemInfo* ANode) const;
  // APlan's Relative and Path for its Folder and Name, by the conflict rule.
  void PlanName(TFilePlan& APlan);
  std::string Join(const std::string& AFolder, const std::string& AName) const;
  // AFolder below the target, or the target itself, as shown in messages.
  std::string Shown(const std::string& ARelative) const;
  bool WrittenHere(const TTargetEntry& AEntry) const;
  bool FolderMade(const std::string& AFolder) const;
  void NoteMade(const TTargetEntry& AEntry);
  TTargetEntry EntryAt(const std::string& AFolder, const std::string& ARelative) const;
  // The first numbered name in AFolder that is free on the target and in
  // this run.
  std::string FreeNumbered(const std::string& AFolder, const std::string& AName) const;

  ITargetFolder& FTarget;
  TRestoreMode FMode;
  TResolveConflictMode FConflict;
  std::size_t FMaxNameBytes;
  std::map<TTreeItemInfo*, std::string> FFolders;
  std::set<std::string> FTaken;     // relative paths of this run
  std::set<std::string> FMade;      // folders that exist, made or found
  std::set<std::pair<dev_t, ino_t>> FWritten; // files and folders this run made
};
