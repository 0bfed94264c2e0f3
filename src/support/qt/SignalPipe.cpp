#include "support/qt/SignalPipe.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrik {

namespace {

constexpr int kMaxSignal = 65;
// The write end for each signal: all a handler may touch.
std::atomic<int> writeEnd[kMaxSignal];

bool NonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

void SignalPipe::Notify(int signalNumber) {
    if (signalNumber <= 0 || signalNumber >= kMaxSignal) return;
    const int saved = errno;
    const int fd = writeEnd[signalNumber].load(std::memory_order_relaxed);
    const auto b = static_cast<char>(signalNumber);
    // Non-blocking: EAGAIN means the event loop has bytes to read already.
    if (fd >= 0) {
        [[maybe_unused]] const auto n = ::send(fd, &b, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    errno = saved;
}

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, Handler handler, QObject* parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair_) != 0) return;
    if (!NonBlocking(pair_[1])) return;
    notifier_ = new QSocketNotifier(pair_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        // Everything that came is read at once: one call for the whole burst
        // (the pair holds no more than its buffer, as the handler never waits).
        char buf[4096];
        int last = 0;
        for (int i = 0; i < 4096; ++i) {
            const ssize_t n = ::read(pair_[0], buf, sizeof buf);
            if (n <= 0) break;
            last = static_cast<unsigned char>(buf[n - 1]);
        }
        if (last != 0) emit raised(last);
    });
    struct sigaction sa = {};
    sa.sa_handler = handler ? handler : &SignalPipe::Notify;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int s : signalNumbers) {
        if (s <= 0 || s >= kMaxSignal || count_ == 4) continue;
        signals_[count_] = s;
        writeEnd[s].store(pair_[1]);
        sigaction(s, &sa, &before_[count_++]);
    }
}

SignalPipe::~SignalPipe() {
    for (int i = 0; i < count_; ++i) {
        sigaction(signals_[i], &before_[i], nullptr);
        writeEnd[signals_[i]].store(-1);
    }
    if (pair_[0] >= 0) ::close(pair_[0]);
    if (pair_[1] >= 0) ::close(pair_[1]);
}

void SignalPipe::SetEnabled(bool enabled) {
    if (notifier_) notifier_->setEnabled(enabled);
}

} // namespace tavrik
