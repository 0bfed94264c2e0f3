#pragma once
// Decoded telemetry as InfluxDB line protocol: one frame, one point.
//
//   tavrik,source=OK0TVK OPS\ mode=2,Boot\ cnt=17,...,Temp\ SP4=-3.5 1709647629250000000
//
// Measurement "tavrik"; the source call sign as the tag "source" (left out when
// empty); every field of the frame layout as a float field keyed by its caption
// (state fields by their number); the reception time (UTC) as the timestamp in
// nanoseconds. The live upload and the archive export write the same lines, so
// a point sent twice overwrites itself instead of doubling.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "telemetry/FrameLayout.h"

namespace tavrik {

inline constexpr std::string_view kInfluxMeasurement = "tavrik";

// Nanoseconds since 1970-01-01 UTC of "yyyy-MM-dd HH:nn:ss[.mmm]"; nothing for
// any other text (an imported frame without a timestamp record has none).
std::optional<std::int64_t> InfluxTimestamp(std::string_view receptionTime);

// Appends one point and its newline. Returns false and appends nothing when the
// values hold no finite number or the reception time is not a timestamp: a point without one would
// be stamped with the server's time of arrival, which is wrong for every frame that waited.
// `extra`: further fields after the frame's (the sky's azimuth, elevation, ...).
using InfluxFields = std::vector<std::pair<std::string, double>>;
bool AppendInfluxLine(std::string& out, std::string_view source, std::string_view receptionTime,
                      const std::array<double, kFieldCount>& values,
                      const InfluxFields& extra = {});

// Line protocol escaping: a measurement escapes comma and space; a tag key, a
// tag value and a field key also escape '='. A control character (the protocol
// cannot carry one) and a backslash (the server versions read it differently)
// become '?'.
void AppendInfluxKey(std::string& out, std::string_view text, bool measurement = false);

} // namespace tavrik
