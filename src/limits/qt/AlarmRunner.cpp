#include "limits/qt/AlarmRunner.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QVariant>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace tavrik {

namespace {

std::string Bytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text);
}

// What one run of the alarm program may put on our stderr.
constexpr qsizetype kStderrBytes = 8 * 1024;

std::string Duration(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

AlarmRunner::AlarmRunner(const QString& command, std::function<void(const std::string&)> log,
                         QObject* parent, int timeoutMs)
    : QObject(parent), words_(QProcess::splitCommand(command)), log_(std::move(log)),
      timeoutMs_(timeoutMs) {
    clock_.start();
    refusedTimer_.setSingleShot(true);
    connect(&refusedTimer_, &QTimer::timeout, this, &AlarmRunner::ReportRefused);
}

AlarmRunner::~AlarmRunner() {
    for (QProcess* p : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        p->disconnect();
        if (p->state() == QProcess::NotRunning) continue;
        p->terminate();
        if (!p->waitForFinished(500)) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
}

std::int64_t AlarmRunner::NowMs() const {
    return clock_.elapsed();
}

void AlarmRunner::Run(const AlarmCall& call) {
    if (words_.isEmpty()) return;
    const std::int64_t now = NowMs();
    if (!budget_.MayRun(now)) {
        if (!refusedTimer_.isActive())
            refusedTimer_.start(static_cast<int>(budget_.ReportAt() - now));
        return;
    }
    const std::string program = Bytes(words_.front());
    auto* p = new QProcess(this);
    p->setProgram(words_.front());
    p->setArguments(words_.mid(1));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : call.environment)
        env.insert(FromBytes(name), FromBytes(value));
    p->setProcessEnvironment(env);
    // Its output is not ours to show; its complaints go to the journal with
    // ours, the first kStderrBytes of them: a program that keeps on writing
    // must not fill the journal.
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setProcessChannelMode(QProcess::SeparateChannels);
    auto dropped = std::make_shared<std::int64_t>(0);
    auto shown = std::make_shared<std::int64_t>(0);
    connect(p, &QProcess::readyReadStandardError, p, [p, dropped, shown] {
        const QByteArray part = p->readAllStandardError();
        const qsizetype take = std::min<qsizetype>(part.size(), kStderrBytes - *shown);
        if (take > 0) std::fwrite(part.constData(), 1, static_cast<std::size_t>(take), stderr);
        *shown += take;
        *dropped += part.size() - take;
    });

    auto* limit = new QTimer(p);
    limit->setSingleShot(true);
    limit->setInterval(timeoutMs_);
    connect(limit, &QTimer::timeout, p, [this, p, program] {
        log_("alarm: " + program + " still running after " + Duration(timeoutMs_) + ", ended");
        p->setProperty("timedOut", true);
        p->kill();
    });
    const std::string line = call.line + "\n";
    connect(p, &QProcess::started, p, [p, limit, line] {
        limit->start();
        p->write(line.data(), static_cast<qint64>(line.size()));
        p->closeWriteChannel();
    });
    connect(p, &QProcess::errorOccurred, p, [this, p, program](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return; // the others end in finished()
        --running_;
        log_("alarm: " + program + " could not be started: " + Bytes(p->errorString()));
        p->deleteLater();
    });
    connect(p, &QProcess::finished, p,
            [this, p, program, dropped](int code, QProcess::ExitStatus status) {
                --running_;
                p->deleteLater();
                if (*dropped > 0)
                    log_("alarm: " + program + " wrote " + std::to_string(*dropped) +
                         " more bytes to stderr, not shown");
                if (p->property("timedOut").toBool()) return; // its line is written
                if (status == QProcess::CrashExit)
                    log_("alarm: " + program + " ended abnormally");
                else if (code != 0)
                    log_("alarm: " + program + " exited with status " + std::to_string(code));
            });
    ++running_;
    ++started_;
    p->start();
}

void AlarmRunner::ReportRefused() {
    const std::int64_t now = NowMs();
    if (const int n = budget_.TakeRefused(now); n > 0)
        log_("alarm: " + std::to_string(n) + (n == 1 ? " alarm" : " alarms") +
             " not run (at most " + std::to_string(AlarmBudget::kRuns) + " a minute)");
    if (const std::int64_t at = budget_.ReportAt(); at >= 0)
        refusedTimer_.start(static_cast<int>(std::max<std::int64_t>(0, at - now)));
}

} // namespace tavrik
