#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <string>

#include "core_test_support.h"
#include "telemetry/FrameText.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::TelemetryHeader;

TEST(HexByte, EveryByteTwoUpperCaseDigits) {
    EXPECT_EQ(HexByte(0x0A), "0A");
    EXPECT_EQ(HexByte(0xF0), "F0");
    for (int b = 0; b < 256; ++b) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", b);
        ASSERT_EQ(HexByte(static_cast<std::uint8_t>(b)), expected);
    }
}

TEST(TelemetryFrameText, PairsEachFollowedByABlank) {
    EXPECT_EQ(TelemetryFrameText(Bytes{0x00, 0x03, 0xF0}), "00 03 F0 ");
    EXPECT_EQ(TelemetryFrameText(Bytes{}), "");
    EXPECT_EQ(TelemetryFrameText(Bytes{0xAB}), "AB ");
}

TEST(TelemetryFrameText, AtMost512Bytes) {
    Bytes frame(600);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i * 7);
    const std::string text = TelemetryFrameText(frame);
    ASSERT_EQ(text.size(), 3u * 512u);
    for (std::size_t p = 1; p <= 512; ++p) {
        ASSERT_EQ(text.substr(3 * p - 3, 2), HexByte(frame[p - 1])) << p;
        ASSERT_EQ(text[3 * p - 1], ' ');
    }
    EXPECT_EQ(TelemetryFrameText(Bytes(512, 0)).size(), 1536u);
    EXPECT_EQ(TelemetryFrameText(Bytes(511, 0)).size(), 1533u);
}

TEST(MatchesTelemetryHeader, FirstFiftyCharactersExactly) {
    const Bytes header = TelemetryHeader();
    const std::string text17 = TelemetryFrameText(header);
    EXPECT_EQ(text17.size(), 51u);
    EXPECT_TRUE(MatchesTelemetryHeader(text17));
    EXPECT_EQ(text17.substr(0, 50), kTelemetryHeaderText);

    Bytes longer = header;
    longer.insert(longer.end(), {0x10, 0x01, 0x01});
    EXPECT_TRUE(MatchesTelemetryHeader(TelemetryFrameText(longer)));
    EXPECT_TRUE(MatchesTelemetryHeader(kTelemetryHeaderText)); // exactly 50 characters

    // One byte fewer, or any one byte different, does not match.
    EXPECT_FALSE(
        MatchesTelemetryHeader(TelemetryFrameText(Bytes(header.begin(), header.end() - 1))));
    EXPECT_FALSE(MatchesTelemetryHeader(kTelemetryHeaderText.substr(0, 49)));
    EXPECT_FALSE(MatchesTelemetryHeader(""));
    for (std::size_t i = 0; i < header.size(); ++i) {
        Bytes other = header;
        other[i] ^= 0x02;
        EXPECT_FALSE(MatchesTelemetryHeader(TelemetryFrameText(other))) << i;
    }
    std::string lower = text17;
    lower[4] = 'a'; // "A8" written "a8"
    EXPECT_FALSE(MatchesTelemetryHeader(lower));
}

TEST(CallSignText, DestinationThenSource) {
    EXPECT_EQ(CallSignText(TelemetryHeader()), "TAVRIK -> TAVRIK");
    // N0CALL to DL1ABC: the destination is shown first.
    Bytes f{0x00};
    for (char c : std::string("DL1ABC"))
        f.push_back(static_cast<std::uint8_t>(c << 1));
    f.push_back(0x60);
    for (char c : std::string("N0CALL"))
        f.push_back(static_cast<std::uint8_t>(c << 1));
    f.insert(f.end(), {0x61, 0x03, 0xF0, 0x41});
    EXPECT_EQ(CallSignText(f), "DL1ABC -> N0CALL");
}

TEST(CallSignText, EveryByteHalvedWithHalvesToEven) {
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    for (int b = 0; b < 256; ++b) {
        const Bytes f(15, static_cast<std::uint8_t>(b));
        const char c = static_cast<char>(static_cast<int>(std::nearbyint(b / 2.0)));
        const std::string six(6, c);
        ASSERT_EQ(CallSignText(f), six + " -> " + six) << b;
    }
    EXPECT_EQ(CallSignText(Bytes{0, 0x83, 0x85, 0x81, 0x82, 0x84, 0x86}), "BB@ABC -> ");
}

TEST(CallSignText, ShortFramesShowWhatTheyHave) {
    const Bytes h = TelemetryHeader();
    struct Case {
        std::size_t length;
        const char* text;
    } cases[] = {{0, " -> "},
                 {1, " -> "},
                 {4, "TAV -> "},
                 {7, "TAVRIK -> "},
                 {8, "TAVRIK -> "},
                 {10, "TAVRIK -> TA"},
                 {13, "TAVRIK -> TAVRI"},
                 {14, "TAVRIK -> TAVRIK"},
                 {17, "TAVRIK -> TAVRIK"}};
    for (const Case& c : cases)
        EXPECT_EQ(CallSignText(Bytes(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(c.length))),
                  c.text)
            << c.length;
}
