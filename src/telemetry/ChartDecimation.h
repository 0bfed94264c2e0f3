#pragma once
// What a line chart of many rows needs: the rows to draw (a chart of 10000
// rows on a few hundred pixel columns looks the same from the lowest and the
// highest row of each column) and a value axis with round ticks.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace tavrik {

// One column of a thinned line: its lowest and its highest row, in row order.
struct ThinnedColumn {
    std::int64_t firstRow = 0; // the rows first..first+width-1 fall into it
    std::int64_t lowRow = 0;
    double low = 0;
    std::int64_t highRow = 0;
    double high = 0;

    std::int64_t EarlierRow() const { return lowRow <= highRow ? lowRow : highRow; }
    double EarlierValue() const { return lowRow <= highRow ? low : high; }
    std::int64_t LaterRow() const { return lowRow <= highRow ? highRow : lowRow; }
    double LaterValue() const { return lowRow <= highRow ? high : low; }
};

// A line of consecutively numbered rows thinned to the lowest and highest of
// each column, grown one row at a time. A column holds a whole number of rows
// (the fewest that keep the columns within the plot's pixel columns), aligned
// to row numbers, so a new row changes the last column only. When the rows
// outgrow the columns, the line is thinned again with wider columns: with the
// history's length that happens once every few hundred rows.
class ColumnThinning {
  public:
    enum class Change {
        LastColumn, // the last column's low or high moved (or nothing changed)
        NewColumn,  // a column was added at the end
        Wider,      // nothing added: thin all rows again (Thin), the new one included
    };

    explicit ColumnThinning(std::size_t maxColumns = 640);

    // Starts again with no rows, for a plot of maxColumns pixel columns.
    void Reset(std::size_t maxColumns);
    // Thins these rows, numbered from firstRow, anew.
    void Thin(std::int64_t firstRow, std::span<const double> values);
    // The next row: its number is one past the last row's.
    Change Append(std::int64_t row, double value);
    // Lets go of the rows before `first`; `values` are the values of the rows
    // from `first` on (a column that lost its low or high finds them again).
    // Returns how many columns were let go at the front, and sets
    // `frontChanged` when the first column left kept another low or high.
    std::size_t DropBefore(std::int64_t first, std::span<const double> values, bool& frontChanged);

    const std::deque<ThinnedColumn>& Columns() const { return columns_; }
    std::int64_t RowsPerColumn() const { return width_; }
    bool Empty() const { return columns_.empty(); }
    double Low() const;  // of all rows (0 when empty)
    double High() const; // of all rows (0 when empty)

  private:
    void Add(std::int64_t row, double value);

    std::size_t maxColumns_ = 2;
    std::int64_t width_ = 1;
    std::deque<ThinnedColumn> columns_;
};

struct AxisTicks {
    double low = 0;
    double high = 1;
    double step = 1;  // 1, 2 or 5 times a power of ten
    int decimals = 0; // digits after the point that the step needs
};

// A range holding lo to hi (lo < hi) whose ends are multiples of a round step,
// with at most about maxTicks steps.
AxisTicks RoundTicks(double lo, double hi, int maxTicks);

// The smallest of 1, 2, 5, 10, 20, 50, ... that is at least `at_least`.
std::int64_t RoundStep(double atLeast);

} // namespace tavrik
