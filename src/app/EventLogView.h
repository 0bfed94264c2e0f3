#pragma once
// The event log box: a read-only text box with both scroll bars, newest entry
// on top. Its text can be selected with mouse and keyboard, copied (Ctrl+C, or
// Copy and Select All in its context menu) and read by assistive tools.
// Adding an entry costs the same however long the log has grown.
#include <QPlainTextEdit>
#include <string>

#include "app/EventLog.h"

namespace tavrik {

class EventLogView : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit EventLogView(QWidget* parent = nullptr);
    // Shows an entry just added to the log, on top or at the very end.
    void EntryAdded(const std::string& entry, bool onTop);
    // Shows every entry added to log from now on, and mirrors it to stderr.
    void Follow(EventLog& log);
};

} // namespace tavrik
