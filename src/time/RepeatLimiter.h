#pragma once
// Lines that repeat from one cause (a modem sending oversized frames, a disk
// refusing every write) pass once, then at most once per interval, carrying
// how many were held back meanwhile.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tavrik {

class RepeatLimiter {
  public:
    using Ms = std::chrono::milliseconds;
    explicit RepeatLimiter(Ms interval = std::chrono::minutes(1)) : interval_(interval) {}

    // Whether a line of this cause may be written at now; held is set to the
    // number held back since the last one that passed.
    bool Pass(std::string_view cause, Ms now, std::uint64_t& held);

  private:
    struct State {
        Ms last{0};
        std::uint64_t held = 0;
    };
    Ms interval_;
    std::map<std::string, State, std::less<>> causes_;
};

} // namespace tavrik
