#pragma once

#include <memory>
#include <string>
#include <vector>

// Keeps the warnings and errors told to the progress service while it is
// alive, in order, for a caller whose views let them pass: the progress
// window shows only the levels' titles.
class TProgressProblems {
public:
  TProgressProblems();
  ~TProgressProblems();
  TProgressProblems(const TProgressProblems&) = delete;
  TProgressProblems& operator=(const TProgressProblems&) = delete;

  const std::vector<std::string>& Messages() const;

private:
  class TCollector;
  std::shared_ptr<TCollector> FCollector;
};
