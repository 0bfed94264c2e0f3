#pragma once
// The JSON API and /metrics: answers rendered from the WebState (and the
// archive, when there is one) for a path and its query. Every answer is
// bounded: points, lines and passes are capped whatever the query asks.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "radio/RadioStatus.h"
#include "station/SkyState.h"
#include "web/WebSeries.h"
#include "web/WebState.h"

namespace tavrik {

struct WebAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
};

using QueryItems = std::vector<std::pair<std::string, std::string>>;

class WebApi {
  public:
    static constexpr int kDefaultPoints = 500;
    static constexpr int kMaxPoints = 2000;
    static constexpr std::size_t kMaxPasses = 100;

    // nowMs reads the clock; archive may be null (no archive on this station).
    WebApi(const WebState& state, std::function<std::int64_t()> nowMs,
           WebArchive* archive = nullptr);
    void SetArchive(WebArchive* archive) { archive_ = archive; }
    // The station's sky (TLE=); none answers /api/sky with nulls.
    void SetSky(SkyState* sky) {
        sky_ = sky;
        currentVersion_ = ~std::uint64_t{0};
    }

    // RIG / ROTATOR: what /api/sky and /metrics show of them, read when asked.
    void SetRadio(std::function<RadioStatus()> radio) { radio_ = std::move(radio); }

    // The answer for an API path or /metrics; nothing for any other path.
    // Series and passes come from this run's records here: with an archive
    // they are asked through AnswerLater.
    std::optional<WebAnswer> Answer(std::string_view path, const QueryItems& query);
    // The paths whose answer may read many archive rows.
    static bool ReadsArchive(std::string_view path);
    // Their answer: at once without an archive (or a bad query), else when
    // the archive's thread has it, on the thread that asked, which never
    // waits for it. Not called when the archive goes away first.
    void AnswerLater(std::string_view path, const QueryItems& query,
                     std::function<void(WebAnswer)> done, bool useArchive = true) const;

    std::string Current();
    std::string Station() const;
    WebAnswer Series(const QueryItems& query) const;
    WebAnswer Passes(const QueryItems& query) const;
    std::string Log(const QueryItems& query) const;
    std::string Metrics() const;

  private:
    WebAnswer SeriesAnswer(int field, std::int64_t fromMs, std::int64_t toMs, int points,
                           std::optional<tavrik::Series> data) const;
    WebAnswer PassesAnswer(std::int64_t fromMs, std::int64_t toMs,
                           std::optional<std::vector<PassView>> passes) const;

    const WebState& state_;
    std::function<std::int64_t()> nowMs_;
    WebArchive* archive_;
    SkyState* sky_ = nullptr;
    std::function<RadioStatus()> radio_;
    // /api/current is what every open page asks for every second: rendered
    // once per record.
    std::string current_;
    std::uint64_t currentVersion_ = ~std::uint64_t{0};
};

// The word of a limit level: "unchecked", "in range", "yellow", "red".
std::string_view LimitLevelWord(int level);

} // namespace tavrik
