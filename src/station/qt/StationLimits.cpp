#include "station/qt/StationLimits.h"

#include <QDir>

#include "limits/qt/AlarmRunner.h"
#include "limits/qt/LimitsFileWatcher.h"
#include "support/qt/QtText.h"

namespace tavrik {

StationLimits::StationLimits(Log log, QObject* parent) : QObject(parent), log_(std::move(log)) {}

StationLimits::~StationLimits() = default;

void StationLimits::Start(const StationConfig& config, const QString& stationFolder) {
    if (config.limits.empty()) {
        // With a TLE the program still runs for a missed pass.
        if (!config.alarmCommand.empty())
            log_(config.tle.empty()
                     ? "ALARM_COMMAND is set but LIMITS is not: no value is checked, no alarm runs"
                     : "ALARM_COMMAND is set but LIMITS is not: no value is checked; the "
                       "program runs for missed passes only");
        return;
    }
    if (consumer_) return;
    consumer_ =
        std::make_unique<LimitsConsumer>(config.alarmYellow ? AlarmLevel::Yellow : AlarmLevel::Red,
                                         [this](const LimitsNews& news) { Tell(news); });
    if (!config.alarmCommand.empty()) {
        alarms_ = new AlarmRunner(QString::fromLocal8Bit(config.alarmCommand), log_, this);
        // The program only: its arguments may hold a chat token or an address.
        const std::string program = config.alarmCommand.substr(0, config.alarmCommand.find(' '));
        log_(std::string("alarms: ") + (config.alarmYellow ? "yellow and red" : "red") +
             " values run " + program);
    }
    const QString path = QDir(stationFolder).absoluteFilePath(PathFromBytes(config.limits));
    file_ = new LimitsFileWatcher(
        QDir::cleanPath(path),
        [this](LimitsTable table) {
            emit tableRead(table);
            consumer_->SetLimits(std::move(table));
        },
        log_, this);
}

void StationLimits::Tell(const LimitsNews& news) {
    for (const std::string& line : news.logLines)
        log_(line);
    look_ = news.look;
    emit changed(look_);
    if (alarms_)
        for (const AlarmCall& call : news.alarms)
            alarms_->Run(call);
}

} // namespace tavrik
