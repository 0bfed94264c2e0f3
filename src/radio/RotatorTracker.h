#pragma once
// Where to point the antenna. Two minutes before AOS it turns to the AOS
// azimuth at elevation 0; from AOS to LOS it follows the satellite whenever the
// angle on the sky between where it was sent and where the satellite is
// exceeds ROTATOR_STEP; after LOS it parks at ROTATOR_PARK or stays.
// A rotator whose azimuth range reaches past 360° (or starts below 0°) is
// turned so that a pass over its stop needs no turn round; where the range
// does not allow that, the event log names the moment the antenna turns round.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/SkyTrack.h"

namespace tavrik {

struct Pointing {
    double azimuthDeg = 0;
    double elevationDeg = 0;
};

// The range the rotator accepts, as rotctld reports it or the ROTATOR setting gives it.
struct RotatorLimits {
    double minAzimuthDeg = 0, maxAzimuthDeg = 360;
    double minElevationDeg = 0, maxElevationDeg = 90;
};

// The angle on the sky between two directions, degrees.
double SkyAngleDeg(const Pointing& a, const Pointing& b);

class RotatorTracker {
  public:
    static constexpr std::int64_t kLeadMs = 120'000;
    static constexpr std::int64_t kMinIntervalMs = 1000;
    // The pass is looked at this often when its azimuths are planned.
    static constexpr std::int64_t kPlanStepMs = 2000;

    struct Settings {
        double stepDeg = 2;
        double maxElevationDeg = 90;
        std::optional<Pointing> park = Pointing{}; // none: the antenna stays after LOS
    };
    explicit RotatorTracker(Settings settings) : settings_(settings) {}

    // The range the rotator accepts; a pass already planned keeps its plan.
    void SetLimits(const RotatorLimits& limits) { limits_ = limits; }
    const RotatorLimits& Limits() const { return limits_; }

    // Called every tick: the position to send now, if any; event-log lines to `log`.
    std::optional<Pointing> Step(std::int64_t nowMs, SkyTrack& track,
                                 std::vector<std::string>& log);
    // The rotator took the position sent (RPRT 0).
    void Acknowledged(const Pointing& p) { lastSet_ = p; }
    // Where the antenna points is unknown again: a new connection, a refusal.
    void Forget() { lastSet_.reset(); }

    bool Tracking() const { return pass_.has_value(); }
    std::optional<Pointing> LastSet() const { return lastSet_; }
    const Settings& Config() const { return settings_; }

  private:
    // Chooses, for the pass about to begin, the turn of the azimuth it starts
    // on, and logs the stop it must cross when no turn holds the whole pass.
    void Plan(const Pass& pass, SkyTrack& track, std::vector<std::string>& log);
    // The satellite's direction at nowMs as the rotator can take it: the
    // elevation capped, the azimuth on the turn nearest `near`.
    Pointing Command(const SkyPoint& p, double near) const;
    bool InRange(double az) const;

    Settings settings_;
    RotatorLimits limits_;
    std::optional<Pointing> lastSet_;
    std::optional<std::int64_t> lastSentMs_;
    std::optional<Pass> pass_;
    double startAzimuth_ = 0; // the AOS azimuth on the turn chosen
    double follow_ = 0;       // the azimuth last wanted, on its turn
};

} // namespace tavrik
