#include "files/InfluxLine.h"

#include <cmath>

#include "files/TelemetryExport.h"

namespace tavrik {

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = static_cast<int>(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// The field keys, escaped once.
const std::array<std::string, kFieldCount>& FieldKeys() {
    static const std::array<std::string, kFieldCount> keys = [] {
        std::array<std::string, kFieldCount> k;
        for (const FieldSpec& f : FieldTable())
            AppendInfluxKey(k[static_cast<std::size_t>(f.index)], f.caption);
        return k;
    }();
    return keys;
}

} // namespace

std::optional<std::int64_t> InfluxTimestamp(std::string_view t) {
    if (t.size() != 19 && t.size() != 23) return std::nullopt;
    if (t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    int y, mo, d, h, mi, s, ms = 0;
    if (!Digits(t, 0, 4, y) || !Digits(t, 5, 2, mo) || !Digits(t, 8, 2, d) ||
        !Digits(t, 11, 2, h) || !Digits(t, 14, 2, mi) || !Digits(t, 17, 2, s))
        return std::nullopt;
    if (t.size() == 23 && (t[19] != '.' || !Digits(t, 20, 3, ms))) return std::nullopt;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 ||
        s > 59)
        return std::nullopt;
    const std::int64_t seconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return (seconds * 1000 + ms) * 1000000;
}

void AppendInfluxKey(std::string& out, std::string_view text, bool measurement) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\\') {
            out += '?';
            continue;
        }
        if (c == ',' || c == ' ' || (c == '=' && !measurement)) out += '\\';
        out += c;
    }
}

bool AppendInfluxLine(std::string& out, std::string_view source, std::string_view receptionTime,
                      const std::array<double, kFieldCount>& values,
                      const InfluxFields& extra) {
    const auto ns = InfluxTimestamp(receptionTime);
    if (!ns) return false;
    const std::size_t start = out.size();
    AppendInfluxKey(out, kInfluxMeasurement, true);
    if (!source.empty()) {
        out += ",source=";
        AppendInfluxKey(out, source);
    }
    char sep = ' ';
    const auto& keys = FieldKeys();
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) continue; // the protocol has no NaN or infinity
        out += sep;
        sep = ',';
        out += keys[i];
        out += '=';
        AppendNumber(out, values[i]);
    }
    for (const auto& [key, v] : extra) {
        if (!std::isfinite(v)) continue;
        out += sep;
        sep = ',';
        AppendInfluxKey(out, key);
        out += '=';
        AppendNumber(out, v);
    }
    if (sep == ' ') { // no field: not a point
        out.resize(start);
        return false;
    }
    out += ' ';
    out += std::to_string(*ns);
    out += '\n';
    return true;
}

} // namespace tavrik
