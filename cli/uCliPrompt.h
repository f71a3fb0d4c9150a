#pragma once

#include "cli/uCliTerminal.h"
#include "platform/uPrompt.h"

#include <cstdint>

// The engine's questions and messages on the terminal. The engine shows a
// message only when an operation failed, so each one counts as an error. A
// Yes/No question is asked when standard input is a terminal; otherwise it
// gets the answer given on the command line (--yes), or No.
class TTerminalPrompt final : public IPrompt {
public:
  enum TAnswerMode { amAsk, amAlwaysYes };

  TTerminalPrompt(TTerminal& ATerminal, TAnswerMode AMode) : FTerminal(ATerminal), FMode(AMode) {}

  // Failures shown, and questions answered No (the operation did not run).
  std::int32_t ErrorCount() const { return FErrorCount; }

  void ShowMessage(const std::string& AText) override;
  bool AskWarningYesNo(const std::string& AText) override;

private:
  bool AskOnTerminal(const std::string& AText);

  TTerminal& FTerminal;
  TAnswerMode FMode;
  std::int32_t FErrorCount = 0;
};
