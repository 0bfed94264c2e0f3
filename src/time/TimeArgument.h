#pragma once
// Points in time as people type them on a command line or in a URL: ISO 8601
// UTC dates and times, or an offset back from now. Milliseconds since
// 1970-01-01 UTC throughout, the unit the archive keeps.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "time/Clock.h"

namespace tavrik {

// Milliseconds since 1970-01-01 00:00 UTC of a calendar date and time taken as UTC.
std::int64_t UnixMilliseconds(const DateTime& utc);
// The calendar date and time (UTC) of milliseconds since 1970.
DateTime UtcDateTime(std::int64_t unixMs);
// Now, read from the clock, as milliseconds since 1970.
std::int64_t UnixMillisecondsNow(const Clock& clock);

struct TimeArgument {
    std::int64_t unixMs = 0;
    std::string error; // empty when the text was understood
};

// Accepts "2026-12-09", "2026-12-09T15:46", "2026-12-09T15:46:05",
// "2026-12-09T15:46:05.250" (a blank may stand for the T; a trailing Z is
// allowed; the time is always UTC), "now", and "-90s", "-30m", "-24h", "-7d",
// "-2w" counted back from nowMs. Anything else gets an error saying what is accepted.
TimeArgument ParseTimeArgument(std::string_view text, std::int64_t nowMs);

// "yyyy-MM-dd HH:nn:ss.mmm" (the program's timestamp form) to milliseconds;
// nothing for any other text.
std::optional<std::int64_t> ParseTimestamp(std::string_view text);

// The ISO form "2026-12-09T15:46:05.250Z".
std::string FormatIsoUtc(std::int64_t unixMs);

} // namespace tavrik
