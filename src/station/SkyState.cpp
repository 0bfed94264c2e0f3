#include "station/SkyState.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "telemetry/FrameLayout.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr std::int64_t kHourMs = 3600 * 1000;
constexpr std::int64_t kDayMs = 24 * kHourMs;
// A pass whose AOS moved by less than this with new sets is the same pass.
constexpr std::int64_t kSamePassMs = 60 * 1000;

bool Number(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc{} && ptr == end && std::isfinite(out);
}

// Reads `text` into `out` when set; an error line when it is not a number in [lo, hi].
void Read(const char* key, const std::string& text, double lo, double hi, double& out,
          std::vector<std::string>& errors) {
    if (text.empty()) return;
    double v = 0;
    if (!Number(text, v) || v < lo || v > hi) {
        errors.push_back(std::string(key) + " \"" + text + "\" is not a number from " +
                         std::to_string(static_cast<long long>(lo)) + " to " +
                         std::to_string(static_cast<long long>(hi)) +
                         ": the station goes on without the sky");
        return;
    }
    out = v;
}

std::int64_t DayOf(std::int64_t ms) {
    return ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs);
}

std::string Degrees(double v) {
    return std::to_string(static_cast<long long>(std::lround(v))) + "°";
}

} // namespace

std::optional<SkySettings> ReadSkySettings(const StationConfig& c,
                                           std::vector<std::string>& errors) {
    if (c.tle.empty()) return std::nullopt;
    SkySettings s;
    s.tle = c.tle;
    s.tleIsUrl = c.tle.starts_with("http://") || c.tle.starts_with("https://");
    s.satellite = c.satellite.empty() ? std::string(kNoradId) : c.satellite;
    s.passCommand = c.passCommand;
    const std::size_t before = errors.size();
    if (c.qthLat.empty() || c.qthLong.empty())
        errors.push_back("TLE is set but QTH_LAT or QTH_LONG is not: the station goes on "
                         "without the sky");
    Read("QTH_LAT", c.qthLat, -90, 90, s.observer.latitudeDeg, errors);
    Read("QTH_LONG", c.qthLong, -180, 180, s.observer.longitudeDeg, errors);
    Read("QTH_ALT", c.qthAlt, -500, 9000, s.observer.altitudeM, errors);
    Read("HORIZON", c.horizon, -5, 60, s.horizonDeg, errors);
    Read("MISSED_PASS_EL", c.missedPassEl, 0, 90, s.missedPassElDeg, errors);
    Read("TLE_REFRESH", c.tleRefresh, 1, 24 * 365, s.refreshHours, errors);
    if (errors.size() != before) return std::nullopt;
    return s;
}

SkyState::SkyState(SkySettings settings, std::int64_t startMs)
    : settings_(std::move(settings)), startMs_(startMs), watch_(settings_.missedPassElDeg, startMs),
      lastAosMs_(startMs - kSamePassMs), lastLosMs_(std::numeric_limits<std::int64_t>::min() / 2) {}

std::vector<std::string> SkyState::Load(const std::string& text, const std::string& from) {
    std::vector<std::string> lines;
    TleFile file = ParseTles(text);
    for (const std::string& e : file.errors)
        lines.push_back("TLE " + from + ": " + e);
    std::vector<Tle> sets = SetsFor(file.sets, settings_.satellite);
    if (sets.empty()) {
        lines.push_back("TLE " + from + " has no set for satellite " + settings_.satellite +
                        (file.sets.empty() ? " (no readable set at all)" : "") +
                        ": the station goes on without the sky");
        predictor_.reset();
        passesToMs_ = -1;
        return lines;
    }
    const std::string label = sets.back().Label();
    const int catalogue = sets.back().catalogue;
    const std::size_t count = sets.size();
    const std::int64_t epoch = sets.back().epochMs;
    std::string why;
    std::optional<SkyPredictor> made =
        SkyPredictor::Create(std::move(sets), settings_.observer, settings_.horizonDeg, why);
    if (!made) {
        lines.push_back("TLE " + from + " for " + label + " not used: " + why +
                        "; the station goes on without the sky");
        predictor_.reset();
        passesToMs_ = -1;
        return lines;
    }
    predictor_ = std::move(made);
    name_ = label;
    catalogue_ = catalogue;
    passesToMs_ = -1;
    lines.push_back("TLE " + from + ": " + label + " (" + std::to_string(catalogue) + "), " +
                    std::to_string(count) + (count == 1 ? " set" : " sets") + ", latest epoch " +
                    FormatIsoUtc(epoch));
    oldTleDay_ = -1; // a new file is judged afresh
    return lines;
}

