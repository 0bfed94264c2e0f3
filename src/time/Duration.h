#pragma once
// Durations as the event log writes them.
#include <cstdint>
#include <string>

namespace tavrik {

enum class DurationStyle {
    Units,     // "850 ms", "12 s", "3 min 5 s", "2 h 4 min": the two largest units, cut down
    Exact,     // "60 s" for whole seconds, else "1500 ms"
    SecondsUp, // whole seconds, rounded up: "2 s" for 1001 ms
};

std::string DurationText(std::int64_t ms, DurationStyle style = DurationStyle::Units);

} // namespace tavrik
