#pragma once
// The event log's entries, newest on top. Prepending is O(1) however long the
// run, and the whole text is only built when asked for (the debug file).
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace tavrik {

class EventLog {
  public:
    // "timestamp: text" on top.
    void Prepend(const std::string& timestamp, const std::string& text);
    // An entry without timestamp on top, or at the very end.
    void PrependRaw(const std::string& text);
    void AppendRaw(const std::string& text);

    std::size_t Size() const { return entries_.size(); }
    // Entry i counted from the top.
    const std::string& Entry(std::size_t i) const { return entries_[i]; }
    // The whole text as the box shows it: every entry followed by CR LF.
    std::string Text() const;

    // Told of every entry as it is added (the window repaints, stderr mirrors it).
    std::function<void(const std::string& entry, bool onTop)> onAdded;

  private:
    std::deque<std::string> entries_;
};

} // namespace tavrik
