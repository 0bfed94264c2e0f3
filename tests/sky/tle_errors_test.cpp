// The element-set reader's refusals, each with its line and reason, and the
// predictor's: deep space, bad station, decay; the pass in progress.
#include <gtest/gtest.h>

#include "sky/SkyPredictor.h"
#include "time/TimeArgument.h"

namespace tavrik {
namespace {

const std::string kLine1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const std::string kLine2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";

// The line with its checksum made good again after an edit.
std::string Resum(std::string line) {
    int sum = 0;
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        sum += line[i] == '-' ? 1 : (line[i] >= '0' && line[i] <= '9' ? line[i] - '0' : 0);
    line.back() = static_cast<char>('0' + sum % 10);
    return line;
}

std::string Edit(std::string line, std::size_t column, std::string_view text) {
    return Resum(line.replace(column - 1, text.size(), text));
}

TEST(TleFile, ReadsANamedSetExactly) {
    const TleFile file = ParseTles("\n  ISS (ZARYA)  \r\n" + kLine1 + "\r\n" + kLine2 + "\r\n");
    ASSERT_TRUE(file.errors.empty()) << file.errors.front();
    ASSERT_EQ(file.sets.size(), 1u);
    const Tle& t = file.sets[0];
    EXPECT_EQ(t.name, "ISS (ZARYA)");
    EXPECT_EQ(t.lineNumber, 3);
    EXPECT_EQ(t.catalogue, 25544);
    // Day 264.51782528 of 2008 = 20 September 12:25:40.104192.
    EXPECT_EQ(FormatIsoUtc(t.epochMs), "2008-09-20T12:25:40.104Z");
    EXPECT_NEAR(t.epochRemainderMs, 0.192, 1e-9);
    EXPECT_NEAR(t.bstar, -0.11606e-4, 1e-12);
    EXPECT_NEAR(t.inclo * 180 / 3.14159265358979, 51.6416, 1e-12);
    EXPECT_NEAR(t.ecco, 0.0006703, 1e-15);
}

TEST(TleFile, EveryBadLineNamedWithItsReason) {
    struct Case {
        std::string text;
        std::string error;
    };
    const std::string name = "SAT\n";
    const Case cases[] = {
        {name + kLine1.substr(0, 68) + "8\n" + kLine2,
         "line 2: bad checksum: column 69 says 8, the line's digits give 7"},
        {name + kLine1 + "\n" + kLine2.substr(0, 66), "line 3: 66 columns, an element line has 69"},
        {name + Edit(kLine1, 18, "7") + "\n" + kLine2,
         "line 2: wrong column: column 18 should be blank, not '7'"},
        {name + kLine1 + "\n" + Edit(kLine2, 27, "9990000"),
         "line 3: eccentricity 0.9990000 >= 0.999"},
        {name + kLine1 + "\n" + Edit(kLine2, 53, " 0.00000000"),
         "line 3: mean motion 0.00000000 revolutions a day <= 0"},
        {name + kLine1 + "\n" + Edit(kLine2, 9, "190.0000"),
         "line 3: inclination 190.0000 is outside 0-180 degrees"},
        {name + kLine1 + "\n" + Edit(kLine2, 3, "25545"),
         "line 3: catalogue number (columns 3-7) '25545' is not line 1's 25544"},
        {name + Edit(kLine1, 21, "400"), "line 2: line 1 of a set without its line 2"},
        {name + kLine1 + "\n" + kLine2 + "\n" + kLine2,
         "line 4: line 2 of a set without its line 1"},
        {name + Edit(kLine1, 21, "400") + "\n" + kLine2,
         "line 2: epoch day 400 is not a day of 2008"},
        {name + Edit(kLine1, 54, " 1x606-4") + "\n" + kLine2, "line 2: drag term (columns 54-61)"},
        {"A\nB\n" + kLine1 + "\n" + kLine2, "line 1: a name with no element set after it"},
    };
    for (const Case& c : cases) {
        const TleFile file = ParseTles(c.text);
        ASSERT_EQ(file.errors.size(), 1u) << c.error;
        EXPECT_EQ(file.errors[0].substr(0, c.error.size()), c.error);
    }
    // Several at once come in line order (a stray line 2 after a name: both told).
    EXPECT_EQ(ParseTles("A\n" + kLine2 + "\nB\n").errors,
              (std::vector<std::string>{"line 1: a name with no element set after it",
                                        "line 2: line 2 of a set without its line 1",
                                        "line 3: a name with no element set after it"}));
}

TEST(TleFile, SetsOfOneSatelliteByNumberOrNameInEpochOrder) {
    const std::string later = Edit(kLine1, 19, "08270.00000000");
    const std::string other = Edit(Edit(kLine1, 3, "00005"), 19, "08200.00000000");
    const std::string text = "ISS\n" + later + "\n" + kLine2 + "\nOTHER\n" + other + "\n" +
                             Edit(kLine2, 3, "00005") + "\nIss\n" + kLine1 + "\n" + kLine2 + "\n";
    const TleFile file = ParseTles(text);
    ASSERT_TRUE(file.errors.empty()) << file.errors.front();
    for (const char* wanted : {"25544", "iss", " ISS "}) {
        const auto sets = SetsFor(file.sets, wanted);
        ASSERT_EQ(sets.size(), 2u) << wanted;
        EXPECT_LT(sets[0].epochMs, sets[1].epochMs);
    }
    EXPECT_TRUE(SetsFor(file.sets, "12345").empty());
    std::string why;
    const auto sky = SkyPredictor::Create(SetsFor(file.sets, "ISS"), {55.75, 37.62, 0}, 0, why);
    ASSERT_TRUE(sky) << why;
    const std::int64_t day270 = file.sets[0].epochMs;
    EXPECT_EQ(sky->SetAt(day270 - 1).epochMs, file.sets[2].epochMs); // before the later one
    EXPECT_EQ(sky->SetAt(day270).epochMs, day270);
    EXPECT_EQ(sky->SetAt(0).epochMs, file.sets[2].epochMs); // before all: the earliest
}

TEST(SkyPredictor, RefusesWhatItCannotFollow) {
    const Tle iss = ParseTles(kLine1 + "\n" + kLine2).sets.at(0);
    // A geostationary set: one revolution a day.
    const Tle geo = ParseTles(kLine1 + "\n" + Edit(kLine2, 53, " 1.00270000")).sets.at(0);
    struct Case {
        std::vector<Tle> sets;
        Observer station;
        std::string why;
    };
    const Case cases[] = {
        {{}, {0, 0, 0}, "no element set"},
        {{geo}, {0, 0, 0}, "element set 25544 (line 1): a deep-space orbit (period 1436 minutes"},
        {{iss}, {90.5, 0, 0}, "station latitude 90.5"},
        {{iss}, {0, -180.01, 0}, "station longitude -180.01"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(SkyPredictor::Create(c.sets, c.station, 0, why));
        EXPECT_EQ(why.substr(0, c.why.size()), c.why);
    }
}

TEST(SkyPredictor, DecayEndsTheSearchWithAReason) {
    // 16.4 revolutions a day (about 240 km) with heavy drag: down within days.
    const Tle low =
        ParseTles(Edit(kLine1, 54, " 90000-1") + "\n" + Edit(kLine2, 53, "16.40000000")).sets.at(0);
    std::string why;
    const auto sky = SkyPredictor::Create({low}, {51.6, 0, 0}, 0, why);
    ASSERT_TRUE(sky) << why;
    EXPECT_TRUE(sky->At(low.epochMs));
    EXPECT_FALSE(sky->At(low.epochMs + 30 * 86400000LL, &why));
    EXPECT_NE(why.find("decayed"), std::string::npos) << why;
    why.clear();
    const auto passes = sky->Passes(low.epochMs, low.epochMs + 30 * 86400000LL, &why);
    EXPECT_NE(why.find("decayed"), std::string::npos) << why;
    for (const Pass& p : passes)
        EXPECT_LT(p.losMs, low.epochMs + 30 * 86400000LL);
}

TEST(SkyPredictor, APassInProgressStartsAtItsTrueAos) {
    const Tle iss = ParseTles(kLine1 + "\n" + kLine2).sets.at(0);
    std::string why;
    const auto sky = SkyPredictor::Create({iss}, {55.75, 37.62, 0}, 5, why);
    ASSERT_TRUE(sky) << why;
    const auto passes = sky->Passes(iss.epochMs, iss.epochMs + 86400000);
    ASSERT_GE(passes.size(), 3u);
    for (const Pass& p : passes) {
        EXPECT_LT(p.aosMs, p.tcaMs);
        EXPECT_LT(p.tcaMs, p.losMs);
        EXPECT_NEAR(sky->At(p.aosMs)->elevationDeg, 5, 0.001);
        EXPECT_NEAR(sky->At(p.losMs)->elevationDeg, 5, 0.001);
        EXPECT_GT(p.maxElevationDeg, sky->At(p.tcaMs - 1000)->elevationDeg);
        EXPECT_GT(p.maxElevationDeg, sky->At(p.tcaMs + 1000)->elevationDeg);
        for (const std::int64_t inside : {p.aosMs + 1, p.tcaMs, p.losMs - 1}) {
            const auto again = sky->Passes(inside, inside + 3600000);
            ASSERT_FALSE(again.empty());
            EXPECT_EQ(again.front().aosMs, p.aosMs);
            EXPECT_EQ(again.front().losMs, p.losMs);
            EXPECT_EQ(sky->PassAt(inside)->tcaMs, p.tcaMs);
        }
        EXPECT_FALSE(sky->PassAt(p.losMs + 1000));
        // Approaching before the culmination, receding after it.
        EXPECT_GT(DopplerShiftHz(437e6, sky->At(p.tcaMs - 60000)->rangeRateKmS), 0);
        EXPECT_LT(DopplerShiftHz(437e6, sky->At(p.tcaMs + 60000)->rangeRateKmS), 0);
    }
}

} // namespace
} // namespace tavrik
