#include "telemetry/ChartDecimation.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tavrik {

std::vector<std::size_t> RowsToDraw(std::span<const double> values, std::size_t columns) {
    const std::size_t n = values.size();
    std::vector<std::size_t> rows;
    if (columns == 0 || n <= 4 * columns) {
        rows.resize(n);
        std::iota(rows.begin(), rows.end(), std::size_t{0});
        return rows;
    }
    rows.reserve(4 * columns);
    for (std::size_t c = 0; c < columns; ++c) {
        const std::size_t first = c * n / columns;
        const std::size_t last = (c + 1) * n / columns - 1;
        std::size_t low = first, high = first;
        for (std::size_t r = first + 1; r <= last; ++r) {
            if (values[r] < values[low]) low = r;
            if (values[r] > values[high]) high = r;
        }
        for (std::size_t pick : {first, std::min(low, high), std::max(low, high), last})
            if (rows.empty() || rows.back() != pick) rows.push_back(pick);
    }
    return rows;
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

} // namespace tavrik
