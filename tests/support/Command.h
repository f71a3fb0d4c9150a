#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
  int ExitCode = -1; // -1 when the program could not run or died of a signal
  std::string Out;   // raw bytes, binary safe
  std::string Err;
};

// Runs a program (searched in PATH, no shell) and captures both outputs.
CommandResult RunCommand(const std::vector<std::string>& AArgs);

// As RunCommand, but a non-zero exit throws std::runtime_error with the
// command line and its error output; returns standard output.
std::string RunCommandChecked(const std::vector<std::string>& AArgs);

// A command's output cut into lines, without their line feeds.
std::vector<std::string> SplitLines(const std::string& AText);

} // namespace testsupport
