// A whole pass against Debian's real dummy daemons (rigctld -m 1, rotctld -m 1)
// on 127.0.0.1, with an element set made for a pass in progress now, run from
// 150 s before its AOS to past its LOS in half-second steps of its clock. The
// rig's frequency is read back with "f" on a second connection; the rotator's
// commands are read from rotctld's own log. rigctld is killed at culmination
// and started again.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <tuple>

#include "radio/qt/Radio.h"
#include "radio_test_support.h"
#include "web/WebApi.h"

namespace tavrik {
namespace {

// The clock moves half a second for every 20 ms of waiting: 25 times faster,
// yet never ahead of the controls when the machine is busy.
constexpr std::int64_t kStepMs = 500;
constexpr std::int64_t kDownlinkHz = 435'000'000;

TEST(RadioPass, RigAndRotatorFollowAPassInProgressNowThroughTheRealDaemons) {
    const std::int64_t realNow = UnixMillisecondsNow(SystemClock());
    std::string tle;
    const std::optional<SkyPredictor> predictor = test::PassInProgress(realNow, tle);
    ASSERT_TRUE(predictor);
    const std::optional<Pass> pass = predictor->PassAt(realNow);
    ASSERT_TRUE(pass) << tle;
    std::printf("pass: AOS %s az %.1f, TCA %s max el %.1f, LOS %s az %.1f\n",
                FormatIsoUtc(pass->aosMs).c_str(), pass->aosAzimuthDeg,
                FormatIsoUtc(pass->tcaMs).c_str(), pass->maxElevationDeg,
                FormatIsoUtc(pass->losMs).c_str(), pass->losAzimuthDeg);
    auto shared = std::make_shared<const SkyPredictor>(*predictor);

    const int rigPort = test::FreePort(), rotPort = test::FreePort();
    QProcess rigctld, rotctld;
    ASSERT_TRUE(test::StartDummy(rigctld, "rigctld", rigPort));
    ASSERT_TRUE(test::StartDummy(rotctld, "rotctld", rotPort, true));

    const std::int64_t simStart = pass->aosMs - 150'000;
    QElapsedTimer real;
    real.start();
    std::int64_t simNow = simStart;
    auto now = [&] { return simNow; };
    std::string log;
    auto logLine = [&](const std::string& l) {
        log += l + "\n";
        std::printf("  event log: %s\n", l.c_str());
    };
    auto count = [&](const std::string& part) { return test::Count(log, part); };

    // What rotctld was told, stamped as it says so.
    std::vector<std::tuple<std::int64_t, double, double>> commanded;
    QByteArray rotLog;
    QObject::connect(&rotctld, &QProcess::readyReadStandardError, [&] {
        rotLog += rotctld.readAllStandardError();
        for (qsizetype eol; (eol = rotLog.indexOf('\n')) >= 0; rotLog.remove(0, eol + 1)) {
            double az = 0, el = 0;
            if (std::sscanf(rotLog.left(eol).constData(), "dummy_rot_set_position called: %lf %lf",
                            &az, &el) == 2)
                commanded.emplace_back(now(), az, el);
        }
    });

    Radio radio(logLine, now);
    const std::string settings =
        "PORT=127.0.0.1:8000\nRIG=127.0.0.1:" + std::to_string(rigPort) +
        "\nDOWNLINK_HZ=435000000\nROTATOR=127.0.0.1:" + std::to_string(rotPort) + "\n";
    radio.Start(ParseStationConfig(settings).config, std::make_shared<PredictorTrack>(shared));
    ASSERT_TRUE(radio.Rig() && radio.Rotator());
    RigControl& rig = *radio.Rig();
    RotatorControl& rot = *radio.Rotator();
    rig.SetTickMs(5);
    rot.SetTickMs(5);
    std::string passLine, skyJson, metrics;
    WebState webState;
    WebApi api(webState, now);
    api.SetRadio([&] { return radio.Status(); });

    auto expected = [&](std::int64_t t) {
        const std::int64_t at = std::clamp(t, pass->aosMs, pass->losMs);
        return double(kDownlinkHz) +
               DopplerShiftHz(double(kDownlinkHz), shared->At(at)->rangeRateKmS);
    };
    QTcpSocket reader;
    reader.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(rigPort));
    ASSERT_TRUE(reader.waitForConnected(2000));
    bool killed = false;
    std::int64_t restartedReal = 0, lastPrinted = 0;
    int checked = 0;
    while (now() < pass->losMs + 15'000 && real.elapsed() < 150'000) {
        simNow += kStepMs;
        QTest::qWait(20);
        // On a loaded machine the rig's ticks lag the simulated clock: give it
        // (bounded) time to catch up with this moment before reading the rig.
        if (const std::int64_t due = now(); due > pass->aosMs + 1000 && due < pass->losMs) {
            const double slope = std::fabs(expected(due) - expected(due - 1000));
            QTest::qWaitFor(
                [&] {
                    const std::optional<std::int64_t> f = rig.FrequencySet();
                    return f && std::fabs(double(*f) - expected(due)) <= 10 + slope;
                },
                2000);
            QTest::qWait(10);
        }
        if (!killed && now() >= pass->tcaMs) {
            killed = true;
            rigctld.kill();
            rigctld.waitForFinished(5000);
            reader.abort();
            QTest::qWait(300);
            ASSERT_TRUE(test::StartDummy(rigctld, "rigctld", rigPort));
            restartedReal = real.elapsed();
            reader.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(rigPort));
            ASSERT_TRUE(reader.waitForConnected(2000));
            continue;
        }
        const std::string answer = test::ReadFrequency(reader);
        const std::int64_t t = now();
        // Left out: the moments a set is due at a boundary, and the reconnection.
        const bool settled = (t > pass->aosMs - 29'000 && t < pass->aosMs) ||
                             (t > pass->aosMs + 1000 && t < pass->losMs) || t > pass->losMs + 1000;
        if (!settled || (restartedReal && real.elapsed() - restartedReal < 4000)) continue;
        const double read = std::stod(answer);
        const double want = t > pass->losMs ? double(kDownlinkHz) : expected(t);
        const double allowed = 50 + std::fabs(expected(t) - expected(t - 1000));
        ++checked;
        EXPECT_LE(std::fabs(read - want), allowed)
            << FormatIsoUtc(t) << " read " << answer << " want " << want;
        if (t - lastPrinted >= 60'000) {
            lastPrinted = t;
            if (t > pass->aosMs && t < pass->tcaMs) {
                passLine = radio.PassLine();
                skyJson = api.Answer("/api/sky", {})->body;
                metrics = api.Metrics();
            }
            const SkyPoint sky = *shared->At(t);
            const Pointing c = rot.Commanded().value_or(Pointing{}), r = rot.Reported().value_or(c);
            std::printf("%s el %5.1f f read %.0f want %.0f (%+.0f Hz) antenna sent %.1f/%.1f "
                        "reported %.1f/%.1f satellite %.1f/%.1f\n",
                        FormatIsoUtc(t).c_str(), sky.elevationDeg, read, want, read - want,
                        c.azimuthDeg, c.elevationDeg, r.azimuthDeg, r.elevationDeg, sky.azimuthDeg,
                        sky.elevationDeg);
        }
    }
    EXPECT_GE(checked, 80);
    EXPECT_EQ(test::ReadFrequency(reader), std::to_string(kDownlinkHz)); // back at LOS
    EXPECT_EQ(
        count("rig: connected to rigctld at 127.0.0.1:" + std::to_string(rigPort) + " again after"),
        1u);
    EXPECT_EQ(count("rig: tracking 4"), 1u);
    EXPECT_EQ(count("rotator: rotctld reports azimuth -180° to 450°"), 1u); // \dump_caps
    EXPECT_EQ(count("rig: tracking ended at LOS"), 1u);

