#include "cli/uCliDocs.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace {

// One option or positional argument as the documents show it.
struct TOptionDoc {
  std::vector<std::string> Names; // "-y", "--yes"; for a positional its name
  bool Positional = false;
  std::string Value;              // "MASK"; empty for a flag
  std::vector<std::string> Choices;
  bool Repeats = false;           // takes any number of values
  bool Required = false;
  std::string Default;
  std::string Help;
};

struct TCommandDoc {
  std::string Name; // empty for the program itself
  std::string Help;
  std::vector<TOptionDoc> Options;
};

// The words an option accepts, from the "{a,b,c}" its member check adds to
// its type name; none when it takes any text.
std::vector<std::string> ChoicesOf(const CLI::Option& AOption) {
  const std::string type = AOption.get_type_name();
  const std::size_t open = type.find('{');
  const std::size_t close = type.rfind('}');
  std::vector<std::string> choices;
  if (open == std::string::npos || close == std::string::npos || close < open)
    return choices;
  std::string word;
  for (const char c : type.substr(open + 1, close - open - 1)) {
    if (c == ',') {
      choices.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  choices.push_back(word);
  return choices;
}

// The placeholder of a value: the type name where one was chosen for the
// option, else its long name in capitals ("--target" takes TARGET).
std::string ValueName(const CLI::Option& AOption) {
  const std::string type = AOption.get_type_name().substr(0, AOption.get_type_name().find(':'));
  if (type != "TEXT" && !type.empty())
    return type;
  std::string name = AOption.get_single_name();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
    return c == '-' ? '_' : static_cast<char>(std::toupper(c));
  });
  return name;
}

TOptionDoc DescribeOption(const CLI::Option& AOption) {
  TOptionDoc doc;
  doc.Positional = AOption.get_positional();
  if (doc.Positional) {
    doc.Names.push_back(AOption.get_name(true, false));
  } else {
    for (const std::string& name : AOption.get_snames())
      doc.Names.push_back("-" + name);
    for (const std::string& name : AOption.get_lnames())
      doc.Names.push_back("--" + name);
  }
  if (AOption.get_expected_max() != 0 && !doc.Positional) { // a flag expects no value
    doc.Choices = ChoicesOf(AOption);
    doc.Value = ValueName(AOption);
  }
  doc.Repeats = AOption.get_expected_max() >= CLI::detail::expected_max_vector_size;
  doc.Required = AOption.get_required();
  doc.Default = AOption.get_default_str();
  doc.Help = AOption.get_description();
  return doc;
}

// The program and its commands, with the options each shows in its help;
// hidden options (no group) are left out, and so is each command's own
// --help, which the program's options name once.
std::vector<TCommandDoc> DescribeCommandLine(const CLI::App& AApp) {
  std::vector<TCommandDoc> commands;
  const auto describe = [&commands](const CLI::App& ACommand, bool AWithHelp) {
    TCommandDoc command{ACommand.get_parent() ? ACommand.get_name() : std::string(), ACommand.get_description(), {}};
    for (const CLI::Option* option : ACommand.get_options()) {
      if (option->get_group().empty() || (!AWithHelp && option == ACommand.get_help_ptr()))
        continue;
      command.Options.push_back(DescribeOption(*option));
    }
    commands.push_back(std::move(command));
  };
  describe(AApp, true);
  for (const CLI::App* command : AApp.get_subcommands({}))
    if (!command->get_name().empty() && !command->get_disabled())
      describe(*command, false);
  return commands;
}

// ----- manual page (scdoc) --------------------------------------------------

