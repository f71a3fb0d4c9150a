#include "progress/uProgress.h"

#include <algorithm>

void TNullProgress::StartProgress(const std::string&, std::int64_t) { ++_level; }

void TNullProgress::DoProgress(std::int64_t) {}

void TNullProgress::ShowMessage(const std::string&) {}

void TNullProgress::ShowError(const std::string&) {}

void TNullProgress::CloseProgress() {
  if (_level > 0)
    --_level;
}

bool TNullProgress::IsCanceled() { return false; }

TMultiProgress::TMultiProgress(const std::vector<IProgressPtr>& AItems) { Add(AItems); }

TMultiProgress::~TMultiProgress() {
  // A member that fails while being closed cannot be helped here, and the
  // fan-out goes away regardless.
  try {
    CloseProgress();
  } catch (...) {
  }
}

void TMultiProgress::Add(const std::vector<IProgressPtr>& AItems) {
  std::lock_guard Lock(FLock);
  for (const IProgressPtr& Item : AItems)
    if (std::find(FList.begin(), FList.end(), Item) == FList.end())
      FList.push_back(Item);
}

void TMultiProgress::Remove(const std::vector<IProgressPtr>& AItems) {
  std::lock_guard Lock(FLock);
  for (const IProgressPtr& Item : AItems) {
    const auto Found = std::find(FList.begin(), FList.end(), Item);
    if (Found != FList.end())
      FList.erase(Found);
  }
}

void TMultiProgress::RemoveAll() {
  std::lock_guard Lock(FLock);
  FList.clear();
}

// The members are walked over a copy, so that a member may add or remove
// members while it is being told (the lock is re-entrant).
template <class TPredicate>
bool TMultiProgress::AnyMember(TPredicate APredicate) {
  std::lock_guard Lock(FLock);
  const std::vector<IProgressPtr> Members = FList;
  for (const IProgressPtr& Member : Members)
    if (APredicate(*Member))
      return true;
  return false;
}

template <class TCall>
void TMultiProgress::ForEachMember(TCall ACall) {
  AnyMember([&](IProgress& AMember) {
    ACall(AMember);
    return false;
  });
}

void TMultiProgress::StartProgress(const std::string& text, std::int64_t count) {
  TNullProgress::StartProgress(text, count);
  ForEachMember([&](IProgress& AMember) { AMember.StartProgress(text, count); });
}

void TMultiProgress::DoProgress(std::int64_t position) {
  TNullProgress::DoProgress(position);
  ForEachMember([&](IProgress& AMember) { AMember.DoProgress(position); });
}

void TMultiProgress::ShowMessage(const std::string& text) {
  TNullProgress::ShowMessage(text);
  ForEachMember([&](IProgress& AMember) { AMember.ShowMessage(text); });
}

void TMultiProgress::ShowError(const std::string& text) {
  TNullProgress::ShowError(text);
  ForEachMember([&](IProgress& AMember) { AMember.ShowError(text); });
}

void TMultiProgress::CloseProgress() {
  TNullProgress::CloseProgress();
  ForEachMember([](IProgress& AMember) { AMember.CloseProgress(); });
}

bool TMultiProgress::IsCanceled() {
  return TNullProgress::IsCanceled() ||
         AnyMember([](IProgress& AMember) { return AMember.IsCanceled(); });
}

IMultiProgressPtr GetMultiProgress() {
  static const IMultiProgressPtr Instance = std::make_shared<TMultiProgress>();
  return Instance;
}

TProgressStep::TProgressStep(IProgress& AProgress, const std::string& AText, std::int64_t ACount)
    : FProgress(AProgress) {
  FProgress.StartProgress(AText, ACount);
}

TProgressStep::~TProgressStep() {
  // Closing only tells the views; their failure must not replace the
  // outcome of the work the step was reporting.
  try {
    FProgress.CloseProgress();
  } catch (...) {
  }
}
