#pragma once
// Bytes of a frame turned into numbers: little-endian ranges, unsigned and
// two's-complement 16-bit fields, and the binary-text helpers they rest on.
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "telemetry/FrameBuffer.h"

namespace tavrik {

// The invalid-argument error (number 5) of BitsToNumber and PowerOfTwo.
class InvalidArgument : public std::invalid_argument {
public:
    explicit InvalidArgument(const std::string& what) : std::invalid_argument(what) {}
    static constexpr int kNumber = 5;
};

// Receives the range message of BytesToNumber; the program shows it in a box.
using Notifier = std::function<void(std::string_view message)>;

inline constexpr std::string_view kRangeMessage =
    "Start record can not be greater then End record...!";

// A byte sequence with its own first index (a sequence indexed from 1 has firstIndex 1).
struct IndexedBytes {
    std::span<const std::uint8_t> bytes;
    std::int32_t firstIndex = 0;
    std::int32_t LastIndex() const { return firstIndex + static_cast<std::int32_t>(bytes.size()) - 1; }
};

// Little-endian value of seq[start..end]; the sign, when asked for, is carried by
// the most significant byte of a range of two bytes or more. An end below 1 is
// replaced by the last index (the caller sees it). A negative or reversed range
// notifies and gives -1; an index outside the sequence gives 0.
double BytesToNumber(const IndexedBytes& seq, std::int32_t start, std::int32_t& end,
                     bool isUnsigned, const Notifier& notify = {});

std::uint16_t ReadU16(const FrameBuffer& frame, std::int32_t p);
std::int32_t ReadS16(const FrameBuffer& frame, std::int32_t p);
std::string ByteToBits(std::uint8_t b);
std::int32_t BitsToNumber(std::string_view bits);
std::int32_t PowerOfTwo(std::int32_t n);

} // namespace tavrik
