#include "progress/uProgressEx.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>

namespace {

// Counted, not flagged: each service compares it with the count it has
// seen, so one request reaches every service.
std::atomic<std::uint32_t> gUpdateRequests{0};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

} // namespace

// One open level.
struct TProgressExRec {
  std::int32_t Id = 0;
  std::int32_t ParentId = 0;
  std::int64_t Index = 1;
  std::int32_t Level = 0;
  std::string Title;
  std::int64_t Progress = 0;
  std::int64_t Count = 1;
  std::string Measure;
  std::int64_t StartTime = 0; // milliseconds of the service's clock
  bool Canceled = false;
  double _UpdateStepKoef = 0;
  std::int64_t _LastUpdateNum = 0;
  double _ProgressPercent = 0;
  std::int64_t _ElapsedSeconds = 0;
  std::int64_t _EstimatedSeconds = 0;
};
using PProgressExRec = TProgressExRec*;

// The one info object every view receives, showing the innermost level.
// Between the closing of the last level and the next Start it shows nothing
// and answers zeros.
class TProgressInfo final : public IProgressExInfo {
public:
  PProgressExRec FRec = nullptr;

  std::int32_t GetId() const override { return FRec ? FRec->Id : 0; }
  std::int32_t GetParentId() const override { return FRec ? FRec->ParentId : 0; }
  std::int64_t GetIndex() const override { return FRec ? FRec->Index : 0; }
  std::int32_t GetLevel() const override { return FRec ? FRec->Level : 0; }
  std::string GetTitle() const override { return FRec ? FRec->Title : std::string(); }
  std::int64_t GetCount() const override { return FRec ? FRec->Count : 0; }
  std::string GetMeasure() const override { return FRec ? FRec->Measure : std::string(); }
  double GetProgress() const override { return FRec ? FRec->_ProgressPercent : 0; }
  std::int64_t GetElapsedSeconds() const override { return FRec ? FRec->_ElapsedSeconds : 0; }
  std::int64_t GetEstimatedSeconds() const override { return FRec ? FRec->_EstimatedSeconds : 0; }
  bool IsCanceled() const override { return FRec && FRec->Canceled; }
  void Cancel() override {
    if (FRec)
      FRec->Canceled = true;
  }
};

