#include "telemetry/FrameBuffer.h"

#include <algorithm>
#include <stdexcept>

namespace tavrik {

void FrameBuffer::Load(std::span<const std::uint8_t> data) {
    length_ = std::min(data.size(), kCapacity);
    std::copy_n(data.begin(), length_, bytes_.begin());
}

std::uint8_t FrameBuffer::At(std::size_t p) const {
    if (p < 1 || p > length_) throw std::out_of_range("frame position out of range");
    return bytes_[p - 1];
}

} // namespace tavrik
