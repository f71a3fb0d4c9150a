#pragma once

#include "progress/uProgressEx.h"

#include <QColor>
#include <QPointer>

class QTextCharFormat;
class QTextEdit;

// A progress view that writes a running log into a rich-text control: every
// level opened becomes a bold line, every detail a line of its own, warnings
// and errors in red, each indented by the depth of its level. The control
// belongs to its owner and outlives the view.
class TRichEditProgressEx : public IProgressExView {
public:
  // First-line indent per level of nesting, in points.
  static constexpr int IndentPointsPerLevel = 10;
  static inline const QColor ProblemColor{255, 0, 0};

  explicit TRichEditProgressEx(QTextEdit& ARichEdit);

  void AddItem(IProgressExInfo& AItem) override;
  // The log shows no intermediate figures.
  void UpdateItem(IProgressExInfo& AItem) override;
  // A canceled level leaves the line "Error: canceled" at its indentation.
  void CloseItem(IProgressExInfo& AItem) override;
  void Detail(IProgressExInfo& AItem, const std::string& AMessage,
              TProgressDetailStatus AStatus) override;

  // The first-line indent of a line of level ALevel, in the control's pixels.
  static double IndentOf(const QTextEdit& ARichEdit, std::int32_t ALevel);

private:
  // Puts the insertion point into the empty last paragraph, indented for ALevel.
  void BeginParagraph(std::int32_t ALevel);
  void AddLine(const QString& AText, const QTextCharFormat& AFormat);

  QPointer<QTextEdit> FRichEdit;
};
