// The sky as a station meets it: the real replay modem feeding the window with
// a TLE whose pass is overhead, and a pass that comes and goes unheard.
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <sqlite3.h>

#include "app/SkyView.h"
#include "form_fixture.h"
#include "sky_tle.h"
#include "time/TimeArgument.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

constexpr double kLat = 50.1, kLon = 14.4;

class SkyStation : public ReplayFormFixture {
  protected:
    // The station's settings with the TLE overhead at `overheadMs`.
    void Configure(std::int64_t overheadMs, const std::string& more) {
        QFile tle(dir.filePath("sat.tle"));
        ASSERT_TRUE(tle.open(QIODevice::WriteOnly));
        tle.write(OverheadTle(kLat, kLon, overheadMs).c_str());
        tle.close();
        const quint16 port = StartReplay();
        ASSERT_NE(port, 0);
        WriteConfig("PORT=127.0.0.1:" + std::to_string(port) +
                    "\r\nMYCALL=N0CALL\r\nQTH_LAT=50.1\r\nQTH_LONG=14.4\r\nTLE=sat.tle\r\n" + more);
    }
    std::string Answer(Form1& f, const std::string& path) {
        const std::optional<WebAnswer> a = f.Web().Api().Answer(path, {});
        return a ? a->body : std::string();
    }
};

} // namespace

TEST_F(SkyStation, FramesOfAPassInProgressCarryTheSkyToTheArchiveAndTheApi) {
    clock.Set(Reading(2026, 12, 9, 12, 0, 0));
    const std::int64_t now = UnixMilliseconds({2026, 12, 9, 12, 0, 0, 0});
    Configure(now + 120'000, "ARCHIVE=YES\r\n");
    Form1& f = Start();
    ASSERT_TRUE(EventLogged("TLE "));
    ASSERT_TRUE(WaitFor([&] { return f.History().RxPacketCount() == 100; }, 60000));

    // Every frame the archive took has its place and its pass.
    const std::string path = dir.filePath("tavrik-archive.sqlite").toStdString();
    std::string counts;
    WaitFor(
        [&] {
            sqlite3* db = nullptr;
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db,
                               "SELECT count(*), count(pass_aos), min(elevation) > 20, "
                               "max(range_km) < 1500 FROM telemetry",
                               -1, &st, nullptr);
            counts.clear();
            if (st && sqlite3_step(st) == SQLITE_ROW)
                for (int i = 0; i < 4; ++i)
                    counts += std::to_string(sqlite3_column_int64(st, i)) + " ";
            sqlite3_finalize(st);
            sqlite3_close(db);
            return counts == "100 100 1 1 ";
        },
        60000); // the archive's thread runs at a lower priority: slow on a loaded machine
    EXPECT_EQ(counts, "100 100 1 1 ");

    const std::string current = Answer(f, "/api/current");
    EXPECT_NE(current.find("\"sky\":{\"azimuth\":"), std::string::npos) << current;
    const std::string sky = Answer(f, "/api/sky");
    EXPECT_NE(sky.find("\"satellite\":{\"name\":\"TAVRIK TEST\",\"catalogue\":99999,"),
              std::string::npos)
        << sky;
    EXPECT_NE(sky.find("\"pass\":{\"aos\":\"2026-12-09T11:5"), std::string::npos) << sky;
    EXPECT_NE(Answer(f, "/metrics").find("\ntavrik_next_aos_seconds 0\n"), std::string::npos);
    ASSERT_NE(f.SkyWindow(), nullptr);
    const QLabel* line = f.findChild<QLabel*>(QStringLiteral("SkyLine"));
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("Pass in progress: elevation ")))
        << line->text().toStdString();
}

TEST_F(SkyStation, APassHeardByNobodyRaisesOneAlarm) {
    clock.Set(Reading(2026, 12, 9, 12, 0, 0));
    const std::int64_t now = UnixMilliseconds({2026, 12, 9, 12, 0, 0, 0});
    QFile script(dir.filePath("alarm.sh"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\n{ env | grep -E '^TAVRIK_(FIELD|STATE)=' | sort; cat; echo; } >> \"$1\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    // Overhead in 15 minutes; the sample's frames all arrive now, before its AOS.
    Configure(now + 15 * 60'000, "ALARM_COMMAND=" + script.fileName().toStdString() + " " +
                                     dir.filePath("alarms").toStdString() + "\r\n");
    Form1& f = Start();
    ASSERT_TRUE(WaitFor([&] { return f.History().RxPacketCount() == 100; }, 60000));
    ASSERT_TRUE(f.Sky().State());
    QTest::qWait(1500); // a tick with the modem connected, before the pass

    clock.Set(Reading(2026, 12, 9, 12, 40, 0)); // past its LOS
    ASSERT_TRUE(WaitFor([&] { return f.Sky().State()->PassesMissed() == 1; }, 5000));
    QTest::qWait(2500); // more ticks: the pass is not judged again
    EXPECT_EQ(f.Sky().State()->PassesMissed(), 1u);
    EXPECT_TRUE(EventLogged("missed pass: AOS 2026-12-09 12:"));
    QFile alarms(dir.filePath("alarms"));
    ASSERT_TRUE(WaitFor([&] { return alarms.exists() && alarms.size() > 0; }, 10000));
    ASSERT_TRUE(alarms.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(alarms.readAll());
    EXPECT_EQ(text.count(QStringLiteral("TAVRIK_STATE=missed-pass")), 1) << text.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("TAVRIK_FIELD=pass\nTAVRIK_STATE=missed-pass\n"
                                               "missed pass: AOS 2026-12-09 12:")))
        << text.toStdString();
    EXPECT_NE(Answer(f, "/metrics").find("\ntavrik_passes_missed_total 1\n"), std::string::npos);
}
