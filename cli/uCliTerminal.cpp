#include "cli/uCliTerminal.h"

#include "foundation/uUnicode.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kDefaultWidth = 80;
constexpr char kRed[] = "\033[31m";
constexpr char kReset[] = "\033[0m";
// Carriage return, then erase to the end of the line.
constexpr char kEraseLine[] = "\r\033[K";

} // namespace

TTerminal::TTerminal(int AFd) : FFd(AFd), FIsTerminal(isatty(AFd) == 1) {}

std::size_t TTerminal::Width() const {
  winsize size{};
  if (ioctl(FFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return kDefaultWidth;
}

void TTerminal::Write(const std::string& AText) {
  std::size_t done = 0;
  while (done < AText.size()) {
    const ssize_t written = ::write(FFd, AText.data() + done, AText.size() - done);
    if (written < 0 && errno == EINTR)
      continue;
    // Nobody is left to tell when standard error itself fails.
    if (written <= 0)
      return;
    done += static_cast<std::size_t>(written);
  }
}

void TTerminal::WriteLine(const std::string& AText, TTone ATone) {
  const std::string line = EscapeControls(AText);
  if (!FIsTerminal) {
    Write(line + '\n');
    return;
  }
  std::string text = kEraseLine;
  text += ATone == tnPlain ? line : kRed + line + kReset;
  text += '\n';
  text += FStatus;
  Write(text);
}

void TTerminal::SetStatus(const std::string& AText) {
  if (!FIsTerminal)
    return;
  const std::string status = EscapeControls(AText);
  if (status == FStatus)
    return;
  FStatus = status;
  Write(kEraseLine + FStatus);
}

void TTerminal::ClearStatus() {
  if (!FIsTerminal || FStatus.empty())
    return;
  FStatus.clear();
  Write(kEraseLine);
}

void TTerminal::WritePrompt(const std::string& AText) {
  ClearStatus();
  Write(AText);
}
