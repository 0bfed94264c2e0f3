#pragma once
// The window as the station's last consumer: every live frame heard goes to
// its data-arrival reaction (the call signs); after a live telemetry frame, decoded or refused, the
// chart, the panel and the counter line. An import shows its end once per file instead.
#include <cstdint>

#include "station/StationConsumer.h"

namespace tavrik {

class Form1;

class StationView final : public StationConsumer {
  public:
    explicit StationView(Form1& form) : form_(form) {}

    void FrameHeard(const HeardFrame& heard) override;
    void TelemetryDecoded(const DecodedFrame& decoded) override;
    void TelemetryRefused(const HeardFrame& heard) override;

  private:
    void ShowLatest(std::int32_t number);

    Form1& form_;
};

} // namespace tavrik
