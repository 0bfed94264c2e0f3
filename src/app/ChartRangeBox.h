#pragma once
// The chart's range choice beside its caption: the run's own records, or a
// stretch of the archive drawn as one min-max band and average per pixel.
#include <QComboBox>
#include <QString>
#include <cstdint>
#include <optional>

namespace tavrik {

enum class ChartRange { ThisRun, LastPass, Day, Week, Month, Year, All };

// "this run", "last pass", "24 hours", "7 days", "30 days", "1 year", "all".
QString ChartRangeName(ChartRange range);

// A span of UTC milliseconds since 1970, from inclusive, to exclusive.
struct TimeSpan {
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
};

// The span of a range that ends now; none for the run and for ranges the
// archive itself bounds (the last pass, all).
std::optional<TimeSpan> FixedSpan(ChartRange range, std::int64_t nowMs);

class ChartRangeBox : public QComboBox {
    Q_OBJECT
  public:
    explicit ChartRangeBox(QWidget* parent);
    ChartRange Range() const { return static_cast<ChartRange>(currentIndex()); }
    void SetRange(ChartRange range) { setCurrentIndex(static_cast<int>(range)); }

  signals:
    void RangeChosen(ChartRange range);
};

} // namespace tavrik
