#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "core_test_support.h"
#include "telemetry/FrameBuffer.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/TelemetryHistory.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::FrameBuilder;

namespace {

enum class T { U8, U16, S16 };

// The layout written out independently of the program's table: caption,
// position of the (low) byte, type and unit.
struct Expected {
    const char* caption;
    int position;
    T type;
    const char* unit;
};

const Expected kLayout[46] = {
    {"OPS mode", 22, T::U8, ""},       {"Boot cnt", 23, T::U16, ""},
    {"Packet cnt", 25, T::U16, ""},    {"Cmd rx", 27, T::U8, ""},
    {"Cmd valid", 28, T::U8, ""},      {"Uptime", 29, T::U16, "s"},
    {"Doppler", 36, T::U16, ""},       {"RSSI", 38, T::U16, ""},
    {"refl pow", 40, T::U16, "mW"},    {"forw pow", 42, T::U16, "mW"},
    {"TX curr", 44, T::U16, "mA"},     {"RX curr", 46, T::U16, "mA"},
    {"PA temp", 48, T::U16, "C"},      {"Bus voltage", 50, T::U16, "V"},
    {"Depl side A", 52, T::U16, ""},   {"Temp side A", 54, T::U16, "C"},
    {"Depl side B", 56, T::U16, ""},   {"Temp side B", 58, T::U16, "C"},
    {"SP1 volts", 60, T::U16, "mV"},   {"SP2 volts", 62, T::U16, "mV"},
    {"SP3 volts", 64, T::U16, "mV"},   {"Batt volts", 66, T::U16, "mV"},
    {"SP1 curr", 68, T::U16, "mA"},    {"SP2 curr", 70, T::U16, "mA"},
    {"SP3 curr", 72, T::U16, "mA"},    {"Solar curr", 74, T::U16, "mA"},
    {"Total curr", 76, T::U16, "mA"},  {"3v3 #1 curr", 78, T::U16, "mA"},
    {"3v3 #2 curr", 80, T::U16, "mA"}, {"3v3 #3 curr", 82, T::U16, "mA"},
    {"5v #1 curr", 84, T::U16, "mA"},  {"5v #2 curr", 86, T::U16, "mA"},
    {"5v #3 curr", 88, T::U16, "mA"},  {"temp BC #1", 90, T::S16, "C"},
    {"temp BC #2", 92, T::S16, "C"},   {"temp BC #3", 94, T::S16, "C"},
    {"batt temp", 96, T::S16, "C"},    {"Ch status", 98, T::U8, ""},
    {"EPS boot", 99, T::U8, ""},       {"EPS mode", 100, T::U8, ""},
    {"EPS track", 101, T::U8, ""},     {"Temp SP0", 102, T::S16, "C"},
    {"Temp SP1", 104, T::S16, "C"},    {"Temp SP2", 106, T::S16, "C"},
    {"Temp SP3", 108, T::S16, "C"},    {"Temp SP4", 110, T::S16, "C"},
};

// The engineering value of a raw reading, by the calibration of each field.
double Calibrate(int index, double raw) {
    switch (index) {
    case 8:
    case 9:
        return 0.000239 * (raw * raw);
    case 10:
    case 11:
        return 0.395 * raw;
    case 12:
        return -0.2959 * raw + 190.0;
    case 13:
        return 0.016129 * raw;
    case 15:
    case 17:
        return -0.2922 * raw + 190.65;
    case 41:
    case 42:
    case 43:
    case 44:
    case 45:
        return 0.015625 * raw;
    default:
        return raw;
    }
}

// A frame with random raw values; the raw values are handed back.
Bytes RandomFrame(std::mt19937& rng, std::array<double, 46>& raw, std::size_t length = 111) {
    FrameBuilder b(length);
    for (int i = 0; i < 46; ++i) {
        const Expected& e = kLayout[i];
        switch (e.type) {
        case T::U8: {
            const auto v = static_cast<std::uint8_t>(rng());
            b.U8(e.position, v);
            raw[static_cast<std::size_t>(i)] = v;
            break;
        }
        case T::U16: {
            const auto v = static_cast<std::uint16_t>(rng());
            b.U16(e.position, v);
            raw[static_cast<std::size_t>(i)] = v;
            break;
        }
        case T::S16: {
            const auto v = static_cast<std::int16_t>(rng());
            b.S16(e.position, v);
            raw[static_cast<std::size_t>(i)] = v;
            break;
        }
        }
    }
    Bytes bytes = b.Get();
    // Bytes that no field reads get noise, which must not matter.
    for (int p : {18, 21, 31, 32, 33, 34, 35})
        bytes[static_cast<std::size_t>(p - 1)] = static_cast<std::uint8_t>(rng());
    for (std::size_t p = 112; p <= bytes.size(); ++p)
        bytes[p - 1] = static_cast<std::uint8_t>(rng());
    return bytes;
}

FrameBuffer Buffer(const Bytes& b) {
    FrameBuffer f;
    f.Load(b);
    return f;
}

} // namespace

