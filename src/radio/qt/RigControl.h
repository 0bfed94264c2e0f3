#pragma once
// RIG=host:port: the receiver kept on the satellite's downlink as the Doppler
// shift moves it, through rigctld.
#include <optional>

#include "radio/DopplerTracker.h"
#include "radio/qt/HamlibControl.h"

namespace tavrik {

class RigControl final : public HamlibControl {
    Q_OBJECT
  public:
    static constexpr std::int64_t kPollMs = 10'000;

    RigControl(DopplerTracker::Settings settings, LogLine log, NowMs now,
               QObject* parent = nullptr);

    // The frequency last set (the radio said "RPRT 0"), and last read back.
    std::optional<std::int64_t> FrequencySet() const { return tracker_.LastSet(); }
    std::optional<std::int64_t> FrequencyRead() const { return read_; }

  protected:
    void Step(std::int64_t nowMs, SkyTrack& track, std::vector<std::string>& log) override;
    bool SendPending() override;
    void SendPoll() override;
    void Reconnected() override;
    bool TrackerTracking() const override { return tracker_.Tracking(); }

  private:
    DopplerTracker tracker_;
    std::optional<std::int64_t> pending_, read_;
};

} // namespace tavrik
