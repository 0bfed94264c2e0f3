#include "afsk.h"

#include <cmath>
#include <numbers>

namespace tavrik::test {

std::uint16_t Crc16X25(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return crc ^ 0xFFFF;
}

std::vector<std::uint8_t> BytesToBits(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> bits;
    bits.reserve(bytes.size() * 8);
    for (std::uint8_t b : bytes)
        for (int i = 0; i < 8; ++i)
            bits.push_back((b >> i) & 1);
    return bits;
}

std::vector<std::uint8_t> StuffBits(std::span<const std::uint8_t> bits) {
    std::vector<std::uint8_t> out;
    out.reserve(bits.size() + bits.size() / 5);
    int ones = 0;
    for (std::uint8_t bit : bits) {
        out.push_back(bit ? 1 : 0);
        if (!bit) {
            ones = 0;
        } else if (++ones == 5) {
            out.push_back(0);
            ones = 0;
        }
    }
    return out;
}

std::vector<std::uint8_t> HdlcFrameBits(std::span<const std::uint8_t> frame, int preambleFlags,
                                        int closingFlags) {
    std::vector<std::uint8_t> body(frame.begin(), frame.end());
    const std::uint16_t fcs = Crc16X25(frame);
    body.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    body.push_back(static_cast<std::uint8_t>(fcs >> 8));

    const std::uint8_t flag[] = {kHdlcFlag};
    const std::vector<std::uint8_t> flagBits = BytesToBits(flag);
    std::vector<std::uint8_t> bits;
    for (int i = 0; i < preambleFlags; ++i)
        bits.insert(bits.end(), flagBits.begin(), flagBits.end());
    const std::vector<std::uint8_t> stuffed = StuffBits(BytesToBits(body));
    bits.insert(bits.end(), stuffed.begin(), stuffed.end());
    for (int i = 0; i < closingFlags; ++i)
        bits.insert(bits.end(), flagBits.begin(), flagBits.end());
    return bits;
}

std::vector<std::uint8_t> NrziEncode(std::span<const std::uint8_t> bits, std::uint8_t& level) {
    std::vector<std::uint8_t> levels;
    levels.reserve(bits.size());
    for (std::uint8_t bit : bits) {
        if (!bit) level ^= 1;
        levels.push_back(level);
    }
    return levels;
}

AfskModulator::AfskModulator(AfskOptions options) : options_(options) {}

void AfskModulator::EmitUntil(double tone, bool silent) {
    const double step = 2.0 * std::numbers::pi * tone / options_.sampleRate;
    const double scale = options_.amplitude * 32767.0;
    while (static_cast<double>(emitted_) < std::round(clock_)) {
        const double v = silent ? 0.0 : std::sin(phase_) * scale;
        samples_.push_back(static_cast<std::int16_t>(std::lround(v)));
        ++emitted_;
        if (!silent) {
            phase_ += step;
            if (phase_ >= 2.0 * std::numbers::pi) phase_ -= 2.0 * std::numbers::pi;
        }
    }
}

void AfskModulator::AddLevels(std::span<const std::uint8_t> levels) {
    const double samplesPerBit = static_cast<double>(options_.sampleRate) / options_.baud;
    for (std::uint8_t level : levels) {
        clock_ += samplesPerBit;
        EmitUntil(level ? options_.markHz : options_.spaceHz, false);
    }
}

void AfskModulator::AddSilence(double seconds) {
    clock_ += seconds * options_.sampleRate;
    EmitUntil(0.0, true);
}

void AfskModulator::AddFrame(std::span<const std::uint8_t> frame) {
    const std::vector<std::uint8_t> bits =
        HdlcFrameBits(frame, options_.preambleFlags, options_.closingFlags);
    AddLevels(NrziEncode(bits, level_));
    AddSilence(options_.silenceSeconds);
}

std::vector<std::int16_t> AfskModulator::TakeSamples() {
    std::vector<std::int16_t> out;
    out.swap(samples_);
    return out;
}

} // namespace tavrik::test
