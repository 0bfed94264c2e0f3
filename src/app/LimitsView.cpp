#include "app/LimitsView.h"

#include "app/ChartLimitLines.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryPanel.h"
#include "support/qt/QtText.h"

namespace tavrik {

namespace {

// Light enough that the boxes' text stays readable on them, apart from each
// other and from the pale yellow of the chosen field's box.
const QColor kYellowBox(255, 221, 51);
const QColor kRedBox(255, 140, 140);

} // namespace

LimitsView::LimitsView(StationLimits& limits, TelemetryPanel& panel, TelemetryChart& chart,
                       QObject* parent)
    : QObject(parent), panel_(panel), lines_(new ChartLimitLines(&chart)) {
    // The file was read before the window came: what is in force now, then news.
    if (limits.Started()) lines_->SetLimits(limits.Limits().Limits());
    Show(limits.Look());
    connect(&limits, &StationLimits::tableRead, this, [this](const LimitsTable& table) {
        if (lines_) lines_->SetLimits(table);
    });
    connect(&limits, &StationLimits::changed, this, &LimitsView::Show);
}

LimitsView::~LimitsView() {
    delete lines_.data(); // its lines leave the chart with this
}

void LimitsView::Show(const PanelLook& look) {
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldLook& now = look[static_cast<std::size_t>(i)];
        FieldLook& shown = shown_[static_cast<std::size_t>(i)];
        if (now == shown) continue; // a repaint only where something changed
        shown = now;
        const QColor background = now.state.level == LimitLevel::Red      ? kRedBox
                                  : now.state.level == LimitLevel::Yellow ? kYellowBox
                                                                          : QColor();
        panel_.ShowLimitState(i, background, Utf8Text(now.words));
    }
}

} // namespace tavrik
