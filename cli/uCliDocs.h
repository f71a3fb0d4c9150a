#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

// The parts of the manual page and the shell completions that the build
// writes from the command line's own definition, so that they list exactly
// the commands and options that --help shows, with the same descriptions.
enum class TCommandLineDoc {
  cdSynopsis, // the manual page's SYNOPSIS section (scdoc)
  cdCommands, // the OPTIONS and COMMANDS sections (scdoc)
  cdBash,     // the bash completion script
  cdZsh,      // the zsh completion function
};

void WriteCommandLineDoc(const CLI::App& AApp, TCommandLineDoc ADoc, std::ostream& AOut);

// Adds the hidden option "--print-docs synopsis|commands|bash|zsh" that
// writes one of them on standard output and ends the program with success.
// What it writes describes the command line as it stands when parsed.
void AddDocsOption(CLI::App& AApp);
