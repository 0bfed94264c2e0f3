#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "telemetry/Conversions.h"
#include "telemetry/FrameBuffer.h"

using namespace tavrik;
using tavrik::test::Bytes;

namespace {

// A frame buffer holding the given bytes at position p and p + 1 of a frame of length n.
FrameBuffer FrameWith(std::int32_t p, std::uint8_t lo, std::uint8_t hi, std::size_t n = 512) {
    Bytes b(n, 0x55);
    b[static_cast<std::size_t>(p - 1)] = lo;
    b[static_cast<std::size_t>(p)] = hi;
    FrameBuffer f;
    f.Load(b);
    return f;
}

} // namespace

TEST(ReadU16, EdgeValues) {
    struct Case {
        std::uint8_t lo, hi;
        std::uint16_t expected;
    } cases[] = {{0x34, 0x12, 4660}, {0xFF, 0xFF, 65535}, {0x00, 0x80, 32768}, {0x00, 0x00, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(ReadU16(FrameWith(40, c.lo, c.hi), 40), c.expected);
}

TEST(ReadS16, EdgeValues) {
    struct Case {
        std::uint8_t lo, hi;
        std::int32_t expected;
    } cases[] = {{0xFF, 0x7F, 32767}, {0x00, 0x80, -32768}, {0xFF, 0xFF, -1},
                 {0xF6, 0xFF, -10},   {0x00, 0x00, 0},      {0x01, 0x00, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(ReadS16(FrameWith(90, c.lo, c.hi), 90), c.expected);
}

TEST(Read16, EveryValueLittleEndian) {
    for (unsigned v = 0; v <= 0xFFFF; ++v) {
        const auto lo = static_cast<std::uint8_t>(v & 0xFF), hi = static_cast<std::uint8_t>(v >> 8);
        const FrameBuffer f = FrameWith(7, lo, hi, 8);
        ASSERT_EQ(ReadU16(f, 7), lo + 256u * hi);
        ASSERT_EQ(ReadS16(f, 7), static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
    }
}

TEST(Read16, PositionsOutsideTheFrameAreIndexErrors) {
    const FrameBuffer full = FrameWith(511, 0x34, 0x12);
    EXPECT_EQ(ReadU16(full, 511), 4660);
    EXPECT_EQ(ReadS16(full, 511), 4660);
    EXPECT_EQ(ReadU16(FrameWith(1, 0x01, 0x02), 1), 0x0201);
    for (std::int32_t p : {0, -1, 512, 600}) {
        EXPECT_THROW(ReadU16(full, p), std::out_of_range) << p;
        EXPECT_THROW(ReadS16(full, p), std::out_of_range) << p;
    }
    // Nothing is read past the end of the current frame, even where an
    // earlier, longer frame left bytes.
    FrameBuffer f = full;
    f.Load(Bytes(20, 0x11));
    EXPECT_EQ(ReadU16(f, 19), 0x1111);
    EXPECT_THROW(ReadU16(f, 20), std::out_of_range);
    EXPECT_THROW(ReadS16(f, 20), std::out_of_range);
    EXPECT_THROW(ReadU16(f, 40), std::out_of_range);
}

TEST(BytesToNumber, SignOnlyFromTheMostSignificantByteOfTwoOrMore) {
    const Bytes two{0x00, 0x80};
    const Bytes one{0xFF};
    const Bytes three{0x01, 0x00, 0x80};
    struct Case {
        const Bytes* bytes;
        std::int32_t start, end;
        bool isUnsigned;
        double expected;
    } cases[] = {
        {&two, 1, 2, true, 32768},
        {&two, 1, 2, false, -32768},
        {&one, 1, 1, true, 255},
        {&one, 1, 1, false, 255},
        {&three, 1, 3, true, 1 + 128.0 * 65536},
        {&three, 1, 3, false, 1 - 128.0 * 65536},
        {&three, 2, 3, false, -128.0 * 256},
        {&three, 1, 2, false, 1}, // the 0x00 at index 2 is the sign byte here
    };
    for (const Case& c : cases) {
        std::int32_t end = c.end;
        int calls = 0;
        EXPECT_EQ(BytesToNumber({*c.bytes, 1}, c.start, end, c.isUnsigned,
                                [&](std::string_view) { ++calls; }),
                  c.expected);
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(end, c.end);
    }
}

TEST(BytesToNumber, EndBelowOneMeansTheLastIndexAndIsHandedBack) {
    const Bytes b{0x34, 0x12, 0x01};
    for (std::int32_t given : {0, -5}) {
        std::int32_t end = given;
        EXPECT_EQ(BytesToNumber({b, 1}, 1, end, true), 0x011234);
        EXPECT_EQ(end, 3);
    }
    // A sequence with another first index.
    std::int32_t end = 0;
    EXPECT_EQ(BytesToNumber({b, 10}, 11, end, true), 0x0112);
    EXPECT_EQ(end, 12);
}

TEST(BytesToNumber, ReversedOrNegativeRangeNotifiesOnceAndGivesMinusOne) {
    const Bytes b{1, 2, 3};
    struct Case {
        std::int32_t start, end;
    } cases[] = {{3, 2}, {-1, 2}, {-1, 0}, {5, 4}};
    for (const Case& c : cases) {
        std::vector<std::string> messages;
        std::int32_t end = c.end;
        EXPECT_EQ(BytesToNumber({b, 1}, c.start, end, true,
                                [&](std::string_view m) { messages.emplace_back(m); }),
                  -1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "Start record can not be greater then End record...!");
    }
    std::int32_t end = 2;
    EXPECT_EQ(BytesToNumber({b, 1}, 3, end, true), -1); // without a notifier, still -1
}

TEST(BytesToNumber, IndexOutsideTheSequenceGivesZeroWithoutMessage) {
    const Bytes b{1, 2, 3};
    struct Case {
        std::int32_t start, end;
    } cases[] = {{0, 2}, {2, 4}, {4, 9}, {1, 100}};
    for (const Case& c : cases) {
        int calls = 0;
        std::int32_t end = c.end;
        EXPECT_EQ(BytesToNumber({b, 1}, c.start, end, false, [&](std::string_view) { ++calls; }),
                  0);
        EXPECT_EQ(calls, 0);
    }
}

TEST(ByteToBits, BitSevenFirstAndRoundTrip) {
    EXPECT_EQ(ByteToBits(5), "00000101");
    EXPECT_EQ(ByteToBits(160), "10100000");
    EXPECT_EQ(ByteToBits(0), "00000000");
    EXPECT_EQ(ByteToBits(255), "11111111");
    for (int b = 0; b < 256; ++b) {
        const std::string bits = ByteToBits(static_cast<std::uint8_t>(b));
        ASSERT_EQ(bits.size(), 8u);
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(bits[static_cast<std::size_t>(i)], (b >> (7 - i)) & 1 ? '1' : '0');
        ASSERT_EQ(BitsToNumber(bits), b);
    }
}

TEST(BitsToNumber, Values) {
    struct Case {
        std::string bits;
        std::int32_t expected;
    } cases[] = {
        {"", 0},
        {"10", 2},
        {"0", 0},
        {"1", 1},
        {"0000000000000010", 2},
        {"0111111111111111", 32767},
        {"1" + std::string(31, '0'), INT32_MIN},
        {std::string(32, '1'), -1},
        {"0" + std::string(31, '1'), INT32_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BitsToNumber(c.bits), c.expected) << c.bits;
}

TEST(BitsToNumber, OtherCharactersRaiseInvalidArgumentNumberFive) {
    for (const std::string bits : {"12", "2", "1 0", "x01", "10a"}) {
        try {
            BitsToNumber(bits);
            ADD_FAILURE() << bits << " was accepted";
        } catch (const InvalidArgument& e) {
            EXPECT_EQ(e.kNumber, 5);
        }
    }
    // A "1" at bit 32 needs a power that does not exist.
    EXPECT_THROW(BitsToNumber("1" + std::string(32, '0')), InvalidArgument);
    EXPECT_THROW(BitsToNumber("12"), std::invalid_argument);
}

TEST(PowerOfTwo, TableAndRange) {
    EXPECT_EQ(PowerOfTwo(0), 1);
    EXPECT_EQ(PowerOfTwo(30), 1073741824);
    EXPECT_EQ(PowerOfTwo(31), INT32_MIN);
    for (int n = 0; n <= 30; ++n)
        EXPECT_EQ(PowerOfTwo(n), std::int32_t{1} << n);
    for (int n : {32, -1, 100, INT32_MIN})
        EXPECT_THROW(PowerOfTwo(n), InvalidArgument) << n;
    EXPECT_EQ(InvalidArgument::kNumber, 5);
}
