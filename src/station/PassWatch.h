#pragma once
// Whether a pass was heard, missed, or not watched at all: the modem link's
// ups and downs and the live telemetry frames, judged at each pass's LOS.
// Pure: times come in as values, so it is tested without sockets or clocks.
#include <cstdint>
#include <string>
#include <vector>

#include "sky/SkyPredictor.h"

namespace tavrik {

class PassWatch {
  public:
    enum class Verdict {
        Heard,      // at least one live telemetry frame between AOS and LOS
        Low,        // nothing heard, but the pass stayed below MISSED_PASS_EL
        Missed,     // high enough, modem connected throughout, nothing heard: an alarm
        NotWatched, // high enough, nothing heard, the modem was down for part of it
    };
    struct Judgement {
        Verdict verdict = Verdict::Heard;
        std::int64_t framesHeard = 0;
        std::int64_t disconnectedMs = 0; // of the pass, while the modem was down
        std::string line;                // the event-log line; empty for Heard/Low
    };

    // The watch begins at startMs with the modem down: a pass that began
    // before the station ran was not watched from its AOS.
    PassWatch(double missedPassElDeg, std::int64_t startMs);

    // The modem link as it stands at nowMs; only changes matter.
    void Modem(bool connected, std::int64_t nowMs);
    // A live telemetry frame received at timeMs (imports never come here).
    void Frame(std::int64_t timeMs);
    // The pass's LOS has come: the verdict. Forgets what lies before the LOS.
    Judgement PassEnded(const Pass& pass);

    std::uint64_t Missed() const { return missed_; }
    std::uint64_t Passes() const { return passes_; }

  private:
    struct Down {
        std::int64_t fromMs;
        std::int64_t toMs; // INT64_MAX while still down
    };
    double missedPassElDeg_;
    bool connected_ = false;
    std::vector<Down> downs_;
    std::vector<std::int64_t> frames_; // since the last judged LOS, bounded
    std::uint64_t missed_ = 0;
    std::uint64_t passes_ = 0;
};

// "2026-12-09 14:32:05 UTC"
std::string PassTimeText(std::int64_t ms);
// "1 h 12 min", "4 min", "35 s"
std::string DurationWords(std::int64_t ms);

} // namespace tavrik
