#include "web/WebSky.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tavrik {

namespace {

constexpr std::size_t kTrackFrames = 2000;

// Degrees to three decimals, km to metres, km/s to mm/s: what the values are worth.
double Round(double v, double scale) {
    return std::round(v * scale) / scale;
}

void WritePass(JsonWriter& j, const Pass& p) {
    j.Object().Key("aos").Time(p.aosMs).Key("tca").Time(p.tcaMs).Key("los").Time(p.losMs);
    j.Key("max_elevation").Number(Round(p.maxElevationDeg, 1e3));
    j.Key("aos_azimuth").Number(Round(p.aosAzimuthDeg, 1e3));
    j.Key("los_azimuth").Number(Round(p.losAzimuthDeg, 1e3));
    j.End();
}

void Metric(std::string& out, const char* name, const char* type, const char* help, double v) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(name).append(" ").append(buf, r.ptr).append("\n");
}

} // namespace

void WriteFrameSky(JsonWriter& j, const std::optional<FrameSky>& sky) {
    if (!sky) {
        j.Null();
        return;
    }
    j.Object().Key("azimuth").Number(Round(sky->azimuthDeg, 1e3));
    j.Key("elevation").Number(Round(sky->elevationDeg, 1e3));
    j.Key("range_km").Number(Round(sky->rangeKm, 1e3));
    j.Key("range_rate_km_s").Number(Round(sky->rangeRateKmS, 1e6));
    j.Key("pass_aos");
    sky->pass ? j.Time(sky->pass->aosMs) : j.Null();
    j.End();
}

std::string SkyAnswer(SkyState* sky, std::int64_t nowMs) {
    JsonWriter j;
    j.Object();
    if (!sky || !sky->Ready()) {
        j.Key("satellite").Null().Key("now").Null().Key("pass").Null();
        j.Key("next_passes").Array().End().End();
        return j.Take();
    }
    const std::int64_t epoch = sky->TleEpochMs(nowMs);
    j.Key("satellite").Object().Key("name").String(sky->SatelliteName());
    j.Key("catalogue").Integer(sky->Catalogue()).Key("tle_epoch").Time(epoch);
    j.Key("tle_age_days").Number(Round(static_cast<double>(nowMs - epoch) / 86'400'000.0, 1e3));
    j.End();
    j.Key("now");
    if (const std::optional<SkyPoint> at = sky->At(nowMs)) {
        j.Object().Key("time").Time(nowMs);
        j.Key("azimuth").Number(Round(at->azimuthDeg, 1e3));
        j.Key("elevation").Number(Round(at->elevationDeg, 1e3));
        j.Key("range_km").Number(Round(at->rangeKm, 1e3));
        j.Key("range_rate_km_s").Number(Round(at->rangeRateKmS, 1e6));
        j.Key("latitude").Number(Round(at->latitudeDeg, 1e4));
        j.Key("longitude").Number(Round(at->longitudeDeg, 1e4));
        j.Key("altitude_km").Number(Round(at->altitudeKm, 1e3));
        j.End();
    } else {
        j.Null();
    }
    j.Key("pass");
    if (const std::optional<Pass> now = sky->PassNow(nowMs))
        WritePass(j, *now);
    else
        j.Null();
    j.Key("next_passes").Array();
    // The next ones: those still to rise (the one in progress is "pass").
    std::size_t written = 0;
    for (const Pass& p : sky->NextPasses(nowMs, SkyState::kNextPasses + 1))
        if (p.aosMs > nowMs && written++ < SkyState::kNextPasses) WritePass(j, p);
    j.End().End();
    return j.Take();
}

std::string SkyTrackAnswer(SkyState* sky, const std::deque<RecordView>& records,
                           std::int64_t nowMs) {
    JsonWriter j;
    j.Object().Key("pass");
    const std::vector<Pass> next =
        sky && sky->Ready() ? sky->NextPasses(nowMs, 1) : std::vector<Pass>();
    if (next.empty())
        j.Null();
    else
        WritePass(j, next[0]);
    j.Key("track").Array();
    if (!next.empty()) {
        const Pass& p = next[0];
        const std::int64_t step = std::max<std::int64_t>(1000, (p.losMs - p.aosMs) / 120);
        for (std::int64_t t = p.aosMs;; t += step) {
            const std::int64_t at = std::min(t, p.losMs);
            if (const std::optional<SkyPoint> q = sky->At(at)) {
                j.Array().Number(Round(q->azimuthDeg, 1e2)).Number(Round(q->elevationDeg, 1e2));
                j.End();
            }
            if (at == p.losMs) break;
        }
    }
    j.End().Key("frames").Array();
    // The newest frames, enough to show where the station hears.
    std::size_t shown = 0;
    for (auto it = records.rbegin(); it != records.rend() && shown < kTrackFrames; ++it)
        if (const RecordView& r = *it; r.sky && ++shown) {
            j.Array().Number(Round(r.sky->azimuthDeg, 1e2)).Number(Round(r.sky->elevationDeg, 1e2));
            j.End();
        }
    j.End().End();
    return j.Take();
}

void AppendSkyMetrics(std::string& out, SkyState* sky, std::int64_t nowMs) {
    if (!sky) return;
    Metric(out, "tavrik_passes_total", "counter", "Passes whose LOS has come since start.",
           static_cast<double>(sky->PassesTotal()));
    Metric(out, "tavrik_passes_missed_total", "counter",
           "Passes high enough, watched with the modem connected, and no frame heard.",
           static_cast<double>(sky->PassesMissed()));
    if (!sky->Ready()) return;
    Metric(out, "tavrik_tle_age_seconds", "gauge", "Age of the element set in force.",
           static_cast<double>(nowMs - sky->TleEpochMs(nowMs)) / 1000.0);
    if (const std::optional<SkyPoint> at = sky->At(nowMs)) {
        Metric(out, "tavrik_satellite_elevation_degrees", "gauge",
               "The satellite's elevation seen from the station.", Round(at->elevationDeg, 1e3));
        Metric(out, "tavrik_satellite_azimuth_degrees", "gauge",
               "The satellite's azimuth seen from the station.", Round(at->azimuthDeg, 1e3));
    }
    const std::vector<Pass> next = sky->NextPasses(nowMs, 1);
    if (!next.empty())
        Metric(out, "tavrik_next_aos_seconds", "gauge", "Seconds to the next AOS; 0 during a pass.",
               next[0].aosMs <= nowMs ? 0.0 : static_cast<double>(next[0].aosMs - nowMs) / 1000.0);
}

} // namespace tavrik
