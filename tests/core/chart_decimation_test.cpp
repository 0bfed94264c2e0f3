#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <vector>

#include "telemetry/ChartDecimation.h"

using namespace tavrik;

// Every column holds the lowest and highest of exactly its rows, however the
// line grew: a one-frame spike and dip among 10000 rows survive, and so does
// the rest of a column whose low a rolling history let go.
TEST(ColumnThinning, EveryColumnKeepsItsLowestAndHighestRow) {
    std::vector<double> values(10000);
    for (std::size_t r = 0; r < values.size(); ++r)
        values[r] = 100.0 + static_cast<double>(r % 7); // a saw tooth, no column is flat
    values[4321] = 1e6;
    values[7777] = -1e6;
    const auto check = [&](const ColumnThinning& t, std::int64_t first) {
        ASSERT_FALSE(t.Empty());
        for (const ThinnedColumn& c : t.Columns()) {
            const std::int64_t from = std::max(first, c.firstRow);
            const std::int64_t to = std::min<std::int64_t>(c.firstRow + t.RowsPerColumn(), 10000);
            const auto lo = std::min_element(values.begin() + from, values.begin() + to);
            const auto hi = std::max_element(values.begin() + from, values.begin() + to);
            EXPECT_EQ(c.low, *lo) << c.firstRow;
            EXPECT_EQ(c.high, *hi) << c.firstRow;
            EXPECT_EQ(values[static_cast<std::size_t>(c.lowRow)], c.low);
            EXPECT_EQ(values[static_cast<std::size_t>(c.highRow)], c.high);
        }
    };
    // Grown row by row, thinned again whenever the rows outgrow the columns.
    ColumnThinning t(300);
    int thinnings = 0;
    for (std::size_t r = 0; r < values.size(); ++r) {
        if (t.Append(static_cast<std::int64_t>(r), values[r]) != ColumnThinning::Change::Wider)
            continue;
        t.Thin(0, std::span(values).first(r + 1));
        ++thinnings;
    }
    EXPECT_LE(t.Columns().size(), 300u);
    EXPECT_GT(t.Columns().size(), 280u); // a column is about one pixel wide
    EXPECT_LE(thinnings, 40);            // about once per 300 rows
    EXPECT_EQ(t.High(), 1e6);
    EXPECT_EQ(t.Low(), -1e6);
    check(t, 0);

    // The spike's whole column goes, then the dip's low row alone.
    bool frontChanged = false;
    EXPECT_GT(t.DropBefore(4400, std::span(values).subspan(4400), frontChanged), 0u);
    EXPECT_EQ(t.High(), 106);
    const std::int64_t dipColumn = 7777 / t.RowsPerColumn() * t.RowsPerColumn();
    t.DropBefore(7778, std::span(values).subspan(7778), frontChanged);
    EXPECT_EQ(t.Columns().front().firstRow, dipColumn);
    EXPECT_TRUE(frontChanged);
    EXPECT_EQ(t.Low(), 100);
    check(t, 7778);
}

TEST(RoundTicks, EndsAndStepAreRound) {
    struct Case {
        double lo, hi;
        AxisTicks want;
    } cases[] = {
        {41018.8, 41145.3, {41000, 41150, 50, 0}},
        {-1, 1, {-1, 1, 0.5, 1}},
        {7.9, 8.2, {7.9, 8.2, 0.05, 2}},
    };
    for (const Case& c : cases) {
        const AxisTicks t = RoundTicks(c.lo, c.hi, 6);
        EXPECT_DOUBLE_EQ(t.step, c.want.step) << c.lo;
        EXPECT_DOUBLE_EQ(t.low, c.want.low) << c.lo;
        EXPECT_DOUBLE_EQ(t.high, c.want.high) << c.lo;
        EXPECT_EQ(t.decimals, c.want.decimals) << c.lo;
    }
}
