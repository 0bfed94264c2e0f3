#include "intake/Agw.h"

#include <algorithm>

namespace tavrik {

AgwHeader MakeAgwHeader(char kind) {
    AgwHeader h{};
    h[kAgwKindOffset] = static_cast<std::uint8_t>(kind);
    return h;
}

void SetAgwDataLength(AgwHeader& header, std::uint32_t length) {
    for (std::size_t i = 0; i < 4; ++i)
        header[kAgwLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

std::uint32_t AgwFrame::DataLength() const {
    return static_cast<std::uint32_t>(header[28]) | static_cast<std::uint32_t>(header[29]) << 8 |
           static_cast<std::uint32_t>(header[30]) << 16 |
           static_cast<std::uint32_t>(header[31]) << 24;
}

std::vector<std::uint8_t> EncodeAgwFrame(char kind, std::span<const std::uint8_t> data,
                                         std::uint8_t port) {
    AgwHeader h = MakeAgwHeader(kind);
    h[0] = port;
    SetAgwDataLength(h, static_cast<std::uint32_t>(data.size()));
    // Sized once and filled: GCC 12 misreads a growing insert as an overflow.
    std::vector<std::uint8_t> out(h.size() + data.size());
    std::copy(h.begin(), h.end(), out.begin());
    std::copy(data.begin(), data.end(), out.begin() + static_cast<std::ptrdiff_t>(h.size()));
    return out;
}

std::vector<AgwFrame> AgwStreamSplitter::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<AgwFrame> frames;
    if (error_) return frames;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    while (buffer_.size() - consumed_ >= kAgwHeaderSize) {
        const std::uint8_t* p = buffer_.data() + consumed_;
        const std::uint32_t length =
            static_cast<std::uint32_t>(p[28]) | static_cast<std::uint32_t>(p[29]) << 8 |
            static_cast<std::uint32_t>(p[30]) << 16 | static_cast<std::uint32_t>(p[31]) << 24;
        if (length > kAgwMaxDataLength) {
            error_ = "AGW frame announces " + std::to_string(length) + " data bytes (more than " +
                     std::to_string(kAgwMaxDataLength) + ")";
            buffer_.clear();
            consumed_ = 0;
            return frames;
        }
        if (buffer_.size() - consumed_ < kAgwHeaderSize + length) break;
        AgwFrame f;
        std::copy_n(p, kAgwHeaderSize, f.header.begin());
        f.data.assign(p + kAgwHeaderSize, p + kAgwHeaderSize + length);
        frames.push_back(std::move(f));
        consumed_ += kAgwHeaderSize + length;
    }
    // Drop what was handed out once it is a good share of the buffer, so that
    // the cost per byte stays constant.
    if (consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    } else if (consumed_ > 4096 && consumed_ * 2 > buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
        consumed_ = 0;
    }
    return frames;
}

std::string PortInfoLine(const AgwFrame& frame) {
    std::string t = "total number of ports: ";
    const std::size_t l = std::min<std::size_t>(frame.header[kAgwLengthOffset], frame.data.size());
    t.append(reinterpret_cast<const char*>(frame.data.data()), l);
    t.resize(t.size() - 21); // t holds at least the 23 characters of its prefix
    t.erase(std::remove(t.begin(), t.end(), '\0'), t.end());
    return t;
}

} // namespace tavrik
