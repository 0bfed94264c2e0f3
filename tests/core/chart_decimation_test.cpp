#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "telemetry/ChartDecimation.h"

using namespace tavrik;

TEST(RowsToDraw, FewerRowsThanColumnsDrawsEveryRow) {
    const std::vector<double> values = {3, 1, 4, 1, 5};
    EXPECT_EQ(RowsToDraw(values, 640), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(RowsToDraw(values, 0).size(), 5u);
    EXPECT_TRUE(RowsToDraw({}, 64).empty());
}

TEST(RowsToDraw, LongLineKeepsSpikesAndEndsWithinFourRowsPerColumn) {
    std::vector<double> values(10000, 100.0);
    values[4321] = 1e6;  // one frame's spike
    values[7777] = -1e6; // and a dip
    const std::vector<std::size_t> rows = RowsToDraw(values, 300);
    EXPECT_LE(rows.size(), 4u * 300);
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
    EXPECT_EQ(std::adjacent_find(rows.begin(), rows.end()), rows.end());
    EXPECT_EQ(rows.front(), 0u);
    EXPECT_EQ(rows.back(), 9999u);
    for (std::size_t spike : {4321u, 7777u})
        EXPECT_NE(std::find(rows.begin(), rows.end(), spike), rows.end()) << spike;
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
