#include "support/qt/StopSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrik {

namespace {

int signalPair[2] = {-1, -1}; // the handler may touch nothing but this

void OnStopSignal(int number) {
    const auto b = static_cast<char>(number);
    // Only an async-signal-safe write here; the event loop does the rest.
    [[maybe_unused]] const auto n = ::write(signalPair[1], &b, 1);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) return;
    notifier_ = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char b = 0;
        [[maybe_unused]] const auto n = ::read(signalPair[0], &b, 1);
        notifier_->setEnabled(false);
        emit stopRequested(static_cast<unsigned char>(b));
    });
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // SIGHUP asks for the files to be read again (systemctl reload); it must
    // never end a station, also when nothing is there to re-read. Whoever
    // re-reads installs its own handler over this.
    struct sigaction hangup = {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_DFL) {
        hangup.sa_handler = SIG_IGN;
        sigaction(SIGHUP, &hangup, nullptr);
    }
}

StopSignals::~StopSignals() {
    if (!notifier_) return;
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    ::close(signalPair[0]);
    ::close(signalPair[1]);
    signalPair[0] = signalPair[1] = -1;
}

} // namespace tavrik
