// The test modem's transmitter: if it were wrong, the tests against a real
// modem program would fail for reasons that have nothing to do with the program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "afsk.h"

namespace {

using Bits = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;
using namespace tavrik::test;

Bits ParseBits(const std::string& s) {
    Bits b;
    for (char c : s)
        if (c == '0' || c == '1') b.push_back(static_cast<std::uint8_t>(c - '0'));
    return b;
}

TEST(Crc16X25, KnownCheckValues) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16X25(Bytes(check.begin(), check.end())), 0x906E);
    // With init and final xor 0xFFFF an empty block gives 0.
    EXPECT_EQ(Crc16X25(Bytes{}), 0x0000);
}

TEST(Crc16X25, FrameWithItsFcsLowByteFirstLeavesTheGoodResidue) {
    // A receiver runs the CRC over frame and FCS; the X.25 residue 0xF0B8
    // (0x0F47 after the final xor) proves both the value and the byte order.
    Bytes frame = {0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03, 0xF0, 0xC0, 0xDB};
    const std::uint16_t fcs = Crc16X25(frame);
    frame.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(fcs >> 8));
    EXPECT_EQ(Crc16X25(frame), 0x0F47);
}

TEST(BytesToBits, LeastSignificantBitFirst) {
    EXPECT_EQ(BytesToBits(Bytes{0x01, 0x7E, 0x80}), ParseBits("10000000 01111110 00000001"));
}

TEST(StuffBits, ZeroAfterEveryFiveOnes) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"1111", "1111"},
        {"11111", "111110"},
        {"111111", "1111101"},
        {"0111110", "01111100"},
        {"1111111111", "111110111110"},
        {"11110111110", "111101111100"},
        {"0101011111101111", "01010111110101111"},
        {"00000000", "00000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StuffBits(ParseBits(c.in)), ParseBits(c.out)) << "in " << c.in;
    }
}

// The receiving side, written independently: find flags, drop stuffed zeros,
// collect bytes LSB first.
std::optional<Bytes> DeframeFirst(const Bits& bits) {
    Bytes out;
    int ones = 0;
    bool inFrame = false;
    Bits body;
    for (std::uint8_t bit : bits) {
        if (bit) {
            ++ones;
            if (inFrame) body.push_back(1);
            continue;
        }
        if (ones == 6) { // a flag ends here: 0111111 0 seen as ones==6 then 0
            if (inFrame && body.size() > 7) {
                body.resize(body.size() - 7); // the flag's 0111111 went into the body
                if (body.size() % 8 != 0) return std::nullopt;
                for (std::size_t i = 0; i < body.size(); i += 8) {
                    std::uint8_t b = 0;
                    for (int k = 0; k < 8; ++k)
                        b |= static_cast<std::uint8_t>(body[i + k] << k);
                    out.push_back(b);
                }
                return out;
            }
            inFrame = true;
            body.clear();
        } else if (ones == 5) {
            // stuffed zero: not data
        } else if (ones > 6) {
            return std::nullopt;
        } else if (inFrame) {
            body.push_back(0);
        }
        ones = 0;
    }
    return std::nullopt;
}

TEST(HdlcFrameBits, FlagsThenStuffedFrameAndFcsThenFlags) {
    const Bytes frames[] = {
        {0x00},
        {0xFF, 0xFF, 0xFF},
        {0x7E, 0x7E, 0xC0, 0xDB, 0x3F, 0xFC},
        {0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03,
         0xF0, 0x01, 0x01, 0x01},
    };
    const Bits flag = ParseBits("01111110");
    for (const auto& frame : frames) {
        const Bits bits = HdlcFrameBits(frame, 3, 2);
        ASSERT_GE(bits.size(), 5 * flag.size());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Bits(bits.begin() + 8 * i, bits.begin() + 8 * (i + 1)), flag);
        for (int i = 1; i <= 2; ++i)
            EXPECT_EQ(Bits(bits.end() - 8 * i, bits.end() - 8 * (i - 1)), flag);

        // Between the flags no run of six 1s may occur.
        int run = 0;
        for (auto it = bits.begin() + 24; it != bits.end() - 16; ++it) {
            run = *it ? run + 1 : 0;
            ASSERT_LT(run, 6);
        }

        Bytes expected = frame;
        const std::uint16_t fcs = Crc16X25(frame);
        expected.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
        expected.push_back(static_cast<std::uint8_t>(fcs >> 8));
        EXPECT_EQ(DeframeFirst(bits), expected);
    }
}

