#include "limits/Limits.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tavrik {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower case, blanks run together: how captions and state names are compared,
// so that a file lined up with tabs or typed in another case still matches.
std::string Key(std::string_view text) {
    std::string key;
    bool blank = false;
    for (char c : text) {
        if (IsBlank(c)) {
            blank = !key.empty();
            continue;
        }
        if (blank) key += ' ';
        blank = false;
        key += Lower(c);
    }
    return key;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string Joined(const std::vector<std::string_view>& words, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) text += ' ';
        text += words[i];
    }
    return text;
}

bool IsStateField(int field) {
    const Display d = Field(field).display;
    return d == Display::OpsState || d == Display::EpsModeState || d == Display::EpsTrackState;
}

// The captions as compared, and the most words any of them has.
struct CaptionKeys {
    std::array<std::string, kFieldCount> keys;
    std::size_t maxWords = 0;
    CaptionKeys() {
        for (const FieldSpec& f : FieldTable()) {
            std::string& key = keys[static_cast<std::size_t>(f.index)];
            key = Key(f.caption);
            maxWords = std::max<std::size_t>(maxWords, 1 + std::count(key.begin(), key.end(), ' '));
        }
    }
};

// The field whose caption the first words are: the longest match, so that a
// caption that begins another one cannot shadow it. Only as many words as the
// longest caption has are tried: a line of any length costs the same.
int CaptionField(const std::vector<std::string_view>& words, std::size_t& used) {
    static const CaptionKeys captions;
    for (std::size_t k = std::min(words.size(), captions.maxWords); k > 0; --k) {
        const std::string key = Key(Joined(words, 0, k));
        for (std::size_t f = 0; f < captions.keys.size(); ++f)
            if (captions.keys[f] == key) {
                used = k;
                return static_cast<int>(f);
            }
    }
    return -1;
}

