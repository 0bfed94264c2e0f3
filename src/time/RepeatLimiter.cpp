#include "time/RepeatLimiter.h"

namespace tavrik {

bool RepeatLimiter::Pass(std::string_view cause, Ms now, std::uint64_t& held) {
    auto it = causes_.find(cause);
    if (it == causes_.end()) {
        causes_.emplace(std::string(cause), State{now, 0});
        held = 0;
        return true;
    }
    State& s = it->second;
    if (now - s.last < interval_) {
        ++s.held;
        return false;
    }
    held = s.held;
    s = State{now, 0};
    return true;
}

} // namespace tavrik
