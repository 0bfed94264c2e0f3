#include "app/ArchiveChart.h"

#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QtCharts/QChart>
#include <algorithm>
#include <limits>

#include "app/ArchiveChartQuery.h"
#include "app/ArchiveChartView.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryExportAction.h"
#include "app/WindowWidgets.h"
#include "archive/qt/ArchiveService.h"
#include "support/qt/QtText.h"

namespace tavrik {

namespace {

// A new frame asks the archive again at most once a second: an import's
// thousands of frames a second must not queue thousands of queries.
constexpr int kFollowMs = 1000;

std::int64_t NowMs(const Clock& clock) {
    const DateTime t = UtcNow(clock);
    return QDateTime(QDate(t.year, t.month, t.day),
                     QTime(t.hour, t.minute, t.second, t.millisecond), Qt::UTC)
        .toMSecsSinceEpoch();
}

} // namespace

ArchiveChart::ArchiveChart(QGroupBox* frame, TelemetryChart* runChart, ArchiveChartQuery query,
                           const Clock& clock)
    : QObject(frame), clock_(clock), runChart_(runChart), box_(new ChartRangeBox(frame)),
      view_(new ArchiveChartView(frame)), source_(new ArchiveChartSource(std::move(query), this)) {
    // Right of the caption, over the chart's empty top margin. The label is
    // what screen readers announce the box by (its name there is its text).
    box_->setGeometry(frame->width() - 112, 0, 104, 18);
    box_->setAccessibleDescription(QStringLiteral("the stretch of time the chart shows"));
    box_->raise();
    auto* label = new QLabel(QStringLiteral("chart range:"), frame);
    label->setFont(box_->font());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(frame->width() - 200, 0, 84, 18);
    label->setBuddy(box_);
    label->raise();
    view_->setGeometry(runChart->geometry());
    view_->hide();
    follow_.setSingleShot(true);
    follow_.setInterval(kFollowMs);
    connect(&follow_, &QTimer::timeout, this, &ArchiveChart::Ask);
    connect(box_, &ChartRangeBox::RangeChosen, this, &ArchiveChart::RangeChosen);
    connect(source_, &ArchiveChartSource::Ready, this, &ArchiveChart::Answered);
    connect(runChart, &TelemetryChart::Rebuilt, this, &ArchiveChart::Refresh);
    runChart->SetRangeName(ChartRangeName(ChartRange::ThisRun));
    Refresh(runChart->ChartedField(), runChart->accessibleName()); // as built before this
}

std::optional<ChartRange> ArchiveChart::ArchiveRange() const {
    if (box_->Range() == ChartRange::ThisRun) return std::nullopt;
    return box_->Range();
}

TimeSpan ArchiveChart::ExportSpan() const {
    if (answered_ && view_->Shown().error.empty()) return view_->Shown().span;
    if (const std::optional<TimeSpan> fixed = FixedSpan(box_->Range(), NowMs(clock_)))
        return *fixed;
    return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
}

void ArchiveChart::Refresh(int field, const QString& caption) {
    const bool newField = field != field_;
    field_ = field;
    caption_ = caption;
    if (!ArchiveRange()) return;
    if (newField)
        Ask();
    else
        FramesArchived();
}

void ArchiveChart::FramesArchived() {
    if (ArchiveRange() && !follow_.isActive()) follow_.start();
}

void ArchiveChart::RangeChosen(ChartRange range) {
    const bool run = range == ChartRange::ThisRun;
    runChart_->setVisible(run);
    view_->setVisible(!run);
    answered_ = false;
    if (!run) Ask();
}

void ArchiveChart::Ask() {
    follow_.stop();
    const std::optional<ChartRange> range = ArchiveRange();
    if (!range || field_ < 0) return;
    // About one bucket per pixel of the plot; before the first layout, the run chart's.
    const qreal plot = view_->chart()->plotArea().width() > 0
                           ? view_->chart()->plotArea().width()
                           : runChart_->chart()->plotArea().width();
    ArchiveChartRequest request;
    request.field = field_;
    request.range = *range;
    request.nowMs = NowMs(clock_);
    request.points = std::max(100, static_cast<int>(plot));
    source_->Request(request);
}

void ArchiveChart::Answered(const ArchiveChartData& data) {
    // An answer for a choice already left behind is not drawn.
    if (data.request.field != field_ || ArchiveRange() != data.request.range) return;
    view_->Show(data, caption_);
    answered_ = true;
    emit Drawn();
}

ArchiveChart* AttachArchiveChart(QWidget* window, WindowWidgets& widgets, ArchiveService& archive,
                                 const Clock& clock) {
    if (!archive.Running()) return nullptr;
    const QString path = archive.ArchivePath();
    auto* chart = new ArchiveChart(widgets.Frame5, widgets.MSChart1,
                                   ArchiveChartQueryFor(PathBytes(path)), clock);
    QObject::connect(&archive, &ArchiveService::Written, chart, &ArchiveChart::FramesArchived);
    if (auto* exporter = window->findChild<TelemetryExportAction*>())
        exporter->OfferArchive([chart, path]() -> std::optional<ArchiveExportOffer> {
            const std::optional<ChartRange> range = chart->ArchiveRange();
            if (!range) return std::nullopt;
            return ArchiveExportOffer{path, ChartRangeName(*range), chart->ExportSpan()};
        });
    return chart;
}

} // namespace tavrik
