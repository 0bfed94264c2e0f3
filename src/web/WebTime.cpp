#include "web/WebTime.h"

#include <charconv>
#include <cstdio>

namespace tavrik {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool Digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
    if (at + n > s.size()) return false;
    for (std::size_t i = at; i < at + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    std::from_chars(s.data() + at, s.data() + at + n, out);
    return true;
}

bool Valid(const DateTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 &&
           t.minute <= 59 && t.second <= 60;
}

std::optional<std::int64_t> Iso(std::string_view s) {
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.remove_suffix(1);
    DateTime t;
    if (!Digits(s, 0, 4, t.year) || s.size() < 10 || s[4] != '-' || s[7] != '-' ||
        !Digits(s, 5, 2, t.month) || !Digits(s, 8, 2, t.day))
        return std::nullopt;
    if (s.size() > 10) {
        if ((s[10] != 'T' && s[10] != 't' && s[10] != ' ') || s.size() < 16 || s[13] != ':' ||
            !Digits(s, 11, 2, t.hour) || !Digits(s, 14, 2, t.minute))
            return std::nullopt;
        std::size_t at = 16;
        if (s.size() > at) {
            if (s[at] != ':' || !Digits(s, at + 1, 2, t.second)) return std::nullopt;
            at += 3;
        }
        if (s.size() > at) {
            if (s[at] != '.' || !Digits(s, at + 1, 3, t.millisecond) || s.size() != at + 4)
                return std::nullopt;
        }
    }
    if (!Valid(t)) return std::nullopt;
    return UnixMs(t);
}

} // namespace

std::int64_t UnixMs(const DateTime& t) {
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
    return ((days * 24 + t.hour) * 60 + t.minute) * 60'000 + t.second * 1000 + t.millisecond;
}

std::optional<std::int64_t> TimestampMs(std::string_view text) {
    if (text.size() != 23 || text[10] != ' ' || text[19] != '.') return std::nullopt;
    return Iso(text);
}

std::optional<std::int64_t> ParseWhen(std::string_view text, std::int64_t nowMs) {
    if (text == "now") return nowMs;
    if (text.size() >= 3 && text.front() == '-') {
        std::int64_t n = 0;
        const char* end = text.data() + text.size() - 1;
        const auto [ptr, ec] = std::from_chars(text.data() + 1, end, n);
        if (ec != std::errc{} || ptr != end || n < 0 || n > 100'000'000) return std::nullopt;
        static constexpr std::pair<char, std::int64_t> kUnits[] = {
            {'s', 1000}, {'m', 60'000}, {'h', 3'600'000}, {'d', 86'400'000}, {'w', 604'800'000}};
        for (const auto& [unit, ms] : kUnits)
            if (text.back() == unit) return nowMs - n * ms;
        return std::nullopt;
    }
    return Iso(text);
}

std::string IsoUtc(std::int64_t ms) {
    if (ms == 0) return {};
    std::int64_t days = ms >= 0 ? ms / 86'400'000 : -((-ms + 86'399'999) / 86'400'000);
    std::int64_t rest = ms - days * 86'400'000;
    // civil_from_days
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  static_cast<long long>(y), m, d, static_cast<int>(rest / 3'600'000),
                  static_cast<int>(rest / 60'000 % 60), static_cast<int>(rest / 1000 % 60),
                  static_cast<int>(rest % 1000));
    return buf;
}

} // namespace tavrik
