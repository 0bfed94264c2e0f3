#include "app/EventLog.h"

namespace tavrik {

void EventLog::Prepend(const std::string& timestamp, const std::string& text) {
    PrependRaw(timestamp + ": " + text);
}

void EventLog::PrependRaw(const std::string& text) {
    entries_.push_front(text);
    if (onAdded) onAdded(entries_.front(), true);
}

void EventLog::AppendRaw(const std::string& text) {
    entries_.push_back(text);
    if (onAdded) onAdded(entries_.back(), false);
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
