#include "cli/uCliProgressView.h"

#include "cli/uCliInterrupt.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t kBarWidth = 24;
// The smallest room a title keeps on a narrow terminal.
constexpr std::size_t kMinTitleWidth = 10;
constexpr std::int32_t kIndentPerLevel = 2;
// The service numbers its levels from 0.
constexpr std::int32_t kOutermostLevel = 0;

std::size_t CodePoints(const std::string& AText) {
  return static_cast<std::size_t>(
      std::count_if(AText.begin(), AText.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Cuts AText to at most AWidth code points, never inside a UTF-8 sequence.
std::string Shortened(const std::string& AText, std::size_t AWidth) {
  if (CodePoints(AText) <= AWidth)
    return AText;
  std::size_t kept = 0;
  std::size_t end = 0;
  for (; end < AText.size(); ++end)
    if ((static_cast<unsigned char>(AText[end]) & 0xC0) != 0x80 && kept++ == AWidth - 1)
      break;
  return AText.substr(0, end) + "\u2026";
}

std::string Bar(double APercent) {
  const double clamped = std::clamp(APercent, 0.0, 100.0);
  const auto filled = static_cast<std::size_t>(std::lround(clamped * kBarWidth / 100.0));
  std::string bar(1, '[');
  bar.append(filled, '#').append(kBarWidth - filled, '-') += ']';
  return bar;
}

TTerminal::TTone ToneOf(TProgressDetailStatus AStatus) {
  switch (AStatus) {
  case pdsError:
    return TTerminal::tnError;
  case pdsWarning:
    return TTerminal::tnWarning;
  case pdsInformation:
    break;
  }
  return TTerminal::tnPlain;
}

std::string TwoDigits(std::int64_t AValue) {
  std::string text = std::to_string(AValue);
  if (AValue < 10)
    text.insert(text.begin(), '0');
  return text;
}

} // namespace

std::string DurationText(std::int64_t ASeconds) {
  if (ASeconds < 0)
    return "--:--";
  const std::int64_t hours = ASeconds / 3600;
  const std::int64_t minutes = ASeconds / 60 % 60;
  const std::int64_t seconds = ASeconds % 60;
  if (hours > 0)
    return std::to_string(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(seconds);
  return std::to_string(minutes) + ":" + TwoDigits(seconds);
}

std::string TTerminalProgressView::StatusLine(const IProgressExInfo& AItem) const {
  const std::int64_t elapsed = AItem.GetElapsedSeconds();
  // The service has no estimate until the first units are done.
  const std::int64_t remaining = AItem.GetProgress() > 0 ? AItem.GetEstimatedSeconds() - elapsed : -1;
  std::string gauge(1, ' ');
  gauge += Bar(AItem.GetProgress());
  gauge += ' ';
  gauge += std::to_string(std::lround(AItem.GetProgress())) + "%  ";
  gauge += DurationText(elapsed) + " elapsed, " + DurationText(remaining) + " left";
  const std::size_t width = FTerminal.Width();
  const std::size_t room = width > gauge.size() + kMinTitleWidth ? width - gauge.size() - 1 : kMinTitleWidth;
  return Shortened(AItem.GetTitle(), room) + gauge;
}

void TTerminalProgressView::AddItem(IProgressExInfo& AItem) {
  if (FTerminal.IsTerminal())
    FTerminal.SetStatus(StatusLine(AItem));
  else
    FTerminal.WriteLine(std::string(static_cast<std::size_t>(std::max(AItem.GetLevel(), 0) * kIndentPerLevel), ' ') +
                        AItem.GetTitle());
  CancelOnInterrupt(AItem);
}

void TTerminalProgressView::UpdateItem(IProgressExInfo& AItem) {
  FTerminal.SetStatus(StatusLine(AItem));
  CancelOnInterrupt(AItem);
}

void TTerminalProgressView::CloseItem(IProgressExInfo&) {
  // The service shows the level around it right after.
  FTerminal.ClearStatus();
}

void TTerminalProgressView::Detail(IProgressExInfo& AItem, const std::string& AMessage,
                                   TProgressDetailStatus AStatus) {
  if (AStatus == pdsError)
    ++FErrorCount;
  FTerminal.WriteLine(AMessage, ToneOf(AStatus));
  CancelOnInterrupt(AItem);
}

void TTerminalProgressView::CancelOnInterrupt(IProgressExInfo& AItem) {
  const int interrupts = InterruptCount();
  if (interrupts == 0 || AItem.IsCanceled())
    return;
  if (FCancelPoint == TCancelPoint::cpOutermostLevel && AItem.GetLevel() > kOutermostLevel && interrupts < 2)
    return;
  AItem.Cancel();
  FCanceled = true;
}
