#pragma once
// When to try the modem connection again after it was lost or never made:
// soon and often at first (a modem program on the same computer is back within
// seconds, and every second without it loses frames), then rarely, so that a
// station left alone does not hammer a modem that is gone for good. The caller
// passes the time, in milliseconds of any monotonic clock.
#include <cstdint>
#include <string>

#include "time/Duration.h"

namespace tavrik {

class ReconnectPolicy {
  public:
    static constexpr std::int64_t kFirstDelayMs = 1000;
    static constexpr std::int64_t kFastDelayMs = 2000;
    static constexpr std::int64_t kFastPeriodMs = 5 * 60 * 1000;
    static constexpr std::int64_t kSlowDelayMs = 30000;
    // Failures while waiting write at most one event-log line this often.
    static constexpr std::int64_t kLogIntervalMs = 60000;
    // A connection lost sooner than this after it was made again (a modem
    // program that accepts and drops at once) continues the earlier wait
    // instead of starting over at the fast end.
    static constexpr std::int64_t kStableMs = 60000;

    // The wait before the next attempt, when the link has been down for downMs
    // and `failed` attempts have failed since.
    static std::int64_t Delay(int failed, std::int64_t downMs);

    // The link was lost (or could not be made) at nowMs. Returns when to try
    // first. A loss while already waiting changes nothing but the answer.
    std::int64_t Lost(std::int64_t nowMs);
    // An attempt failed at nowMs: returns when to try next.
    std::int64_t Failed(std::int64_t nowMs);
    // Whether a failure at nowMs may write its line; the loss wrote one already.
    bool MayLog(std::int64_t nowMs);
    // The link is up again at nowMs: returns how long it was down. Waiting ends.
    std::int64_t Connected(std::int64_t nowMs);

    bool Waiting() const { return waiting_; }
    int Attempts() const { return downAttempts_; } // attempts since the link went down
    // How long the link has been down this time.
    std::int64_t DownMs(std::int64_t nowMs) const { return waiting_ ? nowMs - downAt_ : 0; }

  private:
    bool waiting_ = false;
    bool everWaited_ = false;
    std::int64_t upAt_ = 0;
    std::int64_t lostAt_ = 0; // the start of the wait the schedule counts from
    std::int64_t downAt_ = 0;
    std::int64_t loggedAt_ = 0;
    std::int64_t nextAt_ = 0;
    int attempts_ = 0; // of the whole wait, which a short connection does not end
    int downAttempts_ = 0;
};

} // namespace tavrik
