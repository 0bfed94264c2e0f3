#pragma once
// The web page's consumer of received frames: it counts live frames and
// keeps each decoded record, with the limit states the station judged for it
// (those in force), in the WebState.
#include <array>
#include <functional>
#include <optional>

#include "station/StationConsumer.h"
#include "web/WebState.h"

namespace tavrik {

class WebConsumer : public StationConsumer {
  public:
    explicit WebConsumer(WebState& state) : state_(state) {}

    void FrameHeard(const HeardFrame& heard) override;
    void TelemetryDecoded(const DecodedFrame& frame) override;

  private:
    WebState& state_;
};

} // namespace tavrik
