#pragma once
// What the window's two charts (the run's and the archive's) share: the
// chart's frame, a time axis of category labels below and a value axis of
// round ticks at the left, both in the window's font.
#include <QString>
#include <utility>
#include <vector>

#include "telemetry/ChartDecimation.h"

class QCategoryAxis;
class QChart;
class QValueAxis;

namespace tavrik {

struct ChartAxes {
    QCategoryAxis* x = nullptr;
    QValueAxis* y = nullptr;
};

// The frame (no legend, narrow margins, square corners, a bold title) and the
// two axes, added to chart; every series already in it is attached to both.
ChartAxes SetUpChartAxes(QChart* chart);

// The time axis's labels, each at its position, in place of those shown.
void SetTimeLabels(QCategoryAxis* axis, const std::vector<std::pair<double, QString>>& labels);

// The value axis over lo..hi with 5 % room each side (a flat line gets +-1),
// widened to at most six round ticks. Set only where it changed: every change
// lays the chart out again.
AxisTicks SetValueRange(QValueAxis* axis, double lo, double hi);

} // namespace tavrik
