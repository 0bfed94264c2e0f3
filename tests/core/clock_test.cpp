#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "time/Clock.h"
#include "time/Duration.h"

using namespace tavrik;

namespace {

using InForce = TimeZoneInfo::InForce;

ClockReading At(DateTime local, TimeZoneInfo zone = {}) {
    return {local, zone};
}

// A zone whose total offset is the given number of minutes east of Greenwich.
TimeZoneInfo Offset(int minutesEast) {
    return {-minutesEast, 0, 0, InForce::Standard};
}

// A clock that moves on by one millisecond every time it is read, so a
// timestamp made from two readings would show it.
class SteppingClock final : public Clock {
  public:
    explicit SteppingClock(ClockReading start) : clock_(start) {}
    ClockReading Read() const override {
        ClockReading r = clock_.Read();
        clock_.AdvanceMilliseconds(1);
        return r;
    }

  private:
    mutable FixedClock clock_;
};

} // namespace

TEST(UtcOffsetMinutes, FollowsTheBiasRule) {
    struct Case {
        TimeZoneInfo zone;
        int expected;
    } cases[] = {
        {{-60, 0, -60, InForce::Daylight}, 120},   // central Europe, summer
        {{-60, 0, -60, InForce::Standard}, 60},    // the same zone in winter
        {{300, 0, 0, InForce::Unknown}, -300},     // west, no daylight rules
        {{-60, -30, -60, InForce::Daylight}, 120}, // daylight ignores the standard bias
        {{-60, -30, -60, InForce::Standard}, 90},  // standard adds the standard bias
        {{-60, -30, -60, InForce::Unknown}, 90},   // unknown is taken as standard
        {{0, 0, 0, InForce::Unknown}, 0},          // a failed call: UTC = local
        {{-330, 0, 0, InForce::Standard}, 330},    {{-630, 0, -30, InForce::Daylight}, 660},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UtcOffsetMinutes(c.zone), c.expected);
}

