#pragma once
// What the page and the metrics show of the rig and the rotator: plain values,
// read from the controls when asked.
#include <cstdint>
#include <optional>
#include <string>

#include "radio/RotatorTracker.h"

namespace tavrik {

struct RigStatus {
    bool connected = false;
    bool tracking = false;
    std::optional<std::int64_t> frequencySetHz;  // last set (the radio said "RPRT 0")
    std::optional<std::int64_t> frequencyReadHz; // last read back with "f"
    std::string lastError;
};

struct RotatorStatus {
    bool connected = false;
    bool tracking = false;
    std::optional<Pointing> commanded; // last sent and taken
    std::optional<Pointing> reported;  // last read with "p"
    std::string lastError;
};

struct RadioStatus {
    std::optional<RigStatus> rig;         // none: RIG not set
    std::optional<RotatorStatus> rotator; // none: ROTATOR not set
};

} // namespace tavrik
