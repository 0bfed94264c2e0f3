#include <gtest/gtest.h>

#include "files/StationConfig.h"
#include "limits/Alarm.h"
#include "limits/LimitsChecker.h"
#include "station/LimitsConsumer.h"

using namespace tavrik;

namespace {
constexpr int kOps = 0, kPaTemp = 12, kBatt = 21, kTrack = 40;
}

TEST(LimitsFile, GoodLinesAreUsedAndBadOnesNamedByLine) {
    const LimitsParse p =
        ParseLimits("\xEF\xBB\xBF# caption red-low yellow-low yellow-high red-high\r\n"
                    "Batt volts       6800 7000 8300 8450 3 # after the limits\r\n"
                    "pa\tTEMP  - -10 60 70\n"
                    "\n"
                    "EPS track  yellow=HW default,max power red=SW  FIXED point 2\n"
                    "OPS mode red=idle\n"
                    "3v3 #1 curr - - - 400\n"
                    "Bat volts 1 2 3 4\n"
                    "Bus voltage 8 7 - -\n"
                    "TX curr 1 2 x 4\n"
                    "RX curr 1 2 3\n"
                    "EPS mode red=warp\n"
                    "Batt volts 1 2 3 4\n"
                    "Uptime 1 2 3 4 0\n"
                    "Doppler yellow=norm\n"
                    "EPS boot red=norm\n"
                    "EPS mode 1 2 3 4\n"
                    "EPS mode yellow=crit red=crit\n"
                    "RSSI - - - inf\n"
                    "Bat\x1b[2J 1 2 3 4\n");
    const auto& f = p.table.fields;
    EXPECT_EQ(f[kBatt].redLow, 6800);
    EXPECT_EQ(f[kBatt].redHigh, 8450);
    EXPECT_EQ(f[kBatt].persistence, 3);
    EXPECT_FALSE(f[kPaTemp].redLow);
    EXPECT_EQ(f[kPaTemp].yellowLow, -10);
    EXPECT_EQ(f[kTrack].yellowStates, (std::vector<int>{0, 1}));
    EXPECT_EQ(f[kTrack].redStates, (std::vector<int>{2}));
    EXPECT_EQ(f[kTrack].persistence, 2);
    EXPECT_EQ(f[kOps].redStates, (std::vector<int>{0}));
    EXPECT_EQ(f[27].redHigh, 400);
    EXPECT_EQ(p.table.InForce(), 5);

    const std::vector<std::string> expected = {
        "line 8: unknown caption \"Bat volts\"",
        "line 9: yellow-low 7 is below red-low 8",
        "line 10: yellow-high \"x\" is not a number",
        "line 11: RX curr needs four limits (red-low yellow-low yellow-high red-high, - for none) "
        "and an optional persistence, not 3 words",
        "line 12: EPS mode has no state \"warp\" (its states: begin, crit, safe, norm, full)",
        "line 13: Batt volts already has limits on line 2",
        "line 14: persistence \"0\" is not a whole number from 1 to 1000",
        "line 15: Doppler takes numbers, not state names",
        "line 16: EPS boot takes numbers, not state names",
        "line 17: EPS mode is shown as state names: give yellow=NAME or red=NAME, not \"1\"",
        "line 18: EPS mode: \"crit\" is both yellow and red",
        "line 19: red-high \"inf\" is not a number",
        "line 20: unknown caption \"Bat\\x1B[2J\"",
    };
    std::vector<std::string> got;
    for (const LimitsLineError& e : p.errors)
        got.push_back(ErrorText(e));
    EXPECT_EQ(got, expected);
}

TEST(LimitsChecker, PersistenceAndEdges) {
    LimitsChecker c;
    c.SetTable(ParseLimits("Batt volts 6800 7000 8300 8450 3").table);
    std::array<double, kFieldCount> v{};
    struct Step {
        double batt;
        const char* change; // the log line of a change at this frame, "" for none
        const char* words;  // the state in force, in words
    } steps[] = {
        {7000, "", ""}, // on the limit is inside it
        {6799, "", ""}, // red once,
        {6900, "", ""}, // then yellow: the count starts over,
        {6799, "", ""}, // red,
        {6712, "", ""}, // red,
        {6750, "limit: Batt volts 6750 mV red low (below 6800)", "red low: 6750 mV, below 6800"},
        {6600, "", "red low: 6750 mV, below 6800"}, // staying red writes nothing more
        {7105, "", "red low: 6750 mV, below 6800"},
        {7105, "", "red low: 6750 mV, below 6800"},
        {7105, "limit: Batt volts 7105 mV back in range", ""},
        {8451, "", ""},
        {8451, "", ""},
        {8451, "limit: Batt volts 8451 mV red high (above 8450)", "red high: 8451 mV, above 8450"},
    };
    for (const Step& s : steps) {
        v[kBatt] = s.batt;
        const LimitsChecker::Result r = c.Check(v);
        std::string line = r.changes.empty() ? "" : r.changes.front().LogLine();
        EXPECT_EQ(line, s.change) << s.batt;
        const FieldLimitState now = c.Current().fields[kBatt];
        if (!r.changes.empty()) {
            EXPECT_EQ(StateWords(c.Table().fields[kBatt], kBatt, now, s.batt), s.words);
        }
        EXPECT_EQ(now.OutOfRange(), *s.words != '\0') << s.batt;
        EXPECT_EQ(c.Current().fields[kPaTemp].level, LimitLevel::Unchecked);
    }
}

