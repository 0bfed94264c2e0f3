#pragma once
// Long work on the event loop's thread (an import, an export) runs in slices
// measured by the clock, not by a count of items: an item's cost varies with
// the machine and the data, and a slice with the repaint after it must stay
// within one screen refresh.
#include <chrono>

namespace tavrik {

class SliceBudget {
  public:
    using Clock = std::chrono::steady_clock;
    // Room is left for what the loop does between slices (a repaint, a live frame).
    static constexpr std::chrono::microseconds kSlice{4000};

    explicit SliceBudget(std::chrono::microseconds length = kSlice) : end_(Clock::now() + length) {}
    bool Spent() const { return Clock::now() >= end_; }

  private:
    Clock::time_point end_;
};

} // namespace tavrik
