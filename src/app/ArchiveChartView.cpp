#include "app/ArchiveChartView.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QToolTip>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>

#include "app/ChartAxes.h"
#include "support/qt/QtText.h"
#include "telemetry/ChartDecimation.h"
#include "telemetry/FrameLayout.h"

namespace tavrik {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kHourMs = 60 * kMinuteMs;
constexpr std::int64_t kDayMs = 24 * kHourMs;

QDateTime Utc(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QString UtcText(std::int64_t ms, const QString& format) {
    return Utc(ms).toString(format);
}

} // namespace

std::vector<std::pair<std::int64_t, QString>> TimeTicks(std::int64_t fromMs, std::int64_t toMs) {
    constexpr int kMaxTicks = 8;
    std::vector<std::pair<std::int64_t, QString>> ticks;
    if (toMs <= fromMs) return ticks;
    const std::int64_t span = toMs - fromMs;
    // Steps of fixed length, aligned to 1970-01-01 00:00 UTC (weeks to its Monday).
    constexpr std::array<std::int64_t, 15> kFixed{
        kMinuteMs,      2 * kMinuteMs, 5 * kMinuteMs, 10 * kMinuteMs, 15 * kMinuteMs,
        30 * kMinuteMs, kHourMs,       2 * kHourMs,   3 * kHourMs,    6 * kHourMs,
        12 * kHourMs,   kDayMs,        2 * kDayMs,    7 * kDayMs,     14 * kDayMs};
    for (const std::int64_t step : kFixed) {
        if (span / step > kMaxTicks) continue;
        const std::int64_t anchor = step >= 7 * kDayMs ? 4 * kDayMs : 0;
        std::int64_t t = fromMs - anchor;
        t = (t / step + (t % step > 0 ? 1 : 0)) * step + anchor;
        for (; t < toMs; t += step) {
            // A new day is named by its date, so a day's hours are not read as another's.
            const bool midnight = t % kDayMs == 0;
            ticks.emplace_back(t, UtcText(t, step < kDayMs && !midnight ? QStringLiteral("hh:mm")
                                                                        : QStringLiteral("MM-dd")));
        }
        return ticks;
    }
    // Longer spans: calendar months, then years.
    constexpr std::array<int, 7> kMonths{1, 2, 3, 6, 12, 24, 60};
    for (const int months : kMonths) {
        if (span / (months * 30 * kDayMs) > kMaxTicks && months != kMonths.back()) continue;
        const QDateTime from = Utc(fromMs);
        const int index = from.date().year() * 12 + from.date().month() - 1;
        const bool onMonthStart = from.date().day() == 1 && from.time() == QTime(0, 0);
        int first = index + (onMonthStart ? 0 : 1);
        first = (first + months - 1) / months * months;
        for (int m = first;; m += months) {
            const QDateTime t(QDate(m / 12, m % 12 + 1, 1), QTime(0, 0), Qt::UTC);
            const std::int64_t ms = t.toMSecsSinceEpoch();
            if (ms >= toMs) break;
            ticks.emplace_back(
                ms, t.toString(months >= 12 ? QStringLiteral("yyyy") : QStringLiteral("yyyy-MM")));
        }
        break;
    }
    return ticks;
}

namespace {

// Frames closer than this belong to one pass (as the archive counts passes):
// the chart joins them up, across buckets without frames in between.
constexpr std::int64_t kJoinMs = 20 * kMinuteMs;

// An area's two edges over the buckets, through their centres. Buckets of one
// run of frames join up; where a run ends both edges meet and go on together
// to the next run, so the area has no height, and nothing is drawn, where no
// frame was. A run's ends reach its outer buckets' edges, so a lone bucket is
// drawn as wide as it is.
template <class TopBottom>
void Edges(const std::vector<SeriesBucket>& buckets, std::int64_t width, TopBottom topBottom,
           QList<QPointF>& upper, QList<QPointF>& lower) {
    const std::size_t n = buckets.size();
    const auto apart = [&](std::size_t i) { // bucket i and the next are not one run
        return buckets[i + 1].startMs - (buckets[i].startMs + width) >= kJoinMs;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const SeriesBucket& b = buckets[i];
        const double start = static_cast<double>(b.startMs);
        const double end = start + static_cast<double>(width);
        const bool first = i == 0 || apart(i - 1);
        const bool last = i + 1 == n || apart(i);
        const auto [top, bottom] = topBottom(b);
        if (first && i > 0) {
            const double met = upper.back().y();
            upper.append({start, met});
            lower.append({start, met});
        }
        if (first) {
            upper.append({start, top});
            lower.append({start, bottom});
        }
        upper.append({(start + end) / 2, top});
        lower.append({(start + end) / 2, bottom});
        if (last) {
            upper.append({end, top});
            lower.append({end, bottom});
        }
        if (last && i + 1 < n) {
            const double met = (top + bottom) / 2;
            upper.append({end, met});
            lower.append({end, met});
        }
    }
}

} // namespace

template <class TopBottom>
void ArchiveChartView::DrawArea(QAreaSeries* area, const ArchiveChartData& data,
                                TopBottom topBottom) {
    QList<QPointF> upper, lower;
    upper.reserve(static_cast<qsizetype>(data.buckets.size() * 2 + 8));
    lower.reserve(upper.capacity());
    Edges(data.buckets, data.bucketMs, topBottom, upper, lower);
    // One replace() per edge: one repaint each, however many buckets.
    area->upperSeries()->replace(upper);
    area->lowerSeries()->replace(lower);
}

ArchiveChartView::ArchiveChartView(QWidget* parent) : QChartView(new QChart(), parent) {
    setObjectName(QStringLiteral("ArchiveChart"));
    QChart* chart = this->chart();

    // Both are areas whose edges are not series of the chart: an area can
    // have no height where there are no frames, a line cannot be broken.
    band_ = new QAreaSeries(new QLineSeries(this), new QLineSeries(this));
    avg_ = new QAreaSeries(new QLineSeries(this), new QLineSeries(this));
    yellow_ = new QScatterSeries();
    red_ = new QScatterSeries();
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{band_, avg_, yellow_, red_})
        chart->addSeries(s);
    const QColor line = band_->brush().color(); // the theme's first colour
    QColor fill = line.lighter(150);
    fill.setAlpha(160);
    band_->setBrush(fill);
    band_->setPen(Qt::NoPen);
    avg_->setBrush(line.darker(150));
    avg_->setPen(Qt::NoPen);
    for (auto [marks, colour] :
         {std::pair{yellow_, QColor(230, 190, 0)}, std::pair{red_, QColor(210, 30, 30)}}) {
        marks->setMarkerSize(6);
        marks->setColor(colour);
        marks->setBorderColor(colour.darker(140));
    }