TEST(FrameLayout, CaptionsPositionsAndUnits) {
    std::set<std::string_view> captions;
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldSpec& f = Field(i);
        EXPECT_EQ(f.index, i);
        EXPECT_EQ(f.caption, kLayout[i].caption) << i;
        EXPECT_EQ(f.position, kLayout[i].position) << i;
        EXPECT_EQ(f.unit, kLayout[i].unit) << i;
        captions.insert(f.caption);
    }
    EXPECT_EQ(captions.size(), 46u); // field 29's caption differs from all others
    EXPECT_THROW(Field(46), std::out_of_range);
    EXPECT_THROW(Field(-1), std::out_of_range);
    EXPECT_EQ(kNoradId, "99999");
}

TEST(DecodeTelemetryFrame, AllFortySixValuesOfRandomFrames) {
    std::mt19937 rng(46);
    for (int round = 0; round < 200; ++round) {
        std::array<double, 46> raw{};
        const std::size_t length = round % 2 ? 111 : 111 + rng() % 402;
        const Bytes frame = RandomFrame(rng, raw, length);
        TelemetryHistory h;
        ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(frame), "2024-03-05 14:07:09.250"));
        ASSERT_EQ(h.StoredCount(), 1);
        const TelemetryRecord& r = h.Record(1);
        EXPECT_EQ(r.timestamp, "2024-03-05 14:07:09.250");
        for (int i = 0; i < 46; ++i) {
            const double expected = Calibrate(i, raw[static_cast<std::size_t>(i)]);
            if (expected == raw[static_cast<std::size_t>(i)])
                EXPECT_EQ(r.values[static_cast<std::size_t>(i)], expected) << "field " << i;
            else
                EXPECT_DOUBLE_EQ(r.values[static_cast<std::size_t>(i)], expected) << "field " << i;
        }
    }
}

TEST(DecodeTelemetryFrame, ExtremeFrames) {
    for (std::uint8_t fill : {0x00, 0xFF, 0x80, 0x7F}) {
        Bytes frame = FrameBuilder(111).Get();
        for (std::size_t p = 21; p <= 111; ++p)
            frame[p - 1] = fill;
        TelemetryHistory h;
        ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(frame), "t"));
        const double u16 = fill * 257.0;
        const double s16 = static_cast<std::int16_t>(fill * 257);
        for (int i = 0; i < 46; ++i) {
            const double raw = kLayout[i].type == T::U8    ? fill
                               : kLayout[i].type == T::U16 ? u16
                                                           : s16;
            EXPECT_DOUBLE_EQ(h.Record(1).values[static_cast<std::size_t>(i)], Calibrate(i, raw))
                << "field " << i << " fill " << int(fill);
        }
    }
}

TEST(DecodeTelemetryFrame, CalibrationExamples) {
    struct Case {
        int index;
        int position;
        std::uint8_t lo, hi;
        double expected;
        double tolerance;
    } cases[] = {
        {8, 40, 0x64, 0x00, 2.39, 1e-9},
        {8, 40, 0xE8, 0x03, 239.0, 1e-9},
        {12, 48, 0x58, 0x02, 12.46, 0.005},
        {12, 48, 0x00, 0x00, 190.0, 0},
        {15, 54, 0x58, 0x02, 15.33, 0.005},
        {13, 50, 0xF4, 0x01, 8.0645, 1e-9},
        {41, 102, 0x80, 0xFF, -2.0, 0},
        {41, 102, 0x40, 0x06, 25.0, 0},
        {33, 90, 0xFE, 0xFF, -2, 0},
        {5, 29, 0x30, 0x75, 30000, 0},
        {5, 29, 0x50, 0xC3, 50000, 0},
        {9, 42, 0xFF, 0xFF, 0.000239 * 65535.0 * 65535.0, 1e-6},
        {45, 110, 0xFF, 0x7F, 32767 / 64.0, 0},
        {36, 96, 0x00, 0x80, -32768, 0},
    };
    for (const Case& c : cases) {
        const Bytes frame = FrameBuilder(111).U8(c.position, c.lo).U8(c.position + 1, c.hi).Get();
        TelemetryHistory h;
        ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(frame), "t"));
        EXPECT_NEAR(h.Record(1).values[static_cast<std::size_t>(c.index)], c.expected, c.tolerance)
            << "field " << c.index;
    }
}

