#include "progress/uRichEditHelper.h"

#include <QTextCursor>
#include <QTextEdit>

void RichEditHelper::AddLine(QTextEdit& re, const QString& AValue) {
  // Taken before the move: moving the insertion point resets the format to
  // that of the text at the new place.
  const QTextCharFormat Format = re.currentCharFormat();
  QTextCursor Cursor = re.textCursor();
  Cursor.movePosition(QTextCursor::End);
  Cursor.insertText(AValue, Format);
  Cursor.insertBlock(Cursor.blockFormat(), Format);
  // Also scrolls the control so that the insertion point is in sight.
  re.setTextCursor(Cursor);
}
