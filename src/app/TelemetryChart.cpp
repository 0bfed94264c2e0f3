#include "app/TelemetryChart.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "app/Look.h"
#include "files/qt/QtText.h"
#include "telemetry/ChartDecimation.h"

namespace tavrik {

TelemetryChart::TelemetryChart(const TelemetryHistory& history, QWidget* parent)
    : QChartView(parent), history_(history) {
    auto* chart = new QChart();
    chart->setTitle(QStringLiteral("graphical value"));
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 2, 4, 2));
    chart->setBackgroundRoundness(0);
    QFont titleFont = look::BaseFont();
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    series_ = new QLineSeries();
    series_->setPointsVisible(false);
    chart->addSeries(series_);
    // A one-pixel line strokes far faster than the default two with 10000 rows.
    QPen pen = series_->pen(); // the theme's colour, given when the series joined the chart
    pen.setWidth(1);
    series_->setPen(pen);
    axisX_ = new QCategoryAxis();
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisX_->setLabelsFont(look::BaseFont());
    axisY_ = new QValueAxis();
    axisY_->setLabelsFont(look::BaseFont());
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing, false);
}

void TelemetryChart::Rebuild(int field) {
    const auto f = static_cast<std::size_t>(field);
    const auto& records = history_.Records();
    const std::size_t n = records.size();
    values_.resize(n);
    labels_.clear();
    labels_.reserve(static_cast<qsizetype>(n));
    double lo = 0, hi = 0;
    for (std::size_t r = 0; r < n; ++r) {
        const double v = records[r].values[f];
        values_[r] = v;
        const std::string& ts = records[r].timestamp;
        labels_.append(ts.size() >= 16 ? Latin1Text(std::string_view(ts).substr(11, 5))
                                       : QString::number(static_cast<qulonglong>(r + 1)));
        if (r == 0 || v < lo) lo = v;
        if (r == 0 || v > hi) hi = v;
    }

    // Drawn from at most four rows per pixel column: the same picture as every
    // row drawn, at a fraction of the cost with 10000 rows. One replace() is one repaint.
    const qreal plotWidth =
        chart()->plotArea().width() > 0 ? chart()->plotArea().width() : static_cast<qreal>(width());
    const std::size_t columns = std::max<std::size_t>(64, static_cast<std::size_t>(plotWidth));
    const std::vector<std::size_t> rows = RowsToDraw(values_, columns);
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(rows.size()));
    for (std::size_t r : rows)
        points.append(QPointF(static_cast<double>(r + 1), values_[r]));
    series_->replace(points);

    LabelRows();
    axisX_->setRange(1, std::max<double>(2, static_cast<double>(n)));
    if (hi == lo) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.05;
    axisY_->setRange(lo - pad, hi + pad);
}

void TelemetryChart::LabelRows() {
    // Axis labels thinned to about ten, each a new hh:nn, so they stay
    // readable with 10000 rows.
    for (const QString& l : axisX_->categoriesLabels())
        axisX_->remove(l);
    const auto n = static_cast<std::size_t>(labels_.size());
    const std::size_t step = std::max<std::size_t>(1, (n + 9) / 10);
    std::size_t lastLabelled = 0;
    // The axis's own list is a copy per call; rows of one minute would ask it thousands of times.
    QStringList shown;
    for (std::size_t r = 0; r < n; ++r) {
        const QString& label = labels_[static_cast<qsizetype>(r)];
        if ((r == 0 || r >= lastLabelled + step) && !shown.contains(label)) {
            axisX_->append(label, static_cast<double>(r + 1));
            shown.append(label);
            lastLabelled = r;
        }
    }
}

} // namespace tavrik
