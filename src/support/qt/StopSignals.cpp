#include "support/qt/StopSignals.h"

#include <csignal>
#include <unistd.h>

#include "support/qt/SignalPipe.h"

namespace tavrik {

namespace {

volatile std::sig_atomic_t stopping = 0;

void OnStopSignal(int number) {
    SignalPipe::Notify(number);
    // The deadline starts with the first stop signal, from here, so it holds
    // even when the event loop never reads the pair.
    if (!stopping) {
        stopping = 1;
        ::alarm(StopSignals::kStopDeadlineSeconds);
    }
}

void OnStopDeadline(int) {
    static const char kLine[] = "tavrik-decoder: the stop did not finish within 4 s; ended "
                                "without it (frames already in the KISS log are kept)\n";
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    ::_exit(1);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    static_assert(kStopDeadlineSeconds == 4, "the deadline line names 4 s");
    stopping = 0;
    pipe_ = new SignalPipe({SIGINT, SIGTERM}, OnStopSignal, this);
    if (!pipe_->Installed()) return;
    struct sigaction sa = {};
    sa.sa_handler = OnStopDeadline;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    connect(pipe_, &SignalPipe::raised, this, [this](int number) {
        pipe_->SetEnabled(false);
        emit stopRequested(number);
    });
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
    delete pipe_;
    pipe_ = nullptr;
    // Ended in time: no deadline may fire after this.
    ::alarm(0);
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigaction(SIGALRM, &sa, nullptr);
    stopping = 0;
}

bool StopSignals::Installed() const {
    return pipe_ && pipe_->Installed();
}

} // namespace tavrik
