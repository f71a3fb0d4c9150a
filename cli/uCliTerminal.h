#pragma once

#include <cstddef>
#include <string>

// Standard error as the command line writes to it. On a terminal one status
// line (the progress bar) stays at the bottom and messages scroll above it;
// elsewhere only whole plain lines are written, for logs and scripts.
// Names in the text come from the volume: control characters in them are
// shown escaped, never sent to the terminal.
class TTerminal {
public:
  enum TTone { tnPlain, tnWarning, tnError };

  // Colours and the status line only when AFd is a terminal.
  explicit TTerminal(int AFd);

  bool IsTerminal() const { return FIsTerminal; }
  // Columns of the terminal; 80 when it does not say.
  std::size_t Width() const;

  // One message line; warnings and errors are red on a terminal.
  void WriteLine(const std::string& AText, TTone ATone = tnPlain);
  // Replaces the status line; ignored when not on a terminal.
  void SetStatus(const std::string& AText);
  void ClearStatus();
  // Text without a line break, for a question; the status line goes first.
  void WritePrompt(const std::string& AText);

private:
  void Write(const std::string& AText);

  int FFd;
  bool FIsTerminal;
  std::string FStatus;
};
