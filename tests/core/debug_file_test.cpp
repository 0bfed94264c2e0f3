#include <gtest/gtest.h>

#include <string>

#include "files/DebugFile.h"

using namespace tavrik;

namespace {
const std::string kSep = "----------------------------------------------------";
}

TEST(DebugFileText, ExactLayout) {
    const std::string eventLog = "2024-03-05 14:07:09.250: b\r\n2024-03-05 14:07:08.000: a\r\n";
    const std::string frames = "00 A8 \r\n";
    const std::string config("MYCALL=N0CALL\r\nPORT=h:1\0\xFF", 26);
    const std::string text = DebugFileText(eventLog, frames, config);
    EXPECT_EQ(kSep.size(), 52u);
    EXPECT_EQ(text, "Debugfile Tavrik Online Telemetry Decoder (Veskar)\r\n"
                    "Version: 0.3\r\n" +
                        kSep + "\r\n" + eventLog + "\r\n" + kSep + "\r\n" + frames + "\r\n" + kSep +
                        "\r\n" + config + "\r\n" + kSep + "\r\n" +
                        "thanks 73, Brell \r\n"
                        "Veskar\r\n");
}

TEST(DebugFileText, EmptyBlocksGiveEmptyLines) {
    const std::string text = DebugFileText("", "", "");
    EXPECT_NE(text.find("Version: 0.3\r\n" + kSep + "\r\n\r\n" + kSep + "\r\n\r\n" + kSep +
                        "\r\n\r\n" + kSep + "\r\nthanks 73, Brell \r\nVeskar\r\n"),
              std::string::npos);
    EXPECT_EQ(text.rfind("Debugfile", 0), 0u);
}

TEST(DebugFileName, CallSignAndUtcMinute) {
    EXPECT_EQ(DebugFileName("/prog", "N0CALL", {2024, 3, 5, 14, 7, 0, 0}),
              "/prog/N0CALL_05032024_1407.txt");
    EXPECT_EQ(DebugFileName("/prog", "", {2024, 3, 5, 14, 7, 0, 0}), "/prog/_05032024_1407.txt");
    EXPECT_EQ(DebugFileName("/prog", "A/B", {2024, 3, 5, 14, 7, 0, 0}),
              "/prog/A-B_05032024_1407.txt");
    // UTC, not local: half past midnight an hour east of Greenwich is the previous day.
    const FixedClock clock(
        {{2024, 3, 6, 0, 30, 0, 0}, {-60, 0, 0, TimeZoneInfo::InForce::Standard}});
    EXPECT_EQ(DebugFileName("/p", "N0CALL", UtcNow(clock)), "/p/N0CALL_05032024_2330.txt");
}