std::int64_t SkyState::TleEpochMs(std::int64_t nowMs) const {
    return predictor_ ? predictor_->SetAt(nowMs).epochMs : 0;
}

std::optional<SkyPoint> SkyState::At(std::int64_t timeMs) const {
    if (!predictor_) return std::nullopt;
    return predictor_->At(timeMs);
}

const std::vector<Pass>& SkyState::Cached(std::int64_t nowMs) {
    if (predictor_ && (nowMs < passesFromMs_ + kHourMs || nowMs > passesToMs_ - kDayMs)) {
        passesFromMs_ = nowMs - kHourMs;
        passesToMs_ = nowMs + 2 * kDayMs;
        passes_ = predictor_->Passes(passesFromMs_, passesToMs_);
    }
    if (!predictor_) passes_.clear();
    return passes_;
}

std::optional<FrameSky> SkyState::SkyAt(std::int64_t timeMs) {
    if (!predictor_) return std::nullopt;
    const std::optional<SkyPoint> at = predictor_->At(timeMs);
    if (!at) return std::nullopt;
    FrameSky sky{at->azimuthDeg, at->elevationDeg, at->rangeKm, at->rangeRateKmS, std::nullopt};
    // A live frame falls within the cached passes; an imported one is looked up alone.
    if (timeMs >= passesFromMs_ && timeMs <= passesToMs_) {
        for (const Pass& p : passes_)
            if (p.aosMs <= timeMs && timeMs <= p.losMs) sky.pass = p;
    } else {
        sky.pass = predictor_->PassAt(timeMs);
    }
    return sky;
}

std::vector<SkyState::Event> SkyState::Tick(std::int64_t nowMs, bool modemConnected,
                                            std::vector<std::string>& lines) {
    watch_.Modem(modemConnected, nowMs);
    std::vector<Event> events;
    if (!predictor_) return events;
    const std::int64_t age = nowMs - TleEpochMs(nowMs);
    if (age > kOldTleMs && DayOf(nowMs) != oldTleDay_) {
        oldTleDay_ = DayOf(nowMs);
        lines.push_back("TLE for " + std::to_string(catalogue_) + " is " +
                        std::to_string(age / kDayMs) +
                        " days old: predictions drift by kilometres; refresh it");
    }
    for (const Pass& p : Cached(nowMs)) {
        if (nowMs >= p.aosMs && p.aosMs > lastAosMs_ + kSamePassMs) {
            lastAosMs_ = p.aosMs;
            events.push_back({Event::Kind::Aos, p, {}});
        }
        if (nowMs >= p.losMs && p.losMs >= startMs_ && p.aosMs > lastLosMs_ + kSamePassMs) {
            lastLosMs_ = p.aosMs;
            lastAosMs_ = std::max(lastAosMs_, p.aosMs);
            events.push_back({Event::Kind::Los, p, watch_.PassEnded(p)});
        }
    }
    return events;
}

std::optional<Pass> SkyState::PassNow(std::int64_t nowMs) {
    for (const Pass& p : Cached(nowMs))
        if (p.aosMs <= nowMs && nowMs <= p.losMs) return p;
    return std::nullopt;
}

std::vector<Pass> SkyState::NextPasses(std::int64_t nowMs, std::size_t count) {
    std::vector<Pass> out;
    for (const Pass& p : Cached(nowMs))
        if (p.losMs >= nowMs && out.size() < count) out.push_back(p);
    return out;
}

std::string SkyState::NextPassLine(std::int64_t nowMs) {
    if (!predictor_) return {};
    if (const std::optional<Pass> now = PassNow(nowMs)) {
        const std::optional<SkyPoint> at = At(nowMs);
        if (!at) return {};
        return "Pass in progress: elevation " + Degrees(at->elevationDeg) + ", azimuth " +
               Degrees(at->azimuthDeg) + ", LOS in " + DurationWords(now->losMs - nowMs);
    }
    const std::vector<Pass> next = NextPasses(nowMs, 1);
    if (next.empty()) return "No pass in the next two days";
    const std::string aos = FormatIsoUtc(next[0].aosMs).substr(11, 8);
    return "Next pass " + aos + " UTC, max " + Degrees(next[0].maxElevationDeg) + ", in " +
           DurationWords(next[0].aosMs - nowMs);
}

} // namespace tavrik
