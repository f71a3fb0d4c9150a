#pragma once

// A member of the simple progress fan-out that writes every call it receives
// as one short line, and answers the cancel question as told.

#include "progress/uProgress.h"

#include <functional>
#include <string>
#include <vector>

namespace testfiles {

class TRecordingProgress : public TNullProgress {
public:
  TRecordingProgress(std::string AName, std::vector<std::string>& ALog, bool ACanceled = false)
      : FName(std::move(AName)), FLog(ALog), FCanceled(ACanceled) {}

  // Runs inside ShowMessage after it was logged.
  std::function<void()> OnMessage;

  void StartProgress(const std::string& text, std::int64_t count) override {
    Record("start " + text + " " + std::to_string(count));
  }
  void DoProgress(std::int64_t position) override { Record("do " + std::to_string(position)); }
  void ShowMessage(const std::string& text) override {
    Record("message " + text);
    if (OnMessage)
      OnMessage();
  }
  void ShowError(const std::string& text) override { Record("error " + text); }
  void CloseProgress() override { Record("close"); }
  bool IsCanceled() override {
    Record("canceled?");
    return FCanceled;
  }

private:
  void Record(const std::string& AWhat) { FLog.push_back(FName.empty() ? AWhat : FName + ": " + AWhat); }

  std::string FName;
  std::vector<std::string>& FLog;
  bool FCanceled;
};

// Adds a member to the process-wide fan-out for the lifetime of the object.
class TFanOutMember {
public:
  explicit TFanOutMember(IProgressPtr AMember) : FMember(std::move(AMember)) { GetMultiProgress()->Add({FMember}); }
  ~TFanOutMember() { GetMultiProgress()->Remove({FMember}); }
  TFanOutMember(const TFanOutMember&) = delete;
  TFanOutMember& operator=(const TFanOutMember&) = delete;

private:
  IProgressPtr FMember;
};

} // namespace testfiles
