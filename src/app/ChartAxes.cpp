#include "app/ChartAxes.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

#include "app/Look.h"

namespace tavrik {

ChartAxes SetUpChartAxes(QChart* chart) {
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 2, 4, 2));
    chart->setBackgroundRoundness(0);
    QFont titleFont = look::BaseFont();
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);

    ChartAxes axes;
    axes.x = new QCategoryAxis();
    axes.x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axes.x->setLabelsFont(look::BaseFont());
    axes.y = new QValueAxis();
    axes.y->setLabelsFont(look::BaseFont());
    axes.y->setTickType(QValueAxis::TicksDynamic);
    axes.y->setTickAnchor(0);
    chart->addAxis(axes.x, Qt::AlignBottom);
    chart->addAxis(axes.y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(axes.x);
        s->attachAxis(axes.y);
    }
    return axes;
}

void SetTimeLabels(QCategoryAxis* axis, const std::vector<std::pair<double, QString>>& labels) {
    for (const QString& l : axis->categoriesLabels())
        axis->remove(l);
    for (const auto& [at, label] : labels)
        axis->append(label, at);
}

AxisTicks SetValueRange(QValueAxis* axis, double lo, double hi) {
    if (hi == lo) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.05;
    const AxisTicks ticks = RoundTicks(lo - pad, hi + pad, 6);
    if (axis->tickInterval() != ticks.step) {
        axis->setLabelFormat(QStringLiteral("%.%1f").arg(ticks.decimals));
        axis->setTickInterval(ticks.step);
    }
    if (axis->min() != ticks.low || axis->max() != ticks.high)
        axis->setRange(ticks.low, ticks.high);
    return ticks;
}

} // namespace tavrik
