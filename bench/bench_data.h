#pragma once
// Inputs shared by the benchmarks: telemetry and foreign frames with varying
// values, KISS logs as the program writes them, and the process's memory.
#include "proc_status.h"
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "files/Kiss.h"
#include "telemetry_frames.h"

namespace tavrik::bench {

using testing::Bytes;

// Deterministic pseudo-random numbers, so every run sees the same frames.
class Lcg {
  public:
    explicit Lcg(std::uint64_t seed = 12345) : s_(seed) {}
    std::uint32_t Next() {
        s_ = s_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(s_ >> 33);
    }

  private:
    std::uint64_t s_;
};

// A 120-byte telemetry frame whose raw values follow the generator; some
// bytes are FEND/FESC, so its KISS record needs escapes as real ones do.
// (Built in place: the header comes from the test support's frame.)
inline Bytes VaryingTelemetryFrame(Lcg& rng) {
    static const Bytes header = testing::TelemetryHeader();
    Bytes f(120, 0);
    std::copy(header.begin(), header.end(), f.begin());
    f[18] = 1; // position 19
    f[19] = 1; // position 20
    for (const FieldSpec& s : FieldTable()) {
        const std::uint32_t v = rng.Next();
        const auto p = static_cast<std::size_t>(s.position - 1);
        f[p] = static_cast<std::uint8_t>(v & 0xFF);
        if (s.type != FieldType::U8) f[p + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    return f;
}

// "2024-03-05 14:07:09.250", advancing by i seconds within the day.
inline std::string Timestamp(std::size_t i) {
    const std::size_t s = i % 86400;
    char buf[32];
    std::snprintf(buf, sizeof buf, "2024-03-05 %02zu:%02zu:%02zu.%03zu", s / 3600, s / 60 % 60,
                  s % 60, i % 1000);
    return buf;
}

// A KISS log of `frames` frames, each after its timestamp record, one in
// `foreignEvery` from another station.
inline Bytes KissLogBytes(std::size_t frames, std::size_t foreignEvery = 10) {
    Lcg rng;
    Bytes out;
    out.reserve(frames * 150);
    for (std::size_t i = 0; i < frames; ++i) {
        const Bytes ts = KissTimestampRecord(Timestamp(i));
        out.insert(out.end(), ts.begin(), ts.end());
        const Bytes frame = (foreignEvery && i % foreignEvery == foreignEvery - 1)
                                ? testing::ForeignFrame("station text " + std::to_string(i))
                                : VaryingTelemetryFrame(rng);
        const Bytes rec = KissFrameRecord(frame);
        out.insert(out.end(), rec.begin(), rec.end());
    }
    return out;
}

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline long StatusKiB(const char* key) {
    return testing::ProcStatusKiB(key);
}

// One figure for the table scripts/bench.sh prints.
inline void Result(const std::string& name, double value, const char* unit) {
    std::printf("RESULT\t%s\t%.6g\t%s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

} // namespace tavrik::bench
