#include "radio/RotatorTracker.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "time/Clock.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr double kRad = std::numbers::pi / 180.0;

double Wrap360(double az) {
    const double a = std::fmod(az, 360.0);
    return a < 0 ? a + 360.0 : a;
}

// The change from a to b the short way, -180..180.
double Turn(double a, double b) {
    double d = std::fmod(b - a, 360.0);
    if (d > 180) d -= 360;
    if (d < -180) d += 360;
    return d;
}

std::string Degrees(double v) {
    return std::to_string(static_cast<long>(std::lround(v))) + "°"; // the event log is UTF-8
}

std::string ClockText(std::int64_t ms) {
    return FormatClockLabel(UtcDateTime(ms));
}

} // namespace

double SkyAngleDeg(const Pointing& a, const Pointing& b) {
    const double c = std::sin(a.elevationDeg * kRad) * std::sin(b.elevationDeg * kRad) +
                     std::cos(a.elevationDeg * kRad) * std::cos(b.elevationDeg * kRad) *
                         std::cos((b.azimuthDeg - a.azimuthDeg) * kRad);
    return std::acos(std::clamp(c, -1.0, 1.0)) / kRad;
}

bool RotatorTracker::InRange(double az) const {
    return az >= limits_.minAzimuthDeg - 1e-9 && az <= limits_.maxAzimuthDeg + 1e-9;
}

Pointing RotatorTracker::Command(const SkyPoint& p, double near) const {
    const double maxEl = std::min(settings_.maxElevationDeg, limits_.maxElevationDeg);
    Pointing out{0, std::clamp(p.elevationDeg, limits_.minElevationDeg, maxEl)};
    const double a = Wrap360(p.azimuthDeg);
    std::optional<double> best;
    for (int turn = -2; turn <= 2; ++turn) {
        const double candidate = a + 360.0 * turn;
        if (InRange(candidate) && (!best || std::fabs(candidate - near) < std::fabs(*best - near)))
            best = candidate;
    }
    // A rotator that cannot reach this azimuth at all waits at its nearer stop.
    out.azimuthDeg =
        best
            ? *best
            : (std::fabs(Turn(a, limits_.minAzimuthDeg)) < std::fabs(Turn(a, limits_.maxAzimuthDeg))
                   ? limits_.minAzimuthDeg
                   : limits_.maxAzimuthDeg);
    return out;
}

void RotatorTracker::Plan(const Pass& pass, SkyTrack& track, std::vector<std::string>& log) {
    // The pass's azimuths made continuous (no jump at north), every 2 s.
    std::vector<std::pair<std::int64_t, double>> path;
    for (std::int64_t t = pass.aosMs;; t = std::min(t + kPlanStepMs, pass.losMs)) {
        if (const std::optional<SkyPoint> p = track.At(t)) {
            const double az = Wrap360(p->azimuthDeg);
            path.emplace_back(t, path.empty() ? az
                                              : path.back().second + Turn(path.back().second, az));
        }
        if (t >= pass.losMs) break;
    }
    startAzimuth_ = Wrap360(pass.aosAzimuthDeg);
    if (path.empty()) return;
    const double from = lastSet_ ? lastSet_->azimuthDeg : 180.0;
    int bestTurn = 0;
    std::size_t bestCount = 0;
    for (int turn = -2; turn <= 2; ++turn) {
        // The antenna must be able to start on it.
        if (!InRange(path.front().second + 360.0 * turn)) continue;
        std::size_t count = 0;
        for (const auto& [t, az] : path)
            count += InRange(az + 360.0 * turn) ? 1 : 0;
        const double start = path.front().second + 360.0 * turn;
        const double bestStart = path.front().second + 360.0 * bestTurn;
        // Among turns that hold as much of the pass, the one nearer the antenna now.
        if (count > bestCount || (count == bestCount && count > 0 &&
                                  std::fabs(start - from) < std::fabs(bestStart - from))) {
            bestCount = count;
            bestTurn = turn;
        }
    }
    if (bestCount == 0) {
        startAzimuth_ = Command(SkyPoint{pass.aosMs, pass.aosAzimuthDeg}, from).azimuthDeg;
        return;
    }
    startAzimuth_ = path.front().second + 360.0 * bestTurn;
    if (bestCount == path.size()) return;
    for (const auto& [t, az] : path) {
        if (InRange(az + 360.0 * bestTurn)) continue;
        log.push_back("rotator: the pass of " + ClockText(pass.aosMs) +
                      " crosses the rotator's azimuth stop (range " +
                      Degrees(limits_.minAzimuthDeg) + " to " + Degrees(limits_.maxAzimuthDeg) +
                      "): at " + ClockText(t) + " (azimuth " + Degrees(Wrap360(az)) +
                      ") the antenna turns the long way round and is off the satellite until "
                      "it is back");
        break;
    }
}

std::optional<Pointing> RotatorTracker::Step(std::int64_t nowMs, SkyTrack& track,
                                             std::vector<std::string>& log) {
    const std::optional<Pass> pass = track.PassFrom(nowMs);
    const bool inWindow = pass && nowMs >= pass->aosMs - kLeadMs && nowMs <= pass->losMs;
    if (pass_ && (!inWindow || pass->aosMs != pass_->aosMs)) {
        log.push_back("rotator: pass ended at LOS " + ClockText(pass_->losMs) +
                      (settings_.park ? "; parking at " + Degrees(settings_.park->azimuthDeg) +
                                            " / " + Degrees(settings_.park->elevationDeg)
                                      : std::string("; the antenna stays where it is")));
        pass_.reset();
    }
    if (inWindow && !pass_) {
        pass_ = pass;
        Plan(*pass, track, log);
        follow_ = startAzimuth_;
        // A pass already under way (a start in the middle of one) is followed at once.
        const std::string what = nowMs < pass->aosMs
                                     ? "turning to " + Degrees(Wrap360(startAzimuth_)) + " for"
                                     : std::string("following");
        log.push_back("rotator: " + what + " the pass of " + ClockText(pass->aosMs) +
                      " (maximum elevation " + Degrees(pass->maxElevationDeg) + ")");
    }
    Pointing want;
    if (inWindow && nowMs < pass->aosMs) {
        want = {startAzimuth_, std::max(0.0, limits_.minElevationDeg)};
    } else if (inWindow) {
        const std::optional<SkyPoint> p = track.At(nowMs);
        if (!p) return std::nullopt;
        want = Command(*p, follow_);
        follow_ = want.azimuthDeg;
    } else if (settings_.park) {
        want = *settings_.park;
    } else {
        return std::nullopt;
    }
    // A position on another turn of the azimuth is a different position for the rotator.
    if (lastSet_ && std::fabs(lastSet_->azimuthDeg - want.azimuthDeg) < 180 &&
        SkyAngleDeg(*lastSet_, want) <= settings_.stepDeg)
        return std::nullopt;
    if (lastSentMs_ && nowMs >= *lastSentMs_ && nowMs - *lastSentMs_ < kMinIntervalMs)
        return std::nullopt;
    lastSentMs_ = nowMs;
    return want;
}

} // namespace tavrik