TEST(LimitsConsumer, LiveFramesAlarmOnceImportedFramesNever) {
    std::vector<LimitsNews> told;
    LimitsConsumer consumer(AlarmLevel::Red, [&](const LimitsNews& n) { told.push_back(n); });
    consumer.SetLimits(ParseLimits("PA temp - -10 60 70\nEPS track red=SW fixed point").table);
    told.clear();
    DecodedFrame frame;
    frame.heard.received = "2026-03-05 14:07:09.250";
    frame.source = "RS9\n9S"; // sent by anyone on the air
    frame.record.values[kPaTemp] = 71.5;
    frame.record.values[kTrack] = 2;

    frame.heard.imported = true;
    consumer.TelemetryDecoded(frame);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(consumer.Classify(frame.record).Summary(), "PA temp red-high; EPS track red");

    frame.heard.imported = false;
    consumer.TelemetryDecoded(frame);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].logLines,
              (std::vector<std::string>{"limit: PA temp 71.50 C red high (above 70)",
                                        "limit: EPS track SW fixed point red (a red state)"}));
    ASSERT_EQ(told[0].alarms.size(), 2u);
    const std::vector<std::pair<std::string, std::string>> env = {
        {"TAVRIK_FIELD", "PA temp"}, {"TAVRIK_STATE", "red-high"},
        {"TAVRIK_VALUE", "71.50"},   {"TAVRIK_LIMIT", "70"},
        {"TAVRIK_UNIT", "C"},        {"TAVRIK_TIME", "2026-03-05T14:07:09.250Z"},
        {"TAVRIK_SOURCE", "RS9?9S"}};
    EXPECT_EQ(told[0].alarms[0].environment, env);
    EXPECT_EQ(told[0].alarms[0].line.find('\n'), std::string::npos);
    EXPECT_EQ(told[0].look[kTrack].words, "red: SW fixed point");

    // The same frame again: nothing new to tell. Yellow does not alarm at level red.
    consumer.TelemetryDecoded(frame);
    frame.record.values[kPaTemp] = 65;
    consumer.TelemetryDecoded(frame);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[1].alarms.empty());
    EXPECT_EQ(told[1].look[kPaTemp].words, "yellow high: 65.00 C, above 60");

    // Limits taken away: the window forgets the state at once.
    consumer.SetLimits({});
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2].look[kPaTemp], FieldLook{});
}

TEST(AlarmBudget, TenAMinuteAndOneCountOfTheRest) {
    AlarmBudget b;
    int ran = 0;
    for (int i = 0; i < 14; ++i)
        ran += b.MayRun(1000 + i);
    EXPECT_EQ(ran, 10);
    EXPECT_EQ(b.ReportAt(), 1010 + 60000);
    EXPECT_EQ(b.TakeRefused(61009), 0);
    EXPECT_TRUE(b.MayRun(61000)); // the first start left the window
    EXPECT_FALSE(b.MayRun(61000));
    EXPECT_EQ(b.TakeRefused(61010), 5);
    EXPECT_EQ(b.TakeRefused(61010), 0);
}

TEST(AlarmLevel, YellowRunsTheProgramOnlyWhenAskedAndBackInRangeNever) {
    const ConfigReadResult r =
        ParseStationConfig("PORT=127.0.0.1:8000\r\nLIMITS=my limits.conf\r\nALARM_LEVEL=YELLOW\r\n"
                           "ALARM_COMMAND=/usr/bin/mail -s \"Tavrik alarm\" me@example.org\r\n");
    EXPECT_EQ(r.config.limits, "my limits.conf");
    EXPECT_EQ(r.config.alarmCommand, "/usr/bin/mail -s \"Tavrik alarm\" me@example.org");
    const AlarmLevel level = r.config.alarmYellow ? AlarmLevel::Yellow : AlarmLevel::Red;
    const FieldLimitState inRange{LimitLevel::InRange, LimitSide::None};
    const FieldLimitState yellow{LimitLevel::Yellow, LimitSide::High};
    const FieldLimitState red{LimitLevel::Red, LimitSide::High};
    EXPECT_TRUE(RaisesAlarm({kPaTemp, inRange, yellow, 61, 60}, level));
    EXPECT_FALSE(RaisesAlarm({kPaTemp, inRange, yellow, 61, 60}, AlarmLevel::Red));
    EXPECT_TRUE(RaisesAlarm({kPaTemp, yellow, red, 71, 70}, AlarmLevel::Red));
    EXPECT_FALSE(RaisesAlarm({kPaTemp, red, inRange, 20, {}}, level));
}
