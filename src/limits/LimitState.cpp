#include "limits/LimitState.h"

namespace tavrik {

std::string_view StateName(FieldLimitState s) {
    const bool red = s.level == LimitLevel::Red;
    switch (s.level) {
    case LimitLevel::Unchecked:
        return "unchecked";
    case LimitLevel::InRange:
        return "in range";
    case LimitLevel::Yellow:
    case LimitLevel::Red:
        switch (s.side) {
        case LimitSide::Low:
            return red ? "red-low" : "yellow-low";
        case LimitSide::High:
            return red ? "red-high" : "yellow-high";
        default:
            return red ? "red" : "yellow";
        }
    }
    return "unchecked";
}

FieldLevels FrameLimitStates::Levels() const {
    FieldLevels out{};
    for (std::size_t i = 0; i < fields.size(); ++i)
        out[i] = fields[i].level;
    return out;
}

LimitLevel FrameLimitStates::Worst() const {
    LimitLevel worst = LimitLevel::Unchecked;
    for (const FieldLimitState& s : fields)
        if (s.level > worst) worst = s.level;
    return worst;
}

std::string FrameLimitStates::Summary() const {
    std::string text;
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldLimitState s = fields[static_cast<std::size_t>(i)];
        if (!s.OutOfRange()) continue;
        if (!text.empty()) text += "; ";
        text += Field(i).caption;
        text += ' ';
        text += StateName(s);
    }
    return text;
}

} // namespace tavrik
