#include "platform/uPrompt.h"

void TScriptedPrompt::ShowMessage(const std::string& AText) {
  FShown.push_back({pkMessage, AText});
}

bool TScriptedPrompt::AskWarningYesNo(const std::string& AText) {
  FShown.push_back({pkWarningYesNo, AText});
  if (FAnswers.empty())
    return false;
  const bool answer = FAnswers.front();
  FAnswers.pop_front();
  return answer;
}
