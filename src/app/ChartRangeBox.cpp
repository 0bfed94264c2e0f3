#include "app/ChartRangeBox.h"

#include <array>

#include "app/Look.h"

namespace tavrik {

namespace {

constexpr std::int64_t kHourMs = 3'600'000;
constexpr std::int64_t kDayMs = 24 * kHourMs;

struct RangeRow {
    ChartRange range;
    const char* name;
    std::int64_t spanMs; // 0: bounded otherwise
};

// In the combo box's order, which is also the enumeration's.
constexpr std::array<RangeRow, 7> kRanges{{
    {ChartRange::ThisRun, "this run", 0},
    {ChartRange::LastPass, "last pass", 0},
    {ChartRange::Day, "24 hours", kDayMs},
    {ChartRange::Week, "7 days", 7 * kDayMs},
    {ChartRange::Month, "30 days", 30 * kDayMs},
    {ChartRange::Year, "1 year", 365 * kDayMs},
    {ChartRange::All, "all", 0},
}};

} // namespace

QString ChartRangeName(ChartRange range) {
    return QString::fromUtf8(kRanges[static_cast<std::size_t>(range)].name);
}

std::optional<TimeSpan> FixedSpan(ChartRange range, std::int64_t nowMs) {
    const std::int64_t span = kRanges[static_cast<std::size_t>(range)].spanMs;
    if (span == 0) return std::nullopt;
    // The newest frame, stamped at this very millisecond, belongs in the range.
    return TimeSpan{nowMs + 1 - span, nowMs + 1};
}

ChartRangeBox::ChartRangeBox(QWidget* parent) : QComboBox(parent) {
    setObjectName(QStringLiteral("ChartRange"));
    setAccessibleName(QStringLiteral("chart range"));
    setFont(look::BaseFont());
    for (const RangeRow& row : kRanges)
        addItem(QString::fromUtf8(row.name));
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { emit RangeChosen(static_cast<ChartRange>(index)); });
}

} // namespace tavrik
