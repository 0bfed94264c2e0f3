#include "radio/qt/HamlibControl.h"

#include "support/qt/QtText.h"

namespace tavrik {

HamlibControl::HamlibControl(std::string who, std::string daemon, std::string key, LogLine log,
                             NowMs now, std::int64_t pollMs, QObject* parent)
    : QObject(parent), link_(who, std::move(daemon), log), log_(std::move(log)),
      now_(std::move(now)), who_(std::move(who)), key_(std::move(key)), pollMs_(pollMs) {
    tick_.setInterval(kTickMs);
    connect(&tick_, &QTimer::timeout, this, &HamlibControl::Tick);
    connect(&link_, &HamlibLink::ready, this, &HamlibControl::Pump);
    connect(&link_, &HamlibLink::connected, this, [this] {
        Reconnected();
        lastPollMs_ = 0;
        // What is due goes first; the reading waits its turn.
        Tick();
    });
}

bool HamlibControl::Tracking() const {
    return track_ && TrackerTracking();
}

void HamlibControl::SetTrack(std::shared_ptr<SkyTrack> track) {
    track_ = std::move(track);
    if (!started_) return;
    if (track_ && !linked_) {
        linked_ = true;
        link_.Open(Utf8Text(host_), port_);
        tick_.start();
    } else if (!track_ && !saidIdle_) {
        saidIdle_ = true;
        log_(who_ + ": " + key_ + " is set but there is no TLE to follow: the " + who_ +
             " stays idle");
    }
}

void HamlibControl::Start(const std::string& host, int port) {
    host_ = host;
    port_ = port;
    started_ = true;
    SetTrack(track_);
}

void HamlibControl::Stop() {
    started_ = linked_ = false;
    tick_.stop();
    link_.Close();
}

void HamlibControl::Tick() {
    if (!track_ || !link_.Connected()) return;
    std::vector<std::string> lines;
    Step(now_(), *track_, lines);
    for (const std::string& line : lines)
        log_(line);
    Pump();
}

void HamlibControl::Pump() {
    if (!track_ || !link_.Ready()) return;
    if (SendPending()) return;
    const std::int64_t t = now_();
    if (lastPollMs_ != 0 && t >= lastPollMs_ && t - lastPollMs_ < pollMs_) return;
    lastPollMs_ = t;
    SendPoll();
}

} // namespace tavrik
