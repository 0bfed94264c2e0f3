#include "limits/Alarm.h"

namespace tavrik {

namespace {

// A number a script can compare: no unit, no hex, no state name.
std::string PlainNumber(int field, double value) {
    const Display d = Field(field).display;
    if (d == Display::Whole || d == Display::Fixed2)
        if (const std::optional<std::string> shown = ValueText(field, value)) return *shown;
    return LimitNumber(value);
}

// "2026-03-05 14:07:09.250" -> "2026-03-05T14:07:09.250Z": unambiguous for date(1) and scripts.
std::string IsoTime(const std::string& received) {
    if (received.size() < 19 || received[10] != ' ') return received;
    std::string t = received;
    t[10] = 'T';
    return t + "Z";
}

// A call sign is whatever a station on the air sent: control characters
// (a line break in the alarm's one line, an escape for a terminal) become "?".
std::string Printable(const std::string& text) {
    std::string s = text;
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return s;
}

} // namespace

bool RaisesAlarm(const LimitChange& c, AlarmLevel level) {
    if (c.to.level == LimitLevel::Red) return true;
    return c.to.level == LimitLevel::Yellow && level == AlarmLevel::Yellow;
}

AlarmCall MakeAlarmCall(const LimitChange& c, const std::string& received,
                        const std::string& from) {
    const std::string source = Printable(from);
    AlarmCall call;
    call.environment = {
        {"TAVRIK_FIELD", std::string(Field(c.field).caption)},
        {"TAVRIK_STATE", std::string(StateName(c.to))},
        {"TAVRIK_VALUE", PlainNumber(c.field, c.value)},
        {"TAVRIK_LIMIT", c.limit ? LimitNumber(*c.limit) : std::string()},
        {"TAVRIK_UNIT", std::string(Field(c.field).unit)},
        {"TAVRIK_TIME", IsoTime(received)},
        {"TAVRIK_SOURCE", source},
    };
    // The log line without its prefix, so mail or a chat script can pass it on as it is.
    const std::string what = c.LogLine().substr(7);
    call.line = "Tavrik " + what + (received.empty() ? "" : " at " + received + " UTC") +
                (source.empty() ? "" : " from " + source);
    return call;
}

bool AlarmBudget::MayRun(std::int64_t nowMs) {
    while (!starts_.empty() && nowMs - starts_.front() >= kWindowMs)
        starts_.pop_front();
    if (static_cast<int>(starts_.size()) < kRuns) {
        starts_.push_back(nowMs);
        return true;
    }
    if (refused_++ == 0) firstRefusedAt_ = nowMs;
    return false;
}

int AlarmBudget::TakeRefused(std::int64_t nowMs) {
    if (refused_ == 0 || nowMs < firstRefusedAt_ + kWindowMs) return 0;
    const int n = refused_;
    refused_ = 0;
    return n;
}

} // namespace tavrik
