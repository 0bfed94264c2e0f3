#pragma once
// The chart of one field over all stored records: one line, rows labelled by
// the hour and minute of their record. The line is drawn from the lowest and
// highest record of each pixel column, and a new record changes only the
// last column's points: its cost does not grow with the history.
#include <QStringList>
#include <QTimer>
#include <QtCharts/QChartView>
#include <utility>
#include <vector>

#include "telemetry/ChartDecimation.h"
#include "telemetry/TelemetryHistory.h"

QT_BEGIN_NAMESPACE
class QCategoryAxis;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace tavrik {

class TelemetryChart : public QChartView {
    Q_OBJECT
  public:
    TelemetryChart(const TelemetryHistory& history, QWidget* parent);
    ~TelemetryChart() override;

    // Brings the chart up to the stored records for a field: the records new
    // since the last call are added, those a rolling history let go dropped,
    // and a new field (or plot width) draws it again. The caption ("Uptime [s]")
    // names the chart to assistive tools.
    void Rebuild(int field, const QString& caption);
    // The same for records that just came: the first after a quiet time is
    // drawn at once, those that follow within a quarter of a second together
    // at its end (the values, labels and description follow at once). A
    // chart of thousands of records is not read faster than that, and each
    // drawing moves the whole line.
    void RecordsCame(int field, const QString& caption);

    // Where a range choice stands beside the chart, its name leads the
    // description assistive tools read ("this run: 7400 mV").
    void SetRangeName(const QString& name);

    // Text that follows the value in that description (the limits drawn).
    void SetDescriptionTail(const QString& tail);

    int ChartedField() const { return field_ < 0 ? 0 : field_; }

    // The chart as last built: one value and one row label per stored record.
    const std::vector<double>& Values() const { return values_; }
    const QStringList& RowLabels() const { return labels_; }
    // The points the line is drawn through (record number, value).
    QList<QPointF> DrawnPoints() const;

  signals:
    // After every rebuild: the field charted, with its caption.
    void Rebuilt(int field, const QString& caption);

  protected:
    bool viewportEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // Rebuild, with the line and axes drawn now or left for later.
    void BringUp(int field, const QString& caption, bool draw);
    // The line and axes as the records stand (the points again when not drawn).
    void Draw();
    // How many pixel columns the plot has (its width before the first layout).
    std::size_t PlotColumns() const;
    // Follows the stored records; false when they no longer continue what is charted.
    bool Follow();
    void ThinAll();
    void DrawAll();
    void DrawFrom(std::size_t column);
    void SetAxes();
    void LabelRows();
    // A row's value as the panel writes it, with its unit.
    QString ShownValue(std::size_t row) const;
    void Describe();

    class LineItem;

    const TelemetryHistory& history_;
    QLineSeries* series_ = nullptr;
    LineItem* line_ = nullptr; // owned by the chart
    QValueAxis* axisY_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    int field_ = -1;
    std::vector<double> values_; // of the records first_ on
    std::int32_t first_ = 1;     // the record number of values_[0]
    QStringList labels_;
    std::int32_t labelsFirst_ = 1; // the record number of labels_[0]
    ColumnThinning thin_;
    std::size_t columns_ = 0;      // the plot's pixel columns thin_ was made for
    std::size_t drawnColumns_ = 0; // columns whose two points the series holds
    bool drawn_ = false;           // the series and axes show thin_ (not while hidden)
    std::vector<std::pair<std::int32_t, QString>> axisLabels_;
    QString rangeName_;
    QString descriptionTail_;
    QTimer hold_;       // the quiet time after a drawing of new records
    bool held_ = false; // records came meanwhile: drawn at its end
};

} // namespace tavrik
