#pragma once
// Where a frame's values stand against the operator's limits: one state per
// field, a plain value that the archive, the web page and the export keep or
// send as they please.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "telemetry/FrameLayout.h"
#include "telemetry/LimitLevel.h"

namespace tavrik {

// Which limit a value is beyond: below a low one, above a high one, or in a
// state named as yellow or red (the three state fields).
enum class LimitSide : std::uint8_t { None = 0, Low, High, State };

struct FieldLimitState {
    LimitLevel level = LimitLevel::Unchecked;
    LimitSide side = LimitSide::None;

    bool OutOfRange() const { return level == LimitLevel::Yellow || level == LimitLevel::Red; }
    friend bool operator==(const FieldLimitState&, const FieldLimitState&) = default;
};

// "red-low", "yellow-high", "red", "yellow" (a state field), "in range" or
// "unchecked": the words of alarm programs and of the export's Limits column.
std::string_view StateName(FieldLimitState state);

// The states of one frame's 46 values, by field index.
struct FrameLimitStates {
    std::array<FieldLimitState, kFieldCount> fields{};

    // The worst level of the frame: what an archive bucket or a page badge shows.
    LimitLevel Worst() const;
    // The levels alone: what the archive keeps.
    FieldLevels Levels() const;
    // "Batt volts red-low; PA temp yellow-high": the fields out of range in
    // field order, empty when none is.
    std::string Summary() const;
};

} // namespace tavrik
