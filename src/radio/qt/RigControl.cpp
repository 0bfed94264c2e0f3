#include "radio/qt/RigControl.h"

#include <cmath>

namespace tavrik {

RigControl::RigControl(DopplerTracker::Settings settings, LogLine log, NowMs now, QObject* parent)
    : HamlibControl("rig", "rigctld", "RIG", std::move(log), std::move(now), kPollMs, parent),
      tracker_(settings) {}

void RigControl::Step(std::int64_t nowMs, SkyTrack& track, std::vector<std::string>& log) {
    if (const std::optional<std::int64_t> hz = tracker_.Step(nowMs, track, log)) pending_ = hz;
}

bool RigControl::SendPending() {
    if (!pending_) return false;
    const std::int64_t hz = *pending_;
    pending_.reset();
    return link_.Send(SetFrequencyCommand(hz), [this, hz](const HamlibReply& reply) {
        if (reply.Status() == 0) {
            tracker_.Acknowledged(hz);
            return;
        }
        // Tried again in a second; the line comes once a minute at most.
        tracker_.Forget();
        link_.Refused("the frequency " + FrequencyText(hz), reply.Status());
    });
}

void RigControl::SendPoll() {
    link_.Send(GetFrequencyCommand(), [this](const HamlibReply& reply) {
        if (reply.Status() != 0) {
            link_.Refused("reading the frequency (f)", reply.Status());
            return;
        }
        const std::optional<double> hz =
            reply.Values().empty() ? std::nullopt : HamlibNumber(reply.Values().front());
        if (hz) read_ = std::llround(*hz);
    });
}

void RigControl::Reconnected() {
    tracker_.Forget();
    pending_.reset();
}

} // namespace tavrik
