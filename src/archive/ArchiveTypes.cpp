#include "archive/ArchiveTypes.h"

namespace tavrik {

namespace {

// Ties keep the earliest time, so the result does not depend on the order
// frames arrive in.
void Lower(FieldStats& s, double v, std::int64_t t) {
    if (v < s.min || (v == s.min && t < s.minMs)) {
        s.min = v;
        s.minMs = t;
    }
}

void Higher(FieldStats& s, double v, std::int64_t t) {
    if (v > s.max || (v == s.max && t < s.maxMs)) {
        s.max = v;
        s.maxMs = t;
    }
}

} // namespace

LimitLevel Summary::Worst() const {
    LimitLevel worst = LimitLevel::Unchecked;
    for (const LimitLevel l : levels)
        worst = Worse(worst, l);
    return worst;
}

void Summary::Add(std::int64_t timeMs, const std::array<double, kFieldCount>& values,
                  const FieldLevels& frameLevels) {
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = Worse(levels[i], frameLevels[i]);
    if (count == 0) {
        startMs = endMs = timeMs;
        for (std::size_t i = 0; i < values.size(); ++i)
            fields[i] = {values[i], values[i], values[i], timeMs, timeMs};
        count = 1;
        return;
    }
    if (timeMs < startMs) startMs = timeMs;
    if (timeMs > endMs) endMs = timeMs;
    for (std::size_t i = 0; i < values.size(); ++i) {
        FieldStats& s = fields[i];
        Lower(s, values[i], timeMs);
        Higher(s, values[i], timeMs);
        s.sum += values[i];
    }
    ++count;
}

void Summary::Merge(const Summary& other) {
    if (other.count == 0) return;
    if (count == 0) {
        *this = other;
        return;
    }
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = Worse(levels[i], other.levels[i]);
    if (other.startMs < startMs) startMs = other.startMs;
    if (other.endMs > endMs) endMs = other.endMs;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldStats& o = other.fields[i];
        Lower(fields[i], o.min, o.minMs);
        Higher(fields[i], o.max, o.maxMs);
        fields[i].sum += o.sum;
    }
    count += other.count;
}

} // namespace tavrik
