#pragma once
// Whole frames received and not yet handled. A burst is worked off a few
// milliseconds at a time from the event loop, so the window never freezes
// behind it, and the link is paused while a long backlog waits.
#include <QObject>
#include <deque>
#include <functional>
#include <vector>

#include "intake/Agw.h"

class QTimer;

namespace tavrik {

class ArrivedFrames : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(const AgwFrame&)>;
    // `handle` runs once per frame, in arrival order; `setPaused` stops and
    // resumes reading from the link.
    ArrivedFrames(Handler handle, std::function<void(bool)> setPaused, QObject* parent = nullptr);

    // Queues the frames and handles as many as the time allows.
    void Add(std::vector<AgwFrame> frames);
    // The frames not handled yet, taken out of the queue (the window closes).
    std::deque<AgwFrame> TakeRest();

  private:
    void Work();

    Handler handle_;
    std::function<void(bool)> setPaused_;
    std::deque<AgwFrame> frames_;
    QTimer* timer_;
};

} // namespace tavrik
