#include "files/TelemetryExport.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "files/SafeText.h"
#include "files/StationConfig.h"

namespace tavrik {

namespace {

bool IsState(const FieldSpec& f) {
    return f.display == Display::OpsState || f.display == Display::EpsModeState ||
           f.display == Display::EpsTrackState;
}

void AppendInteger(std::string& out, long long n) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

// Length of the UTF-8 sequence that starts at s[i], or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4
                          : lead >= 0xE0               ? 3
                          : lead >= 0xC2               ? 2
                                                       : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// Longest number text: a sign, 19 digits, a point, six decimals, or to_chars'
// shortest form of a double (at most 24 characters).
constexpr std::size_t kNumberRoom = 32;
// State names are short; longer texts are cut to this.
constexpr std::size_t kNameRoom = 32;

constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324"
                          "25262728293031323334353637383940414243444546474849"
                          "50515253545556575859606162636465666768697071727374"
                          "75767778798081828384858687888990919293949596979899";

// Decimal digits of v at p; returns the end. Below 10^8 (every whole value of
// the frame, every integer part of a calibrated one) the digits are made
// without a branch on their count: with varying values such branches are
// mispredicted, and they were the larger part of the decoder's time.
char* WriteDecimal(char* p, unsigned long long v) {
    if (v >= 100000000) return std::to_chars(p, p + 20, v).ptr;
    const auto u = static_cast<unsigned>(v);
    auto pair = [](unsigned two) {
        std::uint16_t d;
        std::memcpy(&d, kPairs + 2 * two, 2);
        return std::uint64_t{d};
    };
    static_assert(std::endian::native == std::endian::little, "digits are stored low byte first");
    // Eight digits in one register (the first in the lowest byte, as memory
    // holds them), shifted to drop the leading zeros, stored with one write.
    std::uint64_t digits = pair(u / 1000000) | pair(u / 10000 % 100) << 16 |
                           pair(u / 100 % 100) << 32 | pair(u % 100) << 48;
    const int n = 1 + (u >= 10) + (u >= 100) + (u >= 1000) + (u >= 10000) + (u >= 100000) +
                  (u >= 1000000) + (u >= 10000000);
    digits >>= 8 * (8 - n);
    std::memcpy(p, &digits, 8); // n digits, then zero bytes the caller writes over
    return p + n;
}

// Writes the number at p (room for kNumberRoom characters) and returns its end.
char* FormatNumber(char* p, double value) {
    if (!std::isfinite(value)) return p; // no figure: an empty field
    const double magnitude = std::fabs(value);
    if (magnitude < 9e15) {
        const auto whole = static_cast<long long>(value);
        if (static_cast<double>(whole) == value) {
            if (whole < 0) *p++ = '-';
            return WriteDecimal(p, static_cast<unsigned long long>(whole < 0 ? -whole : whole));
        }
    }
    if (magnitude >= 1e12) return std::to_chars(p, p + kNumberRoom, value).ptr;
    const auto m = static_cast<unsigned long long>(magnitude * 1e6 + 0.5);
    if (value < 0 && m != 0) *p++ = '-';
    p = WriteDecimal(p, m / 1000000);
    const auto frac = static_cast<unsigned>(m % 1000000);
    if (frac == 0) return p;
    *p++ = '.';
    for (const unsigned pair : {frac / 10000, frac / 100 % 100, frac % 100}) {
        std::memcpy(p, kPairs + 2 * pair, 2);
        p += 2;
    }
    while (p[-1] == '0')
        --p; // frac is not 0, so a digit other than 0 stops this
    return p;
}

bool NeedsQuotes(std::string_view text) {
    for (char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    return false;
}

} // namespace

std::vector<std::string> ExportColumnNames(ExportColumns columns) {
    std::vector<std::string> names;
    if (columns.record) names.emplace_back("Record");
    names.emplace_back("Reception time [UTC]");
    names.emplace_back("File");
    names.emplace_back("Source");
    for (const FieldSpec& f : FieldTable()) {
        std::string name(f.caption);
        if (!f.unit.empty()) name += " [" + std::string(f.unit) + "]";
        names.push_back(name);
        if (IsState(f)) names.push_back(std::string(f.caption) + " name");
    }
    if (columns.frame) names.emplace_back("Frame");
    return names;
}

TelemetryRowWriter::TelemetryRowWriter(ExportFormat format, ExportColumns columns)
    : format_(format), columns_(columns), names_(ExportColumnNames(columns)) {
    for (const std::string& name : names_) {
        std::string key;
        AppendJsonString(key, name);
        jsonKeys_.push_back(key + ":");
    }
}

void TelemetryRowWriter::AppendHeader(std::string& out) const {
    if (format_ != ExportFormat::Csv) return;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (i > 0) out += ',';
        AppendCsvField(out, names_[i]);
    }
    out += "\r\n";
}

void TelemetryRowWriter::AppendRow(const ExportRow& row, std::string& out) const {
    if (format_ == ExportFormat::Csv)
        AppendCsv(row, out);
    else
        AppendJson(row, out);
}

void TelemetryRowWriter::AppendCsv(const ExportRow& row, std::string& out) const {
    if (columns_.record) {
        AppendInteger(out, row.record);
        out += ',';
    }
    AppendCsvReceived(out, row.receptionTime);
    out += ',';
    AppendCsvReceived(out, row.file); // a file may be named "=1+1.kss"
    out += ',';
    AppendCsvReceived(out, row.source);
    // The values go through one buffer and one append: this is the hot loop of
    // the command-line decoder.
    char buf[kFieldCount * (1 + kNumberRoom) + 3 * (1 + kNameRoom)];
    char* p = buf;
    for (const FieldSpec& f : FieldTable()) {
        *p++ = ',';
        const double v = row.values ? (*row.values)[static_cast<std::size_t>(f.index)] : 0;
        if (row.values) p = FormatNumber(p, v);
        if (!IsState(f)) continue;
        *p++ = ',';
        // State names are fixed words: nothing in them needs quoting.
        if (const auto name = row.values ? ValueText(f.index, v) : std::nullopt)
            p = std::copy_n(name->data(), std::min(name->size(), kNameRoom), p);
    }
    out.append(buf, p);
    if (columns_.frame) {
        out += ',';
        AppendCsvField(out, row.frame);
    }
    out += "\r\n";
}

void TelemetryRowWriter::AppendJson(const ExportRow& row, std::string& out) const {
    std::size_t k = 0;
    auto key = [&]() -> std::string& {
        out += k == 0 ? '{' : ',';
        out += jsonKeys_[k++];
        return out;
    };
    if (columns_.record) AppendInteger(key(), row.record);
    if (row.receptionTime.empty())
        key() += "null";
    else
        AppendJsonString(key(), row.receptionTime);
    AppendJsonString(key(), row.file);
    AppendJsonString(key(), row.source);
    for (const FieldSpec& f : FieldTable()) {
        const double v = row.values ? (*row.values)[static_cast<std::size_t>(f.index)] : 0;
        if (row.values && std::isfinite(v))
            AppendNumber(key(), v);
        else
            key() += "null";
        if (!IsState(f)) continue;
        const auto name = row.values ? ValueText(f.index, v) : std::nullopt;
        if (name)
            AppendJsonString(key(), *name);
        else
            key() += "null";
    }
    if (columns_.frame) AppendJsonString(key(), row.frame);
    out += "}\n";
}

void AppendCsvField(std::string& out, std::string_view text) {
    if (!NeedsQuotes(text)) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendCsvReceived(std::string& out, std::string_view text) {
    // Control characters (ESC, NUL, line breaks) from a record never reach the
    // file raw: a terminal or a line-based tool would act on them.
    const std::string escaped = HasControls(text) ? EscapeControls(text) : std::string();
    if (!escaped.empty()) text = escaped;
    // Anyone on the air can send a call sign such as "=1+2"; a spreadsheet
    // would take it for a formula. A leading apostrophe keeps it text.
    // A sign alone ("-" for standard input) is no formula.
    if (text.size() > 1 && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
        std::string guarded = "'";
        guarded += text;
        AppendCsvField(out, guarded);
        return;
    }
    AppendCsvField(out, text);
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8Length(text, i)) {
            out.append(text.substr(i, n));
            i += n - 1;
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += '"';
}

void AppendNumber(std::string& out, double value) {
    char buf[kNumberRoom];
    out.append(buf, FormatNumber(buf, value));
}

std::string_view ReceptionTime(std::span<const std::uint8_t> timestampBody) {
    std::string_view text(reinterpret_cast<const char*>(timestampBody.data()),
                          timestampBody.size());
    if (!text.empty()) text.remove_prefix(1); // the record's kind byte
    if (text.ends_with(" UTC")) text.remove_suffix(4);
    return text;
}

std::string TelemetryExportFileName(const std::string& folder, std::string_view mycall,
                                    const DateTime& utc) {
    return StationFileName(folder, mycall, utc, ".csv");
}

} // namespace tavrik
