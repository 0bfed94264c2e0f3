#pragma once
// The station's sky, as plain values: the settings that shape it, the
// predictor of the satellite's element sets, the passes ahead, and at every
// tick the AOS and LOS that have come (each judged by the pass watch at its
// LOS). The Qt side (station/qt/StationSky) reads the TLE, runs the programs
// and the clock; the web page and the window read what is here.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/StationConfig.h"
#include "sky/FrameSky.h"
#include "sky/SkyPredictor.h"
#include "station/PassWatch.h"
#include "station/StationConsumer.h"

namespace tavrik {

struct SkySettings {
    std::string tle; // a file (relative to the station folder) or an http(s) URL
    bool tleIsUrl = false;
    double refreshHours = 24;
    std::string satellite; // catalogue number or name; empty: the program's own
    Observer observer;
    double horizonDeg = 0;
    double missedPassElDeg = 20;
    std::string passCommand;
};

// The settings as written, checked: nothing when TLE is not set or a value is
// wrong (then `errors` says which, one line each, and the station goes on
// without the sky).
std::optional<SkySettings> ReadSkySettings(const StationConfig& config,
                                           std::vector<std::string>& errors);

class SkyState : public FrameSkySource {
  public:
    static constexpr std::int64_t kOldTleMs = 14LL * 24 * 3600 * 1000;
    static constexpr std::size_t kNextPasses = 10;

    SkyState(SkySettings settings, std::int64_t startMs);

    // New element sets (a TLE file's text): the satellite's sets taken and a
    // new predictor made. Returns the event-log lines (the sets' errors, what
    // is in force or why nothing is); on failure the station goes on without
    // the sky until a good file comes.
    std::vector<std::string> Load(const std::string& text, const std::string& from);
    bool Ready() const { return predictor_.has_value(); }
    const SkySettings& Settings() const { return settings_; }
    const SkyPredictor* Predictor() const { return predictor_ ? &*predictor_ : nullptr; }
    const std::string& SatelliteName() const { return name_; }
    int Catalogue() const { return catalogue_; }
    // The epoch of the set in force at nowMs.
    std::int64_t TleEpochMs(std::int64_t nowMs) const;

    // FrameSkySource: the look angles and the pass of a frame's time.
    std::optional<FrameSky> SkyAt(std::int64_t timeMs) override;

    // What happened at a tick.
    struct Event {
        enum class Kind { Aos, Los } kind = Kind::Aos;
        Pass pass;
        PassWatch::Judgement judgement; // at LOS
    };
    // Once a second or so: the AOS and LOS that have come since the last
    // tick, the modem link's state, and the lines to log (an old TLE, once a day).
    std::vector<Event> Tick(std::int64_t nowMs, bool modemConnected,
                            std::vector<std::string>& lines);
    // A live telemetry frame (for the pass watch).
    void LiveFrame(std::int64_t timeMs) { watch_.Frame(timeMs); }

    // The pass in progress at nowMs, if any, and the next ones from nowMs.
    std::optional<Pass> PassNow(std::int64_t nowMs);
    std::vector<Pass> NextPasses(std::int64_t nowMs, std::size_t count = kNextPasses);
    std::optional<SkyPoint> At(std::int64_t timeMs) const;

    std::uint64_t PassesMissed() const { return watch_.Missed(); }
    std::uint64_t PassesTotal() const { return watch_.Passes(); }

    // The window's line: "Next pass 14:32:05 UTC, max 47°, in 1 h 12 min" or
    // "Pass in progress: elevation 23°, azimuth 140°, LOS in 4 min".
    std::string NextPassLine(std::int64_t nowMs);

  private:
    // The passes over [nowMs - 1 h, nowMs + 2 days], made again when the
    // window has run on a day or the sets changed.
    const std::vector<Pass>& Cached(std::int64_t nowMs);

    SkySettings settings_;
    std::int64_t startMs_;
    std::optional<SkyPredictor> predictor_;
    std::string name_;
    int catalogue_ = 0;
    PassWatch watch_;
    std::vector<Pass> passes_;
    std::int64_t passesFromMs_ = 0, passesToMs_ = -1;
    std::int64_t lastAosMs_, lastLosMs_; // the AOS of the last pass whose AOS / LOS was handled
    std::int64_t oldTleDay_ = -1;
};

} // namespace tavrik
