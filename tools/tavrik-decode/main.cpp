// tavrik-decode: KISS files (the program's logs or any file of KISS frames) to
// decoded telemetry, for spreadsheets, plots and databases.
//   tavrik-decode [--format csv|json|hex] [--all] [--limits FILE] FILE.kss...
//   ("-" reads standard input)
// Exit status: 0 everything read, 1 something skipped (reported on standard
// error with the file and byte offset), 2 usage.
#include <string>
#include <string_view>
#include <vector>

#include "files/KissExport.h"
#include "files/KissFileReader.h"
#include "files/ToolIo.h"
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

ToolIo tool("tavrik-decode", kUsage);

int Usage(const std::string& why) {
    return tool.Usage(why);
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
        } else if (const int status = tool.Standard(a); status >= 0) {
            return status;
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

void Report(const std::string& file, std::uint64_t offset, const std::string& what) {
    // A file name may hold any byte but "/" and NUL: a newline in it must not forge a line.
    tool.Fail(file + ": byte " + std::to_string(offset) + ": " + what);
}

// Decodes one file into out (flushed as it grows). Returns whether it was read whole.
bool DecodeFile(const std::string& name, KissExport& exporter, std::string& out) {
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
    while (tool.Ok()) {
        const KissRecord* record = reader.Next(skipped);
        if (!record) break;
        exporter.Add(*record, out);
        if (out.size() >= kFlushAt) tool.Write(out);
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
            tool.Fail(o.limits + ": cannot be read: " + read.unreadable);
            return 2;
        }
        for (const LimitsLineError& e : read.parse.errors)
            tool.Fail(o.limits + ": " + ErrorText(e));
        if (const std::string more = MoreErrorsText(read.parse); !more.empty())
            tool.Fail(o.limits + ": " + more);
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
    std::string out;
    out.reserve(kFlushAt + 64 * 1024);
    exporter.Begin(out);
    bool whole = true;
    for (const std::string& file : o.files) {
        if (!DecodeFile(file, exporter, out)) whole = false;
        if (!tool.Ok()) break;
    }
    tool.Write(out);
    return tool.Finish(whole && limitsWhole ? 0 : 1);
}
