#include "limits/LimitsChecker.h"

namespace tavrik {

namespace {

FieldLimitState Watched() {
    return {LimitLevel::InRange, LimitSide::None};
}

const char* LevelWord(LimitLevel level) {
    return level == LimitLevel::Red ? "red" : "yellow";
}

} // namespace

std::string ShownValue(int field, double value) {
    const std::optional<std::string> shown = ValueText(field, value);
    std::string text = shown ? *shown : LimitNumber(value);
    if (const std::string_view unit = Field(field).unit; !unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

std::string StateWords(const FieldLimits& limits, int field, FieldLimitState state, double value) {
    if (!state.OutOfRange()) return {};
    std::string words = LevelWord(state.level);
    if (state.side == LimitSide::State) return words + ": " + ShownValue(field, value);
    words += state.side == LimitSide::Low ? " low: " : " high: ";
    words += ShownValue(field, value);
    if (const std::optional<double> limit = CrossedLimit(limits, state))
        words += (state.side == LimitSide::Low ? ", below " : ", above ") + LimitNumber(*limit);
    return words;
}

std::string LimitChange::LogLine() const {
    std::string line =
        "limit: " + std::string(Field(field).caption) + " " + ShownValue(field, value);
    if (!to.OutOfRange()) return line + " back in range";
    line += ' ';
    line += LevelWord(to.level);
    if (to.side == LimitSide::State) return line + " (a " + LevelWord(to.level) + " state)";
    line += to.side == LimitSide::Low ? " low" : " high";
    if (limit)
        line += (to.side == LimitSide::Low ? " (below " : " (above ") + LimitNumber(*limit) + ")";
    return line;
}

void LimitsChecker::SetTable(LimitsTable table) {
    table_ = std::move(table);
    for (std::size_t f = 0; f < current_.fields.size(); ++f) {
        pending_[f] = {};
        if (!table_.fields[f].Any())
            current_.fields[f] = {};
        else if (current_.fields[f].level == LimitLevel::Unchecked)
            current_.fields[f] = Watched();
    }
}

LimitsChecker::Result LimitsChecker::Check(const std::array<double, kFieldCount>& values) {
    Result r;
    for (std::size_t f = 0; f < values.size(); ++f) {
        const FieldLimits& limits = table_.fields[f];
        const FieldLimitState now = Classify(limits, values[f]);
        r.frame.fields[f] = now;
        FieldLimitState& current = current_.fields[f];
        Pending& pending = pending_[f];
        if (now == current) {
            pending.count = 0;
            continue;
        }
        // Frames in a row must agree on the same new state; another one starts the count over.
        if (pending.count == 0 || !(pending.state == now)) pending = {now, 0};
        if (++pending.count < limits.persistence) continue;
        const int field = static_cast<int>(f);
        r.changes.push_back({field, current, now, values[f], CrossedLimit(limits, now)});
        current = now;
        pending.count = 0;
    }
    return r;
}

} // namespace tavrik