TEST(DecodeTelemetryFrame, BothFixedBytesMustHoldOne) {
    struct Case {
        std::uint8_t at19, at20;
        bool decoded;
    } cases[] = {{1, 2, false}, {2, 1, false}, {0, 0, false}, {1, 0, false}, {1, 1, true}};
    for (const Case& c : cases) {
        TelemetryHistory h;
        const Bytes frame = FrameBuilder(111).U8(19, c.at19).U8(20, c.at20).Get();
        EXPECT_EQ(h.DecodeTelemetryFrame(Buffer(frame), "t"), c.decoded);
        EXPECT_EQ(h.RxPacketCount(), c.decoded ? 1 : 0);
        EXPECT_EQ(h.StoredCount(), c.decoded ? 1 : 0);
    }
}

TEST(DecodeTelemetryFrame, FramesShorterThanTheLastFieldAreNotDecoded) {
    TelemetryHistory h;
    // A long frame first, so a decoder reading stale bytes would find them.
    ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(FrameBuilder(512).Get()), "t"));
    FrameBuffer f = Buffer(FrameBuilder(512).U16(110, 1234).Get());
    for (std::size_t length : {0u, 17u, 20u, 21u, 100u, 110u}) {
        f.Load(FrameBuilder(length).Get());
        EXPECT_FALSE(h.DecodeTelemetryFrame(f, "t")) << length;
        EXPECT_EQ(h.RxPacketCount(), 1);
        EXPECT_EQ(h.StoredCount(), 1);
    }
    f.Load(FrameBuilder(111).Get());
    EXPECT_TRUE(h.DecodeTelemetryFrame(f, "t"));
    EXPECT_EQ(h.Record(2).values[45], 0.0); // from this frame, not the earlier 1234
}

TEST(DecodeTelemetryFrame, CountGoesOnPastTheStoreWithoutStoring) {
    TelemetryHistory h;
    const FrameBuffer f = Buffer(FrameBuilder(111).U16(29, 7).Get());
    for (int i = 1; i <= TelemetryHistory::kCapacity; ++i)
        ASSERT_TRUE(h.DecodeTelemetryFrame(f, std::to_string(i)));
    EXPECT_EQ(h.RxPacketCount(), 10000);
    EXPECT_EQ(h.StoredCount(), 10000);
    EXPECT_EQ(h.Record(10000).timestamp, "10000");
    EXPECT_TRUE(h.DecodeTelemetryFrame(f, "late"));
    EXPECT_TRUE(h.DecodeTelemetryFrame(f, "later"));
    EXPECT_EQ(h.RxPacketCount(), 10002);
    EXPECT_EQ(h.StoredCount(), 10000);
    EXPECT_FALSE(h.IsStored(10001));
    EXPECT_THROW(h.Record(10001), std::out_of_range);
    EXPECT_EQ(h.Record(10000).timestamp, "10000");
}

TEST(TelemetryHistory, RollingModeKeepsTheNewestUnderTheirNumbers) {
    TelemetryHistory h;
    h.SetRolling(true);
    const FrameBuffer f = Buffer(FrameBuilder(111).U16(29, 7).Get());
    for (int i = 1; i <= TelemetryHistory::kCapacity + 2; ++i)
        ASSERT_TRUE(h.DecodeTelemetryFrame(f, std::to_string(i)));
    EXPECT_EQ(h.RxPacketCount(), 10002);
    EXPECT_EQ(h.StoredCount(), 10000);
    EXPECT_EQ(h.FirstStored(), 3);
    EXPECT_FALSE(h.IsStored(2));
    EXPECT_THROW(h.Record(2), std::out_of_range);
    EXPECT_EQ(h.Record(3).timestamp, "3");
    EXPECT_EQ(h.Record(10002).timestamp, "10002");
    EXPECT_EQ(h.Records().front().timestamp, "3");
    EXPECT_THROW(h.Record(10003), std::out_of_range);
}

