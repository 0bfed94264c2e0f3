#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "files/StationConfig.h"
#include "telemetry/FrameText.h"
#include "upload/UploadBody.h"

using namespace tavrik;
using tavrik::test::Bytes;

namespace {

const std::string kTs = "2024-03-05 14:07:09.250";

StationConfig Station(std::string mycall, std::string lat, std::string lon) {
    StationConfig c;
    c.mycall = std::move(mycall);
    c.qthLat = std::move(lat);
    c.qthLong = std::move(lon);
    return c;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits a body into its fields and undoes the percent-encoding.
std::vector<std::pair<std::string, std::string>> ParseBody(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t amp = body.find('&', pos);
        if (amp == std::string::npos) amp = body.size();
        const std::string field = body.substr(pos, amp - pos);
        const std::size_t eq = field.find('=');
        EXPECT_NE(eq, std::string::npos) << field;
        std::string value;
        for (std::size_t i = eq + 1; i < field.size(); ++i) {
            if (field[i] == '%' && i + 2 < field.size()) {
                const int hi = HexValue(field[i + 1]), lo = HexValue(field[i + 2]);
                EXPECT_GE(hi, 0);
                EXPECT_GE(lo, 0);
                value += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                value += field[i];
            }
        }
        fields.emplace_back(field.substr(0, eq), value);
        pos = amp + 1;
    }
    return fields;
}

} // namespace

TEST(UploadBody, FieldsInOrderWithTheirValues) {
    Bytes frame = tavrik::test::TelemetryHeader();
    frame.insert(frame.end(), {0x10, 0x01, 0x01, 0xFF});
    const std::string body = ComposeUploadBody(TelemetryFrameText(frame),
                                               Station("N0CALL", "48.1234", "11.5"), "99999", kTs);
    EXPECT_EQ(body, "noradID=99999&source=N0CALL&timestamp=2024-03-05T14:07:09.250Z"
                    "&frame=A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0 10 01 01 FF"
                    "&locator=longLat&longitude=11.5&latitude=48.1234&tncPort=0");
}

TEST(UploadBody, EmptySettingsStillGiveEveryField) {
    const std::string body = ComposeUploadBody("00 A8 82 ", Station("", "", ""), "99999", kTs);
    EXPECT_EQ(body, "noradID=99999&source=&timestamp=2024-03-05T14:07:09.250Z&frame=A8 82"
                    "&locator=longLat&longitude=&latitude=&tncPort=0");
}

TEST(UploadBody, FrameValueDropsThePortByteAndTrailingBlanks) {
    struct Case {
        std::string text;
        std::string frame;
    } cases[] = {
        {"00 A8 82 ", "A8 82"}, {"00 ", ""}, {"", ""}, {"00 A8 82   ", "A8 82"}, {"01 FF ", "FF"}};
    for (const Case& c : cases) {
        const auto fields =
            ParseBody(ComposeUploadBody(c.text, Station("a", "b", "c"), "99999", kTs));
        ASSERT_EQ(fields.size(), 8u);
        EXPECT_EQ(fields[3].first, "frame");
        EXPECT_EQ(fields[3].second, c.frame) << c.text;
    }
    // A full frame of 512 bytes sends the 511 after the port byte.
    const std::string text = TelemetryFrameText(Bytes(600, 0xC0));
    const auto fields = ParseBody(ComposeUploadBody(text, Station("a", "b", "c"), "99999", kTs));
    EXPECT_EQ(fields[3].second.size(), 511u * 3 - 1);
}

TEST(UploadBody, TimestampIsIso8601WithMilliseconds) {
    EXPECT_EQ(IsoTimestamp("2024-03-05 14:07:09.250"), "2024-03-05T14:07:09.250Z");
    EXPECT_EQ(IsoTimestamp("1999-12-31 23:59:59.005"), "1999-12-31T23:59:59.005Z");
    EXPECT_EQ(IsoTimestamp(kTs).size(), 24u);
}

TEST(UploadBody, SettingsThatWouldBreakTheFormArePercentEncoded) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"N0CALL", "N0CALL"},
        {"DL1ABC/P", "DL1ABC/P"},
        {"A&B=C+D%E", "A%26B%3DC%2BD%25E"},
        {"a b", "a b"},
        {std::string("x\ty\r\n\x01", 6), "x%09y%0D%0A%01"},
        {"\x7F", "%7F"},
        {"\xC3\xA9", "%C3%A9"},
        {"-48.5", "-48.5"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormValue(c.in), c.out) << c.in;

    const std::string body =
        ComposeUploadBody("00 A8 ", Station("A&B", "1=2", "3+4%"), "99999", kTs);
    EXPECT_EQ(body, "noradID=99999&source=A%26B&timestamp=2024-03-05T14:07:09.250Z&frame=A8"
                    "&locator=longLat&longitude=3%2B4%25&latitude=1%3D2&tncPort=0");
}

TEST(UploadBody, AnySettingsComeBackFromTheBody) {
    std::mt19937 rng(31);
    const char* names[] = {"noradID", "source",    "timestamp", "frame",
                           "locator", "longitude", "latitude",  "tncPort"};
    for (int round = 0; round < 500; ++round) {
        auto randomText = [&] {
            std::string s(rng() % 12, ' ');
            for (char& c : s)
                c = static_cast<char>(rng() % 256);
            return s;
        };
        const StationConfig c = Station(randomText(), randomText(), randomText());
        Bytes frame(rng() % 40);
        for (auto& b : frame)
            b = static_cast<std::uint8_t>(rng());
        const std::string text = TelemetryFrameText(frame);
        const std::string body = ComposeUploadBody(text, c, "99999", kTs);
        const auto fields = ParseBody(body);
        ASSERT_EQ(fields.size(), 8u) << body;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(fields[static_cast<std::size_t>(i)].first, names[i]);
        EXPECT_EQ(fields[0].second, "99999");
        EXPECT_EQ(fields[1].second, c.mycall);
        EXPECT_EQ(fields[2].second, "2024-03-05T14:07:09.250Z");
        std::string expectedFrame = text.size() > 3 ? text.substr(3) : "";
        while (!expectedFrame.empty() && expectedFrame.back() == ' ')
            expectedFrame.pop_back();
        EXPECT_EQ(fields[3].second, expectedFrame);
        EXPECT_EQ(fields[4].second, "longLat");
        EXPECT_EQ(fields[5].second, c.qthLong);
        EXPECT_EQ(fields[6].second, c.qthLat);
        EXPECT_EQ(fields[7].second, "0");
        for (char ch : body) {
            const auto u = static_cast<unsigned char>(ch);
            ASSERT_TRUE(u >= 0x20 && u < 0x7F) << "unencoded byte " << int(u);
        }
    }
}
