#pragma once
#include <string>

#include "station/StationConsumer.h"
#include "upload/qt/UploadRoute.h"

namespace tavrik {

// The upload route as a consumer of the station: each live telemetry frame's
// body, once, the moment it is composed, while data transfer is allowed.
class StationUploads final : public StationConsumer {
  public:
    explicit StationUploads(UploadRoute& route) : route_(route) {}

    // The "allow data transfer" box.
    void SetAllowed(bool allowed) { allowed_ = allowed; }
    void UploadComposed(const std::string& body) override {
        if (allowed_) route_.Post(body);
    }

  private:
    UploadRoute& route_;
    bool allowed_ = true;
};

} // namespace tavrik
