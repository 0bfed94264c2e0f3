#pragma once
// Where the satellite stood, seen from the station, when a frame was heard:
// computed once in the station's core and handed on with the frame's values.
#include <optional>

#include "sky/SkyPredictor.h"

namespace tavrik {

struct FrameSky {
    double azimuthDeg = 0;
    double elevationDeg = 0;
    double rangeKm = 0;
    double rangeRateKmS = 0;  // > 0: receding
    std::optional<Pass> pass; // the pass the frame was heard in; none outside a pass
};

} // namespace tavrik