TEST(TelemetryHistory, RecordsAreNumberedFromOneInDecodingOrder) {
    TelemetryHistory h;
    EXPECT_EQ(h.RxPacketCount(), 0);
    EXPECT_FALSE(h.IsStored(0));
    EXPECT_FALSE(h.IsStored(1));
    EXPECT_THROW(h.Record(0), std::out_of_range);
    const std::string same = "2024-03-05 14:07:09.250";
    ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(FrameBuilder(111).U16(29, 1).Get()), same));
    ASSERT_TRUE(h.DecodeTelemetryFrame(Buffer(FrameBuilder(111).U16(29, 2).Get()), same));
    EXPECT_EQ(h.RxPacketCount(), 2);
    EXPECT_EQ(h.Record(1).values[5], 1);
    EXPECT_EQ(h.Record(2).values[5], 2);
    EXPECT_EQ(h.Record(1).timestamp, h.Record(2).timestamp);
    EXPECT_THROW(h.Record(3), std::out_of_range);
    EXPECT_THROW(h.Record(-1), std::out_of_range);
}

TEST(ValueText, StateNames) {
    struct Case {
        int index;
        double value;
        std::optional<std::string> text;
    } cases[] = {
        {0, 0, "idle"},          {0, 1, "deploy"},          {0, 2, "norm"},
        {0, 130, "norm safe"},   {0, 3, std::nullopt},      {0, 129, std::nullopt},
        {0, 1.5, std::nullopt},  {39, 0, "begin"},          {39, 1, "crit"},
        {39, 2, "safe"},         {39, 3, "norm"},           {39, 4, "full"},
        {39, 5, std::nullopt},   {39, 130, std::nullopt},   {40, 0, "HW default"},
        {40, 1, "max power"},    {40, 2, "SW fixed point"}, {40, 3, std::nullopt},
        {40, 255, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValueText(c.index, c.value), c.text) << c.index << " " << c.value;
}

TEST(ValueText, HexWholeAndTwoDecimals) {
    struct Case {
        int index;
        double value;
        const char* text;
    } cases[] = {
        {14, 0, "&H0"},
        {14, 255, "&HFF"},
        {14, 4660, "&H1234"},
        {16, 65535, "&HFFFF"},
        {37, 171, "&HAB"},
        {38, 10, "&HA"},
        {13, 8.0645, "8.06"},
        {41, -2, "-2.00"},
        {21, 7400, "7400"},
        {33, -2, "-2"},
        {5, 50000, "50000"},
        {12, 190.0, "190.00"},
        {8, 2.39, "2.39"},
        {15, 15.3288, "15.33"},
        {45, 0.015625, "0.02"},
        {42, -0.015625, "-0.02"},
        {1, 0, "0"},
        {36, -32768, "-32768"},
        {10, 0, "0.00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValueText(c.index, c.value), c.text) << c.index << " " << c.value;
}

TEST(ValueText, EveryFieldHasItsForm) {
    const std::set<int> hex{14, 16, 37, 38};
    const std::set<int> fixed{8, 9, 10, 11, 12, 13, 15, 17, 41, 42, 43, 44, 45};
    const std::set<int> states{0, 39, 40};
    for (int i = 0; i < 46; ++i) {
        if (states.count(i)) continue;
        const std::optional<std::string> t = ValueText(i, 171);
        ASSERT_TRUE(t) << i;
        if (hex.count(i))
            EXPECT_EQ(*t, "&HAB") << i;
        else if (fixed.count(i))
            EXPECT_EQ(*t, "171.00") << i;
        else
            EXPECT_EQ(*t, "171") << i;
    }
}

TEST(FrameBuffer, HoldsAtMost512AndIsBoundedByTheFrame) {
    FrameBuffer f;
    EXPECT_EQ(f.Length(), 0u);
    EXPECT_THROW(f.At(1), std::out_of_range);
    Bytes big(600);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    f.Load(big);
    EXPECT_EQ(f.Length(), 512u);
    EXPECT_EQ(f.At(1), 0);
    EXPECT_EQ(f.At(512), static_cast<std::uint8_t>(511));
    EXPECT_THROW(f.At(513), std::out_of_range);
    EXPECT_THROW(f.At(0), std::out_of_range);
    f.Load(Bytes{9, 8});
    EXPECT_EQ(f.Length(), 2u);
    EXPECT_EQ(f.At(2), 8);
    EXPECT_THROW(f.At(3), std::out_of_range);
    EXPECT_EQ(f.Bytes().size(), 2u);
}
