#pragma once
// What a line chart of many rows needs: which rows to draw (a chart of 10000
// rows on a few hundred pixel columns looks the same from a fraction of its
// points) and a value axis with round ticks.
#include <cstddef>
#include <span>
#include <vector>

namespace tavrik {

// The rows (0-based, ascending, each once) to draw for `columns` pixel columns:
// per column the first, lowest, highest and last of the rows that fall into it,
// so spikes and each column's ends stay in the picture. With at most four rows
// per column (or no columns) every row is drawn.
std::vector<std::size_t> RowsToDraw(std::span<const double> values, std::size_t columns);

struct AxisTicks {
    double low = 0;
    double high = 1;
    double step = 1;  // 1, 2 or 5 times a power of ten
    int decimals = 0; // digits after the point that the step needs
};

// A range holding lo to hi (lo < hi) whose ends are multiples of a round step,
// with at most about maxTicks steps.
AxisTicks RoundTicks(double lo, double hi, int maxTicks);

} // namespace tavrik
