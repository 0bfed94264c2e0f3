#pragma once
// The chart of one field over all stored records: one line, rows labelled by
// the hour and minute of their record, rebuilt in full at every refresh.
#include <QStringList>
#include <QtCharts/QChartView>
#include <vector>

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

    // Rebuilds the chart for a field from the stored records; the caption
    // ("Uptime [s]") names the chart to assistive tools.
    void Rebuild(int field, const QString& caption);

    // Where a range choice stands beside the chart, its name leads the
    // description assistive tools read ("this run: 7400 mV").
    void SetRangeName(const QString& name);

    int ChartedField() const { return field_; }

    // The chart as last built: one value and one row label per stored record.
    const std::vector<double>& Values() const { return values_; }
    const QStringList& RowLabels() const { return labels_; }

  signals:
    // After every rebuild: the field charted, with its caption.
    void Rebuilt(int field, const QString& caption);

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    void LabelRows();
    // A row's value as the panel writes it, with its unit.
    QString ShownValue(std::size_t row) const;
    void Describe();

    const TelemetryHistory& history_;
    QLineSeries* series_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    int field_ = 0;
    std::vector<double> values_;
    QStringList labels_;
    QString rangeName_;
    std::int32_t labelsFirst_ = 1; // the record number of labels_[0]
};

} // namespace tavrik
