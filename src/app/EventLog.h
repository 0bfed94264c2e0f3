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

#include "time/RepeatLimiter.h"

namespace tavrik {

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

    // Told of every entry as it is added (the window repaints, stderr mirrors it).
    std::function<void(const std::string& entry, bool onTop)> onAdded;
    // Told when the limit is set (the box keeps the same entries).
    std::function<void(std::size_t limit)> onLimit;

  private:
    void Trim(std::size_t room);

    std::deque<std::string> entries_;
    std::size_t limit_ = 0;
    std::uint64_t dropped_ = 0;
    RepeatLimiter repeats_;
    std::function<std::chrono::milliseconds()> now_;
};

} // namespace tavrik
