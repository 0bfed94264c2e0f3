#include "telemetry/Conversions.h"

#include <array>
#include <bit>

namespace tavrik {

namespace {

constexpr std::array<std::int32_t, 32> MakePowers() {
    std::array<std::int32_t, 32> t{};
    t[0] = 1;
    for (int i = 1; i <= 30; ++i) t[i] = 2 * t[i - 1];
    t[31] = std::bit_cast<std::int32_t>(0x80000000u);
    return t;
}

constexpr std::array<std::int32_t, 32> kPowers = MakePowers();

// Eight characters "0"/"1", bit 7 first.
void WriteBits(std::uint8_t b, char* out) {
    for (unsigned mask = 128; mask != 0; mask >>= 1) *out++ = (b & mask) == mask ? '1' : '0';
}

void CheckPosition(std::int32_t p) {
    if (p < 1 || p > 511) throw std::out_of_range("field position outside 1 to 511");
}

} // namespace

double BytesToNumber(const IndexedBytes& seq, std::int32_t start, std::int32_t& end,
                     bool isUnsigned, const Notifier& notify) {
    if (end < 1) end = seq.LastIndex();
    if (start < 0 || start > end) {
        if (notify) notify(kRangeMessage);
        return -1;
    }
    auto inside = [&](std::int32_t i) { return i >= seq.firstIndex && i <= seq.LastIndex(); };
    auto at = [&](std::int32_t i) { return seq.bytes[static_cast<std::size_t>(i - seq.firstIndex)]; };
    if (!inside(start)) return 0;
    double value = at(start);
    double factor = 1;
    for (std::int32_t i = start + 1; i <= end; ++i) {
        if (!inside(i)) return 0;
        factor *= 256;
        int b = at(i);
        if (i == end && !isUnsigned && b >= 128) b -= 256;
        value += b * factor;
    }
    return value;
}

std::uint16_t ReadU16(const FrameBuffer& frame, std::int32_t p) {
    CheckPosition(p);
    const std::array<std::uint8_t, 2> two{frame.At(static_cast<std::size_t>(p)),
                                          frame.At(static_cast<std::size_t>(p) + 1)};
    std::int32_t end = 2;
    return static_cast<std::uint16_t>(BytesToNumber({two, 1}, 1, end, true));
}

std::string ByteToBits(std::uint8_t b) {
    std::string s(8, '0');
    WriteBits(b, s.data());
    return s;
}

std::int32_t PowerOfTwo(std::int32_t n) {
    if (n < 0 || n > 31) throw InvalidArgument("PowerOfTwo: exponent outside 0 to 31");
    return kPowers[static_cast<std::size_t>(n)];
}

std::int32_t BitsToNumber(std::string_view bits) {
    std::uint32_t result = 0;
    std::int32_t bit = 0;
    for (auto it = bits.rbegin(); it != bits.rend(); ++it, ++bit) {
        const unsigned digit = static_cast<unsigned char>(*it) - unsigned{'0'};
        if (digit > 1) throw InvalidArgument("BitsToNumber: not a binary text");
        if (bit > 31) {
            if (digit == 1) PowerOfTwo(bit); // raises
            continue;
        }
        // A "1" ORs in PowerOfTwo(bit). No branch on the digit: in telemetry a
        // bit is as often one as the other, and a mispredicted branch per bit
        // cost more than the rest of the decoding.
        result |= static_cast<std::uint32_t>(PowerOfTwo(bit)) & (0u - digit);
    }
    return std::bit_cast<std::int32_t>(result);
}

std::int32_t ReadS16(const FrameBuffer& frame, std::int32_t p) {
    CheckPosition(p);
    // The text lives on the stack: the decoder reads nine such fields per frame.
    char bits[16];
    WriteBits(frame.At(static_cast<std::size_t>(p) + 1), bits);
    WriteBits(frame.At(static_cast<std::size_t>(p)), bits + 8);
    if (bits[0] == '0') return BitsToNumber({bits, 16});
    for (char& c : bits) c = c == '0' ? '1' : '0';
    return -1 - BitsToNumber({bits, 16});
}

} // namespace tavrik
