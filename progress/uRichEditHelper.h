#pragma once

#include <QString>

class QTextEdit;

// Appending to a rich-text log.
class RichEditHelper {
public:
  RichEditHelper() = delete;

  // Appends AValue as one line at the end of the text, in the control's
  // current character format, and leaves the insertion point after it.
  static void AddLine(QTextEdit& re, const QString& AValue);
};
