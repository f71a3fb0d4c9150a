#include "tests/support/NtfsTools.h"

#include "tests/support/Command.h"

#include <regex>
#include <sstream>

namespace testsupport {

std::vector<NtfsLsEntry> NtfsLs(const std::string& AImage) {
  // A folder header "/$Extend/:" then "  RECORD  SIZE Mon DD HH:MM YYYY NAME",
  // folders with a trailing "/".
  static const std::regex kHeader(R"(^(/.*?)/?:$)");
  static const std::regex kEntry(R"(^\s*(\d+)\s+(\d+) \w{3} [ \d]\d \d\d:\d\d \d{4} (.*)$)");
  std::vector<NtfsLsEntry> entries;
  std::string folder;
  std::istringstream out(RunCommandChecked({"ntfsls", "-f", "-a", "-s", "-i", "-l", "-F", "-R", AImage}));
  for (std::string line; std::getline(out, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kHeader)) {
      folder = m[1] == "/" ? std::string() : std::string(m[1]);
      continue;
    }
    if (!std::regex_match(line, m, kEntry))
      continue;
    std::string name = m[3];
    NtfsLsEntry entry;
    entry.IsFolder = !name.empty() && name.back() == '/';
    if (entry.IsFolder)
      name.pop_back();
    if (name == "." || name == "..")
      continue;
    entry.Record = std::stoull(m[1]);
    entry.Size = std::stoull(m[2]);
    entry.Path = folder + "/" + name;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string NtfsCat(const std::string& AImage, std::uint64_t ARecord, std::optional<std::uint32_t> AType,
                    const std::string& AStreamName) {
  std::vector<std::string> args = {"ntfscat", "-f", "-i", std::to_string(ARecord)};
  if (AType)
    args.insert(args.end(), {"-a", std::to_string(*AType)});
  if (!AStreamName.empty())
    args.insert(args.end(), {"-n", AStreamName});
  args.push_back(AImage);
  return RunCommandChecked(args);
}

} // namespace testsupport
