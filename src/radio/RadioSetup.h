#pragma once
// The RIG and ROTATOR settings checked: what is wrong with one leaves that
// device idle with one line, and never stops the station.
#include <optional>
#include <string>
#include <vector>

#include "files/StationConfig.h"
#include "radio/DopplerTracker.h"
#include "radio/RotatorTracker.h"

namespace tavrik {

struct RigSetup {
    HostPort address;
    DopplerTracker::Settings doppler;
};

struct RotatorSetup {
    HostPort address;
    RotatorTracker::Settings tracking;
    std::optional<RotatorLimits> limits; // "ROTATOR=host:port MIN_AZ MAX_AZ"; else rotctld's
};

struct RadioSetup {
    std::optional<RigSetup> rig;
    std::optional<RotatorSetup> rotator;
    std::vector<std::string> problems; // one event-log line each
};

RadioSetup ReadRadioSetup(const StationConfig& c);

} // namespace tavrik
