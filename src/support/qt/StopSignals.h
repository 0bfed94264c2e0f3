#pragma once
// SIGTERM and SIGINT (how systemd and a terminal stop a program) turned into
// a Qt signal on the event loop, where the program can end as File, Exit does.
#include <QObject>

class QSocketNotifier;

namespace tavrik {

class StopSignals : public QObject {
    Q_OBJECT
  public:
    // Installs the handlers; at most one instance may exist at a time.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    // False when the handlers could not be set up (no socket pair).
    bool Installed() const { return notifier_ != nullptr; }

  signals:
    // Once, for the first signal; later ones are ignored while the program ends.
    void stopRequested(int signalNumber);

  private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tavrik
