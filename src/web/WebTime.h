#pragma once
// Times in the web API: milliseconds since 1970 UTC inside, ISO 8601 UTC
// outside; a query may also count back from now ("-24h").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "time/Clock.h"

namespace tavrik {

std::int64_t UnixMs(const DateTime& utc);
// "yyyy-MM-dd HH:nn:ss.mmm" (the program's timestamp form); nothing for any other text.
std::optional<std::int64_t> TimestampMs(std::string_view text);
// "2026-12-09", "2026-12-09T15:46[:05[.250]]" (blank for T, trailing Z allowed,
// always UTC), "now", or "-90s", "-30m", "-24h", "-7d", "-2w" back from nowMs.
std::optional<std::int64_t> ParseWhen(std::string_view text, std::int64_t nowMs);
// "2026-12-09T15:46:05.250Z"; "" for 0 (never happened).
std::string IsoUtc(std::int64_t ms);

} // namespace tavrik