    const ChartAxes axes = SetUpChartAxes(chart);
    axisX_ = axes.x;
    axisY_ = axes.y;
    // A few hundred buckets: smooth edges cost little, and without them a
    // band of steep slivers shows seams.
    setRenderHint(QPainter::Antialiasing, true);
}

void ArchiveChartView::Show(const ArchiveChartData& data, const QString& caption) {
    data_ = data;
    const QString range = ChartRangeName(data.request.range);
    const double half = static_cast<double>(data.bucketMs) / 2;
    QList<QPointF> yellow, red;
    std::int64_t frames = 0;
    double lo = 0, hi = 0, sum = 0;
    for (const SeriesBucket& b : data.buckets) {
        const double x = static_cast<double>(b.startMs) + half;
        if (b.worst == LimitLevel::Red)
            red.append({x, b.max});
        else if (b.worst == LimitLevel::Yellow)
            yellow.append({x, b.max});
        lo = frames == 0 ? b.min : std::min(lo, b.min);
        hi = frames == 0 ? b.max : std::max(hi, b.max);
        frames += b.count;
        sum += b.avg * static_cast<double>(b.count);
    }
    yellow_->replace(yellow);
    red_->replace(red);

    const std::int64_t to = std::max(data.span.toMs, data.span.fromMs + kMinuteMs);
    std::vector<std::pair<double, QString>> labels;
    for (const auto& [ms, label] : TimeTicks(data.span.fromMs, to))
        labels.emplace_back(static_cast<double>(ms), label);
    SetTimeLabels(axisX_, labels);
    axisX_->setRange(static_cast<double>(data.span.fromMs), static_cast<double>(to));
    const AxisTicks ticks = SetValueRange(axisY_, lo, hi);

    // The average as a strip about two pixels high.
    const qreal plotHeight =
        chart()->plotArea().height() > 0 ? chart()->plotArea().height() : height() - 60.0;
    const double pixel = (ticks.high - ticks.low) / std::max<qreal>(plotHeight, 50);
    DrawArea(band_, data, [](const SeriesBucket& b) { return std::pair{b.max, b.min}; });
    DrawArea(avg_, data, [pixel](const SeriesBucket& b) {
        return std::pair{b.avg + pixel, b.avg - pixel};
    });

    QString description;
    if (!data.error.empty()) {
        chart()->setTitle(range + QStringLiteral(": archive not readable"));
        description = range + QStringLiteral(": the archive could not be read: ") +
                      QString::fromStdString(data.error);
    } else if (frames == 0) {
        chart()->setTitle(range + QStringLiteral(": no frames archived"));
        description = range + QStringLiteral(": no frames archived in this range");
    } else {
        chart()->setTitle(range + QStringLiteral(": lowest to highest, and average"));
        description = QStringLiteral("%1, %2 to %3 UTC: %4 frames, lowest %5, average %6, "
                                     "highest %7")
                          .arg(range, UtcText(data.span.fromMs, QStringLiteral("yyyy-MM-dd hh:mm")),
                               UtcText(data.span.toMs, QStringLiteral("yyyy-MM-dd hh:mm")))
                          .arg(frames)
                          .arg(Value(lo), Value(sum / static_cast<double>(frames)), Value(hi));
        // The buckets marked: "; beyond a red limit in 1 place, beyond a yellow limit in 3 places".
        QStringList beyond;
        for (const auto& [marks, colour] : {std::pair{&red, "red"}, std::pair{&yellow, "yellow"}})
            if (!marks->isEmpty())
                beyond << QStringLiteral("beyond a %1 limit in %2 place%3")
                              .arg(QLatin1String(colour))
                              .arg(marks->size())
                              .arg(marks->size() == 1 ? "" : "s");
        if (!beyond.isEmpty())
            description += QStringLiteral("; ") + beyond.join(QStringLiteral(", "));
    }
    setAccessibleName(caption);
    setAccessibleDescription(description);
}

