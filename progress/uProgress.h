#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A flat progress interface beside the hierarchical service: steps are started,
// advanced and closed without nesting rules, and a cancel question is answered
// by whoever listens. Texts are UTF-8.
class IProgress {
public:
  virtual ~IProgress() = default;
  virtual void StartProgress(const std::string& text, std::int64_t count) = 0;
  virtual void DoProgress(std::int64_t position) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;
  virtual void CloseProgress() = 0;
  virtual bool IsCanceled() = 0;
};
using IProgressPtr = std::shared_ptr<IProgress>;

// Forwards every call to its members.
class IMultiProgress : public virtual IProgress {
public:
  virtual void Add(const std::vector<IProgressPtr>& AItems) = 0;
  virtual void Remove(const std::vector<IProgressPtr>& AItems) = 0;
  virtual void RemoveAll() = 0;
};
using IMultiProgressPtr = std::shared_ptr<IMultiProgress>;

// Listens to nothing and never cancels; counts the open steps.
class TNullProgress : public virtual IProgress {
public:
  void StartProgress(const std::string& text, std::int64_t count) override;
  void DoProgress(std::int64_t position) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  // An unmatched close leaves the count at 0.
  void CloseProgress() override;
  bool IsCanceled() override;

  std::int32_t Level() const { return _level; }

private:
  std::int32_t _level = 0;
};

class TMultiProgress : public TNullProgress, public IMultiProgress {
public:
  explicit TMultiProgress(const std::vector<IProgressPtr>& AItems = {});
  // Closes one step on every member, so that a view still showing the
  // fan-out's work is told it ended.
  ~TMultiProgress() override;

  // Each member is held once, in the order of its first Add.
  void Add(const std::vector<IProgressPtr>& AItems) override;
  // Removes the first occurrence of each.
  void Remove(const std::vector<IProgressPtr>& AItems) override;
  void RemoveAll() override;

  void StartProgress(const std::string& text, std::int64_t count) override;
  void DoProgress(std::int64_t position) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void CloseProgress() override;
  // Members are asked in order until the first says yes.
  bool IsCanceled() override;

private:
  // Asks the members in list order until one answers True.
  template <class TPredicate>
  bool AnyMember(TPredicate APredicate);
  template <class TCall>
  void ForEachMember(TCall ACall);

  std::recursive_mutex FLock;
  std::vector<IProgressPtr> FList;
};

// The process-wide fan-out, created empty on first use.
IMultiProgressPtr GetMultiProgress();

// Keeps one step of a progress open for the lifetime of a scope.
class TProgressStep {
public:
  TProgressStep(IProgress& AProgress, const std::string& AText, std::int64_t ACount);
  ~TProgressStep();
  TProgressStep(const TProgressStep&) = delete;
  TProgressStep& operator=(const TProgressStep&) = delete;

private:
  IProgress& FProgress;
};
