#include "app/TelemetryChart.h"

#include <QGraphicsItem>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <optional>

#include "app/ChartAxes.h"
#include "support/qt/QtText.h"
#include "telemetry/ChartDecimation.h"

namespace tavrik {

namespace {
// About four drawings a second of a chart that follows live records.
constexpr int kFollowHoldMs = 250;
} // namespace

// The line itself, drawn straight from its points in the plot's scale. A
// chart series would do the same, but lays out a stroke of the whole line
// (for hit tests) at every change of a point: a millisecond for each new record.
class TelemetryChart::LineItem : public QGraphicsItem {
  public:
    LineItem(QChart* chart, const QValueAxis* x, const QValueAxis* y)
        : QGraphicsItem(chart), chart_(chart), x_(x), y_(y) {}

    QList<QPointF> points; // (record number, value)
    QPen pen;

    QRectF boundingRect() const override { return chart_->plotArea(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const QRectF plot = chart_->plotArea();
        const double xSpan = x_->max() - x_->min(), ySpan = y_->max() - y_->min();
        if (points.isEmpty() || plot.isEmpty() || xSpan <= 0 || ySpan <= 0) return;
        const double sx = plot.width() / xSpan, sy = plot.height() / ySpan;
        mapped_.resize(points.size());
        for (qsizetype i = 0; i < points.size(); ++i)
            mapped_[i] = QPointF(plot.left() + (points[i].x() - x_->min()) * sx,
                                 plot.bottom() - (points[i].y() - y_->min()) * sy);
        painter->save();
        painter->setClipRect(plot);
        painter->setPen(pen);
        painter->drawPolyline(mapped_.constData(), static_cast<int>(mapped_.size()));
        painter->restore();
    }
    void Changed() { update(); }

  private:
    QChart* chart_;
    const QValueAxis* x_;
    const QValueAxis* y_;
    QList<QPointF> mapped_;
};

TelemetryChart::~TelemetryChart() = default;

TelemetryChart::TelemetryChart(const TelemetryHistory& history, QWidget* parent)
    // The chart is handed over at construction: a view made without one makes
    // its own, which setChart() would let go of without deleting.
    : QChartView(new QChart(), parent), history_(history) {
    QChart* chart = this->chart();
    chart->setTitle(QStringLiteral("graphical value"));
    // The series holds no points: it ties the axes to the chart, and the
    // line item draws in its colour.
    series_ = new QLineSeries();
    series_->setPointsVisible(false);
    chart->addSeries(series_);
    const ChartAxes axes = SetUpChartAxes(chart);
    axisX_ = axes.x;
    axisY_ = axes.y;
    line_ = new LineItem(chart, axisX_, axisY_);
    QPen pen = series_->pen(); // the theme's colour, given when the series joined the chart
    pen.setWidth(1);           // a cosmetic one-pixel line: the cheapest to draw
    pen.setCosmetic(true);
    line_->pen = pen;
    line_->setZValue(5); // over the grid, as a series is
    for (const QValueAxis* axis : {static_cast<QValueAxis*>(axisX_), axisY_})
        connect(axis, &QValueAxis::rangeChanged, this, [this] { line_->Changed(); });
    connect(chart, &QChart::plotAreaChanged, this, [this] { line_->Changed(); });
    setRenderHint(QPainter::Antialiasing, false);
    hold_.setSingleShot(true);
    hold_.setInterval(kFollowHoldMs);
    connect(&hold_, &QTimer::timeout, this, [this] {
        if (!std::exchange(held_, false) || isHidden()) return;
        Draw();
        hold_.start();
    });
}

void TelemetryChart::RecordsCame(int field, const QString& caption) {
    // Within the hold the values, labels and description follow now; the
    // line and axes are drawn at its end.
    const bool hold = field == field_ && hold_.isActive();
    BringUp(field, caption, !hold);
    if (hold)
        held_ = true;
    else
        hold_.start();
}

void TelemetryChart::Rebuild(int field, const QString& caption) {
    BringUp(field, caption, true);
}

void TelemetryChart::Draw() {
    if (!drawn_) DrawAll();
    SetAxes();
}

void TelemetryChart::BringUp(int field, const QString& caption, bool draw) {
    // A hidden chart (an archive range is shown) follows the records but
    // leaves its series alone; it is drawn again when shown. So does one
    // whose drawing is held.
    if (isHidden() || !draw) drawn_ = false;
    if (draw) held_ = false; // whatever was held is drawn now
    const bool newField = field != field_;
    field_ = field;
    const std::size_t columns = PlotColumns();
    if (newField || columns != columns_ || !Follow()) ThinAll();

    // Stored records never change: only the rows new since the last refresh get
    // a label, and those of records a rolling history let go are dropped.
    const auto& records = history_.Records();
    const std::size_t n = records.size();
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

    if (!isHidden() && draw) Draw();
    if (accessibleName() != caption) setAccessibleName(caption);
    Describe();
    emit Rebuilt(field, caption);
}

std::size_t TelemetryChart::PlotColumns() const {
    const qreal plotWidth =
        chart()->plotArea().width() > 0 ? chart()->plotArea().width() : static_cast<qreal>(width());
    return std::max<std::size_t>(64, static_cast<std::size_t>(plotWidth));
}

bool TelemetryChart::Follow() {
    const auto& records = history_.Records();
    const std::int32_t first = history_.FirstStored();
    const auto n = static_cast<std::int64_t>(records.size());
    const std::int64_t chartedEnd = first_ + static_cast<std::int64_t>(values_.size());
    if (first < first_ || first > chartedEnd || first + n < chartedEnd) return false;
    if (const auto gone = static_cast<std::size_t>(first - first_); gone > 0) {
        values_.erase(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(gone));
        first_ = first;
        bool frontChanged = false;
        const std::size_t dropped = thin_.DropBefore(first, values_, frontChanged);
        if (drawn_ && dropped > 0) {
            line_->points.remove(0, static_cast<qsizetype>(2 * std::min(dropped, drawnColumns_)));
            line_->Changed();
            drawnColumns_ -= std::min(dropped, drawnColumns_);
        }
        if (drawn_ && frontChanged) DrawFrom(0);
    }
    const auto f = static_cast<std::size_t>(field_);
    std::size_t touched = thin_.Columns().size();
    bool wider = false;
    for (auto r = values_.size(); r < static_cast<std::size_t>(n); ++r) {
        const double v = records[r].values[f];
        values_.push_back(v);
        if (!wider)
            wider = thin_.Append(first + static_cast<std::int64_t>(r), v) ==
                    ColumnThinning::Change::Wider;
        if (!thin_.Empty()) touched = std::min(touched, thin_.Columns().size() - 1);
    }
    if (wider) {
        // Once every few hundred records while the history grows.
        thin_.Thin(first_, values_);
        drawn_ = false;
    } else if (drawn_) {
        DrawFrom(touched);
    }
    return true;
}

void TelemetryChart::ThinAll() {
    const auto& records = history_.Records();
    const auto f = static_cast<std::size_t>(field_);
    first_ = history_.FirstStored();
    columns_ = PlotColumns();
    thin_.Reset(columns_);
    values_.resize(records.size());
    for (std::size_t r = 0; r < records.size(); ++r)
        values_[r] = records[r].values[f];
    thin_.Thin(first_, values_);
    drawn_ = false;
}

void TelemetryChart::DrawAll() {
    // One replace() is one repaint.
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(2 * thin_.Columns().size()));
    for (const ThinnedColumn& c : thin_.Columns()) {
        points.append(QPointF(static_cast<double>(c.EarlierRow()), c.EarlierValue()));
        points.append(QPointF(static_cast<double>(c.LaterRow()), c.LaterValue()));
    }
    line_->points = std::move(points);
    line_->Changed();
    drawnColumns_ = thin_.Columns().size();
    drawn_ = true;
}

void TelemetryChart::DrawFrom(std::size_t column) {
    const auto& columns = thin_.Columns();
    QList<QPointF>& points = line_->points;
    bool changed = false;
    for (std::size_t i = column; i < columns.size(); ++i) {
        const ThinnedColumn& c = columns[i];
        const QPointF earlier(static_cast<double>(c.EarlierRow()), c.EarlierValue());
        const QPointF later(static_cast<double>(c.LaterRow()), c.LaterValue());
        if (i >= drawnColumns_) {
            points.append(earlier);
            points.append(later);
            changed = true;
            continue;
        }
        // Only a point that moved is replaced: most records change no column's ends.
        const auto at = static_cast<qsizetype>(2 * i);
        if (points[at] != earlier || points[at + 1] != later) {
            points[at] = earlier;
            points[at + 1] = later;
            changed = true;
        }
    }
    drawnColumns_ = columns.size();
    if (changed) line_->Changed();
}

void TelemetryChart::SetAxes() {
    const auto n = static_cast<double>(values_.size());
    const auto first = static_cast<double>(first_);
    const double last = first + std::max(1.0, n - 1);
    if (axisX_->min() != first || axisX_->max() != last) axisX_->setRange(first, last);
    LabelRows();
    SetValueRange(axisY_, thin_.Low(), thin_.High());
}

QList<QPointF> TelemetryChart::DrawnPoints() const {
    return line_->points;
}

void TelemetryChart::showEvent(QShowEvent* event) {
    QChartView::showEvent(event);
    if (!drawn_ && field_ >= 0) Draw();
}

void TelemetryChart::SetRangeName(const QString& name) {
    rangeName_ = name;
    Describe();
}

void TelemetryChart::SetDescriptionTail(const QString& tail) {
    descriptionTail_ = tail;
    Describe();
}

void TelemetryChart::Describe() {
    QString text = values_.empty() ? QString() : ShownValue(values_.size() - 1);
    if (!rangeName_.isEmpty()) text = rangeName_ + QStringLiteral(": ") + text;
    text += descriptionTail_;
    // Assistive tools are told of a change only: most records leave the text as it was.
    if (text != accessibleDescription()) setAccessibleDescription(text);
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
    const double row = std::round(at.x()) - first_;
    if (row >= 0 && row < static_cast<double>(values_.size())) {
        const auto r = static_cast<std::size_t>(row);
        const QPointF onLine =
            mapFromScene(chart()->mapToPosition(QPointF(row + first_, values_[r]), series_));
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
    // About ten axis labels, each a new hh:nn, on records whose number is a
    // multiple of a round step: they stay put as records come, so the axis is
    // laid out again only when a label comes or goes.
    const auto n = static_cast<std::int64_t>(labels_.size());
    std::vector<std::pair<std::int32_t, QString>> want;
    if (n > 0) {
        const std::int64_t step = RoundStep(static_cast<double>(n) / 10.0);
        const std::int64_t from = (labelsFirst_ + step - 1) / step * step;
        for (std::int64_t rec = from; rec < labelsFirst_ + n; rec += step) {
            const QString& label = labels_[static_cast<qsizetype>(rec - labelsFirst_)];
            if (std::none_of(want.begin(), want.end(),
                             [&](const auto& w) { return w.second == label; }))
                want.emplace_back(static_cast<std::int32_t>(rec), label);
        }
    }
    if (want == axisLabels_) return;
    std::vector<std::pair<double, QString>> at;
    for (const auto& [rec, label] : want)
        at.emplace_back(static_cast<double>(rec), label);
    SetTimeLabels(axisX_, at);
    axisLabels_ = std::move(want);
}

} // namespace tavrik
