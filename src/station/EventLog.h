#pragma once
// The event log's entries, newest on top. Prepending is O(1) however long the
// run, and the whole text is only built when asked for (the debug file).
// With a limit the oldest entries leave at the bottom, so months of running
// stay bounded. Lines repeating from one cause (oversized frames, KISS log
// write failures) are written once a minute at most, with the count held back.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "time/RepeatLimiter.h"

namespace tavrik {

// Who reads the log as it grows: the window's box, the web page, the journal.
class EventLogListener {
  public:
    virtual ~EventLogListener() = default;
    // An entry just added, on top or at the very end.
    virtual void EntryAdded(const std::string& entry, bool onTop) = 0;
    // The limit was set (a box keeps the same entries as the log).
    virtual void LimitSet(std::size_t /*limit*/) {}
};

class EventLog {
  public:
    // "timestamp: text" on top.
    void Prepend(const std::string& timestamp, const std::string& text);
    // An entry without timestamp on top, or at the very end.
    void PrependRaw(const std::string& text);
    void AppendRaw(const std::string& text);

    // Keeps the newest limit entries; 0 keeps all.
    void SetLimit(std::size_t limit);
    // Entries that left at the bottom because of the limit.
    std::uint64_t Dropped() const { return dropped_; }
    // A steady time source for the repeat limit (tests set their own).
    void SetNow(std::function<std::chrono::milliseconds()> now) { now_ = std::move(now); }

    std::size_t Size() const { return entries_.size(); }
    // Entry i counted from the top.
    const std::string& Entry(std::size_t i) const { return entries_[i]; }
    // The whole text as the box shows it: every entry followed by CR LF.
    std::string Text() const;
    // Text() and, when entries were dropped, a last line saying how many.
    std::string DebugText() const;

    // Tells the listener of every entry from now on, after handing it the
    // entries so far, oldest first (catchUp). It must be removed before it goes.
    void AddListener(EventLogListener& listener, bool catchUp = false);
    void RemoveListener(EventLogListener& listener);

  private:
    void Trim(std::size_t room);
    void Tell(const std::string& entry, bool onTop);

    std::deque<std::string> entries_;
    std::size_t limit_ = 0;
    std::uint64_t dropped_ = 0;
    RepeatLimiter repeats_;
    std::function<std::chrono::milliseconds()> now_;
    std::vector<EventLogListener*> listeners_;
};

} // namespace tavrik