TEST(UtcNow, SubtractsTheOffsetByCalendarArithmetic) {
    struct Case {
        DateTime local;
        int offset;
        DateTime utc;
    } cases[] = {
        {{2024, 1, 1, 0, 30, 15, 250}, 60, {2023, 12, 31, 23, 30, 15, 250}},
        {{2024, 3, 1, 0, 10, 0, 0}, 60, {2024, 2, 29, 23, 10, 0, 0}}, // leap year
        {{2023, 3, 1, 0, 10, 0, 0}, 60, {2023, 2, 28, 23, 10, 0, 0}},
        {{2100, 3, 1, 0, 0, 1, 2}, 60, {2100, 2, 28, 23, 0, 1, 2}}, // 2100 is no leap year
        {{2000, 3, 1, 0, 0, 0, 0}, 60, {2000, 2, 29, 23, 0, 0, 0}}, // 2000 is one
        {{2023, 12, 31, 22, 0, 59, 999}, -300, {2024, 1, 1, 3, 0, 59, 999}},
        {{2024, 5, 1, 5, 0, 0, 0}, 330, {2024, 4, 30, 23, 30, 0, 0}},
        {{2024, 4, 30, 23, 59, 0, 0}, -1, {2024, 5, 1, 0, 0, 0, 0}},
        {{2024, 6, 15, 12, 0, 0, 0}, 0, {2024, 6, 15, 12, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const FixedClock clock(At(c.local, Offset(c.offset)));
        EXPECT_EQ(UtcNow(clock), c.utc) << FormatTimestamp(c.local) << " offset " << c.offset;
        EXPECT_EQ(UtcTimestamp(clock), FormatTimestamp(c.utc));
    }
}

TEST(UtcTimestamp, FirstDayOfTheYearInAZoneEastShowsThePreviousYear) {
    const FixedClock clock(At({2024, 1, 1, 0, 30, 0, 0}, {-60, 0, -60, InForce::Standard}));
    EXPECT_EQ(UtcTimestamp(clock).substr(0, 16), "2023-12-31 23:30");
}

TEST(UtcTimestamp, IsAlways23CharactersWithZeroPaddedFields) {
    struct Case {
        DateTime t;
        const char* text;
    } cases[] = {
        {{2024, 3, 5, 14, 7, 9, 250}, "2024-03-05 14:07:09.250"},
        {{2024, 3, 5, 14, 7, 9, 5}, "2024-03-05 14:07:09.005"},
        {{999, 1, 2, 3, 4, 5, 0}, "0999-01-02 03:04:05.000"},
        {{2024, 12, 31, 23, 59, 59, 999}, "2024-12-31 23:59:59.999"},
    };
    for (const Case& c : cases) {
        const FixedClock clock(At(c.t));
        const std::string ts = UtcTimestamp(clock);
        EXPECT_EQ(ts, c.text);
        EXPECT_EQ(ts.size(), 23u);
    }
}

TEST(UtcTimestamp, TakesDateTimeAndMillisecondsFromOneReading) {
    // Read twice, the milliseconds would belong to the next second (and day).
    const SteppingClock clock(At({2024, 12, 31, 23, 59, 59, 999}));
    EXPECT_EQ(UtcTimestamp(clock), "2024-12-31 23:59:59.999");
    EXPECT_EQ(UtcTimestamp(clock), "2025-01-01 00:00:00.000");
}

TEST(TimeForms, FileNameDateAndClockLabel) {
    const DateTime t{2024, 3, 5, 14, 7, 9, 250};
    EXPECT_EQ(FormatFileStamp(t), "05032024_1407");
    EXPECT_EQ(FormatDateStamp(t), "05032024");
    EXPECT_EQ(FormatClockLabel({2024, 1, 1, 9, 5, 3, 0}), "09:05:03 UTC");
    EXPECT_EQ(FormatClockLabel({2024, 1, 1, 23, 59, 59, 999}), "23:59:59 UTC");
    EXPECT_EQ(FormatFileStamp({2024, 12, 1, 0, 0, 0, 0}), "01122024_0000");
}

TEST(TimeForms, DebugNameAtHalfPastMidnightEastOfGreenwichCarriesThePreviousDay) {
    const FixedClock clock(At({2024, 3, 6, 0, 30, 0, 0}, Offset(60)));
    EXPECT_EQ(FormatFileStamp(UtcNow(clock)), "05032024_2330");
}

TEST(AddMinutes, IsConsistentOverRandomDatesAndSpans) {
    std::mt19937 rng(20240305);
    std::uniform_int_distribution<int> year(1901, 2399), month(1, 12), hour(0, 23), minute(0, 59);
    std::uniform_int_distribution<std::int64_t> span(-3 * 525600, 3 * 525600);
    for (int i = 0; i < 2000; ++i) {
        const DateTime t{year(rng), month(rng),  1 + static_cast<int>(rng() % 28),
                         hour(rng), minute(rng), 17,
                         345};
        const std::int64_t a = span(rng), b = span(rng);
        const DateTime ta = AddMinutes(t, a);
        EXPECT_EQ(AddMinutes(ta, -a), t);
        EXPECT_EQ(AddMinutes(ta, b), AddMinutes(t, a + b));
        EXPECT_EQ(ta.second, 17);
        EXPECT_EQ(ta.millisecond, 345);
        // Against the C library's own calendar.
        std::tm tm{};
        tm.tm_year = t.year - 1900;
        tm.tm_mon = t.month - 1;
        tm.tm_mday = t.day;
        tm.tm_hour = t.hour;
        tm.tm_min = t.minute;
        const std::time_t secs = ::timegm(&tm) + static_cast<std::time_t>(a) * 60;
        std::tm out{};
        ::gmtime_r(&secs, &out);
        EXPECT_EQ(ta, (DateTime{out.tm_year + 1900, out.tm_mon + 1, out.tm_mday, out.tm_hour,
                                out.tm_min, 17, 345}));
    }
}

TEST(FixedClock, AdvancesAcrossSecondsMinutesAndDays) {
    FixedClock clock(At({2024, 2, 29, 23, 59, 59, 999}));
    clock.AdvanceMilliseconds(1);
    EXPECT_EQ(clock.Read().local, (DateTime{2024, 3, 1, 0, 0, 0, 0}));
    clock.AdvanceMilliseconds(-1);
    EXPECT_EQ(clock.Read().local, (DateTime{2024, 2, 29, 23, 59, 59, 999}));
    clock.AdvanceMilliseconds(61'001);
    EXPECT_EQ(clock.Read().local, (DateTime{2024, 3, 1, 0, 1, 1, 0}));
}

namespace {

// Sets TZ for the life of the object and puts the old value back.
class ScopedTz {
  public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
    }
    ~ScopedTz() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

std::time_t AsUtcSeconds(const DateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return ::timegm(&tm);
}

} // namespace

TEST(SystemClock, GivesTrueUtcInEveryZoneAndFollowsAZoneChange) {
    const SystemClock clock;
    clock.Read(); // the C library has now settled on the zone it started with
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata",
                             "Australia/Lord_Howe", "Pacific/Chatham", "<-0330>3:30"}) {
        const ScopedTz tz(zone);
        const std::time_t before = std::time(nullptr);
        const DateTime utc = UtcNow(clock);
        const std::time_t after = std::time(nullptr);
        const std::time_t got = AsUtcSeconds(utc);
        EXPECT_LE(before, got) << zone;
        // time() reads the kernel's coarse clock, which may lag the precise one by a tick.
        EXPECT_LE(got, after + 1) << zone;
        EXPECT_GE(utc.millisecond, 0);
        EXPECT_LE(utc.millisecond, 999);

        // The local part is the zone's local time, and the offset agrees with it.
        const ClockReading r = clock.Read();
        const std::time_t localAsUtc = AsUtcSeconds(r.local);
        const std::time_t now = std::time(nullptr);
        ::tzset(); // the test's own reading of the zone must be fresh
        std::tm lt{};
        ::localtime_r(&now, &lt);
        EXPECT_NEAR(static_cast<double>(localAsUtc - now), static_cast<double>(lt.tm_gmtoff), 2.0)
            << zone;
        EXPECT_EQ(UtcOffsetMinutes(r.zone) * 60, lt.tm_gmtoff) << zone;
    }
}

TEST(DurationText, EachStyleAsTheEventLogWritesIt) {
    struct Case {
        std::int64_t ms;
        DurationStyle style;
        const char* text;
    } cases[] = {
        {150, DurationStyle::Exact, "150 ms"},        {60000, DurationStyle::Exact, "60 s"},
        {1500, DurationStyle::Exact, "1500 ms"},      {1001, DurationStyle::SecondsUp, "2 s"},
        {30000, DurationStyle::SecondsUp, "30 s"},    {90500, DurationStyle::Units, "1 min 30 s"},
        {7260000, DurationStyle::Units, "2 h 1 min"}, {-5, DurationStyle::Units, "0 ms"}};
    for (const Case& c : cases)
        EXPECT_EQ(DurationText(c.ms, c.style), c.text) << c.ms;
}

TEST(FormatTimestamp, WrittenAsPrintfWouldWriteItForAnyFieldValues) {
    const auto printf23 = [](const DateTime& t) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second, t.millisecond);
        return std::string(buf);
    };
    std::mt19937 rng(7);
    std::vector<DateTime> cases = {{0, 0, 0, 0, 0, 0, 0},       {9999, 12, 31, 23, 59, 59, 999},
                                   {2024, 3, 5, 14, 7, 9, 250}, {10000, 1, 1, 0, 0, 0, 0},
                                   {-1, 1, 1, 0, 0, 0, 0},      {2024, 1, 1, 0, 0, 0, 1000}};
    for (int i = 0; i < 2000; ++i)
        cases.push_back({static_cast<int>(rng() % 10000), static_cast<int>(rng() % 100),
                         static_cast<int>(rng() % 100), static_cast<int>(rng() % 100),
                         static_cast<int>(rng() % 100), static_cast<int>(rng() % 100),
                         static_cast<int>(rng() % 1000)});
    for (const DateTime& t : cases)
        ASSERT_EQ(FormatTimestamp(t), printf23(t)) << t.year << " " << t.millisecond;
}
