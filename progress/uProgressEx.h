#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Nested progress levels for long operations that run on the user-interface
// thread. An operation opens a level (title, count of units, unit name),
// reports units done, may emit detail messages and closes its level; levels
// opened from inside another form a stack. Views registered with the service
// draw the levels; the cancel flag they set reaches the operation through
// DoProgress, Detail and IsCanceled. Texts are UTF-8.

enum TProgressDetailStatus : std::int32_t {
  pdsInformation = 0,
  pdsWarning = 1,
  pdsError = 2,
};

// The innermost open level at the moment of a notification. Views receive
// one shared object whose level changes between calls, so they read what they
// need during the call and never keep it.
class IProgressExInfo {
public:
  virtual std::int32_t GetId() const = 0;
  virtual std::int32_t GetParentId() const = 0;
  virtual std::int64_t GetIndex() const = 0;
  virtual std::int32_t GetLevel() const = 0;
  virtual std::string GetTitle() const = 0;
  virtual std::int64_t GetCount() const = 0;
  virtual std::string GetMeasure() const = 0;
  // Percentage done (0 to 100 while the reports stay within the count).
  virtual double GetProgress() const = 0;
  virtual std::int64_t GetElapsedSeconds() const = 0;
  // Projected total duration of the level; the remaining time is this minus
  // the elapsed seconds.
  virtual std::int64_t GetEstimatedSeconds() const = 0;
  virtual bool IsCanceled() const = 0;
  virtual void Cancel() = 0;

protected:
  ~IProgressExInfo() = default;
};

class IProgressExView {
public:
  virtual ~IProgressExView() = default;
  // A level was opened; AItem shows it.
  virtual void AddItem(IProgressExInfo& AItem) = 0;
  // The level's update step changed, or a child of it was closed.
  virtual void UpdateItem(IProgressExInfo& AItem) = 0;
  // The level is being closed; AItem still shows it.
  virtual void CloseItem(IProgressExInfo& AItem) = 0;
  virtual void Detail(IProgressExInfo& AItem, const std::string& AMessage,
                      TProgressDetailStatus AStatus) = 0;
};
using IProgressExViewPtr = std::shared_ptr<IProgressExView>;

struct TProgressExRec;
class TProgressInfo;

// One progress service. The program uses the process-wide one behind
// ProgressEx; tests make their own, with a clock they control.
class TProgressExService {
public:
  // Milliseconds on any fixed scale; only differences are used.
  using TClock = std::function<std::int64_t()>;

  // The default clock is monotonic, so that a clock change or a switch to
  // daylight saving time during a scan does not distort the times shown.
  static std::int64_t MonotonicMilliseconds();

  explicit TProgressExService(TClock AClock = MonotonicMilliseconds);
  // Closes every level still open, with the usual notifications.
  ~TProgressExService();
  TProgressExService(const TProgressExService&) = delete;
  TProgressExService& operator=(const TProgressExService&) = delete;

  // Opens a nested level. When a view raises while being told, the level is
  // closed again before the exception leaves, so a failed Start opens nothing.
  void Start(const std::string& ATitle, std::int64_t ACount, const std::string& AMeasure,
             std::int32_t AUpdatesCount);
  // Returns False when the innermost level was canceled before this call.
  bool DoProgress(std::int64_t AProgress);
  // Tells the views that the innermost level is still at work though its
  // count does not move (it waits for a slow device), so that they show the
  // time going on and may hear a cancel. Returns False when the level is
  // canceled after the views were told.
  bool KeepAlive();
  // Returns False when the innermost level is canceled after the views saw
  // the message.
  bool Detail(TProgressDetailStatus AStatus, const std::string& AMessage);
  bool IsCanceled() const;
  // Closes the innermost level and hands its cancel flag to its parent. The
  // level is gone afterwards even when a view raised; the first exception a
  // view raised then leaves Close.
  void Close();
  void Cancel();

  void AddView(const IProgressExViewPtr& AView);
  void RemoveView(const IProgressExViewPtr& AView);

  // Makes every service show its innermost level at its next report,
  // however little the count moved, so that its views see at once what
  // changed outside it (a Ctrl-C). Safe inside a signal handler.
  static void RequestUpdate() noexcept;

private:
  friend class TProgressExLevel;

  template <class TNotification>
  void NotifyViews(TNotification ANotify);
  // Works out the level's elapsed and estimated times from the clock.
  void RefreshTimes(TProgressExRec& ALevel) const;
  // Refreshes the times of ALevel, the innermost, and shows it.
  void UpdateViews(TProgressExRec& ALevel);
  bool IsRegistered(const IProgressExViewPtr& AView) const;
  void CloseQuietly() noexcept;
  TProgressExRec* Top() const;

  TClock FClock;
  std::vector<std::unique_ptr<TProgressExRec>> FLevels;
  mutable std::recursive_mutex FViewsLock;
  std::vector<IProgressExViewPtr> FViews;
  std::unique_ptr<TProgressInfo> FInfo;
  std::int32_t FLastId = 1;
  std::uint32_t FSeenUpdateRequests = 0;
};

// The process-wide progress service.
class ProgressEx {
public:
  ProgressEx() = delete;

  // Every caller in the program reports about this many view updates per level.
  static constexpr std::int32_t DefaultUpdatesCount = 100;

  static TProgressExService& Service();

  static void Start(const std::string& ATitle, std::int64_t ACount, const std::string& AMeasure,
                    std::int32_t AUpdatesCount = DefaultUpdatesCount);
  static bool DoProgress(std::int64_t AProgress);
  static bool KeepAlive();
  static bool Detail(TProgressDetailStatus AStatus, const std::string& AMessage);
  static bool IsCanceled();
  static void Close();
  static void Cancel();
  static void AddView(const IProgressExViewPtr& AView);
  static void RemoveView(const IProgressExViewPtr& AView);
};

// Opens a level for the lifetime of a scope and closes it on every way out.
// A view's exception from the closing leaves the destructor only when no
// other exception is already on its way; the first failure is the one the
// operation reports.
class TProgressExLevel {
public:
  TProgressExLevel(const std::string& ATitle, std::int64_t ACount, const std::string& AMeasure,
                   std::int32_t AUpdatesCount = ProgressEx::DefaultUpdatesCount);
  TProgressExLevel(TProgressExService& AService, const std::string& ATitle, std::int64_t ACount,
                   const std::string& AMeasure,
                   std::int32_t AUpdatesCount = ProgressEx::DefaultUpdatesCount);
  ~TProgressExLevel() noexcept(false);
  TProgressExLevel(const TProgressExLevel&) = delete;
  TProgressExLevel& operator=(const TProgressExLevel&) = delete;

private:
  TProgressExService& FService;
  int FUncaughtAtStart;
};
