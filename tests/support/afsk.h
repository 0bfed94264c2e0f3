#pragma once
// A Bell 202 AFSK transmitter in software, so that tests can hand a real
// modem program the audio of frames they choose.
//
//   tavrik::test::AfskModulator modem;            // 44100 Hz, 16-bit mono
//   modem.AddFrame(ax25Bytes);                     // addresses .. info, no KISS byte
//   modem.AddFrame(otherFrame);
//   harness.FeedAudio(modem.Samples());            // see direwolf_harness.h
//
// Each frame goes out as preamble flags, the frame and its FCS (bit-stuffed,
// LSB first), closing flags, all NRZI-coded, then silence. The phase runs on
// across bits, frames and silence, as a real transmitter's would.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrik::test {

inline constexpr std::uint8_t kHdlcFlag = 0x7E;

// CRC-16/X.25 (reflected 0x1021, i.e. 0x8408; init and final xor 0xFFFF):
// the AX.25 frame check sequence. It goes on the air low byte first.
std::uint16_t Crc16X25(std::span<const std::uint8_t> bytes);

// Each byte as eight bits (values 0 or 1), least significant bit first.
std::vector<std::uint8_t> BytesToBits(std::span<const std::uint8_t> bytes);

// Inserts a 0 after every run of five 1s, so that the data never looks like a flag.
std::vector<std::uint8_t> StuffBits(std::span<const std::uint8_t> bits);

// The line bits of one frame before NRZI: preamble flags, the stuffed bits of
// the frame followed by its FCS, closing flags. Flags are never stuffed.
std::vector<std::uint8_t> HdlcFrameBits(std::span<const std::uint8_t> frame, int preambleFlags,
                                        int closingFlags);

// NRZI: a 0 changes the line level, a 1 keeps it. Returns the level (0 or 1)
// after each bit; `level` is carried from one call to the next.
std::vector<std::uint8_t> NrziEncode(std::span<const std::uint8_t> bits, std::uint8_t& level);

struct AfskOptions {
    int sampleRate = 44100;
    int baud = 1200;
    double markHz = 1200.0;  // line level 1
    double spaceHz = 2200.0; // line level 0
    double amplitude = 0.5;  // of full scale
    // Enough for the receiver's carrier detect and its clock to settle.
    int preambleFlags = 50;
    int closingFlags = 4;
    double silenceSeconds = 0.25; // after each frame
};

class AfskModulator {
  public:
    explicit AfskModulator(AfskOptions options = {});

    // Appends the audio of one AX.25 frame (destination address through the
    // information field, no flags, no FCS) and the silence after it.
    void AddFrame(std::span<const std::uint8_t> frame);
    void AddSilence(double seconds);
    // Appends the tones of line levels (0 space, 1 mark), one per bit period.
    void AddLevels(std::span<const std::uint8_t> levels);

    // 16-bit signed mono samples; FeedAudio-style consumers write them little-endian.
    const std::vector<std::int16_t>& Samples() const { return samples_; }
    std::vector<std::int16_t> TakeSamples();
    const AfskOptions& Options() const { return options_; }

  private:
    void EmitUntil(double tone, bool silent);

    AfskOptions options_;
    std::vector<std::int16_t> samples_;
    double phase_ = 0.0; // radians, carried across bits, frames and silence
    // Exact time in samples: a bit lasts 36.75 samples at 44100 Hz, so bit
    // edges fall between samples and are rounded without drifting.
    double clock_ = 0.0;
    std::uint64_t emitted_ = 0; // samples produced so far, taken ones included
    std::uint8_t level_ = 1;
};

} // namespace tavrik::test
