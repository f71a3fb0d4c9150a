#pragma once

#include <deque>
#include <string>
#include <vector>

// The questions and notices the engine puts to the user. The engine never
// shows a window itself: the wizard answers with message boxes, the command
// line on the terminal, tests from a script. Texts are UTF-8.
class IPrompt {
public:
  virtual ~IPrompt() = default;
  // A plain message box with its text and an OK button.
  virtual void ShowMessage(const std::string& AText) = 0;
  // A warning with the buttons Yes and No; true only for Yes.
  virtual bool AskWarningYesNo(const std::string& AText) = 0;
};

enum TPromptKind { pkMessage, pkWarningYesNo };

struct TPromptRecord {
  TPromptKind Kind;
  std::string Text;
  bool operator==(const TPromptRecord&) const = default;
};

// Answers questions from a queue and keeps everything it was shown, in order.
// A question beyond the queued answers gets No, as closing the box would.
class TScriptedPrompt : public IPrompt {
public:
  void QueueAnswer(bool AYes) { FAnswers.push_back(AYes); }
  const std::vector<TPromptRecord>& Shown() const { return FShown; }

  void ShowMessage(const std::string& AText) override;
  bool AskWarningYesNo(const std::string& AText) override;

private:
  std::deque<bool> FAnswers;
  std::vector<TPromptRecord> FShown;
};
