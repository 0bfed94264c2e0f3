// The import of an arbitrary file: read in small pieces, every frame record
// loaded, turned into text and decoded when it is the satellite's.
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "files/KissFileReader.h"
#include "fuzz_check.h"
#include "telemetry/FrameBuffer.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"

using namespace tavrik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path =
        "/tmp/tavrik_fuzz_import_" + std::to_string(::getpid()) + ".kss";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        FUZZ_CHECK(out.good());
    }

    KissFileReader reader;
    FUZZ_CHECK(reader.Open(path).empty());
    FUZZ_CHECK(reader.Size() == size);
    fuzz::PieceSizes sizes(data, size, 97);
    std::vector<KissRecord> records;
    std::size_t calls = 0;
    while (reader.ReadSome(records, sizes.Next())) {
        FUZZ_CHECK(++calls <= size + 1); // every call but the last makes progress
    }
    FUZZ_CHECK(reader.Error().empty());
    FUZZ_CHECK(reader.Position() == size);
    std::remove(path.c_str());

    // The same records as reading the bytes at once.
    const std::vector<KissRecord> whole = ReadKiss({data, size});
    FUZZ_CHECK(records.size() == whole.size());

    // One history for the process, as the program has one for all its imports.
    static TelemetryHistory history;
    const std::int32_t before = history.RxPacketCount();
    FrameBuffer frame;
    std::int32_t decoded = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const KissRecord& r = records[i];
        FUZZ_CHECK(r.kind == whole[i].kind && r.bytes == whole[i].bytes);
        if (r.kind != KissRecord::Kind::Frame) continue;
        frame.Load(r.bytes);
        const std::string text = TelemetryFrameText(frame.Bytes());
        if (!MatchesTelemetryHeader(text)) continue;
        const std::int32_t stored = history.StoredCount();
        if (history.DecodeTelemetryFrame(frame, "2024-03-05 14:07:09.250")) {
            ++decoded;
            if (history.StoredCount() == stored) continue; // the history is full
            const TelemetryRecord& rec = history.Record(history.StoredCount());
            for (int f = 0; f < kFieldCount; ++f)
                (void)ValueText(f, rec.values[static_cast<std::size_t>(f)]);
        }
    }
    FUZZ_CHECK(history.RxPacketCount() - before == decoded);
    return 0;
}
