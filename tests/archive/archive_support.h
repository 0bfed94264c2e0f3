#pragma once
// Archive tests' shared pieces: a fresh folder, random telemetry frames and
// the decoder's values for them.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/ArchiveTypes.h"
#include "telemetry/TelemetryHistory.h"
#include "telemetry_frames.h"

namespace tavrik::testing {

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "archive-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return path + "/" + name; }
};

inline ArchiveFrame RandomFrame(std::mt19937_64& rng, std::int64_t timeMs) {
    std::vector<long> raw;
    for (const FieldSpec& f : FieldTable())
        raw.push_back(static_cast<long>(rng() % (f.type == FieldType::U8 ? 256 : 65536)));
    ArchiveFrame a;
    a.timeMs = timeMs;
    a.source = "TAVRIK";
    a.data = TelemetryFrame(raw);
    return a;
}

inline std::array<double, kFieldCount> ValuesOf(const ArchiveFrame& a) {
    FrameBuffer fb;
    fb.Load(a.data);
    return DecodeValues(fb);
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace tavrik::testing
