#include "progress/uRichEditProgressEx.h"

#include "foundation/uUnicode.h"
#include "progress/uRichEditHelper.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

namespace {

constexpr double PointsPerInch = 72.0;

// The control's default look: regular weight, the palette's text colour.
QTextCharFormat DefaultFormat() {
  QTextCharFormat Format;
  Format.setFontWeight(QFont::Normal);
  Format.clearForeground();
  return Format;
}

QTextCharFormat BoldFormat() {
  QTextCharFormat Format = DefaultFormat();
  Format.setFontWeight(QFont::Bold);
  return Format;
}

QTextCharFormat ProblemFormat() {
  QTextCharFormat Format = DefaultFormat();
  Format.setForeground(TRichEditProgressEx::ProblemColor);
  return Format;
}

} // namespace

TRichEditProgressEx::TRichEditProgressEx(QTextEdit& ARichEdit) : FRichEdit(&ARichEdit) {}

double TRichEditProgressEx::IndentOf(const QTextEdit& ARichEdit, std::int32_t ALevel) {
  return ALevel * IndentPointsPerLevel * ARichEdit.logicalDpiX() / PointsPerInch;
}

void TRichEditProgressEx::AddItem(IProgressExInfo& AItem) {
  // Built in one pass, so that a "%1" inside a file name is left alone.
  QString Line = QString::fromStdString(EscapeControls(AItem.GetTitle()));
  if (AItem.GetCount() != 0)
    Line += QStringLiteral(" ( %1 %2)")
                .arg(QString::number(AItem.GetCount()), QString::fromStdString(AItem.GetMeasure()));
  BeginParagraph(AItem.GetLevel());
  AddLine(Line, BoldFormat());
}

void TRichEditProgressEx::UpdateItem(IProgressExInfo& /*AItem*/) {}

void TRichEditProgressEx::CloseItem(IProgressExInfo& AItem) {
  if (AItem.IsCanceled())
    Detail(AItem, "canceled", pdsError);
}

void TRichEditProgressEx::Detail(IProgressExInfo& AItem, const std::string& AMessage,
                                 TProgressDetailStatus AStatus) {
  const QString Message = QString::fromStdString(EscapeControls(AMessage));
  BeginParagraph(AItem.GetLevel());
  switch (AStatus) {
    case pdsWarning:
      AddLine(QStringLiteral("Warning: ") + Message, ProblemFormat());
      break;
    case pdsError:
      AddLine(QStringLiteral("Error: ") + Message, ProblemFormat());
      break;
    case pdsInformation:
      AddLine(Message, DefaultFormat());
      break;
  }
}

void TRichEditProgressEx::BeginParagraph(std::int32_t ALevel) {
  if (FRichEdit.isNull())
    return;
  QTextCursor Cursor = FRichEdit->textCursor();
  Cursor.movePosition(QTextCursor::End);
  QTextBlockFormat Paragraph = Cursor.blockFormat();
  Paragraph.setTextIndent(IndentOf(*FRichEdit, ALevel));
  Cursor.setBlockFormat(Paragraph);
  FRichEdit->setTextCursor(Cursor);
}

void TRichEditProgressEx::AddLine(const QString& AText, const QTextCharFormat& AFormat) {
  if (FRichEdit.isNull())
    return;
  FRichEdit->setCurrentCharFormat(AFormat);
  // Leaves the insertion point after the new line, which scrolls it into
  // sight at the left edge.
  RichEditHelper::AddLine(*FRichEdit, AText);
  // The selection style goes back to the control's default.
  FRichEdit->setCurrentCharFormat(DefaultFormat());
}
