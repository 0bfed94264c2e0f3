#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrik {

// The frame being processed, positions 1 to 512 (position 1 is the KISS port
// byte). Positions past the current frame's length are not part of it: readers
// are bounded by Length(), so nothing is ever taken from an earlier frame.
class FrameBuffer {
public:
    static constexpr std::size_t kCapacity = 512;

    // Stores the first 512 bytes of the frame; the rest is not kept.
    void Load(std::span<const std::uint8_t> data);

    std::size_t Length() const { return length_; }
    // Byte at 1-based position p; throws std::out_of_range outside 1..Length().
    std::uint8_t At(std::size_t p) const;
    std::span<const std::uint8_t> Bytes() const { return {bytes_.data(), length_}; }

private:
    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t length_ = 0;
};

} // namespace tavrik
