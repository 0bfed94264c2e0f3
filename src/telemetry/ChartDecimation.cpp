#include "telemetry/ChartDecimation.h"

#include <algorithm>
#include <cmath>

namespace tavrik {

namespace {

// Floor division for row numbers that may be negative.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

void Take(ThinnedColumn& c, std::int64_t row, double value) {
    if (value < c.low) {
        c.low = value;
        c.lowRow = row;
    }
    if (value > c.high) {
        c.high = value;
        c.highRow = row;
    }
}

} // namespace

ColumnThinning::ColumnThinning(std::size_t maxColumns) {
    Reset(maxColumns);
}

void ColumnThinning::Reset(std::size_t maxColumns) {
    maxColumns_ = std::max<std::size_t>(2, maxColumns);
    width_ = 1;
    columns_.clear();
}

void ColumnThinning::Thin(std::int64_t firstRow, std::span<const double> values) {
    columns_.clear();
    // One column less than there is room for: rows not aligned to the
    // columns' starts take one more.
    const auto n = static_cast<std::int64_t>(values.size());
    const auto room = static_cast<std::int64_t>(maxColumns_ - 1);
    width_ = std::max<std::int64_t>(1, (n + room - 1) / room);
    for (std::int64_t i = 0; i < n; ++i)
        Add(firstRow + i, values[static_cast<std::size_t>(i)]);
}

void ColumnThinning::Add(std::int64_t row, double value) {
    const std::int64_t start = FloorDiv(row, width_) * width_;
    if (!columns_.empty() && columns_.back().firstRow == start)
        Take(columns_.back(), row, value);
    else
        columns_.push_back({start, row, value, row, value});
}

ColumnThinning::Change ColumnThinning::Append(std::int64_t row, double value) {
    const std::int64_t start = FloorDiv(row, width_) * width_;
    if (!columns_.empty() && columns_.back().firstRow == start) {
        Take(columns_.back(), row, value);
        return Change::LastColumn;
    }
    if (columns_.size() >= maxColumns_) return Change::Wider;
    columns_.push_back({start, row, value, row, value});
    return Change::NewColumn;
}

std::size_t ColumnThinning::DropBefore(std::int64_t first, std::span<const double> values,
                                       bool& frontChanged) {
    frontChanged = false;
    std::size_t dropped = 0;
    while (!columns_.empty() && columns_.front().firstRow + width_ <= first) {
        columns_.pop_front();
        ++dropped;
    }
    if (columns_.empty()) return dropped;
    ThinnedColumn& c = columns_.front();
    if (c.lowRow >= first && c.highRow >= first) return dropped;
    // Found again from the rows the column still holds.
    const auto end = std::min<std::int64_t>(c.firstRow + width_ - first,
                                            static_cast<std::int64_t>(values.size()));
    if (end <= 0) {
        columns_.pop_front();
        return dropped + 1;
    }
    c.lowRow = c.highRow = first;
    c.low = c.high = values[0];
    for (std::int64_t i = 1; i < end; ++i)
        Take(c, first + i, values[static_cast<std::size_t>(i)]);
    frontChanged = true;
    return dropped;
}

double ColumnThinning::Low() const {
    double lo = columns_.empty() ? 0 : columns_.front().low;
    for (const ThinnedColumn& c : columns_)
        lo = std::min(lo, c.low);
    return lo;
}

double ColumnThinning::High() const {
    double hi = columns_.empty() ? 0 : columns_.front().high;
    for (const ThinnedColumn& c : columns_)
        hi = std::max(hi, c.high);
    return hi;
}

AxisTicks RoundTicks(double lo, double hi, int maxTicks) {
    AxisTicks t;
    const double rough = (hi - lo) / std::max(1, maxTicks);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        t.step = m * power;
        if (t.step >= rough) break;
    }
    // A bound that is a multiple of the step already, but for rounding, stays.
    t.low = std::floor(lo / t.step + 1e-9) * t.step;
    t.high = std::ceil(hi / t.step - 1e-9) * t.step;
    t.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(t.step) + 1e-9)));
    return t;
}

std::int64_t RoundStep(double atLeast) {
    std::int64_t power = 1;
    for (;;) {
        for (std::int64_t m : {1, 2, 5})
            if (static_cast<double>(m * power) >= atLeast) return m * power;
        power *= 10;
    }
}

} // namespace tavrik
