#include "app/ChartLimitLines.h"

#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "app/TelemetryChart.h"

namespace tavrik {

namespace {

// Darker than the boxes' backgrounds: a thin dashed line on white must show.
const QColor kYellowLine(200, 150, 0);
const QColor kRedLine(200, 0, 0);
constexpr const char* kNames[4] = {"red-low", "yellow-low", "yellow-high", "red-high"};

std::array<std::optional<double>, 4> Columns(const FieldLimits& l) {
    return {l.redLow, l.yellowLow, l.yellowHigh, l.redHigh};
}

} // namespace

ChartLimitLines::ChartLimitLines(TelemetryChart* chart) : QObject(chart), chart_(chart) {
    QChart* c = chart->chart();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto* line = new QLineSeries();
        line->setName(QLatin1String(kNames[i]));
        c->addSeries(line);
        QPen pen(i == 0 || i == 3 ? kRedLine : kYellowLine);
        pen.setStyle(Qt::DashLine);
        pen.setWidth(1);
        line->setPen(pen);
        for (QAbstractAxis* axis : c->axes())
            line->attachAxis(axis);
        line->hide();
        lines_[i] = line;
    }
    connect(chart, &TelemetryChart::Rebuilt, this, &ChartLimitLines::Draw);
}

void ChartLimitLines::SetLimits(const LimitsTable& table) {
    table_ = table;
    if (field_ >= 0) Draw(field_);
}

void ChartLimitLines::Draw(int field) {
    field_ = field;
    const auto horizontal = chart_->chart()->axes(Qt::Horizontal);
    const auto* x = horizontal.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(horizontal.first());
    const auto limits = Columns(table_.fields[static_cast<std::size_t>(field)]);
    QString named;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!limits[i] || !x) {
            lines_[i]->hide();
            continue;
        }
        lines_[i]->replace({QPointF(x->min(), *limits[i]), QPointF(x->max(), *limits[i])});
        lines_[i]->show();
        named += (named.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(kNames[i]) +
                 QLatin1Char(' ') + QString::fromStdString(LimitNumber(*limits[i]));
    }
    chart_->SetDescriptionTail(named.isEmpty() ? QString() : QStringLiteral("; limits: ") + named);
}

std::array<std::optional<double>, 4> ChartLimitLines::Drawn() const {
    std::array<std::optional<double>, 4> drawn;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i]->isVisible() && lines_[i]->count() > 0) drawn[i] = lines_[i]->at(0).y();
    return drawn;
}

} // namespace tavrik
