#include "radio/qt/RotatorControl.h"

#include <cmath>

namespace tavrik {

namespace {

std::string Deg(double v) {
    return std::to_string(static_cast<long>(std::lround(v))) + "°"; // the event log is UTF-8
}

} // namespace

RotatorControl::RotatorControl(RotatorTracker::Settings settings,
                               std::optional<RotatorLimits> limits, LogLine log, NowMs now,
                               QObject* parent)
    : HamlibControl("rotator", "rotctld", "ROTATOR", std::move(log), std::move(now), kPollMs,
                    parent),
      tracker_(settings), setLimits_(limits) {
    if (setLimits_) tracker_.SetLimits(*setLimits_);
}

void RotatorControl::Step(std::int64_t nowMs, SkyTrack& track, std::vector<std::string>& log) {
    // A pass is planned on the rotator's range, so the range comes first.
    if (!capsKnown_) return;
    if (const std::optional<Pointing> p = tracker_.Step(nowMs, track, log)) pending_ = p;
}

bool RotatorControl::SendPending() {
    if (!capsKnown_ && !capsAsked_) {
        capsAsked_ = true;
        capsUnanswered_ = true; // until the answer comes
        return link_.Send(DumpCapsCommand(), [this](const HamlibReply& reply) {
            RotatorLimits limits = tracker_.Limits();
            const bool read = reply.Status() == 0 && ReadRotatorLimits(reply.Values(), limits);
            capsKnown_ = true;
            capsUnanswered_ = false;
            if (read) tracker_.SetLimits(limits);
            if (saidLimits_) return;
            saidLimits_ = true;
            const RotatorLimits& l = tracker_.Limits();
            log_(std::string("rotator: ") +
                 (read ? "rotctld reports" : "rotctld does not report its range; assuming") +
                 " azimuth " + Deg(l.minAzimuthDeg) + " to " + Deg(l.maxAzimuthDeg) +
                 ", elevation " + Deg(l.minElevationDeg) + " to " + Deg(l.maxElevationDeg));
        });
    }
    if (!pending_) return false;
    const Pointing p = *pending_;
    pending_.reset();
    return link_.Send(
        SetPositionCommand(p.azimuthDeg, p.elevationDeg), [this, p](const HamlibReply& reply) {
            if (reply.Status() == 0) {
                tracker_.Acknowledged(p);
                return;
            }
            tracker_.Forget();
            link_.Refused("the position " + Deg(p.azimuthDeg) + " / " + Deg(p.elevationDeg),
                          reply.Status());
        });
}

void RotatorControl::SendPoll() {
    link_.Send(GetPositionCommand(), [this](const HamlibReply& reply) {
        if (reply.Status() != 0) {
            link_.Refused("reading the position (p)", reply.Status());
            return;
        }
        if (reply.Values().size() < 2) return;
        const std::optional<double> az = HamlibNumber(reply.Values()[0]);
        const std::optional<double> el = HamlibNumber(reply.Values()[1]);
        if (az && el) reported_ = Pointing{*az, *el};
    });
}

void RotatorControl::Reconnected() {
    tracker_.Forget();
    pending_.reset();
    // The range is asked of every new connection: the daemon may have been
    // started again for another rotator. A range set by hand stands.
    // A daemon that dropped the connection instead of answering \dump_caps is
    // not asked again: the range known so far (or 0-360) serves.
    capsKnown_ = setLimits_.has_value() || capsUnanswered_;
    capsAsked_ = false;
}

} // namespace tavrik
