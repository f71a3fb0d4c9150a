#pragma once

// A stand-in for xdg-email, first on PATH while the object lives: it writes
// the arguments it was given into a file and ends with the exit code it was
// told. The user's temporary folder points into the test's own folder too,
// so archives made for the message are cleaned up with it.

#include "tests/support/uTestFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace testfiles {

// Sets an environment variable for the lifetime of the object.
class TScopedEnvironment {
public:
  TScopedEnvironment(const char* AName, const std::string& AValue) : FName(AName) {
    if (const char* Old = std::getenv(AName))
      FOld = Old;
    setenv(AName, AValue.c_str(), 1);
  }
  ~TScopedEnvironment() {
    if (FOld)
      setenv(FName.c_str(), FOld->c_str(), 1);
    else
      unsetenv(FName.c_str());
  }
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
  std::string FName;
  std::optional<std::string> FOld;
};

class TFakeMailProgram {
public:
  explicit TFakeMailProgram(int AExitCode = 0) {
    std::filesystem::create_directory(FFolder / "bin");
    std::filesystem::create_directory(FFolder / "tmp");
    const std::filesystem::path Script = FFolder / "bin" / "xdg-email";
    std::ofstream(Script) << "#!/bin/sh\n"
                          << "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" << Record().string() << "'\n"
                          << "exit " << AExitCode << "\n";
    chmod(Script.c_str(), 0755);
  }

  // Where the program under test puts its temporary files.
  std::string TempFolder() const { return (FFolder / "tmp").string(); }

  bool WasCalled() const { return std::filesystem::exists(Record()); }

  // The arguments of the last call, in order.
  std::vector<std::string> Arguments() const {
    std::vector<std::string> Result;
    std::ifstream In(Record(), std::ios::binary);
    std::string Argument;
    while (std::getline(In, Argument, '\0'))
      Result.push_back(Argument);
    return Result;
  }

private:
  std::filesystem::path Record() const { return FFolder / "arguments"; }

  TTempFolder FFolder;
  TScopedEnvironment FPath{"PATH", (FFolder / "bin").string() + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "")};
  TScopedEnvironment FTemp{"TMPDIR", TempFolder()};
};

} // namespace testfiles
