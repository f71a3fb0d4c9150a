#pragma once

// tarnwick-cli run as a child process, and what its tests compare.

#include "tests/support/Command.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace clirun {

inline const std::string kCli = TARNWICK_CLI;

inline testsupport::CommandResult Cli(std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), kCli);
  return testsupport::RunCommand(AArgs);
}

// Each process hands a source the next free letter: tsv rows with the
// drive folder of their path written as "X:".
inline std::vector<std::string> WithoutDriveLetters(std::vector<std::string> ARows) {
  for (std::string& row : ARows) {
    const std::size_t path = row.rfind('\t') + 1;
    if (row.compare(path + 1, 1, ":") == 0)
      row.replace(path, 2, "X:");
  }
  return ARows;
}

inline std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The one last line of a run's error output.
inline std::string LastErrorLine(const testsupport::CommandResult& AResult) {
  const std::vector<std::string> lines = testsupport::SplitLines(AResult.Err);
  return lines.empty() ? std::string() : lines.back();
}

} // namespace clirun
