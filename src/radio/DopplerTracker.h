#pragma once
// When to set the receiver's frequency. From 30 s before AOS it sits on the
// AOS frequency, from AOS to LOS it follows DOWNLINK_HZ·(1 − range rate / c)
// whenever that moved 10 Hz or more from what was last set (at most once a
// second), and outside passes it rests on DOWNLINK_HZ. RIG_OFFSET_HZ is added
// to every frequency sent: it corrects the radio's own error.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/SkyTrack.h"

namespace tavrik {

// "435 008 120 Hz"
std::string FrequencyText(std::int64_t hz);
// The downlink as received at the station, to the hertz.
std::int64_t DopplerFrequencyHz(std::int64_t downlinkHz, double rangeRateKmS);

class DopplerTracker {
  public:
    static constexpr std::int64_t kLeadMs = 30'000;
    static constexpr std::int64_t kMinStepHz = 10;
    static constexpr std::int64_t kMinIntervalMs = 1000;

    struct Settings {
        std::int64_t downlinkHz = 0;
        std::int64_t offsetHz = 0;
    };
    explicit DopplerTracker(Settings settings) : settings_(settings) {}

    // The frequency the radio should be on at nowMs, the offset included.
    std::int64_t Wanted(std::int64_t nowMs, SkyTrack& track);
    // Called every tick: the frequency to send now, if any. Lines for the event
    // log (tracking starts, tracking ends) are appended to `log`.
    std::optional<std::int64_t> Step(std::int64_t nowMs, SkyTrack& track,
                                     std::vector<std::string>& log);
    // The radio took the frequency sent (RPRT 0).
    void Acknowledged(std::int64_t hz);
    // What the radio is on is unknown again: a new connection, a refusal.
    void Forget() { lastSet_.reset(); }

    bool Tracking() const { return pass_.has_value(); }
    std::optional<std::int64_t> LastSet() const { return lastSet_; }
    const Settings& Config() const { return settings_; }

  private:
    std::int64_t At(std::int64_t timeMs, const SkyTrack& track) const;

    Settings settings_;
    std::optional<std::int64_t> lastSet_;
    std::optional<std::int64_t> lastSentMs_;
    std::optional<Pass> pass_; // the pass being tracked, from 30 s before its AOS
    std::optional<std::int64_t> firstHz_, lastHz_; // set during it
};

} // namespace tavrik
