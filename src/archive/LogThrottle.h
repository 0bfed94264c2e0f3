#pragma once
// At most one line a minute for a fault that repeats (a full disk fails every
// frame): the first line at once, then one a period with how many were held back.
#include <cstdint>
#include <optional>
#include <string>

namespace tavrik {

class LogThrottle {
  public:
    explicit LogThrottle(std::int64_t periodMs = 60 * 1000) : periodMs_(periodMs) {}
    // The line to log now, or nothing (counted) when one went out less than a
    // period ago.
    std::optional<std::string> Pass(std::int64_t nowMs, const std::string& line);

  private:
    std::int64_t periodMs_;
    std::int64_t lastMs_ = 0;
    bool logged_ = false;
    std::int64_t held_ = 0;
};

} // namespace tavrik
