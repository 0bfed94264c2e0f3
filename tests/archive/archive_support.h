#pragma once
// Archive tests' shared pieces: a fresh folder, random telemetry frames and
// the decoder's values for them.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"
#include "files/Kiss.h"
#include "telemetry/TelemetryHistory.h"
#include "telemetry_frames.h"
#include "time/TimeArgument.h"

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

// A log as the program writes it: timestamp record, frame record; one foreign
// frame in five and, at `unstamped`, a telemetry frame without its timestamp.
struct Log {
    std::string bytes;
    std::vector<ArchiveFrame> frames; // the telemetry frames with a time
};

inline Log MakeLog(std::mt19937_64& rng, int n, std::int64_t t0, int unstamped = -1) {
    Log log;
    auto add = [&](const std::vector<std::uint8_t>& r) { log.bytes.append(r.begin(), r.end()); };
    for (int i = 0; i < n; ++i) {
        const std::int64_t t = t0 + i * 2000;
        const bool foreign = i % 5 == 4;
        const ArchiveFrame f = RandomFrame(rng, t);
        if (i != unstamped) add(KissTimestampRecord(FormatTimestamp(UtcDateTime(t))));
        add(KissFrameRecord(foreign ? ForeignFrame() : f.data));
        if (!foreign && i != unstamped) log.frames.push_back(f);
    }
    return log;
}

inline std::vector<std::int64_t> Times(Archive& a) {
    std::vector<std::int64_t> out;
    a.Export({}, [&](const ArchiveRow& r) { return out.push_back(r.timeMs), true; });
    return out;
}

inline std::vector<std::int64_t> Times(const std::vector<ArchiveFrame>& frames) {
    std::vector<std::int64_t> out;
    for (const ArchiveFrame& f : frames)
        out.push_back(f.timeMs);
    return out;
}

} // namespace tavrik::testing
