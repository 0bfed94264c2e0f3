#pragma once
// The chart frame's range choice: "this run" shows the run's own chart, the
// other ranges a chart of the archive, asked for off the window's thread and
// asked again as new frames come in.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <optional>

#include "app/ArchiveChartSource.h"
#include "app/ChartRangeBox.h"
#include "time/Clock.h"

class QGroupBox;
class QWidget;

namespace tavrik {

class ArchiveChartView;
class ArchiveService;
class TelemetryChart;
class TelemetryHistory;
class WindowWidgets;

class ArchiveChart : public QObject {
    Q_OBJECT
  public:
    // Puts the range choice beside the frame's caption and the archive's chart
    // in the run chart's place; query answers the archive's charts. Follows
    // every rebuild of the run chart (a choice of field, a new frame).
    ArchiveChart(QGroupBox* frame, TelemetryChart* runChart, ArchiveChartQuery query,
                 const Clock& clock);

    // The charted field, after every choice of field and every new frame.
    void Refresh(int field, const QString& caption);
    // Frames came into the archive other than by the window (its catch-up).
    void FramesArchived();
    // The archive range shown, if one is: what an export of the chart offers.
    std::optional<ChartRange> ArchiveRange() const;
    // The span an export of the shown range covers: what the chart shows,
    // or before its first answer, the range as it stands now.
    TimeSpan ExportSpan() const;

    ChartRangeBox* Box() const { return box_; }
    ArchiveChartView* View() const { return view_; }
    ArchiveChartSource* Source() const { return source_; }

  signals:
    // An answer of the archive was drawn.
    void Drawn();

  private:
    void RangeChosen(ChartRange range);
    void Ask();
    void Answered(const ArchiveChartData& data);

    const Clock& clock_;
    TelemetryChart* runChart_;
    ChartRangeBox* box_;
    ArchiveChartView* view_;
    ArchiveChartSource* source_;
    QTimer follow_; // new frames ask again at most this often
    int field_ = -1;
    bool answered_ = false; // the view shows the chosen range
    QString caption_;
};

// With a running archive: the range choice on the window's chart, following
// the archive's catch-up, and Options, "export telemetry (CSV)" offering the
// archive range shown. Without one, nothing changes.
ArchiveChart* AttachArchiveChart(QWidget* window, WindowWidgets& widgets, ArchiveService& archive,
                                 const Clock& clock);

} // namespace tavrik
