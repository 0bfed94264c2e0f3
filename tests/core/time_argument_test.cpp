// Times as typed on a command line or in a URL, and the timestamp form of the
// KISS logs, to milliseconds since 1970 and back.
#include <gtest/gtest.h>

#include "time/TimeArgument.h"

namespace tavrik {
namespace {

constexpr std::int64_t kNow = 1'796'831'165'250; // 2026-12-09 15:46:05.250 UTC

TEST(TimeArgument, AcceptedFormsGiveTheirUtcMilliseconds) {
    const struct {
        const char* text;
        std::int64_t ms;
    } cases[] = {
        {"2026-12-09", 1'796'774'400'000},
        {"2026-12-09T15:46", 1'796'831'160'000},
        {"2026-12-09 15:46:05", 1'796'831'165'000},
        {"2026-12-09T15:46:05.250Z", kNow},
        {"2026-12-09T15:46:05.25", kNow},
        {"2026-12-09T15:46:05.2509Z", kNow}, // past milliseconds: cut
        {"2024-02-29", 1'709'164'800'000},
        {"1969-12-31T23:59:59.999Z", -1},
        {"now", kNow},
        {"-24h", kNow - 86'400'000},
        {"-7d", kNow - 7 * 86'400'000LL},
        {"-90s", kNow - 90'000},
        {"-30m", kNow - 1'800'000},
        {"-2w", kNow - 14 * 86'400'000LL},
    };
    for (const auto& c : cases) {
        const TimeArgument t = ParseTimeArgument(c.text, kNow);
        EXPECT_EQ(t.error, "") << c.text;
        EXPECT_EQ(t.unixMs, c.ms) << c.text;
    }
}

TEST(TimeArgument, AnythingElseIsRefusedWithTheFormsThatWork) {
    for (const char* text :
         {"", "yesterday", "2026-13-01", "2026-02-29", "2026-12-09T24:00", "2026-12-09T15:60",
          "2026-12-09T15", "2026-12-09T15:46:05.", "2026-12-09+01:00", "12/09/2026", "-24", "-h",
          "-24y", "+24h", "2026-12-09T15:46:05Zjunk"}) {
        const TimeArgument t = ParseTimeArgument(text, kNow);
        EXPECT_NE(t.error.find("-24h"), std::string::npos) << text;
    }
}

TEST(TimeArgument, TimestampsOfTheLogsRoundTrip) {
    for (const std::int64_t ms :
         {std::int64_t{0}, std::int64_t{951'782'400'000}, std::int64_t{1'709'164'799'999}, kNow}) {
        const std::string text = FormatTimestamp(UtcDateTime(ms));
        EXPECT_EQ(ParseTimestamp(text), ms) << text;
    }
    EXPECT_EQ(FormatIsoUtc(kNow), "2026-12-09T15:46:05.250Z");
    for (const char* bad : {"2024-03-05 14:07:09", "2024-03-05T14:07:09.250",
                            "2024-02-30 00:00:00.000", "2024-03-05 14:07:09.250 UTC"})
        EXPECT_FALSE(ParseTimestamp(bad).has_value()) << bad;
}

} // namespace
} // namespace tavrik
