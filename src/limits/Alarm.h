#pragma once
// The operator's alarm program: when it runs, what it is told, and how often
// it may run. Pure policy; the process is started by limits/qt/AlarmRunner.
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "limits/LimitsChecker.h"

namespace tavrik {

// ALARM_LEVEL: the lowest state that runs the program.
enum class AlarmLevel { Red, Yellow };

// One run's details: environment variables and the line on its standard input.
struct AlarmCall {
    std::vector<std::pair<std::string, std::string>> environment; // TAVRIK_FIELD, ...
    std::string line;
};

// Whether a change runs the program: into red, or into yellow too with
// AlarmLevel::Yellow. Going back in range never does.
bool RaisesAlarm(const LimitChange& change, AlarmLevel level);

// received: the frame's reception time "yyyy-MM-dd HH:nn:ss.mmm" UTC;
// source: its source call sign.
AlarmCall MakeAlarmCall(const LimitChange& change, const std::string& received,
                        const std::string& source);

// At most kRuns starts in any kWindowMs; the rest are counted, and reported
// in one line once the window has passed. Times in milliseconds of any
// monotonic clock.
class AlarmBudget {
  public:
    static constexpr int kRuns = 10;
    static constexpr std::int64_t kWindowMs = 60000;

    // Whether a run may start at nowMs (it is then counted).
    bool MayRun(std::int64_t nowMs);
    // How many were not run, once kWindowMs after the first of them; 0 otherwise
    // (and when none was refused). Resets the count.
    int TakeRefused(std::int64_t nowMs);
    // When TakeRefused will have something to say (-1: nothing refused).
    std::int64_t ReportAt() const { return refused_ > 0 ? firstRefusedAt_ + kWindowMs : -1; }

  private:
    std::deque<std::int64_t> starts_;
    int refused_ = 0;
    std::int64_t firstRefusedAt_ = 0;
};

} // namespace tavrik