namespace {

// Nearest integer with ties to even; values beyond the 64-bit range saturate
// instead of overflowing (a count near the limit times many seconds).
std::int64_t RoundHalfEven(double AValue) {
  constexpr double kLargestBelowTwoToThe63 = 9223372036854774784.0;
  return static_cast<std::int64_t>(
      std::nearbyint(std::clamp(AValue, -kLargestBelowTwoToThe63, kLargestBelowTwoToThe63)));
}

// Runs AStep and hands back what it raised, so that the steps after it still run.
template <class TStep>
std::exception_ptr Attempt(TStep AStep) {
  try {
    AStep();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

} // namespace

std::int64_t TProgressExService::MonotonicMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TProgressExService::TProgressExService(TClock AClock)
    : FClock(std::move(AClock)), FInfo(std::make_unique<TProgressInfo>()),
      FSeenUpdateRequests(gUpdateRequests.load(std::memory_order_relaxed)) {}

TProgressExService::~TProgressExService() {
  while (!FLevels.empty())
    CloseQuietly();
}

TProgressExRec* TProgressExService::Top() const {
  return FLevels.empty() ? nullptr : FLevels.back().get();
}

bool TProgressExService::IsRegistered(const IProgressExViewPtr& AView) const {
  std::lock_guard lock(FViewsLock);
  return std::find(FViews.begin(), FViews.end(), AView) != FViews.end();
}

// Views pump the message queue inside notifications, so a view may be added
// or removed while the others are being told. The round therefore walks a
// copy of the list and skips a view removed meanwhile (its owner may already
// have destroyed what it draws on). A view that raises does not keep the
// others from being told; the first exception leaves once all were.
template <class TNotification>
void TProgressExService::NotifyViews(TNotification ANotify) {
  if (FLevels.empty())
    return;
  std::vector<IProgressExViewPtr> views;
  {
    std::lock_guard lock(FViewsLock);
    views = FViews;
  }
  std::exception_ptr firstFailure;
  for (const IProgressExViewPtr& view : views) {
    if (!IsRegistered(view))
      continue;
    std::exception_ptr failure = Attempt([&] { ANotify(*view, *FInfo); });
    if (failure && !firstFailure)
      firstFailure = failure;
  }
  if (firstFailure)
    std::rethrow_exception(firstFailure);
}

void TProgressExService::Start(const std::string& ATitle, std::int64_t ACount,
                               const std::string& AMeasure, std::int32_t AUpdatesCount) {
  auto rec = std::make_unique<TProgressExRec>();
  if (TProgressExRec* parent = Top()) {
    rec->ParentId = parent->Id;
    rec->Index = parent->Progress + 1;
  }
  rec->Id = ++FLastId;
  rec->Title = ATitle;
  rec->Measure = AMeasure;
  rec->Count = ACount == 0 ? 1 : ACount;
  rec->Level = static_cast<std::int32_t>(FLevels.size());
  rec->StartTime = FClock();
  // A level is told to its views about AUpdatesCount + 1 times; counts below
  // 1 fall back to 101 steps rather than dividing by zero or less.
  const std::int32_t updateSteps = AUpdatesCount > 0 ? AUpdatesCount + 1 : 101;
  rec->_UpdateStepKoef = static_cast<double>(rec->Count) / updateSteps;

  FLevels.push_back(std::move(rec));
  FInfo->FRec = Top();
  try {
    NotifyViews([](IProgressExView& AView, IProgressExInfo& AItem) { AView.AddItem(AItem); });
  } catch (...) {
    CloseQuietly();
    throw;
  }
}

bool TProgressExService::DoProgress(std::int64_t AProgress) {
  TProgressExRec* top = Top();
  if (top == nullptr)
    return false;
  top->Progress = AProgress;
  const bool goOn = !top->Canceled;
  top->_ProgressPercent = static_cast<double>(AProgress) / static_cast<double>(top->Count) * 100;

  // The clock is read only when the views are told: loops report every
  // record, and reading it each time would cost more than the record.
  const std::int64_t updateNum = RoundHalfEven(static_cast<double>(AProgress) / top->_UpdateStepKoef);
  const std::uint32_t updateRequests = gUpdateRequests.load(std::memory_order_relaxed);
  if (updateNum != top->_LastUpdateNum || updateRequests != FSeenUpdateRequests) {
    top->_LastUpdateNum = updateNum;
    FSeenUpdateRequests = updateRequests;
    UpdateViews(*top);
  }
  return goOn;
}

bool TProgressExService::KeepAlive() {
  TProgressExRec* top = Top();
  if (top == nullptr)
    return true;
  UpdateViews(*top);
  return !IsCanceled();
}

void TProgressExService::UpdateViews(TProgressExRec& ALevel) {
  RefreshTimes(ALevel);
  NotifyViews([](IProgressExView& AView, IProgressExInfo& AItem) { AView.UpdateItem(AItem); });
}

void TProgressExService::RefreshTimes(TProgressExRec& ALevel) const {
  ALevel._ElapsedSeconds = std::abs(FClock() - ALevel.StartTime) / 1000;
  const double secondsPerUnit = ALevel.Progress != 0
                                    ? static_cast<double>(ALevel._ElapsedSeconds) / static_cast<double>(ALevel.Progress)
                                    : 0;
  ALevel._EstimatedSeconds = RoundHalfEven(static_cast<double>(ALevel.Count) * secondsPerUnit);
}

bool TProgressExService::Detail(TProgressDetailStatus AStatus, const std::string& AMessage) {
  if (FLevels.empty())
    return true;
  NotifyViews([&](IProgressExView& AView, IProgressExInfo& AItem) {
    AView.Detail(AItem, AMessage, AStatus);
  });
  return !IsCanceled();
}

bool TProgressExService::IsCanceled() const {
  const TProgressExRec* top = Top();
  return top != nullptr && top->Canceled;
}

void TProgressExService::Cancel() {
  if (TProgressExRec* top = Top())
    top->Canceled = true;
}

void TProgressExService::Close() {
  if (FLevels.empty())
    return;
  RefreshTimes(*Top());
  std::exception_ptr failure = Attempt([&] {
    NotifyViews([](IProgressExView& AView, IProgressExInfo& AItem) { AView.CloseItem(AItem); });
  });

  const std::unique_ptr<TProgressExRec> closed = std::move(FLevels.back());
  FLevels.pop_back();
  FInfo->FRec = Top();
  if (TProgressExRec* parent = Top()) {
    std::exception_ptr updateFailure = Attempt([&] {
      NotifyViews([](IProgressExView& AView, IProgressExInfo& AItem) { AView.UpdateItem(AItem); });
    });
    if (!failure)
      failure = updateFailure;
    // Copied, not combined: this is how a cancel travels outward one level
    // per Close.
    parent->Canceled = closed->Canceled;
  }
  if (failure)
    std::rethrow_exception(failure);
}

void TProgressExService::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
    // The level is closed all the same; there is no operation left to tell.
  }
}

