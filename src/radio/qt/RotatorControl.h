#pragma once
// ROTATOR=host:port: the antenna turned to the satellite through rotctld. The
// rotator's azimuth range comes from rotctld's \dump_caps on every connection,
// unless the ROTATOR setting gives it.
#include <optional>

#include "radio/RotatorTracker.h"
#include "radio/qt/HamlibControl.h"

namespace tavrik {

class RotatorControl final : public HamlibControl {
    Q_OBJECT
  public:
    static constexpr std::int64_t kPollMs = 1000;

    RotatorControl(RotatorTracker::Settings settings, std::optional<RotatorLimits> limits,
                   LogLine log, NowMs now, QObject* parent = nullptr);

    // The position last commanded (the rotator said "RPRT 0"), and last reported by `p`.
    std::optional<Pointing> Commanded() const { return tracker_.LastSet(); }
    std::optional<Pointing> Reported() const { return reported_; }
    const RotatorLimits& Limits() const { return tracker_.Limits(); }

  protected:
    void Step(std::int64_t nowMs, SkyTrack& track, std::vector<std::string>& log) override;
    bool SendPending() override;
    void SendPoll() override;
    void Reconnected() override;
    bool TrackerTracking() const override { return tracker_.Tracking(); }

  private:
    RotatorTracker tracker_;
    std::optional<RotatorLimits> setLimits_; // from the ROTATOR setting
    bool capsAsked_ = false, capsKnown_ = false, capsUnanswered_ = false, saidLimits_ = false;
    std::optional<Pointing> pending_, reported_;
};

} // namespace tavrik