QString ArchiveChartView::Value(double v) const {
    QString text = QString::number(v, 'f', 2);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    if (text == QStringLiteral("-0")) text = QStringLiteral("0");
    const std::string_view unit = Field(data_.request.field).unit;
    return unit.empty() ? text : text + QLatin1Char(' ') + Utf8Text(unit);
}

const SeriesBucket* ArchiveChartView::BucketAt(QPoint viewPos) const {
    if (data_.buckets.empty()) return nullptr;
    const QPointF at = chart()->mapToValue(mapToScene(viewPos), band_);
    const QPointF beside = chart()->mapToValue(mapToScene(viewPos + QPoint(3, 0)), band_);
    // Buckets are about a pixel wide and most are empty between passes: the
    // nearest one within a few pixels is meant.
    const double reach = std::max(std::abs(beside.x() - at.x()), double(data_.bucketMs) / 2);
    const double half = double(data_.bucketMs) / 2;
    auto it = std::lower_bound(
        data_.buckets.begin(), data_.buckets.end(), at.x(),
        [half](const SeriesBucket& b, double x) { return double(b.startMs) + half < x; });
    const SeriesBucket* best = nullptr;
    double bestDistance = reach;
    for (auto c : {it, it == data_.buckets.begin() ? it : it - 1}) {
        if (c == data_.buckets.end()) continue;
        const double d = std::abs(double(c->startMs) + half - at.x());
        if (d <= bestDistance) {
            best = &*c;
            bestDistance = d;
        }
    }
    return best;
}

QString ArchiveChartView::BucketText(const SeriesBucket& b) const {
    const std::int64_t end = b.startMs + data_.bucketMs;
    const QString format = data_.bucketMs < kDayMs ? QStringLiteral("yyyy-MM-dd hh:mm:ss")
                                                   : QStringLiteral("yyyy-MM-dd hh:mm");
    return QStringLiteral("%1 to %2 UTC\n%3 frames\nmin %4\navg %5\nmax %6")
               .arg(UtcText(b.startMs, format), UtcText(end, format))
               .arg(b.count)
               .arg(Value(b.min), Value(b.avg), Value(b.max)) +
           (b.worst == LimitLevel::Red      ? QStringLiteral("\nbeyond a red limit")
            : b.worst == LimitLevel::Yellow ? QStringLiteral("\nbeyond a yellow limit")
                                            : QString());
}

bool ArchiveChartView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QChartView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    if (const SeriesBucket* b = BucketAt(help->pos())) {
        QToolTip::showText(help->globalPos(), BucketText(*b), this);
        return true;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

} // namespace tavrik