std::optional<double> Number(std::string_view word) {
    double v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (ec != std::errc{} || end != word.data() + word.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> WholeNumber(std::string_view word) {
    int v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (word.empty() || ec != std::errc{} || end != word.data() + word.size()) return std::nullopt;
    return v;
}

// Quoted for an error line, cut short and with control characters written
// as \xNN: whatever the file holds gives one plain line of the log.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string quoted(1, '"');
    for (const char c : text.substr(0, kShown)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            quoted += c;
            continue;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        quoted += "\\x";
        quoted += kHex[u >> 4];
        quoted += kHex[u & 0xF];
    }
    if (text.size() > kShown) quoted += "...";
    quoted += '"';
    return quoted;
}

constexpr const char* kColumnNames[4] = {"red-low", "yellow-low", "yellow-high", "red-high"};

// Returns an error reason, or "" when the persistence word is good.
std::string ReadPersistence(std::string_view word, FieldLimits& limits) {
    const std::optional<int> n = WholeNumber(word);
    if (!n || *n < 1 || *n > kMaxPersistence)
        return "persistence " + Quoted(word) + " is not a whole number from 1 to " +
               std::to_string(kMaxPersistence);
    limits.persistence = *n;
    return {};
}

std::string ReadNumbers(int field, const std::vector<std::string_view>& rest, FieldLimits& out) {
    const std::string caption(Field(field).caption);
    for (std::string_view w : rest)
        if (w.find('=') != std::string_view::npos)
            return caption + " takes numbers, not state names";
    if (rest.size() < 4 || rest.size() > 5)
        return caption +
               " needs four limits (red-low yellow-low yellow-high red-high, - for none)" +
               " and an optional persistence, not " + std::to_string(rest.size()) + " words";
    std::optional<double>* columns[4] = {&out.redLow, &out.yellowLow, &out.yellowHigh,
                                         &out.redHigh};
    for (std::size_t i = 0; i < 4; ++i) {
        if (rest[i] == "-") continue;
        *columns[i] = Number(rest[i]);
        if (!*columns[i])
            return std::string(kColumnNames[i]) + " " + Quoted(rest[i]) + " is not a number";
    }
    // Each limit at or beyond the one before it: a yellow band outside its red one is a typo.
    int before = -1;
    for (int i = 0; i < 4; ++i) {
        if (!*columns[i]) continue;
        if (before >= 0 && **columns[i] < **columns[before])
            return std::string(kColumnNames[i]) + " " + LimitNumber(**columns[i]) + " is below " +
                   kColumnNames[before] + " " + LimitNumber(**columns[before]);
        before = i;
    }
    return rest.size() == 5 ? ReadPersistence(rest[4], out) : std::string();
}

// The states a state field can show, as the window names them.
struct NamedState {
    std::string name, key;
    int value;
};
std::vector<NamedState> StateNames(int field) {
    std::vector<NamedState> names;
    for (int v = 0; v <= 255; ++v)
        if (const std::optional<std::string> name = ValueText(field, v))
            names.push_back({*name, Key(*name), v});
    return names;
}

std::string ReadStates(int field, const std::vector<std::string_view>& words, FieldLimits& out) {
    const std::string caption(Field(field).caption);
    std::vector<std::string_view> rest = words;
    // "-" alone (or four of them, lined up with the number columns): no limits.
    if (std::all_of(rest.begin(), rest.end(), [](std::string_view w) { return w == "-"; }))
        return {};
    if (rest.size() > 1 && WholeNumber(rest.back())) {
        if (std::string why = ReadPersistence(rest.back(), out); !why.empty()) return why;
        rest.pop_back();
    }
    std::string lists[2]; // yellow, red: the names as written
    bool given[2] = {false, false};
    int current = -1;
    for (std::string_view w : rest) {
        const std::string key = Key(w);
        std::size_t skip = 0;
        if (key.starts_with("yellow=")) {
            current = 0;
            skip = 7;
        } else if (key.starts_with("red=")) {
            current = 1;
            skip = 4;
        } else if (current < 0) {
            return caption + " is shown as state names: give yellow=NAME or red=NAME, not " +
                   Quoted(w);
        }
        std::string& list = lists[current];
        if (skip > 0 && given[current]) list += ',';
        if (skip == 0 && !list.empty() && list.back() != ',') list += ' ';
        given[current] = true;
        list += w.substr(skip);
    }
    const auto known = StateNames(field);
    std::vector<int>* targets[2] = {&out.yellowStates, &out.redStates};
    for (int k = 0; k < 2; ++k) {
        std::string_view list = lists[k];
        while (given[k]) {
            const std::size_t comma = list.find(',');
            const std::string name = Key(list.substr(0, comma));
            if (name.empty()) return caption + ": an empty state name";
            const auto hit = std::find_if(known.begin(), known.end(),
                                          [&](const NamedState& n) { return n.key == name; });
            if (hit == known.end()) {
                std::string all;
                for (const NamedState& n : known)
                    all += (all.empty() ? "" : ", ") + n.name;
                return caption + " has no state " + Quoted(name) + " (its states: " + all + ")";
            }
            std::vector<int>& states = *targets[k];
            if (std::find(states.begin(), states.end(), hit->value) == states.end())
                states.push_back(hit->value);
            if (comma == std::string_view::npos) break;
            list.remove_prefix(comma + 1);
        }
    }
    for (int v : out.redStates)
        if (std::find(out.yellowStates.begin(), out.yellowStates.end(), v) !=
            out.yellowStates.end())
            return caption + ": " + Quoted(*ValueText(field, v)) + " is both yellow and red";
    return {};
}

// A word that starts a comment: "#" alone or followed by text after a blank.
// Captions such as "3v3 #1 curr" hold a "#" too, but never one standing alone.
std::string_view WithoutComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '#' || (i > 0 && !IsBlank(line[i - 1]))) continue;
        const bool wordStart = line.find_first_not_of(" \t") == i;
        if (wordStart || i + 1 == line.size() || IsBlank(line[i + 1])) return line.substr(0, i);
    }
    return line;
}

} // namespace

int LimitsTable::InForce() const {
    return static_cast<int>(
        std::count_if(fields.begin(), fields.end(), [](const FieldLimits& f) { return f.Any(); }));
}

