#include "archive/LogThrottle.h"

namespace tavrik {

std::optional<std::string> LogThrottle::Pass(std::int64_t nowMs, const std::string& line) {
    if (logged_ && nowMs - lastMs_ < periodMs_ && nowMs >= lastMs_) {
        ++held_;
        return std::nullopt;
    }
    std::string out = line;
    if (held_ > 0) out += " (" + std::to_string(held_) + " more like it since the last line)";
    logged_ = true;
    lastMs_ = nowMs;
    held_ = 0;
    return out;
}

} // namespace tavrik
