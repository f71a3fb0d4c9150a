#pragma once

// Reads a log pane back as short text lines, one per paragraph: two blanks per
// level of indentation, the text, then " | bold" and " | red" where the whole
// line carries them. A paragraph whose parts differ in format, or whose
// indentation is not a whole number of levels, says so.

#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <cmath>
#include <string>
#include <vector>

#include "progress/uRichEditProgressEx.h"

namespace testfiles {

inline std::string DescribeLogFormat(const QTextCharFormat& AFormat) {
  std::string text;
  if (AFormat.fontWeight() == QFont::Bold)
    text += " | bold";
  if (AFormat.foreground().style() != Qt::NoBrush) {
    if (AFormat.foreground().color() == TRichEditProgressEx::ProblemColor)
      text += " | red";
    else
      text += " | colour " + AFormat.foreground().color().name().toStdString();
  }
  return text;
}

inline std::vector<std::string> LogPaneLines(const QTextEdit& ALog) {
  std::vector<std::string> lines;
  const double levelWidth = TRichEditProgressEx::IndentOf(ALog, 1);
  for (QTextBlock block = ALog.document()->begin(); block.isValid(); block = block.next()) {
    if (block.text().isEmpty())
      continue;
    const double levels = block.blockFormat().textIndent() / levelWidth;
    std::string line;
    if (std::abs(levels - std::round(levels)) > 1e-6)
      line = "(indent " + std::to_string(block.blockFormat().textIndent()) + ") ";
    else
      line = std::string(2 * static_cast<std::size_t>(std::lround(levels)), ' ');
    line += block.text().toStdString();
    std::string format;
    for (auto part = block.begin(); !part.atEnd(); ++part) {
      const std::string partFormat = DescribeLogFormat(part.fragment().charFormat());
      if (part != block.begin() && partFormat != format)
        format = " | mixed";
      else
        format = partFormat;
    }
    lines.push_back(line + format);
  }
  return lines;
}

} // namespace testfiles
