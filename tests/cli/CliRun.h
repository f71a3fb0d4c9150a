#pragma once

// tarnwick-cli run as a child process, and what its tests compare.

#include "tests/support/Command.h"
#include "tests/support/Sha256.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace clirun {

inline const std::string kCli = TARNWICK_CLI;

inline testsupport::CommandResult Cli(std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), kCli);
  return testsupport::RunCommand(AArgs);
}

// Where the path, the ninth column, starts in a tsv row of a listing.
inline std::size_t PathColumnStart(const std::string& ARow) {
  std::size_t start = 0;
  for (int column = 1; column < 9; ++column)
    start = ARow.find('\t', start) + 1;
  return start;
}

// Each process hands a source the next free letter: tsv rows with the
// drive folder of their path written as "X:".
inline std::vector<std::string> WithoutDriveLetters(std::vector<std::string> ARows) {
  for (std::string& row : ARows) {
    const std::size_t path = PathColumnStart(row);
    if (row.compare(path + 1, 1, ":") == 0)
      row.replace(path, 2, "X:");
  }
  return ARows;
}

inline std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The tsv row of APath in a scan's output, cut into its fields.
inline std::vector<std::string> ScanRowOf(const std::string& AScan, const std::string& APath) {
  for (const std::string& line : testsupport::SplitLines(AScan)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
      fields.push_back(field);
    if (fields.size() > 8 && fields[8].ends_with(APath))
      return fields;
  }
  return {};
}

// Every file in AFolder with its bytes' hash and modification time: a
// source's files compare equal before and after a run that never wrote
// them.
inline std::map<std::string, std::string> FingerprintsIn(const std::filesystem::path& AFolder) {
  std::map<std::string, std::string> prints;
  for (const auto& entry : std::filesystem::directory_iterator(AFolder)) {
    struct stat info {};
    stat(entry.path().c_str(), &info);
    prints[entry.path().filename().string()] = testsupport::Sha256Hex(ReadFile(entry.path())) + " " +
                                              std::to_string(info.st_mtim.tv_sec) + "." +
                                              std::to_string(info.st_mtim.tv_nsec);
  }
  return prints;
}

// The one last line of a run's error output.
inline std::string LastErrorLine(const testsupport::CommandResult& AResult) {
  const std::vector<std::string> lines = testsupport::SplitLines(AResult.Err);
  return lines.empty() ? std::string() : lines.back();
}

} // namespace clirun
