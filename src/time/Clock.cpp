#include "time/Clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace tavrik {

namespace {

std::int64_t DaysFromCivil(int y, int m, int d) {
    using namespace std::chrono;
    return sys_days{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}}
        .time_since_epoch()
        .count();
}

void CivilFromDays(std::int64_t days, int& y, int& m, int& d) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    y = static_cast<int>(ymd.year());
    m = static_cast<int>(static_cast<unsigned>(ymd.month()));
    d = static_cast<int>(static_cast<unsigned>(ymd.day()));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

} // namespace

DateTime AddMinutes(const DateTime& t, std::int64_t minutes) {
    const std::int64_t total =
        DaysFromCivil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute + minutes;
    const std::int64_t days = FloorDiv(total, 1440);
    const std::int64_t minuteOfDay = total - days * 1440;
    DateTime r = t;
    CivilFromDays(days, r.year, r.month, r.day);
    r.hour = static_cast<int>(minuteOfDay / 60);
    r.minute = static_cast<int>(minuteOfDay % 60);
    return r;
}

std::int16_t UtcOffsetMinutes(const TimeZoneInfo& zone) {
    const std::int32_t total = zone.inForce == TimeZoneInfo::InForce::Daylight
                                   ? zone.bias + zone.daylightBias
                                   : zone.bias + zone.standardBias;
    return static_cast<std::int16_t>(-total);
}

ClockReading SystemClock::Read() const {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(FloorDiv(ms, 1000));
    // localtime_r need not look at the zone again after its first call; tzset
    // makes a change of the zone count, and sets ::timezone for it. It reads
    // the zone file's status each time, and an import reads the clock
    // thousands of times a second: once a second, or at once when TZ changed.
    {
        static std::mutex zoneLock;
        static std::time_t zoneReadAt = -1;
        static std::string zoneTz;
        const char* tz = std::getenv("TZ");
        const std::lock_guard<std::mutex> hold(zoneLock);
        if (secs != zoneReadAt || zoneTz != (tz ? tz : "")) {
            ::tzset();
            zoneReadAt = secs;
            zoneTz = tz ? tz : "";
        }
    }
    std::tm tm{};
    localtime_r(&secs, &tm);

    ClockReading r;
    r.local = {tm.tm_year + 1900,
               tm.tm_mon + 1,
               tm.tm_mday,
               tm.tm_hour,
               tm.tm_min,
               tm.tm_sec,
               static_cast<int>(ms - FloorDiv(ms, 1000) * 1000)};
    if (r.local.second > 59) r.local.second = 59; // a leap second shows as :59
    // ::timezone is seconds west of Greenwich for standard time; tm_gmtoff is
    // seconds east for the time in force now.
    const long offsetNowMinutes = tm.tm_gmtoff / 60;
    r.zone.bias = static_cast<std::int32_t>(::timezone / 60);
    r.zone.standardBias = static_cast<std::int32_t>(-offsetNowMinutes - r.zone.bias);
    r.zone.daylightBias = 0;
    r.zone.inForce = TimeZoneInfo::InForce::Standard;
    if (tm.tm_isdst > 0) {
        r.zone.daylightBias = r.zone.standardBias;
        r.zone.standardBias = 0;
        r.zone.inForce = TimeZoneInfo::InForce::Daylight;
    }
    return r;
}

void FixedClock::AdvanceMilliseconds(std::int64_t ms) {
    const std::int64_t total = reading_.local.second * 1000LL + reading_.local.millisecond + ms;
    const std::int64_t minutes = FloorDiv(total, 60000);
    const std::int64_t rest = total - minutes * 60000;
    reading_.local = AddMinutes(reading_.local, minutes);
    reading_.local.second = static_cast<int>(rest / 1000);
    reading_.local.millisecond = static_cast<int>(rest % 1000);
}

DateTime UtcNow(const Clock& clock) {
    const ClockReading r = clock.Read();
    return AddMinutes(r.local, -static_cast<std::int64_t>(UtcOffsetMinutes(r.zone)));
}

std::string UtcTimestamp(const Clock& clock) {
    return FormatTimestamp(UtcNow(clock));
}

std::string FormatTimestamp(const DateTime& t) {
    // Written by hand when every field has its usual width: it is read for
    // every frame, and formatting it was the largest share of an import.
    const auto within = [](int v, int digits) { return v >= 0 && v < digits; };
    if (within(t.year, 10000) && within(t.month, 100) && within(t.day, 100) &&
        within(t.hour, 100) && within(t.minute, 100) && within(t.second, 100) &&
        within(t.millisecond, 1000)) {
        std::string s = "0000-00-00 00:00:00.000";
        const auto put = [&s](std::size_t end, int v) {
            for (std::size_t i = end; v > 0; --i, v /= 10)
                s[i] = static_cast<char>('0' + v % 10);
        };
        put(3, t.year);
        put(6, t.month);
        put(9, t.day);
        put(12, t.hour);
        put(15, t.minute);
        put(18, t.second);
        put(22, t.millisecond);
        return s;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return buf;
}

std::string FormatFileStamp(const DateTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d_%02d%02d", t.day, t.month, t.year, t.hour,
                  t.minute);
    return buf;
}

std::string FormatDateStamp(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d", t.day, t.month, t.year);
    return buf;
}

std::string FormatClockLabel(const DateTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d UTC", t.hour, t.minute, t.second);
    return buf;
}

} // namespace tavrik
