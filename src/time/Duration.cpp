#include "time/Duration.h"

namespace tavrik {

std::string DurationText(std::int64_t ms, DurationStyle style) {
    if (style == DurationStyle::SecondsUp) return std::to_string((ms + 999) / 1000) + " s";
    if (style == DurationStyle::Exact)
        return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
    if (ms < 1000) return std::to_string(ms < 0 ? 0 : ms) + " ms";
    const std::int64_t s = ms / 1000;
    if (s < 60) return std::to_string(s) + " s";
    // The smaller unit only when it is not zero: "5 min", "5 min 3 s".
    const auto two = [](std::int64_t big, const char* bigUnit, std::int64_t small,
                        const char* smallUnit) {
        std::string t = std::to_string(big);
        t += bigUnit;
        if (small > 0) {
            t += ' ';
            t += std::to_string(small);
            t += smallUnit;
        }
        return t;
    };
    if (s < 3600) return two(s / 60, " min", s % 60, " s");
    return two(s / 3600, " h", s % 3600 / 60, " min");
}

} // namespace tavrik