    // The rotator: turned to the AOS azimuth at 0° two minutes ahead, then on
    // the satellite within a degree of where it was at each command, parked at LOS.
    ASSERT_GE(commanded.size(), 10u);
    int onTrack = 0;
    bool turnedAhead = false;
    for (const auto& [t, az, el] : commanded) {
        EXPECT_GE(az, -180.0);
        EXPECT_LE(az, 450.0);
        if (t < pass->aosMs && t >= pass->aosMs - 120'000 - 1000) {
            turnedAhead = true;
            EXPECT_NEAR(std::fmod(az + 360, 360), pass->aosAzimuthDeg, 0.01);
            EXPECT_EQ(el, 0.0);
        }
        if (t > pass->aosMs + 1000 && t < pass->losMs) {
            const SkyPoint sky = *shared->At(t);
            ++onTrack;
            EXPECT_LT(SkyAngleDeg({az, el}, {sky.azimuthDeg, sky.elevationDeg}), 1.0)
                << FormatIsoUtc(t) << " sent " << az << "/" << el << " satellite " << sky.azimuthDeg
                << "/" << sky.elevationDeg;
        }
    }
    EXPECT_TRUE(turnedAhead);
    EXPECT_GE(onTrack, 20);
    EXPECT_EQ(std::get<1>(commanded.back()), 0.0);
    EXPECT_EQ(std::get<2>(commanded.back()), 0.0);
    EXPECT_GT(std::get<0>(commanded.back()), pass->losMs);
    std::printf("rotator: %zu positions sent, %d during the pass; last %.2f/%.2f\n",
                commanded.size(), onTrack, std::get<1>(commanded.back()),
                std::get<2>(commanded.back()));
    // The window's words during the pass, and none after it.
    std::printf("window: \"%s\"\n", passLine.c_str());
    EXPECT_TRUE(passLine.starts_with("rig 435 0")) << passLine;
    EXPECT_NE(passLine.find(" Hz, antenna "), std::string::npos) << passLine;
    EXPECT_EQ(radio.PassLine(), "");
    // The page and the metrics at the same moment.
    std::printf("/api/sky: ...%s\n", skyJson.substr(skyJson.find("\"rig\"")).c_str());
    const QJsonObject sky = QJsonDocument::fromJson(QByteArray::fromStdString(skyJson)).object();
    EXPECT_TRUE(sky["rig"]["connected"].toBool());
    EXPECT_GT(sky["rig"]["frequency_set_hz"].toInteger(), kDownlinkHz);
    EXPECT_TRUE(sky["rotator"]["commanded"]["elevation"].toDouble() > 5) << skyJson;
    EXPECT_NE(metrics.find("\ntavrik_rig_frequency_hz 4350"), std::string::npos);
    EXPECT_NE(metrics.find("\ntavrik_rotator_elevation_degrees "), std::string::npos);
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    ASSERT_TRUE(promtool.waitForStarted(10000)) << "promtool (Debian's prometheus) is needed";
    promtool.write(QByteArray::fromStdString(metrics));
    promtool.closeWriteChannel();
    EXPECT_TRUE(promtool.waitForFinished(30000) && promtool.exitCode() == 0)
        << promtool.readAll().toStdString();
    radio.Stop();
    rigctld.kill();
    rotctld.kill();
    rigctld.waitForFinished(5000);
    rotctld.waitForFinished(5000);
}

} // namespace
} // namespace tavrik
