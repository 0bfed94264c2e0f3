// The rig and rotator policies on a made-up pass whose every value is known.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "made_up_track.h"
#include "radio/DopplerTracker.h"
#include "radio/RadioSetup.h"
#include "radio/RotatorTracker.h"

namespace tavrik {
namespace {

constexpr std::int64_t kAos = 1'000'000, kLos = 1'600'000; // as the made-up track has them

using test::MadeUpTrack;

struct Sent {
    std::int64_t t;
    double a, b;
};

std::pair<double, double> Parts(std::int64_t hz) {
    return {double(hz), 0};
}
std::pair<double, double> Parts(const Pointing& p) {
    return {p.azimuthDeg, p.elevationDeg};
}

// Runs a tracker from AOS - 3 min to LOS + 10 s in 250 ms ticks; `ack` says
// whether the daemon took the command sent at t.
template <class Tracker>
std::vector<Sent> RunPass(Tracker& tracker, MadeUpTrack& track, std::vector<std::string>& log,
                          std::function<bool(std::int64_t)> ack = {}) {
    std::vector<Sent> sent;
    for (std::int64_t t = kAos - 180'000; t <= kLos + 10'000; t += 250) {
        const auto v = tracker.Step(t, track, log);
        if (!v) continue;
        sent.push_back({t, Parts(*v).first, Parts(*v).second});
        (!ack || ack(t)) ? tracker.Acknowledged(*v) : tracker.Forget();
    }
    return sent;
}

TEST(DopplerTracker, FollowsThePassInSecondStepsAndReturnsAtLos) {
    struct Case {
        std::int64_t downlink, offset;
        bool refuseOneMinute; // the radio says "RPRT -9" for a minute mid-pass
    };
    for (const Case c : {Case{435'000'000, 0, false}, Case{145'825'000, -1200, false},
                         Case{435'000'000, 350, true}}) {
        SCOPED_TRACE(c.downlink);
        MadeUpTrack track;
        DopplerTracker rig({c.downlink, c.offset});
        std::vector<std::string> log;
        auto refused = [&](std::int64_t t) {
            return c.refuseOneMinute && t > 1'200'000 && t < 1'260'000;
        };
        const auto sent = RunPass(rig, track, log, [&](std::int64_t t) { return !refused(t); });
        auto expected = [&](std::int64_t t) {
            return double(DopplerFrequencyHz(c.downlink, track.At(t)->rangeRateKmS) + c.offset);
        };
        ASSERT_GE(sent.size(), 3u);
        EXPECT_EQ(sent.front().t, kAos - 180'000); // the nominal frequency at start
        EXPECT_EQ(sent.front().a, double(c.downlink + c.offset));
        EXPECT_EQ(sent[1].t, kAos - DopplerTracker::kLeadMs);
        EXPECT_EQ(sent[1].a, expected(kAos));
        EXPECT_EQ(sent.back().a, double(c.downlink + c.offset));
        EXPECT_GT(sent.back().t, kLos);
        EXPECT_LE(sent.back().t, kLos + 1000);
        // The drift of one second at the steepest: 12 km/s over 600 s.
        const double drift = double(c.downlink) * 12.0 / 600.0 / 299792.458 + 1;
        for (std::size_t i = 2; i + 1 < sent.size(); ++i) {
            EXPECT_GE(sent[i].t - sent[i - 1].t, 1000) << i;
            if (!refused(sent[i - 1].t)) {
                EXPECT_GE(std::fabs(sent[i].a - sent[i - 1].a), 10.0) << i;
            }
            EXPECT_NEAR(sent[i].a, expected(sent[i].t), 0.5) << i;
        }
        // Between commands the radio stays within 10 Hz plus a second's drift.
        for (std::size_t i = 2; i + 1 < sent.size(); ++i)
            if (!refused(sent[i].t) && sent[i].t > kAos && sent[i + 1].t < kLos) {
                EXPECT_NEAR(sent[i].a, expected(sent[i + 1].t - 1), 10 + drift) << i;
            }
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0], "rig: tracking " + FrequencyText(std::int64_t(expected(kAos))) + " → " +
                              FrequencyText(std::int64_t(expected(kLos))) +
                              " (AOS 00:16:40 UTC, LOS 00:26:40 UTC)");
        EXPECT_EQ(log[1].rfind("rig: tracking ended at LOS 00:26:40 UTC: " +
                                   FrequencyText(std::int64_t(expected(kAos))) + " → ",
                               0),
                  0u)
            << log[1];
    }
}

TEST(RotatorTracker, TurnsFollowsAndParksWithinTheRotatorsRange) {
    struct Case {
        const char* name;
        RotatorLimits limits;
        double maxEl;
        std::optional<Pointing> park;
        double startAz;  // where it turns to 2 minutes before AOS
        bool turnsRound; // the pass crosses the stop: one long turn and a log line
    };
    const Case cases[] = {
        {"0-360", {0, 360, 0, 90}, 90, Pointing{0, 0}, 350, true},
        {"overlap -180..450", {-180, 450, 0, 90}, 90, Pointing{0, 0}, -10, false},
        {"-180..180", {-180, 180, 0, 90}, 90, Pointing{180, 10}, -10, false},
        {"0-450 capped at 45", {0, 450, 0, 90}, 45, std::nullopt, 350, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MadeUpTrack track;
        RotatorTracker rot({2.0, c.maxEl, c.park});
        rot.SetLimits(c.limits);
        std::vector<std::string> log;
        const auto sent = RunPass(rot, track, log);
        std::size_t i = 0;
        if (c.park) { // parked at start, while no pass is near
            ASSERT_FALSE(sent.empty());
            EXPECT_EQ(sent[0].t, kAos - 180'000);
            EXPECT_EQ(sent[0].a, c.park->azimuthDeg);
            i = 1;
        }
        ASSERT_GT(sent.size(), i + 10);
        EXPECT_EQ(sent[i].t, kAos - RotatorTracker::kLeadMs);
        EXPECT_NEAR(sent[i].a, c.startAz, 1e-6);
        EXPECT_EQ(sent[i].b, 0.0);
        int longTurns = 0;
        const std::size_t end = c.park ? sent.size() - 1 : sent.size();
        for (std::size_t k = i + 1; k < end; ++k) {
            const SkyPoint sky = *track.At(sent[k].t);
            const Pointing p{sent[k].a, sent[k].b};
            EXPECT_GE(p.azimuthDeg, c.limits.minAzimuthDeg);
            EXPECT_LE(p.azimuthDeg, c.limits.maxAzimuthDeg);
            EXPECT_LE(p.elevationDeg, c.maxEl);
            EXPECT_NEAR(SkyAngleDeg(p, {sky.azimuthDeg, std::min(sky.elevationDeg, c.maxEl)}), 0,
                        1e-4);
            const Pointing before{sent[k - 1].a, sent[k - 1].b};
            if (std::fabs(p.azimuthDeg - before.azimuthDeg) > 180) {
                ++longTurns;
            } else if (k > i + 1) {
                EXPECT_GT(SkyAngleDeg(before, p), 2.0) << k;
            }
            EXPECT_GE(sent[k].t - sent[k - 1].t, 1000);
        }
        EXPECT_EQ(longTurns, c.turnsRound ? 1 : 0);
        if (c.park) {
            EXPECT_GT(sent.back().t, kLos);
            EXPECT_EQ(sent.back().a, c.park->azimuthDeg);
            EXPECT_EQ(sent.back().b, c.park->elevationDeg);
        } else {
            EXPECT_LE(sent.back().t, kLos);
        }
        const std::string gap = "crosses the rotator's azimuth stop";
        std::size_t gaps = 0;
        for (const std::string& line : log)
            gaps += line.find(gap) != std::string::npos ? 1 : 0;
        EXPECT_EQ(gaps, c.turnsRound ? 1u : 0u);
        if (c.turnsRound) {
            EXPECT_NE(log[0].find("at 00:17:48 UTC (azimuth 0°)"), std::string::npos) << log[0];
        }
    }
}

TEST(RadioSetup, SettingsGiveADeviceOrOneLineAndIdle) {
    struct Case {
        const char* settings;
        const char* devices; // "rig", "rotator", "" (idle)
        const char* problem; // the start of the one line; "" for none
    };
    const Case cases[] = {
        {"RIG=127.0.0.1:4532\nDOWNLINK_HZ=435000000\nRIG_OFFSET_HZ=-350", "rig", ""},
        {"RIG=127.0.0.1:4532", "", "RIG is set but DOWNLINK_HZ is not"},
        {"RIG=h:1\nDOWNLINK_HZ=435.0e6", "", "DOWNLINK_HZ \"435.0e6\" is not a frequency"},
        {"RIG=rigctld\nDOWNLINK_HZ=435000000", "", "RIG \"rigctld\" is not host:port"},
        {"ROTATOR=h:1\nROTATOR_PARK=stay\nROTATOR_STEP=1,5", "rotator", ""},
        {"ROTATOR=h:1 -180 540\nROTATOR_MAX_EL=80", "rotator", ""}, // the range given by hand
        {"ROTATOR=h:1 0", "", "ROTATOR \"h:1 0\" is not"},
        {"ROTATOR=h:1\nROTATOR_PARK=north", "", "ROTATOR_PARK \"north\" is neither"},
        {"ROTATOR=h:1\nROTATOR_STEP=0", "", "ROTATOR_STEP \"0\" is not"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        const RadioSetup setup =
            ReadRadioSetup(ParseStationConfig("PORT=1:2\n" + std::string(c.settings)).config);
        EXPECT_EQ(setup.rig ? "rig" : setup.rotator ? "rotator" : "", std::string(c.devices));
        ASSERT_EQ(setup.problems.size(), *c.problem ? 1u : 0u);
        const std::string line = setup.problems.empty() ? "" : setup.problems[0];
        EXPECT_EQ(line.rfind(c.problem, 0), 0u) << line;
        EXPECT_EQ(line.find("stays idle") != std::string::npos, *c.problem != 0);
    }
}

} // namespace
} // namespace tavrik