std::string ScdocText(const std::string& AText) {
  std::string escaped;
  for (const char c : AText) {
    if (c == '*' || c == '_' || c == '\\')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// A help of several lines stays in the option's indented paragraph, each
// line kept as a line: scdoc keeps a line after "++" in the paragraph, and
// would print a tab at its start.
std::string ScdocParagraph(const std::string& AText) {
  std::string paragraph;
  for (const char c : ScdocText(AText))
    paragraph += c == '\n' ? std::string(" ++\n") : std::string(1, c);
  return paragraph;
}

std::string ScdocValue(const TOptionDoc& AOption) {
  std::string value;
  if (!AOption.Choices.empty()) {
    for (const std::string& choice : AOption.Choices)
      value += (value.empty() ? "" : "|") + ScdocText(choice);
  } else if (!AOption.Value.empty()) {
    value = "_" + ScdocText(AOption.Value) + "_";
  }
  return value;
}

// "*--mask* _MASK_", "_SOURCE_..." or "*-y*, *--yes*".
std::string ScdocTerm(const TOptionDoc& AOption, const std::string& ANameSeparator) {
  std::string term;
  for (const std::string& name : AOption.Names) {
    if (!term.empty())
      term += ANameSeparator;
    term += AOption.Positional ? "_" + ScdocText(name) + "_" : "*" + ScdocText(name) + "*";
  }
  const std::string value = ScdocValue(AOption);
  if (!value.empty())
    term += " " + value;
  if (AOption.Repeats)
    term += "...";
  return term;
}

std::string ScdocUsage(const std::string& AProgram, const TCommandDoc& ACommand) {
  std::string usage = "*" + ScdocText(AProgram) + (ACommand.Name.empty() ? "" : " " + ScdocText(ACommand.Name)) + "*";
  for (const TOptionDoc& option : ACommand.Options) {
    const std::string term = ScdocTerm(option, "|");
    usage += " " + (option.Required ? term : "[" + term + "]");
  }
  return usage;
}

void WriteScdocOptions(const std::vector<TOptionDoc>& AOptions, std::ostream& AOut) {
  for (const TOptionDoc& option : AOptions) {
    AOut << ScdocTerm(option, ", ") << "\n\t" << ScdocParagraph(option.Help);
    if (!option.Default.empty())
      AOut << " (default: " << ScdocText(option.Default) << ")";
    AOut << "\n\n";
  }
}

void WriteSynopsis(const std::string& AProgram, const std::vector<TCommandDoc>& ACommands, std::ostream& AOut) {
  AOut << "# SYNOPSIS\n\n";
  for (const TCommandDoc& command : ACommands)
    AOut << ScdocUsage(AProgram, command) << "\n\n";
}

void WriteCommands(const std::vector<TCommandDoc>& ACommands, std::ostream& AOut) {
  AOut << "# OPTIONS\n\n";
  WriteScdocOptions(ACommands.front().Options, AOut);
  AOut << "# COMMANDS\n\n";
  for (auto command = ACommands.begin() + 1; command != ACommands.end(); ++command) {
    AOut << "## " << ScdocText(command->Name) << "\n\n" << ScdocText(command->Help) << ".\n\n";
    WriteScdocOptions(command->Options, AOut);
  }
}

// ----- bash -------------------------------------------------------------------

std::string Joined(const std::vector<std::string>& AWords) {
  std::string joined;
  for (const std::string& word : AWords)
    joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// What the command line needs of a command for completing it: its option
// names, and for each option with a value how to complete that value.
struct TCompletion {
  std::vector<std::string> Names;
  std::map<std::string, const TOptionDoc*> Values;
  bool TakesOperands = false;
};

TCompletion CompletionOf(const TCommandDoc& ACommand) {
  TCompletion completion;
  for (const TOptionDoc& option : ACommand.Options) {
    if (option.Positional) {
      completion.TakesOperands = true;
      continue;
    }
    for (const std::string& name : option.Names) {
      completion.Names.push_back(name);
      if (!option.Value.empty())
        completion.Values[name] = &option;
    }
  }
  return completion;
}

void WriteBash(const std::string& AProgram, const std::vector<TCommandDoc>& ACommands, std::ostream& AOut) {
  std::string function = "_" + AProgram;
  std::replace(function.begin(), function.end(), '-', '_');
  std::vector<std::string> names;
  for (auto command = ACommands.begin() + 1; command != ACommands.end(); ++command)
    names.push_back(command->Name);
  std::string pattern;
  for (const std::string& name : names)
    pattern += (pattern.empty() ? "" : "|") + name;

  AOut << "# bash completion for " << AProgram << "                  -*- shell-script -*-\n"
       << "# Written by the build from " << AProgram << "'s own command line.\n\n"
       << function << "()\n{\n"
       << "    local cur prev words cword\n"
       << "    _init_completion || return\n\n"
       << "    local command='' word\n"
       << "    for word in \"${words[@]:1:cword-1}\"; do\n"
       << "        case $word in\n"
       << "            " << pattern << ") command=$word; break ;;\n"
       << "        esac\n"
       << "    done\n\n"
       << "    case $command in\n";
  for (const TCommandDoc& command : ACommands) {
    const TCompletion completion = CompletionOf(command);
    std::vector<std::string> words = completion.Names;
    if (command.Name.empty())
      words.insert(words.begin(), names.begin(), names.end());
    else
      words.push_back("--help");
    AOut << "        " << (command.Name.empty() ? "''" : command.Name) << ")\n";
    if (!completion.Values.empty()) {
      AOut << "            case $prev in\n";
      for (const auto& [name, option] : completion.Values) {
        AOut << "                " << name << ") ";
        if (option->Choices.empty())
          AOut << "_filedir";
        else
          AOut << "COMPREPLY=($(compgen -W '" << Joined(option->Choices) << "' -- \"$cur\"))";
        AOut << "; return ;;\n";
      }
      AOut << "            esac\n";
    }
    const std::string options = "COMPREPLY=($(compgen -W '" + Joined(words) + "' -- \"$cur\"))";
    if (completion.TakesOperands)
      AOut << "            if [[ $cur == -* ]]; then\n"
           << "                " << options << "\n"
           << "            else\n"
           << "                _filedir\n"
           << "            fi\n";
    else
      AOut << "            " << options << "\n";
    AOut << "            ;;\n";
  }
  AOut << "    esac\n"
       << "} &&\n"
       << "    complete -F " << function << " " << AProgram << "\n";
}

// ----- zsh --------------------------------------------------------------------

// Text inside a single-quoted zsh word, where "[" and "]" also end an
// option's description; a description is one line.
std::string ZshText(const std::string& AText) {
  std::string escaped;
  for (const char c : AText) {
    if (c == '\n')
      escaped += ' ';
    else if (c == '\'')
      escaped += "'\\''";
    else if (c == '[' || c == ']')
      escaped += std::string("\\") + c;
    else
      escaped += c;
  }
  return escaped;
}

std::string ZshValueAction(const TOptionDoc& AOption) {
  if (!AOption.Choices.empty())
    return "(" + Joined(AOption.Choices) + ")";
  return "_files";
}

void WriteZshArguments(const TCommandDoc& ACommand, const std::string& AIndent, std::ostream& AOut) {
  for (const TOptionDoc& option : ACommand.Options) {
    if (option.Positional) {
      std::string name = option.Names.front();
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      AOut << " \\\n" << AIndent << "'" << (option.Repeats ? "*" : "1") << ":" << ZshText(name) << ":_files'";
      continue;
    }
    const std::string exclusions =
        option.Repeats ? "*" : option.Names.size() > 1 ? "(" + Joined(option.Names) + ")" : std::string();
    for (const std::string& name : option.Names) {
      AOut << " \\\n" << AIndent << "'" << exclusions << name << "[" << ZshText(option.Help) << "]";
      if (!option.Value.empty())
        AOut << ":" << ZshText(option.Value) << ":" << ZshValueAction(option);
      AOut << "'";
    }
  }
}

void WriteZsh(const std::string& AProgram, const std::vector<TCommandDoc>& ACommands, std::ostream& AOut) {
  AOut << "#compdef " << AProgram << "\n"
       << "# Written by the build from " << AProgram << "'s own command line.\n\n"
       << "local curcontext=$curcontext state line ret=1\n"
       << "local -a commands=(\n";
  for (auto command = ACommands.begin() + 1; command != ACommands.end(); ++command)
    AOut << "  '" << command->Name << ":" << ZshText(command->Help) << "'\n";
  AOut << ")\n\n_arguments -C";
  WriteZshArguments(ACommands.front(), "  ", AOut);
  AOut << " \\\n  '1: :->command' \\\n  '*:: :->argument' && ret=0\n\n"
       << "case $state in\n"
       << "  command)\n"
       << "    _describe -t commands '" << AProgram << " command' commands && ret=0\n"
       << "    ;;\n"
       << "  argument)\n"
       << "    case $line[1] in\n";
  for (auto command = ACommands.begin() + 1; command != ACommands.end(); ++command) {
    AOut << "      " << command->Name << ")\n        _arguments '(- *)--help[Print this help message and exit]'";
    WriteZshArguments(*command, "          ", AOut);
    AOut << " && ret=0\n        ;;\n";
  }
  AOut << "    esac\n"
       << "    ;;\n"
       << "esac\n\n"
       << "return ret\n";
}

} // namespace

void WriteCommandLineDoc(const CLI::App& AApp, TCommandLineDoc ADoc, std::ostream& AOut) {
  const std::vector<TCommandDoc> commands = DescribeCommandLine(AApp);
  const std::string program = AApp.get_name();
  switch (ADoc) {
    case TCommandLineDoc::cdSynopsis:
      WriteSynopsis(program, commands, AOut);
      break;
    case TCommandLineDoc::cdCommands:
      WriteCommands(commands, AOut);
      break;
    case TCommandLineDoc::cdBash:
      WriteBash(program, commands, AOut);
      break;
    case TCommandLineDoc::cdZsh:
      WriteZsh(program, commands, AOut);
      break;
  }
}

void AddDocsOption(CLI::App& AApp) {
  const std::map<std::string, TCommandLineDoc> docs{{"synopsis", TCommandLineDoc::cdSynopsis},
                                                    {"commands", TCommandLineDoc::cdCommands},
                                                    {"bash", TCommandLineDoc::cdBash},
                                                    {"zsh", TCommandLineDoc::cdZsh}};
  AApp.add_option_function<std::string>(
          "--print-docs",
          [&AApp, docs](const std::string& AKind) {
            WriteCommandLineDoc(AApp, docs.at(AKind), std::cout);
            throw CLI::Success();
          },
          "Write a part of the manual page or a shell completion")
      ->check(CLI::IsMember(docs))
      ->group("");
}
