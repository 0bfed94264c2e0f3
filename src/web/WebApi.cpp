#include "web/WebApi.h"
#include "web/WebRadio.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>

#include "time/TimeArgument.h"
#include "web/JsonWriter.h"
#include "web/WebSky.h"

namespace tavrik {

namespace {

constexpr std::string_view kJson = "application/json";

// The window's four groups, their fields top to bottom (the EPS group by column).
struct Group {
    std::string_view caption;
    std::vector<int> fields;
};
const std::vector<Group>& Groups() {
    static const std::vector<Group> kGroups = [] {
        auto run = [](int from, int to, std::vector<int> v = {}) {
            for (int i = from; i <= to; ++i)
                v.push_back(i);
            return v;
        };
        return std::vector<Group>{
            {"Status", run(0, 5)},
            {"TRXUV", run(6, 13)},
            {"Antennas / Solar Panels", run(41, 45, run(14, 17))},
            {"Electrical Power Subsystem (EPS)", run(18, 40)},
        };
    }();
    return kGroups;
}

const std::string* Find(const QueryItems& query, std::string_view key) {
    for (const auto& [k, v] : query)
        if (k == key) return &v;
    return nullptr;
}

// A whole number from the query within [lo, hi] (clamped), the fallback when absent.
std::optional<long long> Whole(const QueryItems& query, std::string_view key, long long fallback,
                               long long lo, long long hi) {
    const std::string* v = Find(query, key);
    if (!v) return fallback;
    long long n = 0;
    const auto [ptr, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
    if (v->empty() || ec != std::errc{} || ptr != v->data() + v->size()) return std::nullopt;
    return std::clamp(n, lo, hi);
}

WebAnswer Error(int status, std::string_view why) {
    JsonWriter j;
    j.Object().Key("error").String(why).End();
    return {status, std::string(kJson), j.Take()};
}

struct Span {
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
    std::string error;
};

// from/to as ISO 8601 UTC or counted back from now; the default is the last `days`.
Span ReadSpan(const QueryItems& query, std::int64_t nowMs, std::int64_t defaultBackMs) {
    Span s{nowMs - defaultBackMs, nowMs, {}};
    for (auto [key, target] : {std::pair{"from", &s.fromMs}, std::pair{"to", &s.toMs}}) {
        if (const std::string* v = Find(query, key)) {
            const TimeArgument t = ParseTimeArgument(*v, nowMs);
            if (!t.error.empty()) {
                s.error = std::string(key) + ": " + t.error;
                return s;
            }
            *target = t.unixMs;
        }
    }
    if (s.toMs < s.fromMs) s.error = "from is after to";
    return s;
}

void WriteLimit(JsonWriter& j, const FieldLimitView& l) {
    j.Object().Key("level").String(LimitLevelWord(l.level));
    j.Key("word").String(l.word.empty() ? LimitLevelWord(l.level) : l.word);
    j.Key("state").String(l.state.empty() ? "unchecked" : l.state).End();
}

double Seconds(std::int64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

// ---- Prometheus text

void AppendNumber(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendLabelValue(std::string& out, std::string_view v) {
    for (const char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

struct Family {
    std::string& out;
    Family(std::string& o, std::string_view name, std::string_view type, std::string_view help)
        : out(o) {
        out.append("# HELP ").append(name).append(" ").append(help).append("\n");
        out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    }
    void Sample(std::string_view name, double v, std::string_view label = {},
                std::string_view value = {}) {
        out.append(name);
        if (!label.empty()) {
            out.append("{").append(label).append("=\"");
            AppendLabelValue(out, value);
            out.append("\"}");
        }
        out += ' ';
        AppendNumber(out, v);
        out += '\n';
    }
};

} // namespace

std::string_view LimitLevelWord(int level) {
    return LimitLevelWord(static_cast<LimitLevel>(std::clamp(level, 0, 3)));
}

WebApi::WebApi(const WebState& state, std::function<std::int64_t()> nowMs, WebArchive* archive)
    : state_(state), nowMs_(std::move(nowMs)), archive_(archive) {}

std::optional<WebAnswer> WebApi::Answer(std::string_view path, const QueryItems& query) {
    if (path == "/api/current") return WebAnswer{200, std::string(kJson), Current()};
    if (path == "/api/station") return WebAnswer{200, std::string(kJson), Station()};
    if (path == "/api/series") return Series(query);
    if (path == "/api/passes") return Passes(query);
    if (path == "/api/sky") {
        std::string answer = SkyAnswer(sky_, nowMs_());
        AddRadioToSky(answer, radio_ ? radio_() : RadioStatus{});
        return WebAnswer{200, std::string(kJson), std::move(answer)};
    }
    if (path == "/api/sky/track")
        return WebAnswer{200, std::string(kJson), SkyTrackAnswer(sky_, state_.Records(), nowMs_())};
    if (path == "/api/log") {
        if (!Whole(query, "lines", 200, 0, WebState::kLogLines))
            return Error(400, "lines: give a whole number");
        return WebAnswer{200, std::string(kJson), Log(query)};
    }
    if (path == "/metrics")
        return WebAnswer{200, "text/plain; version=0.0.4; charset=utf-8", Metrics()};
    return std::nullopt;
}

std::string WebApi::Current() {
    if (currentVersion_ == state_.RecordVersion()) return current_;
    const RecordView* r = state_.Newest();
    JsonWriter j;
    j.Object();
    j.Key("number").Integer(r ? r->number : 0);
    j.Key("time").Time(r ? r->timeMs : 0);
    j.Key("timestamp").String(r ? r->timestamp : "");
    j.Key("source").String(r ? r->source : "");
    j.Key("imported").Bool(r && r->imported);
    j.Key("sky");
    WriteFrameSky(j, r ? r->sky : std::nullopt);
    j.Key("groups").Array();
    for (const Group& g : Groups()) {
        j.Object().Key("caption").String(g.caption).Key("fields").Array();
        for (const int f : g.fields)
            j.Integer(f);
        j.End().End();
    }
    j.End();
    j.Key("values").Array();
    for (const FieldSpec& f : FieldTable()) {
        j.Object().Key("field").Integer(f.index).Key("name").String(f.caption);
        j.Key("unit").String(f.unit);
        if (r) {
            const double v = r->values[static_cast<std::size_t>(f.index)];
            j.Key("value").Number(v);
            const std::optional<std::string> text = ValueText(f.index, v);
            j.Key("text");
            text ? j.String(*text) : j.Null();
            j.Key("limit");
            WriteLimit(j, r->limits[static_cast<std::size_t>(f.index)]);
        } else {
            j.Key("value").Null().Key("text").Null().Key("limit").Null();
        }
        j.End();
    }
    j.End().End();
    current_ = j.Take();
    currentVersion_ = state_.RecordVersion();
    return current_;
}

std::string WebApi::Station() const {
    const std::int64_t now = nowMs_();
    const ModemView& m = state_.Modem();
    JsonWriter j;
    j.Object().Key("now").Time(now).Key("started").Time(state_.StartedMs());
    j.Key("modem").Object();
    j.Key("endpoint").String(m.endpoint).Key("connected").Bool(m.connected);
    j.Key("since").Time(m.sinceMs);
    j.Key("for_seconds");
    m.sinceMs ? j.Number(Seconds(now - m.sinceMs)) : j.Null();
    j.Key("reconnect_attempts").Integer(static_cast<std::int64_t>(m.reconnectAttempts)).End();
    j.Key("frames").Object();
    j.Key("this_run").Integer(static_cast<std::int64_t>(state_.FramesThisRun()));
    j.Key("today").Integer(static_cast<std::int64_t>(state_.FramesToday(now)));
    j.Key("telemetry_decoded").Integer(static_cast<std::int64_t>(state_.TelemetryDecoded()));
    j.Key("last").Time(state_.LastFrameMs());
    j.Key("last_age_seconds");
    state_.LastFrameMs() ? j.Number(Seconds(now - state_.LastFrameMs())) : j.Null();
    j.Key("kiss_write_failures").Integer(static_cast<std::int64_t>(state_.KissWriteFailures()));
    j.End();
    j.Key("uploads").Array();
    for (const UploadServerView& u : state_.Uploads()) {
        j.Object().Key("server").String(u.server);
        j.Key("accepted").Integer(static_cast<std::int64_t>(u.accepted));
        j.Key("failed").Integer(static_cast<std::int64_t>(u.failed));
        j.Key("queue_entries").Integer(static_cast<std::int64_t>(u.queueEntries));
        j.Key("queue_bytes").Integer(static_cast<std::int64_t>(u.queueBytes));
        j.Key("last_success").Time(u.lastSuccessMs);
        j.Key("last_error").String(u.lastError).Key("last_error_time").Time(u.lastErrorMs);
        j.End();
    }
    j.End();
    j.Key("alarms").Object().Key("yellow").Integer(static_cast<std::int64_t>(state_.Alarms()[0]));
    j.Key("red").Integer(static_cast<std::int64_t>(state_.Alarms()[1])).End();
    j.Key("archive_rows");
    state_.ArchiveRows() ? j.Integer(static_cast<std::int64_t>(*state_.ArchiveRows())) : j.Null();
    j.Key("influx");
    if (const auto& i = state_.Influx()) {
        j.Object().Key("url").String(i->url);
        j.Key("accepted").Integer(static_cast<std::int64_t>(i->accepted));
        j.Key("failed").Integer(static_cast<std::int64_t>(i->failed));
        j.Key("queued").Integer(static_cast<std::int64_t>(i->queued));
        j.Key("last_error").String(i->lastError);
        j.Key("last_error_time").String(i->lastErrorTime).End();
    } else {
        j.Null();
    }
    j.End();
    return j.Take();
}

WebAnswer WebApi::Series(const QueryItems& query) const {
    WebAnswer answer;
    AnswerLater(
        "/api/series", query, [&](WebAnswer a) { answer = std::move(a); }, false);
    return answer;
}

WebAnswer WebApi::Passes(const QueryItems& query) const {
    WebAnswer answer;
    AnswerLater(
        "/api/passes", query, [&](WebAnswer a) { answer = std::move(a); }, false);
    return answer;
}

bool WebApi::ReadsArchive(std::string_view path) {
    return path == "/api/series" || path == "/api/passes";
}

void WebApi::AnswerLater(std::string_view path, const QueryItems& query,
                         std::function<void(WebAnswer)> done, bool useArchive) const {
    WebArchive* archive = useArchive ? archive_ : nullptr;
    if (path == "/api/series") {
        const std::optional<long long> field = Whole(query, "field", -1, -1, kFieldCount);
        if (!field || *field < 0 || *field >= kFieldCount)
            return done(Error(400, "field: give a field number, 0 to 45"));
        const std::optional<long long> points =
            Whole(query, "points", kDefaultPoints, 1, kMaxPoints);
        if (!points) return done(Error(400, "points: give a whole number"));
        const Span span = ReadSpan(query, nowMs_(), 86'400'000);
        if (!span.error.empty()) return done(Error(400, span.error));
        const int f = static_cast<int>(*field);
        const int n = static_cast<int>(*points);
        if (!archive) return done(SeriesAnswer(f, span.fromMs, span.toMs, n, std::nullopt));
        archive->Series(f, span.fromMs, span.toMs, n,
                        [this, f, span, n, done = std::move(done)](auto data) {
                            done(SeriesAnswer(f, span.fromMs, span.toMs, n, std::move(data)));
                        });
        return;
    }
    if (path == "/api/passes") {
        const Span span = ReadSpan(query, nowMs_(), 7 * 86'400'000LL);
        if (!span.error.empty()) return done(Error(400, span.error));
        if (!archive) return done(PassesAnswer(span.fromMs, span.toMs, std::nullopt));
        archive->Passes(span.fromMs, span.toMs, kMaxPasses,
                        [this, span, done = std::move(done)](auto passes) {
                            done(PassesAnswer(span.fromMs, span.toMs, std::move(passes)));
                        });
        return;
    }
    done(Error(404, "not found"));
}

WebAnswer WebApi::SeriesAnswer(int f, std::int64_t fromMs, std::int64_t toMs, int points,
                               std::optional<tavrik::Series> data) const {
    const bool fromArchive = data.has_value();
    if (!data) data = SeriesFromRecords(state_.Records(), f, fromMs, toMs, points);
    std::vector<SeriesBucket>& buckets = data->buckets;
    if (buckets.size() > static_cast<std::size_t>(points)) buckets.resize(points);

    JsonWriter j;
    j.Object().Key("field").Integer(f).Key("name").String(Field(f).caption);
    j.Key("unit").String(Field(f).unit).Key("from").Time(fromMs).Key("to").Time(toMs);
    j.Key("source").String(fromArchive ? "archive" : "run");
    // Columns, as a chart takes them: times in ms since 1970 UTC.
    const auto column = [&](std::string_view key, auto get) {
        j.Key(key).Array();
        for (const SeriesBucket& b : buckets)
            get(b);
        j.End();
    };
    // t: the middle of the bucket (a record's own time when one bucket per record).
    column("t", [&](const SeriesBucket& b) { j.Integer(data->MiddleMs(b)); });
    column("min", [&](const SeriesBucket& b) { j.Number(b.min); });
    column("max", [&](const SeriesBucket& b) { j.Number(b.max); });
    column("mean", [&](const SeriesBucket& b) { j.Number(b.avg); });
    column("count", [&](const SeriesBucket& b) { j.Integer(b.count); });
    // The worst limit level of the field's values in the bucket.
    column("worst", [&](const SeriesBucket& b) { j.String(LimitLevelWord(b.worst)); });
    j.End();
    return {200, std::string(kJson), j.Take()};
}

WebAnswer WebApi::PassesAnswer(std::int64_t fromMs, std::int64_t toMs,
                               std::optional<std::vector<PassView>> passes) const {
    const bool fromArchive = passes.has_value();
    if (!passes) passes = PassesFromRecords(state_.Records(), fromMs, toMs, kMaxPasses);
    if (passes->size() > kMaxPasses) passes->resize(kMaxPasses);
    JsonWriter j;
    j.Object().Key("from").Time(fromMs).Key("to").Time(toMs);
    j.Key("source").String(fromArchive ? "archive" : "run").Key("passes").Array();
    for (const PassView& p : *passes) {
        j.Object().Key("start").Time(p.startMs).Key("end").Time(p.endMs);
        j.Key("frames").Integer(static_cast<std::int64_t>(p.frames));
        j.Key("source").String(state_.Secrets().Clean(p.source));
        j.Key("worst").String(LimitLevelWord(p.worstLevel)).End();
    }
    j.End().End();
    return {200, std::string(kJson), j.Take()};
}

std::string WebApi::Log(const QueryItems& query) const {
    const auto lines = static_cast<std::size_t>(
        Whole(query, "lines", WebState::kLogLines, 0, WebState::kLogLines).value_or(0));
    const auto& log = state_.LogLines();
    JsonWriter j;
    j.Object().Key("lines").Array();
    for (std::size_t i = 0; i < std::min(lines, log.size()); ++i)
        j.String(log[i]);
    j.End().End();
    return j.Take();
}

std::string WebApi::Metrics() const {
    const std::int64_t now = nowMs_();
    std::string out;
    out.reserve(4096);
    auto counter = [&](std::string_view name, std::string_view help, double v) {
        Family(out, name, "counter", help).Sample(name, v);
    };
    counter("tavrik_frames_received_total", "Frames heard from the modem program this run.",
            static_cast<double>(state_.FramesThisRun()));
    counter("tavrik_telemetry_frames_decoded_total",
            "Telemetry frames decoded this run, imported ones included.",
            static_cast<double>(state_.TelemetryDecoded()));
    counter("tavrik_kiss_log_write_failures_total", "Frames the KISS log could not take.",
            static_cast<double>(state_.KissWriteFailures()));
    const auto perServer = [&](std::string_view name, std::string_view type, std::string_view help,
                               auto get) {
        Family fam(out, name, type, help);
        for (const UploadServerView& u : state_.Uploads())
            fam.Sample(name, static_cast<double>(get(u)), "server", u.server);
    };
    perServer("tavrik_uploads_accepted_total", "counter", "Uploads the server accepted.",
              [](const UploadServerView& u) { return u.accepted; });
    perServer("tavrik_uploads_failed_total", "counter", "Upload attempts that failed.",
              [](const UploadServerView& u) { return u.failed; });
    perServer("tavrik_upload_queue_entries", "gauge", "Uploads waiting in the on-disk queue.",
              [](const UploadServerView& u) { return u.queueEntries; });
    perServer("tavrik_upload_queue_bytes", "gauge", "Size of the on-disk upload queue.",
              [](const UploadServerView& u) { return u.queueBytes; });
    Family(out, "tavrik_modem_connected", "gauge", "1 while the modem link is up, else 0.")
        .Sample("tavrik_modem_connected", state_.Modem().connected ? 1 : 0);
    counter("tavrik_modem_reconnect_attempts_total", "Attempts to connect the modem link again.",
            static_cast<double>(state_.Modem().reconnectAttempts));
    {
        Family fam(out, "tavrik_last_frame_age_seconds", "gauge",
                   "Seconds since the last frame was heard (absent before the first).");
        if (state_.LastFrameMs())
            fam.Sample("tavrik_last_frame_age_seconds", Seconds(now - state_.LastFrameMs()));
    }
    {
        Family fam(out, "tavrik_alarms_active", "gauge",
                   "Fields of the newest frame beyond a limit, by level.");
        fam.Sample("tavrik_alarms_active", static_cast<double>(state_.Alarms()[0]), "level",
                   "yellow");
        fam.Sample("tavrik_alarms_active", static_cast<double>(state_.Alarms()[1]), "level", "red");
    }
    {
        // The fields the limits check, as they stand with the newest live record.
        Family fam(out, "tavrik_field_limit_state", "gauge",
                   "A checked field's limit state: 0 in range, 1 yellow, 2 red.");
        if (const RecordView* r = state_.NewestLive())
            for (const FieldSpec& f : FieldTable()) {
                const int level = r->limits[static_cast<std::size_t>(f.index)].level;
                if (level >= 1)
                    fam.Sample("tavrik_field_limit_state", static_cast<double>(level - 1), "field",
                               f.caption);
            }
    }
    if (const auto& i = state_.Influx()) {
        counter("tavrik_influx_accepted_total", "Points InfluxDB took.",
                static_cast<double>(i->accepted));
        counter("tavrik_influx_failed_total", "Requests to InfluxDB that failed.",
                static_cast<double>(i->failed));
        Family(out, "tavrik_influx_queued", "gauge", "Points waiting for InfluxDB.")
            .Sample("tavrik_influx_queued", static_cast<double>(i->queued));
    }
    if (state_.ArchiveRows())
        Family(out, "tavrik_archive_rows", "gauge", "Records kept in the archive.")
            .Sample("tavrik_archive_rows", static_cast<double>(*state_.ArchiveRows()));
    AppendSkyMetrics(out, sky_, now);
    if (radio_) AppendRadioMetrics(out, radio_());
    return out;
}

} // namespace tavrik