void TProgressExService::AddView(const IProgressExViewPtr& AView) {
  std::lock_guard lock(FViewsLock);
  FViews.push_back(AView);
}

void TProgressExService::RemoveView(const IProgressExViewPtr& AView) {
  std::lock_guard lock(FViewsLock);
  auto found = std::find(FViews.begin(), FViews.end(), AView);
  if (found != FViews.end())
    FViews.erase(found);
}

void TProgressExService::RequestUpdate() noexcept { gUpdateRequests.fetch_add(1, std::memory_order_relaxed); }

TProgressExService& ProgressEx::Service() {
  static TProgressExService service;
  return service;
}

void ProgressEx::Start(const std::string& ATitle, std::int64_t ACount, const std::string& AMeasure,
                       std::int32_t AUpdatesCount) {
  Service().Start(ATitle, ACount, AMeasure, AUpdatesCount);
}

bool ProgressEx::DoProgress(std::int64_t AProgress) {
  return Service().DoProgress(AProgress);
}

bool ProgressEx::KeepAlive() {
  return Service().KeepAlive();
}

bool ProgressEx::Detail(TProgressDetailStatus AStatus, const std::string& AMessage) {
  return Service().Detail(AStatus, AMessage);
}

bool ProgressEx::IsCanceled() {
  return Service().IsCanceled();
}

void ProgressEx::Close() {
  Service().Close();
}

void ProgressEx::Cancel() {
  Service().Cancel();
}

void ProgressEx::AddView(const IProgressExViewPtr& AView) {
  Service().AddView(AView);
}

void ProgressEx::RemoveView(const IProgressExViewPtr& AView) {
  Service().RemoveView(AView);
}

TProgressExLevel::TProgressExLevel(const std::string& ATitle, std::int64_t ACount,
                                   const std::string& AMeasure, std::int32_t AUpdatesCount)
    : TProgressExLevel(ProgressEx::Service(), ATitle, ACount, AMeasure, AUpdatesCount) {}

TProgressExLevel::TProgressExLevel(TProgressExService& AService, const std::string& ATitle,
                                   std::int64_t ACount, const std::string& AMeasure,
                                   std::int32_t AUpdatesCount)
    : FService(AService), FUncaughtAtStart(std::uncaught_exceptions()) {
  FService.Start(ATitle, ACount, AMeasure, AUpdatesCount);
}

TProgressExLevel::~TProgressExLevel() noexcept(false) {
  if (std::uncaught_exceptions() > FUncaughtAtStart)
    FService.CloseQuietly();
  else
    FService.Close();
}
