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
    std::optional<WebAnswer> Answer(std::string_view path, const QueryItems& query);

    std::string Current();
    std::string Station() const;
    WebAnswer Series(const QueryItems& query) const;
    WebAnswer Passes(const QueryItems& query) const;
    std::string Log(const QueryItems& query) const;
    std::string Metrics() const;

  private:
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
