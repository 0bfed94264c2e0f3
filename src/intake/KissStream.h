#pragma once
// The byte stream of a KISS TCP connection (Direwolf's KISS port, soundmodems,
// gr-satellites' KISS server) cut into the frames the pipeline takes, whatever
// pieces the bytes arrive in.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/Kiss.h"

namespace tavrik {

class KissStream {
  public:
    // Appends each data frame completed by these bytes to frames: the command
    // byte (the KISS port byte) first, then the AX.25 frame, as the AGW
    // interface's raw frames carry it. Other command kinds are dropped; a frame
    // too long for the pipeline is skipped with a line in notes.
    void Feed(std::span<const std::uint8_t> bytes, std::vector<std::vector<std::uint8_t>>& frames,
              std::vector<std::string>& notes);
    // The bytes of an unfinished frame still waiting for the rest.
    std::size_t Pending() const { return reader_.OpenLength(); }

  private:
    KissReader reader_{kMaxImportFrame};
    std::vector<KissRecord> records_;
};

// A command byte whose low nibble is 0 announces a data frame; the high nibble is the port.
inline bool IsKissDataFrame(std::uint8_t command) {
    return (command & 0x0F) == 0;
}

} // namespace tavrik
