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
