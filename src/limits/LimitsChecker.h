#pragma once
// The fields' states over a run of frames. A field changes state only after
// its persistence count of frames in a row agree on the new state, so one
// noisy sample raises nothing, and a value that stays out writes nothing more.
// Pure policy: values in, states and their changes out, as values.
#include <optional>
#include <string>
#include <vector>

#include "limits/Limits.h"

namespace tavrik {

// A field's state changed. The texts carry the value and limit in the
// window's units.
struct LimitChange {
    int field = 0;
    FieldLimitState from, to;
    double value = 0;
    std::optional<double> limit; // the limit crossed; none for a state field or back in range

    // "limit: Batt volts 6712 mV red low (below 6800)", "limit: Batt volts 7105 mV back in range"
    std::string LogLine() const;
};

// "6712 mV", "SW fixed point", "61.20 C": a value as its box shows it, with the unit.
std::string ShownValue(int field, double value);
// The state in words for a box's tooltip and accessible description:
// "red low: 6712 mV, below 6800", "yellow: HW default"; empty when in range.
std::string StateWords(const FieldLimits& limits, int field, FieldLimitState state, double value);

class LimitsChecker {
  public:
    // New limits. Fields that keep limits keep their state (the next frames
    // judge it again); fields without limits become unchecked at once.
    void SetTable(LimitsTable table);
    const LimitsTable& Table() const { return table_; }

    struct Result {
        FrameLimitStates frame;           // this frame's values alone
        std::vector<LimitChange> changes; // states that changed with it, in field order
    };
    Result Check(const std::array<double, kFieldCount>& values);

    // The states in force: what the window shows.
    const FrameLimitStates& Current() const { return current_; }

  private:
    struct Pending {
        FieldLimitState state;
        int count = 0;
    };
    LimitsTable table_;
    FrameLimitStates current_;
    std::array<Pending, kFieldCount> pending_{};
};

} // namespace tavrik
