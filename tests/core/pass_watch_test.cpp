// The pass watch's verdicts over the cases a station meets, times as values.
#include <gtest/gtest.h>

#include "sky_tle.h"
#include "station/PassWatch.h"
#include "station/SkyState.h"

using namespace tavrik;

namespace {

constexpr std::int64_t kMin = 60'000;
// 2026-12-09 14:32:05 UTC to 14:43:05, 47.4 degrees high.
constexpr std::int64_t kAos = 1'796'826'725'000;
const Pass kHigh{kAos, kAos + 5 * kMin, kAos + 11 * kMin, 47.4, 140.0, 320.0};

struct Case {
    const char* name;
    double maxElevation;
    std::vector<std::pair<std::int64_t, bool>> modem; // offsets from AOS, state
    std::vector<std::int64_t> frames;                 // offsets from AOS
    PassWatch::Verdict verdict;
    std::int64_t disconnectedMs;
    const char* line;
};

} // namespace

TEST(PassWatch, JudgesEachPassAtItsLos) {
    using V = PassWatch::Verdict;
    const std::vector<Case> cases = {
        {"heard", 47.4, {{-kMin, true}}, {3 * kMin}, V::Heard, 0, ""},
        {"a frame before AOS is not of the pass",
         47.4,
         {{-kMin, true}},
         {-1000},
         V::Missed,
         0,
         "missed pass: AOS 2026-12-09 14:32:05 UTC LOS 2026-12-09 14:43:05 UTC, maximum "
         "elevation 47°, modem connected, no frame heard"},
        {"low pass", 12.0, {{-kMin, true}}, {}, V::Low, 0, ""},
        {"modem down for four minutes",
         47.4,
         {{-kMin, true}, {2 * kMin, false}, {6 * kMin, true}},
         {},
         V::NotWatched,
         4 * kMin,
         "pass not watched: modem disconnected for 4 min of the pass (AOS 2026-12-09 14:32:05 "
         "UTC, maximum elevation 47°)"},
        {"station started mid-pass",
         47.4,
         {{3 * kMin, true}},
         {},
         V::NotWatched,
         3 * kMin + 0,
         nullptr},
        {"heard while the modem came and went",
         47.4,
         {{-kMin, true}, {kMin, false}, {2 * kMin, true}},
         {5 * kMin},
         V::Heard,
         kMin,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PassWatch watch(20.0, kAos - 2 * kMin);
        for (const auto& [at, up] : c.modem)
            watch.Modem(up, kAos + at);
        for (const std::int64_t t : c.frames)
            watch.Frame(kAos + t);
        Pass p = kHigh;
        p.maxElevationDeg = c.maxElevation;
        const PassWatch::Judgement j = watch.PassEnded(p);
        EXPECT_EQ(j.verdict, c.verdict);
        EXPECT_EQ(j.disconnectedMs, c.disconnectedMs);
        if (c.line) {
            EXPECT_EQ(j.line, c.line);
        }
        EXPECT_EQ(watch.Missed(), c.verdict == V::Missed ? 1u : 0u);
        EXPECT_EQ(watch.Passes(), 1u);
    }
}

TEST(PassWatch, ForgetsWhatEndedBeforeAnEarlierLos) {
    PassWatch watch(20.0, kAos - 2 * kMin);
    watch.Modem(true, kAos - kMin);
    watch.Frame(kAos + kMin);
    EXPECT_EQ(watch.PassEnded(kHigh).verdict, PassWatch::Verdict::Heard);
    // The next pass, 95 minutes on: the frame of the one before does not count for it.
    Pass next = kHigh;
    for (std::int64_t* t : {&next.aosMs, &next.tcaMs, &next.losMs})
        *t += 95 * kMin;
    EXPECT_EQ(watch.PassEnded(next).verdict, PassWatch::Verdict::Missed);
    EXPECT_EQ(watch.Missed(), 1u);
    EXPECT_EQ(watch.Passes(), 2u);
}

// AOS and LOS reach PASS_COMMAND for every pass that rises after the start,
// also one rising within the first minute; a pass in progress at the start
// gets its LOS only.
TEST(SkyState, EveryAosAfterTheStartIsHandedOnAndOnlyOnce) {
    const std::int64_t start = kAos;
    for (const std::int64_t riseAfter : {-2 * kMin, std::int64_t{20000}, 5 * kMin}) {
        SkySettings settings;
        settings.observer = {48.5, 35.0, 0};
        settings.satellite = "99999";
        // The set's pass culminates about 5.8 min after its AOS.
        const std::int64_t overhead = start + riseAfter + 5 * kMin + 48'000;
        SkyState sky(settings, start);
        const std::vector<std::string> said =
            sky.Load(tavrik::testing::OverheadTle(48.5, 35.0, overhead), "test");
        ASSERT_TRUE(sky.Ready()) << (said.empty() ? "" : said[0]);
        const std::optional<Pass> pass = sky.PassNow(overhead);
        ASSERT_TRUE(pass);
        std::vector<std::string> lines;
        int aos = 0, los = 0;
        for (std::int64_t t = start; t <= pass->losMs + 5000; t += 1000)
            for (const SkyState::Event& e : sky.Tick(t, true, lines))
                (e.kind == SkyState::Event::Kind::Aos ? aos : los) += 1;
        EXPECT_EQ(aos, pass->aosMs > start ? 1 : 0) << "rise after start " << riseAfter;
        EXPECT_EQ(los, 1) << "rise after start " << riseAfter;
    }
}
