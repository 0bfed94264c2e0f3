// Writes the seed corpora in fuzz/corpus/<target>/ from the sample recording
// and a few hand-made settings files. Run from the checkout's top folder:
//   build-fuzz/make_corpus data/sample_pass.kss fuzz/corpus
// The output depends only on its inputs, so the committed seeds can be redone.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/Kiss.h"
#include "intake/Agw.h"

using namespace tavrik;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void Write(const fs::path& dir, const std::string& name, const std::string& text) {
    Write(dir, name, Bytes(text.begin(), text.end()));
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    to = std::min(to, b.size());
    from = std::min(from, to);
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus SAMPLE.kss CORPUS_DIR\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const Bytes sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (sample.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const fs::path root = argv[2];
    const std::vector<KissRecord> records = ReadKiss(sample);
    std::vector<Bytes> frames;
    std::vector<std::uint64_t> offsets;
    for (const KissRecord& r : records) {
        offsets.push_back(r.offset);
        if (r.kind == KissRecord::Kind::Frame) frames.push_back(r.bytes);
    }

    // KISS streams: the whole file, slices at record bounds and in the middle of records.
    for (const char* target : {"fuzz_kiss_reader", "fuzz_import"}) {
        const fs::path dir = root / target;
        Write(dir, "sample_whole.kss", sample);
        Write(dir, "sample_first_pair.kss",
              Slice(sample, 0, offsets.size() > 2 ? offsets[2] + 1 : sample.size()));
        Write(dir, "sample_ten_pairs.kss",
              Slice(sample, 0, offsets.size() > 20 ? offsets[20] + 1 : sample.size()));
        Write(dir, "sample_cut_mid_record.kss",
              Slice(sample, 0, offsets.size() > 5 ? offsets[5] + 40 : sample.size()));
        Write(dir, "sample_starts_mid_record.kss", Slice(sample, 57, 57 + 2000));
        Write(dir, "sample_tail.kss", Slice(sample, sample.size() - 700, sample.size()));
        Bytes escapes = {kFend, kFesc, kTfend, kFesc, kTfesc, kFesc,
                         0x41,  kFend, kFend,  kFesc, kFend};
        Write(dir, "escapes.kss", escapes);
        Bytes longRecord = {kFend};
        longRecord.insert(longRecord.end(), kMaxImportFrame + 3, 0x55);
        longRecord.push_back(kFend);
        Append(longRecord, KissFrameRecord(frames.empty() ? Bytes{1} : frames.front()));
        Write(dir, "too_long_then_frame.kss", longRecord);
    }

    // Single frames for the decoder: every telemetry frame shape and the foreign ones.
    {
        const fs::path dir = root / "fuzz_decoder";
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const bool telemetry = frames[i].size() > 17 && frames[i][1] == 0xA8;
            if (telemetry && i % 10 != 0) continue; // a few telemetry frames are enough
            Write(dir, "frame_" + std::to_string(i), frames[i]);
        }
        if (!frames.empty()) {
            const Bytes& f = frames.front();
            for (std::size_t cut : {17u, 19u, 20u, 110u, 111u})
                Write(dir, "frame_cut_" + std::to_string(cut), Slice(f, 0, cut));
            Bytes longer = f;
            while (longer.size() < 600)
                longer.push_back(static_cast<std::uint8_t>(longer.size()));
            Write(dir, "frame_longer_than_buffer", longer);
        }
    }

    // AGW streams as a modem program sends them.
    {
        const fs::path dir = root / "fuzz_agw_splitter";
        std::string portText = "1;Port1 stand-in modem on 127.0.0.1;";
        Bytes portInfo(portText.begin(), portText.end());
        portInfo.resize(128, 0);
        const Bytes g = EncodeAgwFrame('G', portInfo);
        Write(dir, "port_info", g);
        Bytes stream = g;
        Append(stream, EncodeAgwFrame('R', Bytes{2, 0, 0, 0, 0x2F, 0, 0, 0}));
        for (std::size_t i = 0; i < frames.size() && i < 12; ++i)
            Append(stream, EncodeAgwFrame('K', frames[i]));
        Write(dir, "session", stream);
        Write(dir, "session_cut", Slice(stream, 0, stream.size() - 50));
        Bytes monitor;
        for (std::size_t i = 0; i < frames.size() && i < 4; ++i)
            Append(monitor, EncodeAgwFrame('U', frames[i], 1));
        Write(dir, "monitor_frames", monitor);
        Bytes tooLong = EncodeAgwFrame('K', frames.empty() ? Bytes{} : frames.front());
        Bytes bad = EncodeAgwFrame('K', Bytes{});
        bad[kAgwLengthOffset + 2] = 0x10; // a million bytes announced
        Append(tooLong, bad);
        Write(dir, "too_long_announced", tooLong);
        Bytes shortG = EncodeAgwFrame('G', Bytes{'1', ';'});
        Write(dir, "port_info_short", shortG);
    }

    // Settings files: valid, with comments, CR LF and LF, broken.
    {
        const fs::path dir = root / "fuzz_station_config";
        const std::string valid = "SERVER=https://telemetry.example.org/api/telemetry/\n"
                                  "SERVER_BACKUP=http://backup.example.org:8080/post\n"
                                  "PORT=127.0.0.1:8000\n"
                                  "MYCALL=N0CALL-7\n"
                                  "QTH_LAT=47,3769\n"
                                  "QTH_LONG=8.5417\n"
                                  "IMAGE_PATH=/tmp/shots\n"
                                  "SCREENSHOT=YES\n";
        Write(dir, "valid_lf.ini", valid);
        std::string crlf;
        for (char c : valid) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        Write(dir, "valid_crlf.ini", crlf);
        Write(dir, "comments.ini",
              "# station settings\n\nPORT = localhost:8000 \r\n# MYCALL=X\n"
              "MYCALL =  DL0ABC  \r\r\nSCREENSHOT=no\nQTH_LAT= 52,5 \n");
        Write(dir, "no_equals.ini", "PORT=127.0.0.1:8000\nthis line has none\nMYCALL=X\n");
        Write(dir, "bad_port.ini", "PORT=127.0.0.1:99999\nMYCALL=X\n");
        Write(dir, "port_no_colon.ini", "PORT=8000\r\n");
        Write(dir, "no_port.ini", "SERVER=http://x/\nMYCALL=X\n");
        Write(dir, "last_line_open.ini", "MYCALL=X\nPORT=[::1]:8000");
    }
    std::printf("corpora written to %s\n", root.string().c_str());
    return 0;
}
