#include "telemetry/ChartDecimation.h"

#include <algorithm>
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

} // namespace tavrik
