#pragma once
// Where a value stands against the operator's limits, reduced to its level:
// what the archive keeps per field and frame, what a chart bucket or a pass
// shows as its worst. The limits themselves live above; this is the value.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "telemetry/FrameLayout.h"

namespace tavrik {

// Ordered by severity, so the worse of two levels is the larger.
enum class LimitLevel : std::uint8_t {
    Unchecked = 0, // no limit in force for the field (or no limits at all)
    InRange,
    Yellow,
    Red,
};

// One level per field, by field index.
using FieldLevels = std::array<LimitLevel, kFieldCount>;

constexpr LimitLevel Worse(LimitLevel a, LimitLevel b) {
    return std::max(a, b);
}

// "unchecked", "in range", "yellow", "red": the words of the page, the JSON
// and the tool's columns.
constexpr std::string_view LimitLevelWord(LimitLevel level) {
    switch (level) {
    case LimitLevel::InRange:
        return "in range";
    case LimitLevel::Yellow:
        return "yellow";
    case LimitLevel::Red:
        return "red";
    case LimitLevel::Unchecked:
        break;
    }
    return "unchecked";
}

} // namespace tavrik
