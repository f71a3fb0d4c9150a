#include "cli/uCliCommands.h"
#include "cli/uCliDocs.h"
#include "cli/uCliInterrupt.h"
#include "cli/uCliSource.h"
#include "foundation/uUnicode.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <utility>
#include <vector>
#include <unistd.h>

namespace {

constexpr char kProgram[] = "tarnwick-cli";

void AddScanOptions(CLI::App& ACommand, TScanOptions& AOptions) {
  ACommand.add_option("SOURCE", AOptions.Source, "Drive (\"D:\"), block device or NTFS volume image")->required();
  ACommand.add_option("--partition", AOptions.Partition,
                      "The NTFS partition of a disk or disk image, numbered as drives shows")
      ->check(CLI::PositiveNumber);
  ACommand.add_option("--offset", AOptions.Offset,
                      "The byte a volume that no partition table lists starts at, as the drives search shows it")
      ->type_name("BYTES");
  ACommand.add_option("--map", AOptions.MapFile, "GNU ddrescue mapfile of the image (default: IMAGE.map beside it)");
  ACommand.add_option("--mask", AOptions.Mask, "File name mask, for example \"*.jpg;*.png\"")
      ->capture_default_str();
  ACommand.add_flag("!--no-snapshots", AOptions.IncludeSnapshots,
                    "Leave out the previous versions kept in the volume's shadow copies");
}

// An option that takes one of a few words, each standing for a value.
template <class T>
void AddChoice(CLI::App& ACommand, const std::string& AName, T& ATarget,
               const std::vector<std::pair<std::string, T>>& AChoices, const std::string& AHelp) {
  std::vector<std::string> words;
  for (const auto& choice : AChoices)
    words.push_back(choice.first);
  ACommand
      .add_option_function<std::string>(
          AName,
          [&ATarget, AChoices](const std::string& AWord) {
            for (const auto& [word, value] : AChoices)
              if (word == AWord)
                ATarget = value;
          },
          AHelp)
      ->check(CLI::IsMember(words));
}

int ReportError(const std::string& AMessage, int ACode) {
  std::cerr << kProgram << ": " << EscapeControls(AMessage) << '\n';
  return ACode;
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"Finds deleted files and folders on an NTFS volume and restores them.", kProgram};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string(kProgram) + " " + TARNWICK_VERSION, "Print the version and exit");

  CLI::App* drives = app.add_subcommand("drives", "List the NTFS drives, block devices and volume images");
  std::vector<std::string> driveImages;
  drives->add_option("IMAGE", driveImages, "Volume or disk images to list besides the drives");
  bool search = false;
  bool deepSearch = false;
  drives->add_flag("--search", search,
                   "Search the one disk or disk image given for NTFS volumes no partition table lists");
  drives->add_flag("--deep", deepSearch, "With --search: look at every sector, not only where partitions start")
      ->needs("--search");

  TScanOptions scan;
  CLI::App* scanCommand = app.add_subcommand("scan", "Scan a source and print the tree of what was found");
  AddScanOptions(*scanCommand, scan);
  AddChoice(*scanCommand, "--format", scan.Format,
            {{"tree", TListingFormat::lfTree},
             {"tsv", TListingFormat::lfTsv},
             {"csv", TListingFormat::lfCsv},
             {"json", TListingFormat::lfJson}},
            "Output format: tree (default), tsv, csv or json");
  scanCommand->add_flag("--include-gone", scan.IncludeGone,
                        "Also list names that folders' indexes still hold whose files are gone");

  TRestoreOptions restore;
  CLI::App* restoreCommand = app.add_subcommand("restore", "Scan a source and restore the selected files");
  AddScanOptions(*restoreCommand, restore.Scan);
  restoreCommand->add_option("--target", restore.Target, "Folder to restore into, on another drive")->required();
  AddChoice(*restoreCommand, "--mode", restore.Mode, {{"tree", rmTree}, {"flat", rmFlat}},
            "tree (default): keep the folders; flat: every file straight in the target");
  AddChoice(*restoreCommand, "--conflict", restore.Conflict,
            {{"overwrite", rcmOvewrite}, {"rename", rcmRename}, {"skip", rcmDontSave}},
            "When a file exists: overwrite, rename (default) or skip");
  AddChoice(*restoreCommand, "--select", restore.Select, {{"all", TSelection::slAll}, {"good", TSelection::slGood}},
            "all: every file; good: the files that look intact");
  restoreCommand->add_option("--path", restore.Paths,
                             "A file or folder to restore, as scan lists it, or #RECORD by its record number")
      ->take_all();
  restoreCommand->add_flag("--yes", restore.AnswerYes, "Answer Yes to the question about free space");
  restoreCommand->add_flag("!--no-times", restore.KeepTimes,
                           "Give restored files and folders the time of writing, not their original times");
  restoreCommand->add_flag("!--no-streams", restore.KeepStreams,
                           "Leave out the named data streams of restored files");

  AddDocsOption(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help, the version and the documents the build asks for end with success.
    if (error.get_exit_code() == 0)
      return app.exit(error);
    return ReportError(std::string(error.what()) + " (see --help)", ecUsage);
  }

  InstallInterruptHandler();
  TTerminal terminal(STDERR_FILENO);
  try {
    if (*drives && search) {
      if (driveImages.size() != 1)
        throw UsageError("--search takes one disk or disk image.");
      return RunSearch(driveImages.front(), deepSearch, std::cout, terminal);
    }
    if (*drives)
      return RunDrives(driveImages, std::cout);
    if (*scanCommand)
      return RunScan(scan, std::cout, terminal);
    return RunRestore(restore, terminal);
  } catch (const UsageError& error) {
    return ReportError(error.what(), ecUsage);
  } catch (const SourceError& error) {
    return ReportError(error.what(), ecSourceFailed);
  } catch (const std::exception& error) {
    // An output that cannot be written, a target that turned out to lie on
    // the source: said, never a crash.
    return ReportError(error.what(), ecFileErrors);
  }
}
