#include "station/LimitsConsumer.h"

namespace tavrik {

LimitsConsumer::LimitsConsumer(AlarmLevel level, std::function<void(const LimitsNews&)> news)
    : level_(level), news_(std::move(news)) {}

void LimitsConsumer::SetLimits(LimitsTable table) {
    checker_.SetTable(std::move(table));
    Tell({});
}

void LimitsConsumer::Annotate(DecodedFrame& frame) {
    if (frame.heard.imported) { // old data: judged, but no state moves
        frame.limits = FrameLimits{Classify(frame.record), checker_.Current()};
        return;
    }
    const LimitsChecker::Result r = checker_.Check(frame.record.values);
    lastValues_ = frame.record.values;
    LimitsNews news;
    for (const LimitChange& c : r.changes) {
        news.logLines.push_back(c.LogLine());
        if (RaisesAlarm(c, level_))
            news.alarms.push_back(MakeAlarmCall(c, frame.heard.received, frame.source));
    }
    pending_ = std::move(news);
    frame.limits = FrameLimits{r.frame, checker_.Current()};
}

void LimitsConsumer::TelemetryDecoded(const DecodedFrame& frame) {
    if (frame.heard.imported) return;
    if (!pending_) { // handed a frame without the annotation step (a station without it)
        DecodedFrame judged = frame;
        Annotate(judged);
    }
    LimitsNews news = std::move(*pending_);
    pending_.reset();
    Tell(std::move(news));
}

void LimitsConsumer::Tell(LimitsNews news) {
    // The words follow the latest value while a field stays out; in-range
    // fields cost nothing, so a quiet frame tells nobody anything.
    const LimitsTable& table = checker_.Table();
    bool changed = !news.logLines.empty();
    for (std::size_t f = 0; f < news.look.size(); ++f) {
        FieldLook& look = news.look[f];
        look.state = checker_.Current().fields[f];
        if (look.state.OutOfRange())
            look.words =
                StateWords(table.fields[f], static_cast<int>(f), look.state, lastValues_[f]);
        changed = changed || !(look == shown_[f]);
    }
    if (!changed) return;
    shown_ = news.look;
    if (news_) news_(news);
}

} // namespace tavrik
