#pragma once
// Time: the local clock and the time-zone information behind one injectable
// interface, and the program's one timestamp form.
#include <cstdint>
#include <string>

namespace tavrik {

// A calendar date and time of day with milliseconds; no zone attached.
struct DateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Adds whole minutes by calendar arithmetic (across midnight, month and year ends).
DateTime AddMinutes(const DateTime& t, std::int64_t minutes);

// The zone as the program reasons about it: UTC = local time + bias, all in minutes.
struct TimeZoneInfo {
    enum class InForce { Unknown, Standard, Daylight };
    std::int32_t bias = 0;
    std::int32_t standardBias = 0;
    std::int32_t daylightBias = 0;
    InForce inForce = InForce::Unknown;
};

// Local time minus UTC in minutes, positive east of Greenwich.
std::int16_t UtcOffsetMinutes(const TimeZoneInfo& zone);

// One reading of the clock: the local date and time with milliseconds and the
// zone in force at that moment, taken together so they can never disagree.
struct ClockReading {
    DateTime local;
    TimeZoneInfo zone;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual ClockReading Read() const = 0;
};

// The system clock and the system's zone (TZ / /etc/localtime).
class SystemClock final : public Clock {
public:
    ClockReading Read() const override;
};

// A clock that says what a test tells it to.
class FixedClock final : public Clock {
public:
    explicit FixedClock(ClockReading reading = {}) : reading_(reading) {}
    ClockReading Read() const override { return reading_; }
    void Set(const ClockReading& reading) { reading_ = reading; }
    void SetLocal(const DateTime& local) { reading_.local = local; }
    void AdvanceMilliseconds(std::int64_t ms);

private:
    ClockReading reading_;
};

// Current UTC date and time (with the milliseconds of the same reading).
DateTime UtcNow(const Clock& clock);
// "yyyy-MM-dd HH:nn:ss.mmm", 23 characters, date, time and milliseconds from one reading.
std::string UtcTimestamp(const Clock& clock);

std::string FormatTimestamp(const DateTime& t);   // yyyy-MM-dd HH:nn:ss.mmm
std::string FormatFileStamp(const DateTime& t);   // ddmmyyyy_hhmm
std::string FormatDateStamp(const DateTime& t);   // DDMMYYYY
std::string FormatClockLabel(const DateTime& t);  // hh:mm:ss UTC

} // namespace tavrik
