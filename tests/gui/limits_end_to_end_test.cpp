// Limits as a station meets them: the sample pass from the real replay modem
// into the window, with limits narrowed so that the battery crosses them, and
// an alarm program that writes down what it was told; then an import of the
// same pass, which must not run it again.
#include <QAccessible>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>

#include "form_fixture.h"
#include "limits/qt/AlarmRunner.h"
#include "station/qt/StationLimits.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

constexpr int kBatt = 21;

QString Sample() {
    return qEnvironmentVariable("TAVRIK_SOURCE_DIR") + QStringLiteral("/data/sample_pass.kss");
}

class LimitsEndToEnd : public ReplayFormFixture {
  protected:
    QByteArray Alarms() const {
        QFile f(dir.filePath("alarms"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(LimitsEndToEnd, TheBatteryTurnsRedOnceAndTheImportRaisesNothing) {
    QFile limits(dir.filePath("limits.conf"));
    ASSERT_TRUE(limits.open(QIODevice::WriteOnly));
    limits.write("Batt volts 7700 7800 8300 8450 2\n"); // the pass ends at 7685, 7671 mV
    limits.close();
    QFile script(dir.filePath("alarm.sh"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n{ env | grep -E '^TAVRIK_(FIELD|STATE|VALUE|LIMIT|UNIT|TIME|SOURCE)=' "
                 "| sort; cat; } >> \"$1\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const quint16 port = StartReplay();
    ASSERT_NE(port, 0);
    WriteConfig("PORT=127.0.0.1:" + std::to_string(port) +
                "\r\nMYCALL=N0CALL\r\nLIMITS=limits.conf\r\nALARM_COMMAND=" +
                script.fileName().toStdString() + " " + dir.filePath("alarms").toStdString() +
                "\r\n");
    Form1& f = Start();
    ASSERT_TRUE(f.Limits().Started());
    ASSERT_TRUE(WaitFor([&] { return f.History().RxPacketCount() == 100; }, 60000));
    ASSERT_TRUE(WaitFor([&] { return f.Limits().Alarms()->Running() == 0; }, 20000));

    QLineEdit* box = f.Text1[kBatt];
    EXPECT_EQ(box->text(), "7671");
    const QColor red = box->palette().color(QPalette::Base);
    EXPECT_GT(red.red(), red.green() + 80);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description),
              "red low: 7671 mV, below 7700");
    EXPECT_TRUE(EventLogged("limits: 1 field with limits in force from "));
    EXPECT_TRUE(EventLogged("limit: Batt volts 7775 mV yellow low (below 7800)"));
    EXPECT_TRUE(EventLogged("limit: Batt volts 7671 mV red low (below 7700)"));
    EXPECT_EQ(Alarms().toStdString(),
              "TAVRIK_FIELD=Batt volts\nTAVRIK_LIMIT=7700\nTAVRIK_SOURCE=TAVRIK\n"
              "TAVRIK_STATE=red-low\nTAVRIK_TIME=2024-03-05T14:07:09.250Z\nTAVRIK_UNIT=mV\n"
              "TAVRIK_VALUE=7671\nTavrik Batt volts 7671 mV red low (below 7700) at "
              "2024-03-05 14:07:09.250 UTC from TAVRIK\n");

    const std::size_t entries = f.Events().Size();
    f.ImportFiles({Sample()});
    ASSERT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 60000));
    EXPECT_EQ(f.Limits().Alarms()->Started(), 1);
    for (std::size_t i = 0; i < f.Events().Size() - entries; ++i)
        EXPECT_EQ(EntryText(i).rfind("limit:", 0), std::string::npos) << EntryText(i);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description),
              "red low: 7671 mV, below 7700");
}
