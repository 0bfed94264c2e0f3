#include "station/PassWatch.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max();
// A station hears a few frames a minute; more than this between two LOS are
// not needed to know that one was heard.
constexpr std::size_t kFramesKept = 4096;

} // namespace

PassWatch::PassWatch(double missedPassElDeg, std::int64_t startMs)
    : missedPassElDeg_(missedPassElDeg) {
    downs_.push_back({std::numeric_limits<std::int64_t>::min(), kForever});
    Modem(false, startMs);
}

void PassWatch::Modem(bool connected, std::int64_t nowMs) {
    if (connected == connected_) return;
    connected_ = connected;
    if (connected) {
        if (!downs_.empty() && downs_.back().toMs == kForever) downs_.back().toMs = nowMs;
    } else {
        downs_.push_back({nowMs, kForever});
    }
}

void PassWatch::Frame(std::int64_t timeMs) {
    if (frames_.size() >= kFramesKept) frames_.erase(frames_.begin());
    frames_.push_back(timeMs);
}

PassWatch::Judgement PassWatch::PassEnded(const Pass& pass) {
    Judgement j;
    ++passes_;
    for (const std::int64_t t : frames_)
        if (t >= pass.aosMs && t <= pass.losMs) ++j.framesHeard;
    for (const Down& d : downs_) {
        const std::int64_t from = std::max(d.fromMs, pass.aosMs);
        const std::int64_t to = std::min(d.toMs, pass.losMs);
        if (to > from) j.disconnectedMs += to - from;
    }
    // What ended before this LOS can no longer touch a later pass.
    std::erase_if(frames_, [&](std::int64_t t) { return t <= pass.losMs; });
    std::erase_if(downs_, [&](const Down& d) { return d.toMs <= pass.losMs; });

    const bool high = pass.maxElevationDeg >= missedPassElDeg_;
    const std::string maxEl = std::to_string(static_cast<int>(std::lround(pass.maxElevationDeg)));
    if (j.framesHeard > 0) {
        j.verdict = Verdict::Heard;
    } else if (!high) {
        j.verdict = Verdict::Low;
    } else if (j.disconnectedMs > 0) {
        j.verdict = Verdict::NotWatched;
        j.line = "pass not watched: modem disconnected for " + DurationWords(j.disconnectedMs) +
                 " of the pass (AOS " + PassTimeText(pass.aosMs) + ", maximum elevation " + maxEl +
                 "°)";
    } else {
        j.verdict = Verdict::Missed;
        ++missed_;
        j.line = "missed pass: AOS " + PassTimeText(pass.aosMs) + " LOS " +
                 PassTimeText(pass.losMs) + ", maximum elevation " + maxEl +
                 "°, modem connected, no frame heard";
    }
    return j;
}

std::string PassTimeText(std::int64_t ms) {
    const std::string s = FormatTimestamp(UtcDateTime(ms));
    return s.substr(0, 19) + " UTC";
}

std::string DurationWords(std::int64_t ms) {
    const std::int64_t s = std::max<std::int64_t>(0, (ms + 500) / 1000);
    if (s < 60) return std::to_string(s) + " s";
    const std::int64_t min = (s + 30) / 60;
    if (min < 60) return std::to_string(min) + " min";
    return std::to_string(min / 60) + " h " + std::to_string(min % 60) + " min";
}

} // namespace tavrik
