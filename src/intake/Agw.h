#pragma once
// The AGW Packet Engine TCP interface: its 36-byte header and the cutting of
// the TCP byte stream into whole frames.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrik {

inline constexpr std::size_t kAgwHeaderSize = 36;
inline constexpr std::size_t kAgwLengthOffset = 28;
inline constexpr std::size_t kAgwKindOffset = 4;
// No modem program sends frames anywhere near this; a larger length means the
// stream is out of step or not AGW at all.
inline constexpr std::uint32_t kAgwMaxDataLength = 64 * 1024;

using AgwHeader = std::array<std::uint8_t, kAgwHeaderSize>;

// A header of zeros with the data kind at offset 4 ('G' port information, 'k' raw monitoring).
AgwHeader MakeAgwHeader(char kind);
// Writes the data length into the header's length field.
void SetAgwDataLength(AgwHeader& header, std::uint32_t length);

struct AgwFrame {
    AgwHeader header{};
    std::vector<std::uint8_t> data;
    char Kind() const { return static_cast<char>(header[kAgwKindOffset]); }
    std::uint32_t DataLength() const; // the header's length field
};

// Serialises a frame (header then data); the length field is set from the data.
std::vector<std::uint8_t> EncodeAgwFrame(char kind, std::span<const std::uint8_t> data,
                                         std::uint8_t port = 0);

// Cuts a byte stream into AGW frames by the header's length field, whatever
// pieces the bytes arrive in. After a protocol error it takes nothing more.
class AgwStreamSplitter {
public:
    // Appends the bytes and hands out every frame completed by them.
    std::vector<AgwFrame> Feed(std::span<const std::uint8_t> bytes);
    const std::optional<std::string>& Error() const { return error_; }
    // Bytes of the unfinished frame still waiting for the rest (the buffer may
    // still hold frames already handed out, until they are dropped).
    std::size_t Pending() const { return buffer_.size() - consumed_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t consumed_ = 0;
    std::optional<std::string> error_;
};

// The event-log text for a 'G' reply: "total number of ports: " and the first
// L data bytes (L = the length field's low byte), less its last 21 characters,
// with NUL padding left out.
std::string PortInfoLine(const AgwFrame& frame);

} // namespace tavrik
