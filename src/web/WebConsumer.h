#pragma once
// The web page's consumer of received frames: it counts live frames and
// keeps each decoded record, with its limit states when the station checks
// limits, in the WebState.
#include <array>
#include <functional>
#include <optional>

#include "station/StationConsumer.h"
#include "web/WebState.h"

namespace tavrik {

class WebConsumer : public StationConsumer {
  public:
    using LimitLookup =
        std::function<std::optional<std::array<FieldLimitView, kFieldCount>>(const DecodedFrame&)>;

    explicit WebConsumer(WebState& state) : state_(state) {}
    // Where the limit states of a decoded frame come from (none: unchecked).
    void SetLimitLookup(LimitLookup lookup) { limits_ = std::move(lookup); }

    void FrameHeard(const HeardFrame& heard) override;
    void TelemetryDecoded(const DecodedFrame& frame) override;

  private:
    WebState& state_;
    LimitLookup limits_;
};

} // namespace tavrik
