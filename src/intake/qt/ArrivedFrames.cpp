#include "intake/qt/ArrivedFrames.h"

#include <QElapsedTimer>
#include <QTimer>
#include <utility>

namespace tavrik {

ArrivedFrames::ArrivedFrames(Handler handle, std::function<void(bool)> setPaused, QObject* parent)
    : QObject(parent), handle_(std::move(handle)), setPaused_(std::move(setPaused)),
      timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &ArrivedFrames::Work);
}

void ArrivedFrames::Add(std::vector<AgwFrame> frames) {
    for (AgwFrame& frame : frames)
        frames_.push_back(std::move(frame));
    Work();
}

std::deque<AgwFrame> ArrivedFrames::TakeRest() {
    timer_->stop();
    return std::exchange(frames_, {});
}

void ArrivedFrames::Work() {
    constexpr std::size_t kPauseAt = 1000, kResumeBelow = 100;
    QElapsedTimer budget;
    budget.start();
    while (!frames_.empty()) {
        const AgwFrame frame = std::move(frames_.front());
        frames_.pop_front();
        handle_(frame);
        if (budget.elapsed() >= 10) break;
    }
    if (frames_.size() >= kPauseAt)
        setPaused_(true);
    else if (frames_.size() < kResumeBelow)
        setPaused_(false);
    if (!frames_.empty()) timer_->start();
}

} // namespace tavrik
