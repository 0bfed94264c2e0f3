// tavrik-decode: KISS files (the program's logs or any file of KISS frames) to
// decoded telemetry, for spreadsheets, plots and databases.
//   tavrik-decode [--format csv|json|hex] [--all] [--limits FILE] FILE.kss...
//   ("-" reads standard input)
// Exit status: 0 everything read, 1 something skipped (reported on standard
// error with the file and byte offset), 2 usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "files/KissExport.h"
#include "files/KissFileReader.h"
#include "files/SafeText.h"
#include "files/Version.h"
#include "limits/Limits.h"

namespace {

using namespace tavrik;

constexpr std::string_view kUsage =
    "usage: tavrik-decode [--format csv|json|hex] [--all] [--limits FILE] FILE.kss...\n"
    "Decodes the telemetry frames of KISS files, in file order, to standard output.\n"
    "  --format csv   one row per telemetry frame, with a header row (the default)\n"
    "  --format json  one JSON object per telemetry frame and line (JSON Lines)\n"
    "  --format hex   every frame as hexadecimal text, one per line\n"
    "  --all          a row for every frame, with its hex text; values only where decoded\n"
    "  --limits FILE  a last column Limits: the fields out of the file's limits\n"
    "  -              reads standard input\n"
    "  --help         this text;  --version  the version\n"
    "More in man tavrik-decode.\n";

constexpr std::size_t kReadPiece = 256 * 1024;
constexpr std::size_t kFlushAt = 1 << 20;

struct Options {
    DecodeOutput output = DecodeOutput::Csv;
    bool all = false;
    std::string limits;
    std::vector<std::string> files;
};

int Usage(const std::string& why) {
    std::fprintf(stderr, "tavrik-decode: %s\n%.*s", EscapeControls(why).c_str(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    return 2;
}

bool ParseFormat(std::string_view text, DecodeOutput& out) {
    if (text == "csv")
        out = DecodeOutput::Csv;
    else if (text == "json")
        out = DecodeOutput::Json;
    else if (text == "hex")
        out = DecodeOutput::Hex;
    else
        return false;
    return true;
}

// Returns -1 when the options are good, else the exit status.
int Parse(int argc, char** argv, Options& o) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (optionsEnd || a == "-" || !a.starts_with("-")) {
            o.files.emplace_back(a);
        } else if (a == "--") {
            optionsEnd = true;
        } else if (a == "--help" || a == "-h") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("tavrik-decode (tavrik-decoder) %.*s\n",
                        static_cast<int>(kVersionText.size()), kVersionText.data());
            return 0;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--limits" || a.starts_with("--limits=")) {
            if (a == "--limits" && ++i == argc) return Usage("--limits needs a file");
            o.limits = a == "--limits" ? std::string(argv[i]) : std::string(a.substr(9));
        } else if (a == "--format" || a.starts_with("--format=")) {
            std::string_view value;
            if (a == "--format") {
                if (++i == argc) return Usage("--format needs csv, json or hex");
                value = argv[i];
            } else {
                value = a.substr(9);
            }
            if (!ParseFormat(value, o.output))
                return Usage("unknown format \"" + std::string(value) + "\"");
        } else {
            return Usage("unknown option " + std::string(a));
        }
    }
    if (o.files.empty()) return Usage("no file given");
    if (!o.limits.empty() && o.output == DecodeOutput::Hex)
        return Usage("--limits needs --format csv or json");
    return -1;
}

// Standard output, written in large pieces.
class Output {
  public:
    bool Write(std::string& buf) {
        std::size_t done = 0;
        while (ok_ && done < buf.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, buf.data() + done, buf.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                std::fprintf(stderr, "tavrik-decode: standard output: %s\n", std::strerror(errno));
                ok_ = false;
            } else {
                done += static_cast<std::size_t>(n);
            }
        }
        buf.clear();
        return ok_;
    }
    bool Ok() const { return ok_; }

  private:
    bool ok_ = true;
};

void Report(const std::string& file, std::uint64_t offset, const std::string& what) {
    // A file name may hold any byte but "/" and NUL: a newline in it must not forge a line.
    std::fprintf(stderr, "tavrik-decode: %s: byte %llu: %s\n", EscapeControls(file).c_str(),
                 static_cast<unsigned long long>(offset), EscapeControls(what).c_str());
}

// Decodes one file into out (flushed as it grows). Returns whether it was read whole.
bool DecodeFile(const std::string& name, KissExport& exporter, std::string& out, Output& stdOut) {
    KissFileReader reader(kMaxImportFrame, kReadPiece);
    const std::string why = reader.Open(name == "-" ? "/dev/stdin" : name);
    if (!why.empty()) {
        Report(name, 0, "cannot be read: " + why);
        return false;
    }
    bool whole = true;
    const KissFileReader::SkipReport skipped = [&](const KissSkip& skip) {
        whole = false;
        switch (skip.kind) {
        case KissSkip::Kind::TooLong:
            exporter.Skipped();
            Report(name, skip.offset,
                   "frame of " + std::to_string(skip.length) + " bytes skipped (longer than " +
                       std::to_string(kMaxImportFrame) + " bytes)");
            break;
        case KissSkip::Kind::ReadError:
            Report(name, skip.offset, skip.error + ", rest of the file skipped");
            break;
        case KissSkip::Kind::EndsInsideRecord:
            Report(name, skip.offset, "the file ends inside a frame, which was dropped");
            break;
        }
    };
    exporter.StartFile(name);
    while (stdOut.Ok()) {
        const KissRecord* record = reader.Next(skipped);
        if (!record) break;
        exporter.Add(*record, out);
        if (out.size() >= kFlushAt) stdOut.Write(out);
    }
    return whole;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int status = Parse(argc, argv, o); status >= 0) return status;
    KissExport exporter(o.output, o.all);
    // Bad lines of the limits file are reported and the rest used; the rows
    // are the same either way.
    bool limitsWhole = true;
    LimitsTable limits;
    if (!o.limits.empty()) {
        LimitsFileRead read = ReadLimitsFile(o.limits);
        if (!read.unreadable.empty()) {
            std::fprintf(stderr, "tavrik-decode: %s: cannot be read: %s\n", o.limits.c_str(),
                         read.unreadable.c_str());
            return 2;
        }
        for (const LimitsLineError& e : read.parse.errors)
            std::fprintf(stderr, "tavrik-decode: %s: %s\n", o.limits.c_str(), ErrorText(e).c_str());
        if (const std::string more = MoreErrorsText(read.parse); !more.empty())
            std::fprintf(stderr, "tavrik-decode: %s: %s\n", o.limits.c_str(), more.c_str());
        limitsWhole = read.parse.errors.empty();
        limits = std::move(read.parse.table);
        exporter.AddLimitsColumn([&limits](const auto& values, std::vector<std::string>& flags) {
            const FrameLimitStates states = ClassifyAll(limits, values);
            for (int i = 0; i < kFieldCount; ++i)
                if (const FieldLimitState s = states.fields[static_cast<std::size_t>(i)];
                    s.OutOfRange())
                    flags.push_back(std::string(Field(i).caption) + " " +
                                    std::string(StateName(s)));
        });
    }
    Output stdOut;
    std::string out;
    out.reserve(kFlushAt + 64 * 1024);
    exporter.Begin(out);
    bool whole = true;
    for (const std::string& file : o.files) {
        if (!DecodeFile(file, exporter, out, stdOut)) whole = false;
        if (!stdOut.Ok()) break;
    }
    stdOut.Write(out);
    return whole && limitsWhole && stdOut.Ok() ? 0 : 1;
}
