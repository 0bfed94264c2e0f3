#include "sky/Tle.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr std::size_t kLineLength = 69;

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

// Columns as the format counts them: 1-based, inclusive.
std::string_view Columns(std::string_view line, std::size_t first, std::size_t last) {
    return line.substr(first - 1, last - first + 1);
}

std::string At(int lineNumber) {
    return "line " + std::to_string(lineNumber) + ": ";
}

// The reasons a line is refused; the first found is reported.
struct LineError {
    std::string text;
    explicit operator bool() const { return !text.empty(); }
};

int Checksum(std::string_view line) {
    int sum = 0;
    for (std::size_t i = 0; i + 1 < kLineLength; ++i) {
        const char c = line[i];
        if (c >= '0' && c <= '9')
            sum += c - '0';
        else if (c == '-')
            sum += 1;
    }
    return sum % 10;
}

// Length, checksum and the columns that must be blank, common to both lines.
LineError CheckLayout(std::string_view line, char number, std::initializer_list<int> blanks) {
    if (line.size() != kLineLength)
        return {std::to_string(line.size()) + " columns, an element line has 69"};
    if (line[0] != number || line[1] != ' ')
        return {std::string("does not start with \"") + number + " \""};
    for (int column : blanks)
        if (line[column - 1] != ' ')
            return {"wrong column: column " + std::to_string(column) + " should be blank, not '" +
                    line[column - 1] + "'"};
    const char check = line[kLineLength - 1];
    if (check < '0' || check > '9') return {"no checksum digit in column 69"};
    const int computed = Checksum(line);
    if (computed != check - '0')
        return {"bad checksum: column 69 says " + std::string(1, check) +
                ", the line's digits give " + std::to_string(computed)};
    return {};
}

// A decimal number in some columns (blanks around it allowed, a leading '+' too).
bool Number(std::string_view field, double& out) {
    const std::string trimmed = Trim(field);
    std::string_view digits = trimmed;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '+' || negative)) digits.remove_prefix(1);
    if (digits.empty() || digits[0] == '-' || digits[0] == '+') return false;
    // from_chars does not take ".5": give it the zero people leave out.
    const std::string text =
        std::string(negative ? "-" : "") + (digits[0] == '.' ? "0" : "") + std::string(digits);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

bool Integer(std::string_view field, int& out, bool blankIsZero) {
    const std::string text = Trim(field);
    if (text.empty()) {
        out = 0;
        return blankIsZero;
    }
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && out >= 0;
}

