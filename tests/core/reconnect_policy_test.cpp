#include <gtest/gtest.h>

#include "intake/ReconnectPolicy.h"

using namespace tavrik;

TEST(ReconnectPolicy, OneSecondThenEveryTwoForFiveMinutesThenEveryThirtyAndALineAMinute) {
    enum Op { Lost, Failed, Connected };
    struct Step {
        Op op;
        std::int64_t now;
        std::int64_t next; // the next attempt; for Connected: how long it was down
        bool logs;         // a failure that may write its line
    } steps[] = {
        // At 420 000 the link was up under a minute: the wait goes on; at 600 000 it starts over.
        {Lost, 10'000, 11'000, false},     {Failed, 11'000, 13'000, false},
        {Lost, 12'000, 13'000, false},     {Failed, 13'000, 15'000, false},
        {Failed, 69'999, 71'999, false},   {Failed, 70'000, 72'000, true},
        {Failed, 72'000, 74'000, false},   {Failed, 309'999, 311'999, true},
        {Failed, 310'000, 340'000, false}, {Failed, 340'000, 370'000, false},
        {Failed, 370'000, 400'000, true},  {Connected, 400'500, 390'500, false},
        {Lost, 420'000, 450'000, false},   {Connected, 450'000, 30'000, false},
        {Failed, 600'000, 601'000, false}, {Failed, 601'000, 603'000, false},
    };
    ReconnectPolicy p;
    for (const Step& s : steps) {
        const std::int64_t got = s.op == Lost     ? p.Lost(s.now)
                                 : s.op == Failed ? p.Failed(s.now)
                                                  : p.Connected(s.now);
        EXPECT_EQ(got, s.next) << "at " << s.now;
        EXPECT_EQ(p.Waiting(), s.op != Connected) << "at " << s.now;
        EXPECT_EQ(p.MayLog(s.now), s.logs) << "at " << s.now;
    }
    EXPECT_EQ(p.Attempts(), 1);
}

TEST(ReconnectPolicy, DurationText) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {-5, "0 ms"},           {850, "850 ms"},    {12'999, "12 s"},         {300'000, "5 min"},
        {185'000, "3 min 5 s"}, {7'200'000, "2 h"}, {7'440'000, "2 h 4 min"},
    };
    for (const auto& [ms, text] : cases)
        EXPECT_EQ(DurationText(ms), text) << ms;
}
