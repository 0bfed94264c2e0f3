#pragma once
// Runs the operator's alarm program beside the window: no shell, the details
// in its environment and one line on its standard input. It never blocks:
// the program is started and left to finish, ended after kTimeoutMs, and at
// most AlarmBudget::kRuns are started a minute.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "limits/Alarm.h"

namespace tavrik {

class AlarmRunner : public QObject {
    Q_OBJECT
  public:
    static constexpr int kTimeoutMs = 30000;

    // command: ALARM_COMMAND as written. Words are split at blanks; double
    // quotes keep blanks inside a word; nothing is expanded.
    AlarmRunner(const QString& command, std::function<void(const std::string&)> log,
                QObject* parent = nullptr, int timeoutMs = kTimeoutMs);
    // Programs still running are asked to end (and ended half a second later)
    // without a word: the log they would write to may be gone already.
    ~AlarmRunner() override;

    void Run(const AlarmCall& call);

    int Running() const { return running_; }
    int Started() const { return started_; }

  private:
    void ReportRefused();
    std::int64_t NowMs() const;

    QStringList words_;
    std::function<void(const std::string&)> log_;
    int timeoutMs_;
    QElapsedTimer clock_;
    AlarmBudget budget_;
    QTimer refusedTimer_;
    int running_ = 0;
    int started_ = 0;
};

} // namespace tavrik
