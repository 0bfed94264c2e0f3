#include "direwolf_harness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

namespace tavrik::test {

DirewolfHarness::DirewolfHarness() : DirewolfHarness(Options{}) {}

DirewolfHarness::DirewolfHarness(Options options) : options_(std::move(options)) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_,
                     [this] { CollectOutput(); });
}

DirewolfHarness::~DirewolfHarness() {
    Stop();
}

QByteArray DirewolfHarness::ConfigText(quint16 agwPort, int sampleRate, quint16 kissPort) {
    // No MYCALL, PBEACON or DIGIPEAT lines: nothing is ever sent, and the
    // null output device could not send it anyway.
    QByteArray text;
    text += "ADEVICE stdin null\n";
    text += "ARATE " + QByteArray::number(sampleRate) + "\n";
    text += "ACHANNELS 1\n";
    text += "CHANNEL 0\n";
    text += "MODEM 1200\n";
    text += "AGWPORT " + QByteArray::number(agwPort) + "\n";
    text += "KISSPORT " + QByteArray::number(kissPort) + "\n";
    return text;
}

QString DirewolfHarness::FindProgram(const QString& program) {
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}

quint16 DirewolfHarness::FreeTcpPort() {
    // Direwolf binds every interface, so ask for a port free on all of them.
    // Another process could take it before Direwolf does; inside a private
    // network namespace nobody else is there. Direwolf 1.6 takes no port above
    // 49151 (it listens on its default instead): draw below that.
    for (int i = 0; i < 1000; ++i) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 49152));
        QTcpServer server;
        if (server.listen(QHostAddress::Any, port)) return port;
    }
    return 0;
}

QString DirewolfHarness::ConfigPath() const {
    return dir_ ? dir_->filePath(QStringLiteral("direwolf.conf")) : QString();
}

QString DirewolfHarness::WorkDir() const {
    return dir_ ? dir_->path() : QString();
}

bool DirewolfHarness::IsRunning() const {
    return process_.state() != QProcess::NotRunning;
}

bool DirewolfHarness::Start() {
    error_.clear();
    if (IsRunning()) {
        error_ = QStringLiteral("Direwolf is already running");
        return false;
    }
    const QString program = FindProgram(options_.program);
    if (program.isEmpty()) {
        error_ = QStringLiteral("%1 not found (scripts/install-deps.sh installs it)")
                     .arg(options_.program);
        return false;
    }
    dir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid()) {
        error_ = QStringLiteral("cannot create a temporary directory: %1").arg(dir_->errorString());
        return false;
    }
    if (agwPort_ == 0) agwPort_ = FreeTcpPort();
    while (options_.kiss && (kissPort_ == 0 || kissPort_ == agwPort_))
        kissPort_ = FreeTcpPort();
    if (agwPort_ == 0) {
        error_ = QStringLiteral("no free TCP port for the AGW interface");
        return false;
    }
    QFile config(ConfigPath());
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(ConfigText(agwPort_, options_.sampleRate, kissPort_)) < 0) {
        error_ = QStringLiteral("cannot write %1: %2").arg(ConfigPath(), config.errorString());
        return false;
    }
    config.close();

    log_.clear();
    process_.setWorkingDirectory(dir_->path());
    process_.setProgram(program);
    // -t 0: no colour escapes in the log; -q hd: no audio-level and APRS
    // decoding lines, only what matters for a failure.
    process_.setArguments({QStringLiteral("-c"), ConfigPath(), QStringLiteral("-t"),
                           QStringLiteral("0"), QStringLiteral("-q"), QStringLiteral("hd")});
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(program, process_.errorString());
        return false;
    }
    if (!WaitForPort(agwPort_) || (kissPort_ != 0 && !WaitForPort(kissPort_))) {
        Stop();
        error_ += QStringLiteral("\nDirewolf's output:\n") + QString::fromLocal8Bit(log_);
        return false;
    }
    return true;
}

bool DirewolfHarness::WaitForPort(quint16 port) {
    const QDeadlineTimer deadline(options_.startTimeoutMs);
    while (!deadline.hasExpired()) {
        if (!IsRunning()) {
            error_ = QStringLiteral("Direwolf ended before opening its port %1 (exit code %2)")
                         .arg(port)
                         .arg(process_.exitCode());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(500)) {
            // Direwolf sees this client leave and frees its slot.
            probe.disconnectFromHost();
            return true;
        }
        // Doubles as a pause that keeps reading Direwolf's output.
        process_.waitForFinished(200);
        CollectOutput();
    }
    error_ = QStringLiteral("Direwolf's port %1 did not accept a connection within %2 ms")
                 .arg(port)
                 .arg(options_.startTimeoutMs);
    return false;
}

void DirewolfHarness::FeedAudio(std::span<const std::int16_t> samples) {
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(samples.size() * 2));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        bytes[static_cast<qsizetype>(2 * i)] = static_cast<char>(v & 0xFF);
        bytes[static_cast<qsizetype>(2 * i + 1)] = static_cast<char>(v >> 8);
    }
    process_.write(bytes);
}

qint64 DirewolfHarness::AudioBytesPending() const {
    return process_.bytesToWrite();
}

bool DirewolfHarness::WaitAudioWritten(int timeoutMs) {
    // Runs the caller's event loop, which is what moves the audio into the pipe.
    return QTest::qWaitFor([this] { return process_.bytesToWrite() == 0 || !IsRunning(); },
                           timeoutMs) &&
           process_.bytesToWrite() == 0;
}

bool DirewolfHarness::WaitForLog(const QString& text, int count, int timeoutMs) {
    return QTest::qWaitFor(
               [&] {
                   CollectOutput();
                   return QString::fromLocal8Bit(log_).count(text) >= count || !IsRunning();
               },
               timeoutMs) &&
           QString::fromLocal8Bit(log_).count(text) >= count;
}

bool DirewolfHarness::WaitForAgwClients(int clients, int timeoutMs) {
    // Start() attached exactly once: failed probes never reach Direwolf's accept.
    return WaitForLog(QStringLiteral("Attached to AGW client application"), clients + 1, timeoutMs);
}

bool DirewolfHarness::WaitForKissClients(int clients, int timeoutMs) {
    return WaitForLog(QStringLiteral("Attached to KISS TCP client application"), clients + 1,
                      timeoutMs);
}

void DirewolfHarness::Stop() {
    if (IsRunning()) {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(15000)) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }
    CollectOutput();
}

void DirewolfHarness::CollectOutput() {
    if (process_.isOpen()) log_ += process_.readAllStandardOutput();
}

QString DirewolfHarness::Log() {
    CollectOutput();
    return QString::fromLocal8Bit(log_);
}

} // namespace tavrik::test
