#pragma once
// POSIX signals brought onto the event loop through a socket pair. The
// handler only writes one byte and never waits: when the pair is full a
// wake-up is already on its way, so a burst of signals becomes one call.
#include <QObject>
#include <csignal>
#include <initializer_list>

class QSocketNotifier;

namespace tavrik {

class SignalPipe : public QObject {
    Q_OBJECT
  public:
    using Handler = void (*)(int);
    // Installs handler (Notify when none) for each signal; at most one
    // instance per signal at a time.
    SignalPipe(std::initializer_list<int> signalNumbers, Handler handler = nullptr,
               QObject* parent = nullptr);
    ~SignalPipe() override;
    // False when the socket pair could not be made; the signals keep their handlers then.
    bool Installed() const { return notifier_ != nullptr; }
    void SetEnabled(bool enabled);

    // Async-signal-safe: tells the event loop of signalNumber without waiting.
    static void Notify(int signalNumber);

  signals:
    // Once per wake-up, however many signals came since the last one; the
    // number is the last one that came.
    void raised(int signalNumber);

  private:
    int pair_[2] = {-1, -1};
    int signals_[4] = {0, 0, 0, 0};
    int count_ = 0;
    // What each signal did before (SIGHUP ignored in a station), given back at the end.
    struct sigaction before_[4] = {};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tavrik
