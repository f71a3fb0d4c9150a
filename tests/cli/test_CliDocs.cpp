#include "cli/uCliDocs.h"
#include "tests/support/Command.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::SplitLines;

namespace {

using TNames = std::set<std::string>;

// The option names ("-h", "--mask") that a text mentions as options: a dash
// at the start of a word, so "read-only" and "blank-separated" are no option.
TNames OptionNames(const std::string& AText) {
  static const std::regex Option(R"((^|[\s,\[|(])(--?[A-Za-z][-A-Za-z0-9]*))");
  TNames names;
  for (auto match = std::sregex_iterator(AText.begin(), AText.end(), Option); match != std::sregex_iterator();
       ++match)
    names.insert((*match)[2]);
  return names;
}

std::string Help(const std::string& AProgram, const std::vector<std::string>& AArguments) {
  std::vector<std::string> command{AProgram};
  command.insert(command.end(), AArguments.begin(), AArguments.end());
  command.push_back("--help");
  const CommandResult result = RunCommand(command);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  return result.Out;
}

// The commands a CLI11 help lists under "Subcommands:".
std::vector<std::string> Commands(const std::string& AHelp) {
  std::vector<std::string> commands;
  bool listed = false;
  for (const std::string& line : SplitLines(AHelp)) {
    if (line == "Subcommands:")
      listed = true;
    else if (listed && line.size() > 2 && line[0] == ' ')
      commands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return commands;
}

// A manual page as man shows it, in plain ASCII and wide enough that no
// option is broken over two lines: the longest synopsis, restore's, is one
// line of some 230 characters.
std::string RenderedManual(const std::string& APage) {
  const CommandResult result = RunCommand({"env", "MANWIDTH=320", "man", "-E", "ascii", "-l", APage});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(result.Err, "") << APage;
  return result.Out;
}

TNames Missing(const TNames& AWanted, const TNames& AFound) {
  TNames missing;
  for (const std::string& name : AWanted)
    if (!AFound.count(name))
      missing.insert(name);
  return missing;
}

std::string Listed(const TNames& ANames) {
  std::string listed;
  for (const std::string& name : ANames)
    listed += " " + name;
  return listed;
}

struct TManualCase {
  std::string Program;
  std::string Manual;
};

class ManualPage : public ::testing::TestWithParam<TManualCase> {};

// The options of the program's help and of each command's help are the
// options its manual page names, no more and no fewer: a new option reaches
// the page, and the page's prose never names an option that is gone.
TEST_P(ManualPage, NamesTheOptionsOfEveryHelpAndNoOthers) {
  const std::string help = Help(GetParam().Program, {});
  TNames inHelp = OptionNames(help);
  std::string manual = RenderedManual(GetParam().Manual);
  for (const std::string& command : Commands(help)) {
    const TNames options = OptionNames(Help(GetParam().Program, {command}));
    inHelp.insert(options.begin(), options.end());
    EXPECT_NE(manual.find("\n   " + command + "\n"), std::string::npos) << "no section for the command " << command;
  }
  const TNames inManual = OptionNames(manual);
  EXPECT_EQ(Listed(Missing(inHelp, inManual)), "") << "options of the help that the manual page leaves out";
  EXPECT_EQ(Listed(Missing(inManual, inHelp)), "") << "options of the manual page that no help shows";
}

std::vector<TManualCase> ManualCases() {
  std::vector<TManualCase> cases{{TARNWICK_CLI, TARNWICK_MANUAL_DIR "/tarnwick-cli.1"}};
#ifdef TARNWICK_GUI
  cases.push_back({TARNWICK_GUI, TARNWICK_MANUAL_DIR "/tarnwick.1"});
#endif
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Programs, ManualPage, ::testing::ValuesIn(ManualCases()),
                         [](const auto& AInfo) {
                           std::string name = std::filesystem::path(AInfo.param.Program).filename();
                           std::erase(name, '-');
                           return name;
                         });

// ----- the shell completion ------------------------------------------------

// What bash offers for the last word of ALine, with the completion the build
// wrote loaded as bash-completion loads it.
std::vector<std::string> BashCompletes(const std::string& ALine) {
  const std::string script =
      "source /usr/share/bash-completion/bash_completion\n"
      "source '" TARNWICK_BASH_COMPLETION "'\n"
      "COMP_LINE=\"$1\"; COMP_POINT=${#COMP_LINE}\n"
      "read -ra COMP_WORDS <<<\"$COMP_LINE\"\n"
      "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
      "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
      "_tarnwick_cli tarnwick-cli \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
      "printf '%s\\n' \"${COMPREPLY[@]}\" | sort\n";
  const CommandResult result = RunCommand({"bash", "-c", script, "bash", ALine});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  std::vector<std::string> words = SplitLines(result.Out);
  std::erase(words, "");
  return words;
}

std::vector<std::string> Sorted(const TNames& ANames) { return {ANames.begin(), ANames.end()}; }

TEST(BashCompletion, OffersTheCommandsAndEachCommandsOptionsAsItsHelpShowsThem) {
  const std::string help = Help(TARNWICK_CLI, {});
  TNames top = OptionNames(help);
  for (const std::string& command : Commands(help)) {
    top.insert(command);
    TNames options = OptionNames(Help(TARNWICK_CLI, {command}));
    options.erase("-h"); // one spelling of help is enough to offer
    EXPECT_EQ(BashCompletes("tarnwick-cli " + command + " -"), Sorted(options)) << command;
  }
  EXPECT_EQ(BashCompletes("tarnwick-cli "), Sorted(top));
}

TEST(BashCompletion, OffersTheWordsAnOptionTakesAndFileNamesForOthers) {
  EXPECT_EQ(BashCompletes("tarnwick-cli scan d.img --format "), (std::vector<std::string>{"csv", "json", "tree", "tsv"}));
  EXPECT_EQ(BashCompletes("tarnwick-cli restore d.img --conflict r"), std::vector<std::string>{"rename"});
  testfiles::TTempFolder folder;
  std::ofstream(folder / "volume.img").put('x');
  EXPECT_EQ(BashCompletes("tarnwick-cli scan " + (folder / "vol").string()),
            std::vector<std::string>{(folder / "volume.img").string()});
}

// What zsh offers for the last word of ALine, with the completion function
// the build wrote first in its function path.
std::vector<std::string> ZshCompletes(const std::string& ALine) {
  const CommandResult result =
      RunCommand({"zsh", "-f", TARNWICK_TEST_SOURCE "/zsh-complete.zsh", TARNWICK_ZSH_FUNCTIONS, ALine});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  TNames words;
  for (const std::string& word : SplitLines(result.Out))
    if (!word.empty())
      words.insert(word);
  return Sorted(words);
}

// Both shells complete from the same description of the command line: zsh
// offers what bash offers for options and their words, and the commands
// where bash adds the program's options too.
TEST(ZshCompletion, OffersWhatBashOffers) {
  if (RunCommand({"zsh", "-fc", "zmodload zsh/zpty && zpty probe true"}).ExitCode != 0)
    GTEST_SKIP() << "zsh cannot open a pseudo terminal here";
  for (const std::string line : {"tarnwick-cli -", "tarnwick-cli scan d.img -", "tarnwick-cli restore d.img --",
                                 "tarnwick-cli scan d.img --format ", "tarnwick-cli restore d.img --conflict "})
    EXPECT_EQ(ZshCompletes(line), BashCompletes(line)) << line;
  EXPECT_EQ(ZshCompletes("tarnwick-cli "), Sorted(TNames{"drives", "restore", "scan"}));
}

// ----- the writer over options no program of ours has (yet) ----------------

// An option help with every character the three languages treat specially.
constexpr char AwkwardHelp[] = R"(Names like "*_x_*" in [brackets], C:\path and it's 'quoted')";

struct TAwkwardCommandLine {
  std::string From, Mask = "*_*", Into, Pick;
  std::vector<std::string> Items;
  bool Quiet = false;
  CLI::App App{"A program", "awkward"};

  TAwkwardCommandLine() {
    CLI::App* copy = App.add_subcommand("copy", "Copy things");
    copy->add_option("FROM", From, AwkwardHelp)->required();
    copy->add_option("-n,--name-mask", Mask, AwkwardHelp)->capture_default_str();
    copy->add_option("--into", Into, AwkwardHelp)->type_name("DIR");
    copy->add_option("--pick", Pick, AwkwardHelp)->check(CLI::IsMember({"one", "two"}));
    copy->add_option("--item", Items, AwkwardHelp)->take_all();
    copy->add_flag("--quiet", Quiet, "First line\nsecond line");
  }
};

std::string Written(const CLI::App& AApp, TCommandLineDoc ADoc) {
  std::ostringstream out;
  WriteCommandLineDoc(AApp, ADoc, out);
  return out.str();
}

TEST(CommandLineDocs, ManualPartsKeepEveryCharacterOfTheHelpAndNameEachValue) {
  const TAwkwardCommandLine awkward;
  const CLI::App& app = awkward.App;
  testfiles::TTempFolder folder;
  const std::string source = "awkward(1)\n\n# NAME\n\nawkward - test\n\n" + Written(app, TCommandLineDoc::cdSynopsis) +
                             Written(app, TCommandLineDoc::cdCommands);
  std::ofstream(folder / "awkward.1.scd") << source;
  const CommandResult roff = RunCommand({"sh", "-c", "scdoc < \"$1\" > \"$2\"", "sh",
                                         (folder / "awkward.1.scd").string(), (folder / "awkward.1").string()});
  ASSERT_EQ(roff.ExitCode, 0) << roff.Err << source;
  const std::string manual = RenderedManual((folder / "awkward.1").string());
  EXPECT_NE(manual.find("awkward copy FROM [-n|--name-mask NAME_MASK] [--into DIR] [--pick one|two] [--item ITEM...] "
                        "[--quiet]"),
            std::string::npos)
      << manual;
  EXPECT_NE(manual.find("-n, --name-mask NAME_MASK\n"), std::string::npos) << manual;
  EXPECT_NE(manual.find(std::string(AwkwardHelp) + " (default: *_*)"), std::string::npos) << manual;
  EXPECT_NE(manual.find("    --quiet\n           First line\n           second line\n"), std::string::npos) << manual;
  EXPECT_EQ(OptionNames(manual), (TNames{"--into", "--item", "--name-mask", "--pick", "--quiet", "-h", "--help", "-n"}));
}

TEST(CommandLineDocs, CompletionsParseInTheirShells) {
  const TAwkwardCommandLine awkward;
  for (const auto& [shell, doc] : {std::pair{"bash", TCommandLineDoc::cdBash}, std::pair{"zsh", TCommandLineDoc::cdZsh}}) {
    testfiles::TTempFolder folder;
    const std::string script = Written(awkward.App, doc);
    std::ofstream(folder / "completion") << script;
    const CommandResult parsed = RunCommand({shell, "-n", (folder / "completion").string()});
    EXPECT_EQ(parsed.ExitCode, 0) << shell << ": " << parsed.Err << script;
  }
}

} // namespace
