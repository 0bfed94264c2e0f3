#pragma once
// The event log box: read-only, both scroll bars, draws only the lines in view
// so that its cost per entry does not grow with the length of the log.
#include <QAbstractScrollArea>

#include "app/EventLog.h"

namespace tavrik {

class EventLogView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    EventLogView(const EventLog& log, QWidget* parent = nullptr);
    // Called after an entry was added.
    void EntryAdded(const std::string& entry, bool onTop);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void UpdateScrollBars();
    int LineHeight() const;

    const EventLog& log_;
    int widestLine_ = 0;
};

} // namespace tavrik
