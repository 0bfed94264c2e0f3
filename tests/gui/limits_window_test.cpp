#include <QAccessible>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/ChartLimitLines.h"
#include "app/LimitsView.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryPanel.h"
#include "limits/qt/AlarmRunner.h"
#include "station/qt/StationLimits.h"

using namespace tavrik;

namespace {
constexpr int kBatt = 21;
}

// The window's side of the limits: a live frame out of range colours its box,
// says the state in words to assistive tools, logs the change and runs the
// alarm program; an imported one does none of it. The chart draws the lines.
TEST(LimitsView, LiveFramesColourTheBoxLogAndAlarmImportedOnesDoNot) {
    QTemporaryDir dir;
    QFile conf(dir.filePath("limits.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("Batt volts 6800 7000 8300 8450\n");
    conf.close();
    const QString script = dir.filePath("alarm.sh"), out = dir.filePath("alarms");
    QFile s(script);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write(
        "#!/bin/sh\necho \"$TAVRIK_FIELD $TAVRIK_STATE $TAVRIK_VALUE $TAVRIK_LIMIT\" >> \"$1\"\n");
    s.close();
    s.setPermissions(QFile::ReadOwner | QFile::ExeOwner);

    QWidget client;
    TelemetryPanel panel;
    panel.Build(&client);
    panel.LabelFields();
    TelemetryHistory history;
    TelemetryChart chart(history, &client);
    StationConfig config;
    config.limits = "limits.conf";
    config.alarmCommand = (script + " " + out).toStdString();
    std::vector<std::string> log;
    StationLimits limits([&](const std::string& l) { log.push_back(l); });
    limits.Start(config, dir.path());
    ASSERT_TRUE(limits.Started());
    LimitsView view(limits, panel, chart);
    // As the station hands frames on: judged first, then told.
    const auto consumer = [&](DecodedFrame frame) {
        limits.Checker()->Annotate(frame);
        limits.Checker()->TelemetryDecoded(frame);
        return frame;
    };
    QLineEdit* box = panel.Text1[kBatt];
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
    const QColor white = box->palette().color(QPalette::Base);

    DecodedFrame frame;
    frame.heard.received = "2026-03-05 14:07:09.250";
    frame.record.values[kBatt] = 6712;
    frame.heard.imported = true;
    EXPECT_EQ(consumer(frame).limits->values.fields[kBatt].level, LimitLevel::Red);
    EXPECT_EQ(box->palette().color(QPalette::Base), white);
    EXPECT_EQ(a->text(QAccessible::Description), "mV");

    frame.heard.imported = false;
    EXPECT_EQ(consumer(frame).limits->inForce.fields[kBatt].level, LimitLevel::Red);
    panel.Select(kBatt); // choosing the field keeps the state's colour
    const QColor red = box->palette().color(QPalette::Base);
    EXPECT_GT(red.red(), red.green() + 80);
    EXPECT_EQ(a->text(QAccessible::Description), "red low: 6712 mV, below 6800");
    EXPECT_EQ(box->toolTip(), "red low: 6712 mV, below 6800");
    EXPECT_EQ(log.back(), "limit: Batt volts 6712 mV red low (below 6800)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.Alarms()->Running() == 0; }, 20000));
    QFile alarms(out);
    ASSERT_TRUE(alarms.open(QIODevice::ReadOnly));
    EXPECT_EQ(alarms.readAll(), "Batt volts red-low 6712 6800\n");

    frame.record.values[kBatt] = 7105;
    consumer(frame);
    EXPECT_EQ(log.back(), "limit: Batt volts 7105 mV back in range");
    EXPECT_EQ(a->text(QAccessible::Description), "mV");
    EXPECT_NE(box->palette().color(QPalette::Base), red);
    EXPECT_EQ(limits.Alarms()->Started(), 1);

    chart.Rebuild(kBatt, QStringLiteral("Batt volts [mV]"));
    const auto* lines = chart.findChild<ChartLimitLines*>();
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->Drawn(), (std::array<std::optional<double>, 4>{6800, 7000, 8300, 8450}));
    EXPECT_TRUE(chart.accessibleDescription().endsWith(
        "limits: red-low 6800, yellow-low 7000, yellow-high 8300, red-high 8450"));
    chart.Rebuild(kBatt - 1, QStringLiteral("SP3 volts [mV]"));
    EXPECT_EQ(lines->Drawn(), (std::array<std::optional<double>, 4>{}));
}
