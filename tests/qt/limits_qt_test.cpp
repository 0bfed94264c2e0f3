#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

#include "limits/qt/AlarmRunner.h"
#include "limits/qt/LimitsFileWatcher.h"

using namespace tavrik;

namespace {

constexpr int kWaitMs = 20000; // a safety net only; no test measures time

void Write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(AlarmRunner, StartsTheProgramWithItsDetailsAndReportsFailures) {
    QTemporaryDir dir;
    const QString script = dir.filePath("alarm.sh"), out = dir.filePath("out");
    Write(script,
          "#!/bin/sh\n{ env | grep -E '^TAVRIK_(FIELD|STATE|VALUE|LIMIT|UNIT|TIME|SOURCE)=' | "
          "sort; echo \"args=$*\"; cat; } > \"$1\"\n"
          "exit \"$2\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    std::vector<std::string> log;
    auto keep = [&](const std::string& l) { log.push_back(l); };
    LimitChange change{
        21, {LimitLevel::InRange, LimitSide::None}, {LimitLevel::Red, LimitSide::Low}, 6712, 6800};
    const AlarmCall call = MakeAlarmCall(change, "2026-03-05 14:07:09.250", "RS99S");

    // Quotes keep a blank in a word, a dollar sign stays as it is.
    AlarmRunner runner(script + " " + out + " 0 \"$HOME x\"", keep);
    runner.Run(call);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runner.Running() == 0; }, kWaitMs));
    EXPECT_EQ(Read(out).toStdString(),
              "TAVRIK_FIELD=Batt volts\nTAVRIK_LIMIT=6800\nTAVRIK_SOURCE=RS99S\n"
              "TAVRIK_STATE=red-low\nTAVRIK_TIME=2026-03-05T14:07:09.250Z\n"
              "TAVRIK_UNIT=mV\nTAVRIK_VALUE=6712\nargs=" +
                  out.toStdString() +
                  " 0 $HOME x\nTavrik Batt volts 6712 mV red low (below 6800) at "
                  "2026-03-05 14:07:09.250 UTC from RS99S\n");
    EXPECT_TRUE(log.empty());

    AlarmRunner failing(script + " " + out + " 3", keep);
    AlarmRunner missing(dir.filePath("no-such-program"), keep);
    AlarmRunner slow("sleep 20", keep, nullptr, 200);
    for (AlarmRunner* r : {&failing, &missing, &slow}) {
        r->Run(call);
        ASSERT_TRUE(QTest::qWaitFor([&] { return r->Running() == 0; }, kWaitMs));
    }
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "alarm: " + script.toStdString() + " exited with status 3");
    EXPECT_EQ(log[1].rfind("alarm: " + dir.filePath("no-such-program").toStdString() +
                               " could not be started: ",
                           0),
              0u);
    EXPECT_EQ(log[2], "alarm: sleep still running after 200 ms, ended");

    // Ended with the runner, without a word: the log may be gone by then.
    auto ending = std::make_unique<AlarmRunner>("sleep 20", keep);
    ending->Run(call);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return ending->findChild<QProcess*>() &&
                   ending->findChild<QProcess*>()->state() == QProcess::Running;
        },
        kWaitMs));
    const qint64 pid = ending->findChild<QProcess*>()->processId();
    ending.reset();
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), -1);
    EXPECT_EQ(log.size(), 3u);

    // The eleventh start within a minute is refused.
    AlarmRunner many("true", keep);
    for (int i = 0; i < 12; ++i)
        many.Run(call);
    EXPECT_EQ(many.Started(), AlarmBudget::kRuns);
    ASSERT_TRUE(QTest::qWaitFor([&] { return many.Running() == 0; }, kWaitMs));
}

TEST(LimitsFileWatcher, ReadsAtStartOnChangeOnAppearingAndOnHangup) {
    QTemporaryDir dir;
    const QString path = dir.filePath("limits.conf");
    std::vector<std::string> log;
    int fields = -1;
    LimitsFileWatcher watcher(
        path, [&](LimitsTable t) { fields = t.InForce(); },
        [&](const std::string& l) { log.push_back(l); });
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("cannot be read (No such file or directory)"), std::string::npos);
    EXPECT_EQ(fields, 0);

    Write(path, "Batt volts 6800 7000 8300 8450\nBat volts 1 2 3 4\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fields == 1; }, kWaitMs));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "limits: " + path.toStdString() + " line 2: unknown caption \"Bat volts\"");
    EXPECT_EQ(log[2], "limits: 1 field with limits in force from " + path.toStdString());

    // Another file in the folder reads nothing again; SIGHUP does.
    const int readings = watcher.Readings();
    Write(dir.filePath("other.kss"), "x");
    QTest::qWait(800);
    EXPECT_EQ(watcher.Readings(), readings);
    std::raise(SIGHUP);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.Readings() == readings + 1; }, kWaitMs));

    Write(path, "Batt volts 6800 7000 8300 8450\nPA temp - -10 60 70\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fields == 2; }, kWaitMs));
    EXPECT_EQ(log.back(), "limits: 2 fields with limits in force from " + path.toStdString());
}