TEST(NrziEncode, ZeroTogglesOneKeeps) {
    std::uint8_t level = 1;
    EXPECT_EQ(NrziEncode(ParseBits("0110100"), level), ParseBits("0001101"));
    EXPECT_EQ(level, 1);
    // The level carries over into the next call.
    EXPECT_EQ(NrziEncode(ParseBits("10"), level), ParseBits("10"));
    EXPECT_EQ(level, 0);
}

// Power of one frequency over a block of samples (Goertzel).
double TonePower(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to, double hz,
                 int rate) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double s0 = s[i] + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
}

TEST(AfskModulator, OneToneEachBitAtTheExactBaudRate) {
    AfskModulator modem;
    const AfskOptions& o = modem.Options();
    const Bits levels = ParseBits("1 0 0 1 1 1 0 1 0 0 0 0 1 1 0 1 0 1 1 1 1 1 1 0 0 1 0 1 0 1");
    modem.AddLevels(levels);
    const auto& s = modem.Samples();
    const double perBit = static_cast<double>(o.sampleRate) / o.baud;
    // 36.75 samples per bit: the edges are rounded, never accumulated.
    EXPECT_EQ(s.size(), static_cast<std::size_t>(std::lround(perBit * levels.size())));

    for (std::size_t k = 0; k < levels.size(); ++k) {
        const auto from = static_cast<std::size_t>(std::lround(perBit * k));
        const auto to = static_cast<std::size_t>(std::lround(perBit * (k + 1)));
        const double mark = TonePower(s, from, to, o.markHz, o.sampleRate);
        const double space = TonePower(s, from, to, o.spaceHz, o.sampleRate);
        EXPECT_EQ(mark > space ? 1 : 0, levels[k]) << "bit " << k;
    }

    // Phase continuity: no step between neighbours larger than the fastest tone allows.
    const double maxStep =
        o.amplitude * 32767.0 * 2.0 * std::sin(std::numbers::pi * o.spaceHz / o.sampleRate) + 2.0;
    for (std::size_t i = 1; i < s.size(); ++i)
        ASSERT_LE(std::abs(s[i] - s[i - 1]), maxStep) << "sample " << i;
}

TEST(AfskModulator, FrameIsFollowedBySilenceAndSamplesCanBeTaken) {
    AfskOptions o;
    o.preambleFlags = 10;
    o.closingFlags = 2;
    o.silenceSeconds = 0.1;
    AfskModulator modem(o);
    const Bytes frame = {0x82, 0xA0, 0xA4, 0xA6, 0x40, 0x40, 0x60, 0x03, 0xF0};
    modem.AddFrame(frame);
    const std::size_t bits = HdlcFrameBits(frame, 10, 2).size();
    const double total = bits * static_cast<double>(o.sampleRate) / o.baud + 0.1 * o.sampleRate;
    const std::vector<std::int16_t> s = modem.TakeSamples();
    EXPECT_EQ(s.size(), static_cast<std::size_t>(std::lround(total)));
    const std::size_t silenceFrom =
        static_cast<std::size_t>(std::lround(bits * static_cast<double>(o.sampleRate) / o.baud));
    for (std::size_t i = silenceFrom; i < s.size(); ++i)
        ASSERT_EQ(s[i], 0) << "sample " << i;
    EXPECT_TRUE(modem.Samples().empty());
}

} // namespace