// " 12345-3" = 0.12345e-3: a mantissa with an assumed leading decimal point
// and a one-digit exponent.
bool AssumedDecimal(std::string_view field, double& out) {
    std::string text = Trim(field);
    if (text.size() < 3) return false;
    const char expSign = text[text.size() - 2];
    const char expDigit = text.back();
    if ((expSign != '-' && expSign != '+') || expDigit < '0' || expDigit > '9') return false;
    std::string mantissa = text.substr(0, text.size() - 2);
    double sign = 1;
    if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) {
        sign = mantissa[0] == '-' ? -1 : 1;
        mantissa.erase(0, 1);
    }
    if (mantissa.empty() || mantissa.size() > 5 ||
        !std::all_of(mantissa.begin(), mantissa.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int exponent = (expSign == '-' ? -1 : 1) * (expDigit - '0');
    out = sign * std::stod(mantissa) * std::pow(10.0, exponent - static_cast<int>(mantissa.size()));
    return true;
}

// Five digits, or the Alpha-5 form (a letter for the ten-thousands, I and O skipped).
bool Catalogue(std::string_view field, int& out) {
    const std::string text = Trim(field);
    if (text.empty()) return false;
    int value = 0;
    std::size_t i = 0;
    if (text.size() == 5 && std::isupper(static_cast<unsigned char>(text[0]))) {
        const char c = text[0];
        if (c == 'I' || c == 'O') return false;
        value = 10 + (c - 'A') - (c > 'I') - (c > 'O');
        i = 1;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    out = value;
    return true;
}

std::string Field(const char* name, int first, int last) {
    return std::string(name) + " (columns " + std::to_string(first) + "-" + std::to_string(last) +
           ")";
}

// The epoch "YYDDD.DDDDDDDD": exact to the millisecond plus a remainder.
LineError Epoch(std::string_view field, Tle& tle) {
    const std::string text = Trim(field);
    const std::size_t dot = text.find('.');
    int yy = 0, day = 0;
    if (text.size() < 6 || dot == std::string::npos || dot < 3 ||
        !Integer(std::string_view(text).substr(0, 2), yy, false) ||
        !Integer(std::string_view(text).substr(2, dot - 2), day, false))
        return {Field("epoch", 19, 32) + " is not YYDDD.DDDDDDDD: '" + text + "'"};
    const std::string fraction = text.substr(dot + 1);
    if (fraction.empty() || fraction.size() > 12 ||
        !std::all_of(fraction.begin(), fraction.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {Field("epoch", 19, 32) + " is not YYDDD.DDDDDDDD: '" + text + "'"};
    const int year = yy < 57 ? 2000 + yy : 1900 + yy;
    const int daysInYear = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 366 : 365;
    if (day < 1 || day > daysInYear)
        return {"epoch day " + std::to_string(day) + " is not a day of " + std::to_string(year)};
    // The fraction of a day in milliseconds, by integer arithmetic as far as it goes.
    std::int64_t digits = 0, scale = 1;
    for (char c : fraction) {
        digits = digits * 10 + (c - '0');
        scale *= 10;
    }
    const std::int64_t whole = digits * 86400000 / scale;
    const double remainder =
        static_cast<double>(digits * 86400000 - whole * scale) / static_cast<double>(scale);
    tle.epochMs = UnixMilliseconds(DateTime{year, 1, 1}) + (day - 1) * 86400000LL + whole;
    tle.epochRemainderMs = remainder;
    tle.epochJd = JulianDate(tle.epochMs) + remainder / 86400000.0;
    return {};
}

LineError ReadLine1(std::string_view l, Tle& tle) {
    if (auto e = CheckLayout(l, '1', {9, 18, 33, 44, 53, 62, 64})) return e;
    if (!Catalogue(Columns(l, 3, 7), tle.catalogue))
        return {Field("catalogue number", 3, 7) + " is not a number: '" +
                std::string(Columns(l, 3, 7)) + "'"};
    tle.classification = l[7];
    tle.designator = Trim(Columns(l, 10, 17));
    if (auto e = Epoch(Columns(l, 19, 32), tle)) return e;
    if (!Number(Columns(l, 34, 43), tle.ndot))
        return {Field("mean motion derivative", 34, 43) + " is not a number"};
    if (!AssumedDecimal(Columns(l, 45, 52), tle.nddot))
        return {Field("second derivative", 45, 52) + " is not of the form ' 12345-6'"};
    if (!AssumedDecimal(Columns(l, 54, 61), tle.bstar))
        return {Field("drag term", 54, 61) + " is not of the form ' 12345-6'"};
    if (!Integer(Columns(l, 65, 68), tle.elementSet, true))
        return {Field("element set number", 65, 68) + " is not a number"};
    return {};
}

LineError ReadLine2(std::string_view l, Tle& tle) {
    if (auto e = CheckLayout(l, '2', {8, 17, 26, 34, 43, 52})) return e;
    int catalogue = 0;
    if (!Catalogue(Columns(l, 3, 7), catalogue) || catalogue != tle.catalogue)
        return {Field("catalogue number", 3, 7) + " '" + std::string(Columns(l, 3, 7)) +
                "' is not line 1's " + std::to_string(tle.catalogue)};
    struct Angle {
        const char* name;
        int first, last;
        double max;
        double* out;
    };
    const Angle angles[] = {{"inclination", 9, 16, 180, &tle.inclo},
                            {"right ascension of the node", 18, 25, 360, &tle.nodeo},
                            {"argument of perigee", 35, 42, 360, &tle.argpo},
                            {"mean anomaly", 44, 51, 360, &tle.mo}};
    for (const Angle& a : angles) {
        double deg = 0;
        if (!Number(Columns(l, a.first, a.last), deg))
            return {Field(a.name, a.first, a.last) + " is not a number: '" +
                    std::string(Columns(l, a.first, a.last)) + "'"};
        if (deg < 0 || deg > a.max)
            return {std::string(a.name) + " " + Trim(Columns(l, a.first, a.last)) +
                    " is outside 0-" + std::to_string(static_cast<int>(a.max)) + " degrees"};
        *a.out = deg * kDegree;
    }
    const std::string_view ecc = Columns(l, 27, 33);
    if (!std::all_of(ecc.begin(), ecc.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {Field("eccentricity", 27, 33) + " is not seven digits: '" + std::string(ecc) + "'"};
    tle.ecco = std::stod(std::string(ecc)) * 1e-7;
    if (tle.ecco >= 0.999)
        return {"eccentricity 0." + std::string(ecc) + " >= 0.999: not an orbit SGP4 can follow"};
    double revsPerDay = 0;
    if (!Number(Columns(l, 53, 63), revsPerDay))
        return {Field("mean motion", 53, 63) + " is not a number: '" +
                std::string(Columns(l, 53, 63)) + "'"};
    if (revsPerDay <= 0)
        return {"mean motion " + Trim(Columns(l, 53, 63)) + " revolutions a day <= 0"};
    tle.noKozai = revsPerDay * 2 * std::numbers::pi / 1440.0;
    if (!Integer(Columns(l, 64, 68), tle.revolution, true))
        return {Field("revolution number", 64, 68) + " is not a number"};
    return {};
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::string Tle::Label() const {
    return name.empty() ? std::to_string(catalogue) : name;
}

TleFile ParseTles(std::string_view text) {
    TleFile file;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(at, end - at));
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    auto isElement = [](const std::string& l, char n) {
        return l.size() >= 2 && l[0] == n && l[1] == ' ';
    };
    std::string name;
    int nameLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        const int number = static_cast<int>(i) + 1;
        if (l.empty() || l[0] == '#') continue;
        if (isElement(l, '2')) {
            if (nameLine)
                file.errors.push_back(At(nameLine) + "a name with no element set after it");
            file.errors.push_back(At(number) + "line 2 of a set without its line 1");
            name.clear();
            nameLine = 0;
            continue;
        }
        if (!isElement(l, '1')) {
            if (nameLine)
                file.errors.push_back(At(nameLine) + "a name with no element set after it");
            // Three-line files from some sources mark the name line with "0 ".
            name = Trim(l.starts_with("0 ") ? std::string_view(l).substr(2) : std::string_view(l));
            nameLine = number;
            continue;
        }
        Tle tle;
        tle.name = name;
        tle.lineNumber = number;
        name.clear();
        nameLine = 0;
        if (i + 1 >= lines.size() || !isElement(lines[i + 1], '2')) {
            file.errors.push_back(At(number) + "line 1 of a set without its line 2");
            continue;
        }
        tle.line1 = l;
        tle.line2 = lines[i + 1];
        ++i;
        if (auto e = ReadLine1(tle.line1, tle)) {
            file.errors.push_back(At(number) + e.text);
            continue;
        }
        if (auto e = ReadLine2(tle.line2, tle)) {
            file.errors.push_back(At(number + 1) + e.text);
            continue;
        }
        file.sets.push_back(std::move(tle));
    }
    if (nameLine) file.errors.push_back(At(nameLine) + "a name with no element set after it");
    return file;
}

std::vector<Tle> SetsFor(const std::vector<Tle>& sets, std::string_view satellite) {
    const std::string wanted = Trim(satellite);
    int catalogue = -1;
    if (!wanted.empty() &&
        std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; }))
        catalogue = wanted.size() <= 9 ? std::stoi(wanted) : -1;
    const std::string lower = Lower(wanted);
    std::vector<Tle> out;
    for (const Tle& t : sets)
        if (catalogue >= 0 ? t.catalogue == catalogue : (!lower.empty() && Lower(t.name) == lower))
            out.push_back(t);
    std::stable_sort(out.begin(), out.end(), [](const Tle& a, const Tle& b) {
        return a.epochMs != b.epochMs ? a.epochMs < b.epochMs
                                      : a.epochRemainderMs < b.epochRemainderMs;
    });
    return out;
}

double JulianDate(std::int64_t unixMs) {
    // Whole days and the rest apart, so that the day's fraction keeps its digits.
    const std::int64_t days = unixMs >= 0 ? unixMs / 86400000 : -((-unixMs + 86399999) / 86400000);
    return 2440587.5 + static_cast<double>(days) +
           static_cast<double>(unixMs - days * 86400000) / 86400000.0;
}

std::int64_t UnixMsFromJulian(double jd) {
    return static_cast<std::int64_t>(std::llround((jd - 2440587.5) * 86400000.0));
}

} // namespace tavrik
