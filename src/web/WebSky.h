#pragma once
// The sky on the page and in the API: /api/sky, the frame's "sky" in
// /api/current, and the sky's lines of /metrics.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "sky/FrameSky.h"
#include "station/SkyState.h"
#include "web/JsonWriter.h"
#include "web/WebState.h"

namespace tavrik {

// /api/sky: the satellite, where it stands at nowMs, the pass in progress
// and the next ones. Without the sky: {"satellite": null, ...}.
std::string SkyAnswer(SkyState* sky, std::int64_t nowMs);
// /api/sky/track, for the page's plot: the current or next pass's track
// (azimuth, elevation pairs a few seconds apart) and where this run's frames
// were heard.
std::string SkyTrackAnswer(SkyState* sky, const std::deque<RecordView>& records,
                           std::int64_t nowMs);
// {"azimuth", "elevation", "range_km", "range_rate_km_s", "pass_aos"} or null.
void WriteFrameSky(JsonWriter& j, const std::optional<FrameSky>& sky);
// The sky's metric families; nothing without the sky.
void AppendSkyMetrics(std::string& out, SkyState* sky, std::int64_t nowMs);

} // namespace tavrik
