#pragma once

#include "cli/uCliTerminal.h"
#include "progress/uProgressEx.h"

#include <cstdint>
#include <string>

// Where a Ctrl-C turns into a cancel.
enum class TCancelPoint {
  // At once, in whatever level is open: a stopped record pass keeps what it found.
  cpAnywhere,
  // Only in the outermost level, so that the file being written is finished
  // first; a second Ctrl-C cancels at once.
  cpOutermostLevel,
};

// Shows the progress levels and their messages on standard error: a bar with
// elapsed and remaining time on a terminal, a line per opened level
// elsewhere. It also counts the errors the operation reported and hands the
// user's Ctrl-C on to the progress service.
class TTerminalProgressView final : public IProgressExView {
public:
  explicit TTerminalProgressView(TTerminal& ATerminal) : FTerminal(ATerminal) {}

  void SetCancelPoint(TCancelPoint APoint) { FCancelPoint = APoint; }
  std::int32_t ErrorCount() const { return FErrorCount; }
  // Whether a Ctrl-C canceled a level.
  bool Canceled() const { return FCanceled; }

  void AddItem(IProgressExInfo& AItem) override;
  void UpdateItem(IProgressExInfo& AItem) override;
  void CloseItem(IProgressExInfo& AItem) override;
  void Detail(IProgressExInfo& AItem, const std::string& AMessage, TProgressDetailStatus AStatus) override;

private:
  void CancelOnInterrupt(IProgressExInfo& AItem);
  std::string StatusLine(const IProgressExInfo& AItem) const;

  TTerminal& FTerminal;
  TCancelPoint FCancelPoint = TCancelPoint::cpAnywhere;
  std::int32_t FErrorCount = 0;
  bool FCanceled = false;
};

// "1:05" or "2:03:04"; "--:--" while no estimate exists.
std::string DurationText(std::int64_t ASeconds);
