#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>

#include "files/StationConfig.h"
#include "station/FramePipeline.h"
#include "station/StationConsumer.h"
#include "support/qt/QtText.h"
#include "upload/qt/InfluxUploader.h"

namespace tavrik {

// The InfluxDB lane as a consumer of the station: every live telemetry frame
// as one point. Imported frames are not sent: they are history the archive
// export can give InfluxDB, and a second copy of a live one.
class StationInflux final : public StationConsumer {
  public:
    // Registers itself with the station and opens the lane on the first turn
    // of the event loop, when the window's start-up has read the settings and
    // before any frame can arrive.
    StationInflux(FramePipeline& station, const StationConfig& config, const QString& programFolder,
                  const Clock& clock, std::function<void(const QString&)> log)
        : config_(config), lane_(clock) {
        QObject::connect(&lane_, &InfluxUploader::logLine, std::move(log));
        station.AddConsumer(*this);
        QTimer::singleShot(0, &lane_, [this, &programFolder] { Open(PathBytes(programFolder)); });
    }
    // The window's log may be gone before the lane's last flush.
    ~StationInflux() override { QObject::disconnect(&lane_, nullptr, nullptr, nullptr); }

    // With INFLUX set: starts the lane, with UPLOAD_RETRY on disk in the
    // program folder's influx_queue, where what earlier runs left goes first.
    void Open(const std::filesystem::path& programFolder) {
        if (config_.influx.empty() || opened_) return;
        opened_ = true;
        lane_.Start(config_.influx, config_.influxToken,
                    config_.uploadRetry ? programFolder / "influx_queue" : std::filesystem::path());
    }
    void TelemetryDecoded(const DecodedFrame& frame) override {
        if (frame.heard.imported) return;
        InfluxFields sky;
        if (frame.sky) {
            sky = {{"azimuth", frame.sky->azimuthDeg},
                   {"elevation", frame.sky->elevationDeg},
                   {"range_km", frame.sky->rangeKm},
                   {"range_rate_km_s", frame.sky->rangeRateKmS}};
            if (frame.sky->pass)
                sky.emplace_back("pass_aos", static_cast<double>(frame.sky->pass->aosMs) / 1000.0);
        }
        lane_.Add(frame.source, frame.heard.received, frame.record.values, sky);
    }
    // Accepted, failed, waiting, the last success and error: for the page and the metrics.
    InfluxStatus Status() const { return lane_.Status(); }
    InfluxUploader& Lane() { return lane_; }

  private:
    const StationConfig& config_;
    InfluxUploader lane_;
    bool opened_ = false;
};

} // namespace tavrik
