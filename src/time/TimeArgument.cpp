#include "time/TimeArgument.h"

#include <chrono>
#include <cstdio>

namespace tavrik {

namespace {

constexpr std::int64_t kDayMs = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date (integer arithmetic only:
// the import parses one timestamp per frame).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// n digits at text[at]; false when any is not a digit.
bool Digits(std::string_view text, std::size_t at, std::size_t n, int& out) {
    if (at + n > text.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool Valid(const DateTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
           t.hour < 24 && t.minute < 60 && t.second < 60;
}

// "yyyy-MM-dd" then optionally [T ]HH:mm[:ss[.fff]] and Z. The separators
// of the timestamp form are accepted as they are.
std::optional<DateTime> ParseIso(std::string_view s) {
    DateTime t;
    if (!Digits(s, 0, 4, t.year) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, t.month) ||
        s[7] != '-' || !Digits(s, 8, 2, t.day))
        return std::nullopt;
    std::size_t i = 10;
    if (i < s.size() && (s[i] == 'T' || s[i] == ' ')) {
        if (!Digits(s, i + 1, 2, t.hour) || i + 3 >= s.size() || s[i + 3] != ':' ||
            !Digits(s, i + 4, 2, t.minute))
            return std::nullopt;
        i += 6;
        if (i < s.size() && s[i] == ':') {
            if (!Digits(s, i + 1, 2, t.second)) return std::nullopt;
            i += 3;
            if (i < s.size() && s[i] == '.') {
                // Milliseconds: one to three digits, more are cut (not rounded).
                std::size_t n = 0;
                int ms = 0;
                while (i + 1 + n < s.size() && s[i + 1 + n] >= '0' && s[i + 1 + n] <= '9') {
                    if (n < 3) ms = ms * 10 + (s[i + 1 + n] - '0');
                    ++n;
                }
                if (n == 0) return std::nullopt;
                for (std::size_t k = n; k < 3; ++k)
                    ms *= 10;
                t.millisecond = ms;
                i += 1 + n;
            }
        }
    }
    if (i < s.size() && s[i] == 'Z') ++i;
    if (i != s.size() || !Valid(t)) return std::nullopt;
    return t;
}

} // namespace

std::int64_t UnixMilliseconds(const DateTime& t) {
    const std::int64_t days =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return days * kDayMs + ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

DateTime UtcDateTime(std::int64_t unixMs) {
    std::int64_t days = unixMs / kDayMs;
    std::int64_t rest = unixMs % kDayMs;
    if (rest < 0) {
        rest += kDayMs;
        --days;
    }
    using namespace std::chrono;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    DateTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

std::int64_t UnixMillisecondsNow(const Clock& clock) {
    return UnixMilliseconds(UtcNow(clock));
}

TimeArgument ParseTimeArgument(std::string_view text, std::int64_t nowMs) {
    TimeArgument out;
    if (text == "now") {
        out.unixMs = nowMs;
        return out;
    }
    if (text.size() >= 3 && text[0] == '-') {
        std::int64_t n = 0;
        std::size_t i = 1;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && n < 1000000000; ++i)
            n = n * 10 + (text[i] - '0');
        if (i > 1 && i + 1 == text.size()) {
            std::int64_t unit = 0;
            switch (text[i]) {
            case 's':
                unit = 1000;
                break;
            case 'm':
                unit = 60 * 1000;
                break;
            case 'h':
                unit = 3600 * 1000;
                break;
            case 'd':
                unit = kDayMs;
                break;
            case 'w':
                unit = 7 * kDayMs;
                break;
            default:
                break;
            }
            if (unit != 0) {
                out.unixMs = nowMs - n * unit;
                return out;
            }
        }
    } else if (const auto t = ParseIso(text)) {
        out.unixMs = UnixMilliseconds(*t);
        return out;
    }
    // Appended piece by piece: assigning a literal trips a false GCC 12 warning here.
    out.error.push_back('"');
    out.error.append(text);
    out.error += "\" is not a time: give a UTC date and time (2026-12-09, 2026-12-09T15:46, "
                 "2026-12-09T15:46:05.250Z), now, or a span back from now (-90s, -30m, -24h, "
                 "-7d, -2w)";
    return out;
}

std::optional<std::int64_t> ParseTimestamp(std::string_view s) {
    // The fixed form only: positions are checked, not searched.
    DateTime t;
    if (s.size() != 23 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':' || s[19] != '.' || !Digits(s, 0, 4, t.year) || !Digits(s, 5, 2, t.month) ||
        !Digits(s, 8, 2, t.day) || !Digits(s, 11, 2, t.hour) || !Digits(s, 14, 2, t.minute) ||
        !Digits(s, 17, 2, t.second) || !Digits(s, 20, 3, t.millisecond) || !Valid(t))
        return std::nullopt;
    return UnixMilliseconds(t);
}

std::string FormatIsoUtc(std::int64_t unixMs) {
    const DateTime t = UtcDateTime(unixMs);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return buf;
}

} // namespace tavrik
