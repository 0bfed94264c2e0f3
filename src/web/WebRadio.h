#pragma once
// The rig and the rotator on the page's API and in /metrics.
#include <string>

#include "radio/RadioStatus.h"

namespace tavrik {

// /api/sky's answer (an object) with "rig" and "rotator" added: each null
// when not set, else {connected, tracking, frequency_set_hz,
// frequency_read_hz, last_error} / {connected, tracking, commanded, reported,
// last_error}, positions as {azimuth, elevation}.
void AddRadioToSky(std::string& skyAnswer, const RadioStatus& radio);

// tavrik_rig_frequency_hz (last set), tavrik_rotator_azimuth_degrees and
// tavrik_rotator_elevation_degrees (last commanded), when known.
void AppendRadioMetrics(std::string& out, const RadioStatus& radio);

} // namespace tavrik
