#pragma once
// SIGTERM and SIGINT (how systemd and a terminal stop a program) turned into
// a Qt signal on the event loop, where the program can end as File, Exit does.
// Should that not finish within kStopDeadlineSeconds (an event loop held up,
// whatever by), the program ends there with a line saying so: a stop is never
// ignored.
#include <QObject>

namespace tavrik {

class SignalPipe;

class StopSignals : public QObject {
    Q_OBJECT
  public:
    static constexpr unsigned kStopDeadlineSeconds = 4;

    // Installs the handlers; at most one instance may exist at a time.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    // False when the handlers could not be set up (no socket pair).
    bool Installed() const;

  signals:
    // Once, for the first signal; later ones are ignored while the program ends.
    void stopRequested(int signalNumber);

  private:
    SignalPipe* pipe_ = nullptr;
};

} // namespace tavrik
