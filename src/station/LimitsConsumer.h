#pragma once
// The limits' consumer of decoded frames: live frames go through the checker,
// and what changed comes back as one value per frame (event-log lines, alarm
// calls, the window's states). Imported frames change nothing: old data never
// raises an alarm. Anyone may ask where a frame's values stand (Classify),
// live or imported, without touching the states.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "limits/Alarm.h"
#include "limits/LimitsChecker.h"
#include "station/StationConsumer.h"

namespace tavrik {

// A value box's look: its state in force and that state in words.
struct FieldLook {
    FieldLimitState state;
    std::string words; // "red low: 6712 mV, below 6800"; empty in range
    friend bool operator==(const FieldLook&, const FieldLook&) = default;
};
using PanelLook = std::array<FieldLook, kFieldCount>;

// What a live frame (or new limits) changed.
struct LimitsNews {
    std::vector<std::string> logLines; // one per state change
    std::vector<AlarmCall> alarms;     // the changes that run the alarm program
    PanelLook look;                    // every field, as the window should show it now
};

// Both steps of the limits: as the frame's annotator it checks the values
// once and writes the frame's limit states; as a consumer, in its place in
// the list, it tells what changed.
class LimitsConsumer : public FrameAnnotator, public StationConsumer {
  public:
    // news: told whenever the states or their words change; never for an imported frame.
    LimitsConsumer(AlarmLevel level, std::function<void(const LimitsNews&)> news);

    // New limits (the file read again). The window forgets states of fields left without limits.
    void SetLimits(LimitsTable table);
    const LimitsTable& Limits() const { return checker_.Table(); }

    // Where a frame's values stand against the limits in force, this frame
    // alone (no persistence), for the archive and the web page.
    FrameLimitStates Classify(const TelemetryRecord& record) const {
        return ClassifyAll(checker_.Table(), record.values);
    }

    void Annotate(DecodedFrame& frame) override;
    void TelemetryDecoded(const DecodedFrame& frame) override;

    // The states in force.
    const FrameLimitStates& Current() const { return checker_.Current(); }

  private:
    void Tell(LimitsNews news);

    AlarmLevel level_;
    std::function<void(const LimitsNews&)> news_;
    LimitsChecker checker_;
    std::array<double, kFieldCount> lastValues_{};
    PanelLook shown_{};
    std::optional<LimitsNews> pending_; // a live frame checked, not yet told
};

} // namespace tavrik