LimitsParse ParseLimits(std::string_view text) {
    LimitsParse r;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3); // an editor's byte order mark
    std::array<int, kFieldCount> lineOf{};
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t eol = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(std::min(eol + 1, text.size()));
        ++lineNumber;
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::vector<std::string_view> words = Words(WithoutComment(line));
        if (words.empty()) continue;
        auto fail = [&](std::string reason) {
            if (r.errors.size() < kMaxLimitsErrors)
                r.errors.push_back({lineNumber, std::move(reason)});
            else
                ++r.moreErrors;
        };
        std::size_t used = 0;
        const int field = CaptionField(words, used);
        if (field < 0) {
            // Name what was taken for the caption: the words before the limits.
            std::size_t end = words.size();
            while (end > 1 && (Number(words[end - 1]) || words[end - 1] == "-" ||
                               words[end - 1].find('=') != std::string_view::npos))
                --end;
            fail("unknown caption " + Quoted(Joined(words, 0, end)));
            continue;
        }
        const auto f = static_cast<std::size_t>(field);
        if (lineOf[f] != 0) {
            fail(std::string(Field(field).caption) + " already has limits on line " +
                 std::to_string(lineOf[f]));
            continue;
        }
        const std::vector<std::string_view> rest(words.begin() + static_cast<long>(used),
                                                 words.end());
        if (rest.empty()) {
            fail(std::string(Field(field).caption) + " has no limits");
            continue;
        }
        FieldLimits limits;
        std::string why = IsStateField(field) ? ReadStates(field, rest, limits)
                                              : ReadNumbers(field, rest, limits);
        if (!why.empty()) {
            fail(std::move(why));
            continue;
        }
        lineOf[f] = lineNumber;
        r.table.fields[f] = std::move(limits);
    }
    return r;
}

LimitsFileRead ReadLimitsFile(const std::string& path) {
    LimitsFileRead r;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        r.unreadable = std::strerror(errno);
        return r;
    }
    // No more than a limits file can sensibly hold is read (a wrong file, a
    // device or a pipe would otherwise be read whole).
    std::string text(kMaxLimitsBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        r.unreadable = "read error";
        return r;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxLimitsBytes) {
        r.unreadable = "larger than 1 MiB, not a limits file";
        return r;
    }
    r.parse = ParseLimits(text);
    return r;
}

std::string ErrorText(const LimitsLineError& e) {
    return "line " + std::to_string(e.line) + ": " + e.reason;
}

std::string MoreErrorsText(const LimitsParse& p) {
    if (p.moreErrors == 0) return {};
    // Thousands apart by a space, as people write them: "49 980".
    std::string digits = std::to_string(p.moreErrors);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, ' ');
    return "and " + digits + (p.moreErrors == 1 ? " more bad line" : " more bad lines");
}

FieldLimitState Classify(const FieldLimits& l, double v) {
    if (!l.Any()) return {};
    if (!l.yellowStates.empty() || !l.redStates.empty()) {
        const auto has = [v](const std::vector<int>& states) {
            return std::find(states.begin(), states.end(), v) != states.end();
        };
        if (has(l.redStates)) return {LimitLevel::Red, LimitSide::State};
        if (has(l.yellowStates)) return {LimitLevel::Yellow, LimitSide::State};
        return {LimitLevel::InRange, LimitSide::None};
    }
    if (l.redLow && v < *l.redLow) return {LimitLevel::Red, LimitSide::Low};
    if (l.redHigh && v > *l.redHigh) return {LimitLevel::Red, LimitSide::High};
    if (l.yellowLow && v < *l.yellowLow) return {LimitLevel::Yellow, LimitSide::Low};
    if (l.yellowHigh && v > *l.yellowHigh) return {LimitLevel::Yellow, LimitSide::High};
    return {LimitLevel::InRange, LimitSide::None};
}

FrameLimitStates ClassifyAll(const LimitsTable& table, const std::array<double, kFieldCount>& v) {
    FrameLimitStates states;
    for (std::size_t f = 0; f < states.fields.size(); ++f)
        states.fields[f] = Classify(table.fields[f], v[f]);
    return states;
}

std::optional<double> CrossedLimit(const FieldLimits& l, FieldLimitState s) {
    const bool red = s.level == LimitLevel::Red;
    if (s.side == LimitSide::Low) return red ? l.redLow : l.yellowLow;
    if (s.side == LimitSide::High) return red ? l.redHigh : l.yellowHigh;
    return std::nullopt;
}

std::string LimitNumber(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace tavrik
