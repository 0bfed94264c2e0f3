#include "station/EventLog.h"

#include <string_view>

namespace tavrik {

namespace {

// The lines one outside cause can repeat without end, by how they begin.
constexpr std::string_view kRepeatingCauses[] = {
    "KISS frame of ",        // a modem sending frames longer than the limit
    "KISS log write failed", // a disk that refuses the log
};

std::string_view RepeatCause(std::string_view text) {
    for (std::string_view cause : kRepeatingCauses)
        if (text.starts_with(cause)) return cause;
    return {};
}

} // namespace

void EventLog::Prepend(const std::string& timestamp, const std::string& text) {
    const std::string_view cause = RepeatCause(text);
    if (cause.empty()) return PrependRaw(timestamp + ": " + text);
    const auto now = now_ ? now_()
                          : std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch());
    std::uint64_t held = 0;
    if (!repeats_.Pass(cause, now, held)) return;
    std::string line = timestamp + ": " + text;
    if (held > 0) line += " (" + std::to_string(held) + " more like it in the last minute)";
    PrependRaw(line);
}

void EventLog::PrependRaw(const std::string& text) {
    Trim(1);
    entries_.push_front(text);
    Tell(entries_.front(), true);
}

void EventLog::AppendRaw(const std::string& text) {
    Trim(1);
    entries_.push_back(text);
    Tell(entries_.back(), false);
}

void EventLog::SetLimit(std::size_t limit) {
    limit_ = limit;
    Trim(0);
    for (EventLogListener* l : listeners_)
        l->LimitSet(limit);
}

void EventLog::Tell(const std::string& entry, bool onTop) {
    for (EventLogListener* l : listeners_)
        l->EntryAdded(entry, onTop);
}

void EventLog::AddListener(EventLogListener& listener, bool catchUp) {
    if (catchUp)
        for (std::size_t i = entries_.size(); i-- > 0;)
            listener.EntryAdded(entries_[i], true);
    listeners_.push_back(&listener);
}

void EventLog::RemoveListener(EventLogListener& listener) {
    std::erase(listeners_, &listener);
}

// Makes room for the given number of new entries within the limit.
void EventLog::Trim(std::size_t room) {
    while (limit_ > 0 && !entries_.empty() && entries_.size() + room > limit_) {
        entries_.pop_back();
        ++dropped_;
    }
}

std::string EventLog::DebugText() const {
    std::string s = Text();
    // Appended piece by piece: GCC 12 at -O3 (the arm64 release build) warns of
    // a memcpy overlap in "(" + std::string&& that cannot happen (-Wrestrict).
    if (dropped_ > 0) {
        s += '(';
        s += std::to_string(dropped_);
        s += " older entries dropped: EVENT_LOG_LINES=";
        s += std::to_string(limit_);
        s += ")\r\n";
    }
    return s;
}

std::string EventLog::Text() const {
    std::size_t n = 0;
    for (const auto& e : entries_)
        n += e.size() + 2;
    std::string s;
    s.reserve(n);
    for (const auto& e : entries_) {
        s += e;
        s += "\r\n";
    }
    return s;
}

} // namespace tavrik
