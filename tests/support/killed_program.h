#pragma once
// The real program in a folder of its own (it reads its settings there and
// keeps its logs, queue and archive beside itself), started, killed with
// SIGKILL and started again: for the tests of what a kill must not lose.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

#include "files/Kiss.h"
#include "telemetry_frames.h"

namespace tavrik::testing {

class KilledProgram {
  public:
    KilledProgram(const QString& folder, const QStringList& arguments = {}) : folder_(folder) {
        proc_.setProgram(QDir(folder).filePath(QStringLiteral("tavrik-decoder")));
        proc_.setArguments(arguments);
        proc_.setWorkingDirectory(folder);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~KilledProgram() { Kill(); }
    // A copy of the build's program in the folder.
    bool Install() {
        return QFile::copy(qEnvironmentVariable("TAVRIK_BIN_DIR") + "/tavrik-decoder",
                           proc_.program());
    }
    // online_conf.ini of these KEY=VALUE lines.
    void Configure(const QStringList& lines) {
        QFile f(QDir(folder_).filePath(QStringLiteral("online_conf.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    }
    bool Start() {
        proc_.start();
        return proc_.waitForStarted(10000);
    }
    void Kill() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.kill(); // SIGKILL: no clean-up of any kind
        proc_.waitForFinished(10000);
    }
    // The telemetry frames in every KISS log of the folder, the logs in name order.
    std::vector<Bytes> Logged() const {
        std::vector<Bytes> out;
        const Bytes header = TelemetryHeader();
        const QDir dir(folder_);
        for (const QString& name : dir.entryList({QStringLiteral("*.kss")}, QDir::Files)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) continue;
            const QByteArray data = f.readAll();
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
            for (KissRecord& r : KissReader().Feed({bytes, static_cast<std::size_t>(data.size())}))
                if (r.kind == KissRecord::Kind::Frame && r.bytes.size() >= header.size() &&
                    std::equal(header.begin(), header.end(), r.bytes.begin()))
                    out.push_back(std::move(r.bytes));
        }
        return out;
    }

  private:
    QString folder_;
    QProcess proc_;
};

// Runs the event loop until done() or the limit. A real loop, not qWaitFor:
// that one sleeps between turns and would hold up the test servers' answers.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs) {
    QEventLoop loop;
    QTimer check;
    QElapsedTimer t;
    t.start();
    bool met = done();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || t.elapsed() > limitMs) loop.quit();
    });
    check.start(20);
    if (!met) loop.exec();
    return met;
}

} // namespace tavrik::testing
