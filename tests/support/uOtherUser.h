#pragma once

// Running a program as another user (nobody), as someone without access to a
// device or file runs it. That user cannot enter a checkout or build folder
// private to its owner (a clone in a `mktemp -d` folder is mode 0700), so
// what it runs or reads is copied into a folder every user may enter.

#include "tests/support/uTestFiles.h"

#include <sys/statvfs.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testfiles {

// A fresh folder under /tmp that every user may enter, removed with what it
// holds when the object goes. Not under TMPDIR, which may be the test
// runner's own folder.
class TSharedTempFolder {
public:
  TSharedTempFolder() : FFolder("/tmp") {
    using std::filesystem::perms;
    std::filesystem::permissions(FFolder.Path(), perms::owner_all | perms::group_read | perms::group_exec |
                                                     perms::others_read | perms::others_exec);
  }

  const std::filesystem::path& Path() const { return FFolder.Path(); }

  // Copies a program in, runnable by every user; returns the copy's path.
  std::string AddProgram(const std::filesystem::path& AProgram) {
    return Add(AProgram, std::filesystem::perms(0755));
  }
  // Copies a file in with APermissions (readable by every user unless
  // given); returns the copy's path.
  std::string AddFile(const std::filesystem::path& AFile,
                      std::filesystem::perms APermissions = std::filesystem::perms(0644)) {
    return Add(AFile, APermissions);
  }

  // Why another user could not run a program copied here, or nothing when
  // it can: /tmp may be mounted noexec.
  std::string WhyProgramsCannotRun() const {
    struct statvfs mount {};
    if (statvfs(Path().c_str(), &mount) == 0 && (mount.f_flag & ST_NOEXEC) != 0)
      return "/tmp is mounted noexec: another user could not run a program copied there";
    return {};
  }

private:
  std::string Add(const std::filesystem::path& AFile, std::filesystem::perms APermissions) {
    const std::filesystem::path copy = Path() / AFile.filename();
    std::filesystem::copy_file(AFile, copy);
    std::filesystem::permissions(copy, APermissions);
    return copy.string();
  }

  TTempFolder FFolder;
};

// AArgs run as nobody, with group nogroup and no supplementary groups.
inline std::vector<std::string> AsNobody(std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  return AArgs;
}

} // namespace testfiles
