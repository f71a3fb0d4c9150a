#include "progress/uProgressProblems.h"

#include "progress/uProgressEx.h"

class TProgressProblems::TCollector final : public IProgressExView {
public:
  void AddItem(IProgressExInfo&) override {}
  void UpdateItem(IProgressExInfo&) override {}
  void CloseItem(IProgressExInfo&) override {}
  void Detail(IProgressExInfo&, const std::string& AMessage, TProgressDetailStatus AStatus) override {
    if (AStatus == pdsWarning || AStatus == pdsError)
      Messages.push_back(AMessage);
  }

  std::vector<std::string> Messages;
};

TProgressProblems::TProgressProblems() : FCollector(std::make_shared<TCollector>()) {
  ProgressEx::AddView(FCollector);
}

TProgressProblems::~TProgressProblems() {
  ProgressEx::RemoveView(FCollector);
}

const std::vector<std::string>& TProgressProblems::Messages() const {
  return FCollector->Messages;
}
