#include "cli/uCliPrompt.h"

#include "cli/uCliInterrupt.h"

#include <cerrno>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kPollMilliseconds = 200;

// One line from standard input; none on end of input or Ctrl-C.
std::optional<std::string> ReadAnswerLine() {
  const int interruptsBefore = InterruptCount();
  std::string line;
  for (;;) {
    if (InterruptCount() != interruptsBefore)
      return std::nullopt;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, kPollMilliseconds);
    if (ready < 0 && errno != EINTR)
      return std::nullopt;
    if (ready <= 0)
      continue;
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return std::nullopt;
    if (c == '\n')
      return line;
    line += c;
  }
}

} // namespace

void TTerminalPrompt::ShowMessage(const std::string& AText) {
  ++FErrorCount;
  FTerminal.WriteLine(AText, TTerminal::tnError);
}

bool TTerminalPrompt::AskWarningYesNo(const std::string& AText) {
  bool yes = false;
  if (FMode == amAlwaysYes) {
    FTerminal.WriteLine(AText + " Yes (--yes)", TTerminal::tnWarning);
    yes = true;
  } else if (isatty(STDIN_FILENO) == 1) {
    yes = AskOnTerminal(AText);
  } else {
    FTerminal.WriteLine(AText + " No (standard input is not a terminal; --yes answers Yes)", TTerminal::tnWarning);
  }
  if (!yes)
    ++FErrorCount;
  return yes;
}

bool TTerminalPrompt::AskOnTerminal(const std::string& AText) {
  FTerminal.WritePrompt(AText + " [y/N] ");
  const std::optional<std::string> answer = ReadAnswerLine();
  if (!answer)
    FTerminal.WriteLine("");
  return answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "Yes");
}
