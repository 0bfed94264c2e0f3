#include "app/StationLimits.h"

#include <QDir>
#include <QFile>

#include "app/ChartLimitLines.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryPanel.h"
#include "limits/qt/AlarmRunner.h"
#include "limits/qt/LimitsFileWatcher.h"
#include "station/FramePipeline.h"
#include "support/qt/QtText.h"

namespace tavrik {

namespace {

// Light enough that the boxes' text stays readable on them, apart from each
// other and from the pale yellow of the chosen field's box.
const QColor kYellowBox(255, 221, 51);
const QColor kRedBox(255, 140, 140);

} // namespace

void StationLimits::Start(FramePipeline& station, const StationConfig& config,
                          const QString& stationFolder, TelemetryPanel& panel,
                          TelemetryChart& chart) {
    if (config.limits.empty()) {
        // With a TLE the program still runs for a missed pass.
        if (!config.alarmCommand.empty())
            log_(config.tle.empty()
                     ? "ALARM_COMMAND is set but LIMITS is not: no value is checked, no alarm runs"
                     : "ALARM_COMMAND is set but LIMITS is not: no value is checked; the "
                       "program runs for missed passes only");
        return;
    }
    panel_ = &panel;
    consumer_ =
        std::make_unique<LimitsConsumer>(config.alarmYellow ? AlarmLevel::Yellow : AlarmLevel::Red,
                                         [this](const LimitsNews& news) { Show(news); });
    if (!config.alarmCommand.empty()) {
        alarms_ = new AlarmRunner(QString::fromLocal8Bit(config.alarmCommand), log_, this);
        // The program only: its arguments may hold a chat token or an address.
        const std::string program = config.alarmCommand.substr(0, config.alarmCommand.find(' '));
        log_(std::string("alarms: ") + (config.alarmYellow ? "yellow and red" : "red") +
             " values run " + program);
    }
    lines_ = new ChartLimitLines(&chart);
    const QString path = QDir(stationFolder).absoluteFilePath(PathFromBytes(config.limits));
    file_ = new LimitsFileWatcher(
        QDir::cleanPath(path),
        [this](LimitsTable table) {
            lines_->SetLimits(table);
            consumer_->SetLimits(std::move(table));
        },
        log_, this);
    station.AddConsumer(*consumer_);
}

StationLimits::~StationLimits() {
    delete lines_.data(); // its lines leave the chart with this
}

void StationLimits::Show(const LimitsNews& news) {
    for (const std::string& line : news.logLines)
        log_(line);
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldLook& look = news.look[static_cast<std::size_t>(i)];
        FieldLook& shown = shown_[static_cast<std::size_t>(i)];
        if (look == shown) continue; // a repaint only where something changed
        shown = look;
        const QColor background = look.state.level == LimitLevel::Red      ? kRedBox
                                  : look.state.level == LimitLevel::Yellow ? kYellowBox
                                                                           : QColor();
        panel_->ShowLimitState(i, background, Latin1Text(look.words));
    }
    if (alarms_)
        for (const AlarmCall& call : news.alarms)
            alarms_->Run(call);
}

} // namespace tavrik
