#include "radio/DopplerTracker.h"

#include <cmath>
#include <cstdlib>

#include "time/Clock.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr double kLightKmS = 299792.458;

std::string ClockText(std::int64_t ms) {
    return FormatClockLabel(UtcDateTime(ms));
}

} // namespace

std::string FrequencyText(std::int64_t hz) {
    std::string digits = std::to_string(hz < 0 ? -hz : hz);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return (hz < 0 ? "-" : "") + out + " Hz";
}

std::int64_t DopplerFrequencyHz(std::int64_t downlinkHz, double rangeRateKmS) {
    return std::llround(static_cast<double>(downlinkHz) * (1.0 - rangeRateKmS / kLightKmS));
}

std::int64_t DopplerTracker::At(std::int64_t timeMs, const SkyTrack& track) const {
    const std::optional<SkyPoint> p = track.At(timeMs);
    // An orbit that cannot be computed leaves the radio on the nominal frequency.
    const std::int64_t hz =
        p ? DopplerFrequencyHz(settings_.downlinkHz, p->rangeRateKmS) : settings_.downlinkHz;
    return hz + settings_.offsetHz;
}

std::int64_t DopplerTracker::Wanted(std::int64_t nowMs, SkyTrack& track) {
    const std::optional<Pass> pass = track.PassFrom(nowMs);
    if (!pass || nowMs < pass->aosMs - kLeadMs || nowMs > pass->losMs)
        return settings_.downlinkHz + settings_.offsetHz;
    return At(std::max(nowMs, pass->aosMs), track);
}

std::optional<std::int64_t> DopplerTracker::Step(std::int64_t nowMs, SkyTrack& track,
                                                 std::vector<std::string>& log) {
    const std::optional<Pass> pass = track.PassFrom(nowMs);
    const bool inWindow = pass && nowMs >= pass->aosMs - kLeadMs && nowMs <= pass->losMs;
    if (pass_ && (!inWindow || pass->aosMs != pass_->aosMs)) {
        std::string covered =
            firstHz_ ? FrequencyText(*firstHz_) + " → " + FrequencyText(*lastHz_) : "nothing";
        log.push_back("rig: tracking ended at LOS " + ClockText(pass_->losMs) + ": " + covered +
                      " set; back on " + FrequencyText(settings_.downlinkHz + settings_.offsetHz));
        pass_.reset();
    }
    if (inWindow && !pass_) {
        pass_ = pass;
        firstHz_.reset();
        lastHz_.reset();
        log.push_back("rig: tracking " + FrequencyText(At(pass->aosMs, track)) + " → " +
                      FrequencyText(At(pass->losMs, track)) + " (AOS " + ClockText(pass->aosMs) +
                      ", LOS " + ClockText(pass->losMs) + ")");
    }
    const std::int64_t want = Wanted(nowMs, track);
    if (lastSet_ && std::llabs(want - *lastSet_) < kMinStepHz) return std::nullopt;
    // A clock set back does not hold the radio still until it catches up.
    if (lastSentMs_ && nowMs >= *lastSentMs_ && nowMs - *lastSentMs_ < kMinIntervalMs)
        return std::nullopt;
    lastSentMs_ = nowMs;
    return want;
}

void DopplerTracker::Acknowledged(std::int64_t hz) {
    lastSet_ = hz;
    if (!pass_) return;
    if (!firstHz_) firstHz_ = hz;
    lastHz_ = hz;
}

} // namespace tavrik
