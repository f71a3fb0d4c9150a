#pragma once

#include "foundation/uUnicode.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Paths that depend on the user or the machine are written with a placeholder
// at their start ("*LOCAL_APPDATA*/Tarnwick"); the table below turns such a
// placeholder into the real folder and a real folder back into its placeholder.

// One special folder: its placeholder name, the Windows shell's special-folder
// id (CSIDL) for it, and the folder found for it when the table was built.
struct TSysPath {
  std::u16string Name;
  std::uint16_t CSIDL = 0;
  std::u16string Path;  // without a trailing "/"; empty when there is no such folder
};

// Answers the folder of a special-folder id, or an empty string for none.
using TSpecialFolderLookup = std::function<std::u16string(std::uint16_t ACSIDL)>;

class TSysPaths {
public:
  // Built from the XDG base and user directories of the current environment.
  TSysPaths();
  explicit TSysPaths(const TSpecialFolderLookup& ALookup);

  int Count() const;
  // Zero-based; an index outside the table raises std::out_of_range.
  const TSysPath& Get(int AIndex) const;
  void Put(int AIndex, const TSysPath& AItem);

  // "*NAME*tail" becomes the folder of NAME followed by tail; a path without
  // the delimiter comes back unchanged; a malformed or unknown placeholder
  // gives an empty string.
  std::u16string AnnouncePath(const std::u16string& aPath, const std::u16string& NT) const;
  // Replaces the longest leading known folder of aPath by its placeholder.
  std::u16string DenouncePath(const std::u16string& aPath, const std::u16string& NT) const;

private:
  std::vector<TSysPath> FItems;
};

// The process-wide table, built on first use and never refreshed.
TSysPaths& SysPaths();

// Where the program keeps its per-user files; the start-up code sets it once
// from AppDataPlaceholder. Nothing creates the folder here.
inline constexpr char16_t AppDataPlaceholder[] = u"*LOCAL_APPDATA*/Tarnwick";
const std::u16string& AppDataFolder();
void SetAppDataFolder(const std::u16string& AFolder);

