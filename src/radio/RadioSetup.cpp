#include "radio/RadioSetup.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace tavrik {

namespace {

std::optional<double> Number(std::string_view text) {
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<std::int64_t> Whole(std::string_view text) {
    std::int64_t v = 0;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string Quoted(const std::string& key, const std::string& value) {
    return key + " \"" + value + "\"";
}

void ReadRig(const StationConfig& c, RadioSetup& out) {
    const std::string idle = ": the rig stays idle";
    const std::optional<HostPort> address = SplitHostPort(c.rig);
    if (!address || address->host.empty()) {
        out.problems.push_back(Quoted("RIG", c.rig) +
                               " is not host:port of a rigctld (e.g. 127.0.0.1:4532)" + idle);
        return;
    }
    const std::optional<std::int64_t> downlink = Whole(c.downlinkHz);
    if (!downlink || *downlink < 1000 || *downlink > 300'000'000'000) {
        out.problems.push_back(
            (c.downlinkHz.empty()
                 ? std::string("RIG is set but DOWNLINK_HZ is not")
                 : Quoted("DOWNLINK_HZ", c.downlinkHz) + " is not a frequency in whole Hz") +
            " (e.g. DOWNLINK_HZ=435000000)" + idle);
        return;
    }
    std::optional<std::int64_t> offset = std::int64_t{0};
    if (!c.rigOffsetHz.empty()) offset = Whole(c.rigOffsetHz);
    if (!offset || std::llabs(*offset) > 1'000'000) {
        out.problems.push_back(Quoted("RIG_OFFSET_HZ", c.rigOffsetHz) +
                               " is not a whole number of Hz from -1000000 to 1000000" + idle);
        return;
    }
    out.rig = RigSetup{*address, {*downlink, *offset}};
}

void ReadRotator(const StationConfig& c, RadioSetup& out) {
    const std::string idle = ": the rotator stays idle";
    const std::vector<std::string> words = Words(c.rotator);
    const std::optional<HostPort> address =
        words.empty() ? std::nullopt : SplitHostPort(words.front());
    RotatorSetup setup;
    if (!address || address->host.empty() || (words.size() != 1 && words.size() != 3)) {
        out.problems.push_back(Quoted("ROTATOR", c.rotator) +
                               " is not host:port of a rotctld, optionally followed by the "
                               "azimuth range (e.g. 127.0.0.1:4533 or 127.0.0.1:4533 -180 540)" +
                               idle);
        return;
    }
    setup.address = *address;
    if (words.size() == 3) {
        const std::optional<double> from = Number(words[1]), to = Number(words[2]);
        if (!from || !to || *to - *from < 90 || *from < -360 || *to > 720) {
            out.problems.push_back(Quoted("ROTATOR", c.rotator) +
                                   ": the azimuth range must read MIN MAX, at least 90 degrees "
                                   "wide within -360 to 720" +
                                   idle);
            return;
        }
        setup.limits = RotatorLimits{*from, *to, 0, 90};
    }
    if (!c.rotatorStep.empty()) {
        const std::optional<double> step = Number(c.rotatorStep);
        if (!step || *step <= 0 || *step > 45) {
            out.problems.push_back(Quoted("ROTATOR_STEP", c.rotatorStep) +
                                   " is not a number of degrees above 0 and up to 45" + idle);
            return;
        }
        setup.tracking.stepDeg = *step;
    }
    if (!c.rotatorMaxEl.empty()) {
        const std::optional<double> maxEl = Number(c.rotatorMaxEl);
        if (!maxEl || *maxEl < 1 || *maxEl > 180) {
            out.problems.push_back(Quoted("ROTATOR_MAX_EL", c.rotatorMaxEl) +
                                   " is not an elevation from 1 to 180 degrees" + idle);
            return;
        }
        setup.tracking.maxElevationDeg = *maxEl;
        if (setup.limits) setup.limits->maxElevationDeg = *maxEl;
    }
    if (!c.rotatorPark.empty()) {
        const std::vector<std::string> park = Words(c.rotatorPark);
        const std::optional<double> az = park.size() == 2 ? Number(park[0]) : std::nullopt;
        const std::optional<double> el = park.size() == 2 ? Number(park[1]) : std::nullopt;
        if (park.size() == 1 && park[0] == "stay") {
            setup.tracking.park.reset();
        } else if (az && el && *az >= -360 && *az <= 720 && *el >= 0 && *el <= 180) {
            setup.tracking.park = Pointing{*az, *el};
        } else {
            out.problems.push_back(Quoted("ROTATOR_PARK", c.rotatorPark) +
                                   " is neither \"AZIMUTH ELEVATION\" in degrees nor \"stay\"" +
                                   idle);
            return;
        }
    }
    out.rotator = setup;
}

} // namespace

RadioSetup ReadRadioSetup(const StationConfig& c) {
    RadioSetup out;
    if (!c.rig.empty()) ReadRig(c, out);
    if (!c.rotator.empty()) ReadRotator(c, out);
    return out;
}

} // namespace tavrik
