#pragma once
// The event log box: a read-only text box with both scroll bars, newest entry
// on top. Its text can be selected with mouse and keyboard, copied (Ctrl+C, or
// Copy and Select All in its context menu) and read by assistive tools.
// Adding an entry costs the same however long the log has grown, and the box
// is repainted at most a few times a second however fast entries come: each
// new line on top moves every line in view, and those are long.
#include <QPlainTextEdit>
#include <QTimer>
#include <string>

#include "station/EventLog.h"

namespace tavrik {

class EventLogView : public QPlainTextEdit, public EventLogListener {
    Q_OBJECT
  public:
    explicit EventLogView(QWidget* parent = nullptr);
    // Shows an entry just added to the log, on top or at the very end.
    void EntryAdded(const std::string& entry, bool onTop) override;
    // Shows the newest limit entries only, as the log keeps them; 0 shows all.
    void LimitSet(std::size_t limit) override;

  private:
    void Trim(std::size_t room);
    void HoldRepaint();

    std::size_t limit_ = 0;
    QTimer hold_;       // the time after a repaint in which the next ones wait
    bool held_ = false; // an entry came meanwhile: repainted when the time is up
};

} // namespace tavrik
