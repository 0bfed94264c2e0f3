#include "app/TelemetryChart.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <optional>

#include "app/Look.h"
#include "support/qt/QtText.h"
#include "telemetry/ChartDecimation.h"

namespace tavrik {

TelemetryChart::TelemetryChart(const TelemetryHistory& history, QWidget* parent)
    // The chart is handed over at construction: a view made without one makes
    // its own, which setChart() would let go of without deleting.
    : QChartView(new QChart(), parent), history_(history) {
    QChart* chart = this->chart();
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
    axisY_->setTickType(QValueAxis::TicksDynamic);
    axisY_->setTickAnchor(0);
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    setRenderHint(QPainter::Antialiasing, false);
}

void TelemetryChart::Rebuild(int field, const QString& caption) {
    field_ = field;
    const auto f = static_cast<std::size_t>(field);
    const auto& records = history_.Records();
    const std::size_t n = records.size();
    values_.resize(n);
    double lo = 0, hi = 0;
    for (std::size_t r = 0; r < n; ++r) {
        const double v = records[r].values[f];
        values_[r] = v;
        if (r == 0 || v < lo) lo = v;
        if (r == 0 || v > hi) hi = v;
    }
    // Stored records never change: only the rows new since the last refresh get
    // a label, and those of records a rolling history let go are dropped.
    const std::int32_t first = history_.FirstStored();
    if (first > labelsFirst_)
        labels_.remove(0, std::min<qsizetype>(first - labelsFirst_, labels_.size()));
    labelsFirst_ = first;
    if (static_cast<std::size_t>(labels_.size()) > n) labels_.clear();
    labels_.reserve(static_cast<qsizetype>(n));
    for (auto r = static_cast<std::size_t>(labels_.size()); r < n; ++r) {
        const std::string& ts = records[r].timestamp;
        labels_.append(ts.size() >= 16 ? Utf8Text(std::string_view(ts).substr(11, 5))
                                       : QString::number(static_cast<qulonglong>(r + 1)));
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
    // Round ticks: the range widened to meet them. Set only when they change,
    // since every change lays the chart out again.
    const AxisTicks ticks = RoundTicks(lo - pad, hi + pad, 6);
    if (axisY_->tickInterval() != ticks.step) {
        axisY_->setLabelFormat(QStringLiteral("%.%1f").arg(ticks.decimals));
        axisY_->setTickInterval(ticks.step);
    }
    axisY_->setRange(ticks.low, ticks.high);

    setAccessibleName(caption);
    Describe();
    emit Rebuilt(field, caption);
}

void TelemetryChart::SetRangeName(const QString& name) {
    rangeName_ = name;
    Describe();
}

void TelemetryChart::Describe() {
    const QString value = values_.empty() ? QString() : ShownValue(values_.size() - 1);
    setAccessibleDescription(rangeName_.isEmpty() ? value
                                                  : rangeName_ + QStringLiteral(": ") + value);
}

QString TelemetryChart::ShownValue(std::size_t row) const {
    const double v = values_[row];
    const std::optional<std::string> shown = ValueText(field_, v);
    QString text = shown ? Utf8Text(*shown) : QString::number(v);
    if (const std::string_view unit = Field(field_).unit; !unit.empty())
        text += QLatin1Char(' ') + Utf8Text(unit);
    return text;
}

bool TelemetryChart::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QChartView::viewportEvent(event);
    // Over the line, the tooltip names the nearest row's time and value.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QPointF at = chart()->mapToValue(mapToScene(help->pos()), series_);
    const double row = std::round(at.x()) - 1;
    if (row >= 0 && row < static_cast<double>(values_.size())) {
        const auto r = static_cast<std::size_t>(row);
        const QPointF onLine =
            mapFromScene(chart()->mapToPosition(QPointF(row + 1, values_[r]), series_));
        if (std::abs(onLine.y() - help->pos().y()) <= 6) {
            const std::string& ts = history_.Records()[r].timestamp;
            const QString time = ts.size() >= 19 ? Utf8Text(std::string_view(ts).substr(11, 8))
                                                 : labels_[static_cast<qsizetype>(r)];
            QToolTip::showText(help->globalPos(), time + QStringLiteral("  ") + ShownValue(r),
                               this);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
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
