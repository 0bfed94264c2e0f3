// tavrik-archive: the telemetry archive from the command line.
//   tavrik-archive import ARCHIVE FILE.kss...
//   tavrik-archive export ARCHIVE [--from TIME] [--to TIME] [--format csv|json|influx]
//   tavrik-archive passes ARCHIVE [--from TIME] [--to TIME] [--format csv|json]
//   tavrik-archive series ARCHIVE FIELD [--from TIME] [--to TIME] [--points N] [--format csv|json]
//   tavrik-archive retag ARCHIVE --tle FILE --lat DEG --lon DEG [--alt M] [--horizon DEG]
//   tavrik-archive check ARCHIVE
// Exit status as tavrik-decode: 0 all done, 1 something skipped or unreadable
// (a line on standard error says what), 2 usage.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "Retag.h"
#include "archive/Archive.h"
#include "archive/ArchiveImport.h"
#include "archive/ArchiveSchema.h"
#include "files/InfluxLine.h"
#include "files/TelemetryExport.h"
#include "files/ToolIo.h"
#include "time/TimeArgument.h"

namespace {

using namespace tavrik;

constexpr std::string_view kUsage =
    "usage: tavrik-archive import ARCHIVE FILE.kss...\n"
    "       tavrik-archive export ARCHIVE [--from TIME] [--to TIME] [--format csv|json|influx]\n"
    "       tavrik-archive passes ARCHIVE [--from TIME] [--to TIME] [--format csv|json]\n"
    "       tavrik-archive series ARCHIVE FIELD [--from TIME] [--to TIME] [--points N]\n"
    "                             [--format csv|json]\n"
    "       tavrik-archive retag ARCHIVE --tle FILE --lat DEG --lon DEG [--alt M] [--horizon DEG]\n"
    "                            [--satellite N|NAME]\n"
    "       tavrik-archive check ARCHIVE\n"
    "  import  adds the telemetry frames of KISS files, skipping those already there\n"
    "  export  the frames in time order, as tavrik-decode writes them, or InfluxDB lines\n"
    "  passes  one row per pass: start, end, frames, min/avg/max of every field\n"
    "  series  one field in about N buckets (default 1000): start, count, min, avg, max\n"
    "  retag   places the frames that lack it on the sky (azimuth, elevation, range, pass)\n"
    "  check   reads the whole file (PRAGMA integrity_check): 0 whole, 1 damaged\n"
    "TIME: 2026-12-09, 2026-12-09T15:46, 2026-12-09T15:46:05.250Z (UTC), now, -24h, -7d\n"
    "FIELD: a caption as in the CSV header without its unit, e.g. \"Batt volts\"\n"
    "  --help  this text (retag --help: retag's);  --version  the version\n"
    "More in man tavrik-archive.\n";

constexpr std::size_t kFlushAt = 1 << 20;
constexpr std::size_t kImportSlice = 10000;
constexpr int kMaxPoints = 200000;

ToolIo tool("tavrik-archive", kUsage);

int Usage(const std::string& why) {
    return tool.Usage(why);
}

int Fail(const std::string& why) {
    return tool.Fail(why);
}

struct Options {
    std::string command;
    std::string archive;
    std::vector<std::string> args;
    TimeRange range;
    std::string format;
    int points = 1000;
};

// Returns -1 when the options are good, else the exit status.
int Parse(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    const std::int64_t now = UnixMillisecondsNow(SystemClock());
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (!optionsEnd)
            if (const int status = tool.Standard(a); status >= 0) return status;
        if (optionsEnd || !a.starts_with("--") || a.size() == 2) {
            if (a == "--" && !optionsEnd) {
                optionsEnd = true;
                continue;
            }
            positional.emplace_back(a);
            continue;
        }
        std::string_view name = a, value;
        if (const auto eq = a.find('='); eq != std::string_view::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        } else if (a == "--from" || a == "--to" || a == "--format" || a == "--points") {
            if (++i == argc) return Usage(std::string(a) + " needs a value");
            value = argv[i];
        }
        if (name == "--from" || name == "--to") {
            const TimeArgument t = ParseTimeArgument(value, now);
            if (!t.error.empty()) return Usage(std::string(name) + ": " + t.error);
            (name == "--from" ? o.range.fromMs : o.range.toMs) = t.unixMs;
        } else if (name == "--format") {
            o.format = value;
        } else if (name == "--points") {
            const auto r = std::from_chars(value.data(), value.data() + value.size(), o.points);
            // A bucket is 40 bytes: the tool's memory stays bounded.
            if (r.ec != std::errc() || r.ptr != value.data() + value.size() || o.points < 1 ||
                o.points > kMaxPoints)
                return Usage("--points needs a whole number from 1 to " +
                             std::to_string(kMaxPoints));
        } else {
            return Usage("unknown option " + std::string(a));
        }
    }
    if (positional.size() < 2)
        return Usage(positional.empty() ? "no command given" : "no archive given");
    o.command = positional[0];
    o.archive = positional[1];
    o.args.assign(positional.begin() + 2, positional.end());
    const bool import = o.command == "import";
    if (!import && o.command != "export" && o.command != "passes" && o.command != "series" &&
        o.command != "check")
        return Usage("unknown command \"" + o.command + "\"");
    if (import && o.args.empty()) return Usage("no KISS file given");
    if (o.command == "series" && o.args.size() != 1) return Usage("series needs one FIELD");
    if ((o.command == "export" || o.command == "passes" || o.command == "check") && !o.args.empty())
        return Usage("unexpected argument \"" + o.args[0] + "\"");
    if (o.format.empty()) o.format = "csv";
    if (o.format != "csv" && o.format != "json" && (o.format != "influx" || o.command != "export"))
        return Usage("unknown format \"" + o.format + "\" for " + o.command);
    if (o.range.toMs <= o.range.fromMs) return Usage("--to is not after --from");
    return -1;
}

std::string Timestamp(std::int64_t ms) {
    return FormatTimestamp(UtcDateTime(ms));
}

// A bar on a terminal, a plain line every few seconds otherwise (both on
// standard error, so standard output stays data).
class Progress {
  public:
    Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void Show(const std::string& file, std::uint64_t done, std::uint64_t total,
              std::int64_t frames) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < (terminal_ ? std::chrono::milliseconds(100) : std::chrono::seconds(5)))
            return;
        last_ = now;
        const int percent = total ? static_cast<int>(100 * done / total) : 100;
        if (terminal_) {
            const int width = 30, filled = percent * width / 100;
            std::fprintf(stderr, "\r[%.*s%.*s] %3d%% %lld frames  %s", filled,
                         "##############################", width - filled,
                         "..............................", percent, static_cast<long long>(frames),
                         file.c_str());
            shown_ = true;
        } else {
            std::fprintf(stderr, "tavrik-archive: %s: %d%%, %lld frames\n", file.c_str(), percent,
                         static_cast<long long>(frames));
        }
    }
    void Clear() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

  private:
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// A damaged file is refused before anything is read from it or written to
// it: an import would add to it and an export stop halfway.
std::string Damage(Archive& archive) {
    const std::string found = archive.Check(false);
    return found.empty() ? std::string()
                         : archive.Path() + " is damaged (quick check: " + found +
                               "); nothing was read or written. Rename it aside and import the "
                               "KISS logs into a new archive, or try to rescue it with the sqlite3 "
                               "shell's .recover";
}

int Import(const Options& o) {
    Archive archive;
    if (std::string why = archive.Open(o.archive, Archive::Access::Write); !why.empty())
        return Fail(why);
    if (archive.MigratedFrom() > 0)
        std::fprintf(stderr, "tavrik-archive: %s brought up from version %d to %d in place\n",
                     o.archive.c_str(), archive.MigratedFrom(), kArchiveSchemaVersion);
    if (std::string why = Damage(archive); !why.empty()) {
        archive.CloseWithoutWriting();
        return Fail(why);
    }
    bool whole = true;
    Progress progress;
    for (const std::string& file : o.args) {
        ArchiveImport import;
        if (std::string why = import.Open(file); !why.empty()) {
            Fail(file + ": cannot be read: " + why);
            whole = false;
            continue;
        }
        WriteResult r;
        while (import.Slice(archive, kImportSlice, r))
            progress.Show(file, import.Position(), import.Size(), import.Counts().frames);
        progress.Clear();
        const ImportCounts& n = import.Counts();
        if (!r.Ok()) return Fail(file + ": " + r.error);
        if (!n.readError.empty()) {
            Fail(file + ": byte " + std::to_string(import.Position()) + ": " + n.readError +
                 ", rest of the file skipped");
            whole = false;
        }
        if (n.withoutTime > 0) {
            Fail(file + ": " + std::to_string(n.withoutTime) +
                 " telemetry frame(s) without a reception-time record skipped");
            whole = false;
        }
        if (n.tooLong > 0) {
            Fail(file + ": " + std::to_string(n.tooLong) + " record(s) longer than " +
                 std::to_string(kMaxImportFrame) + " bytes skipped");
            whole = false;
        }
        if (n.endedInsideRecord) {
            Fail(file + ": the file ends inside a frame, which was dropped");
            whole = false;
        }
        tool.Write(file + ": " + std::to_string(n.frames) + " telemetry frames, " +
                   std::to_string(n.added) + " added, " + std::to_string(n.duplicates) +
                   " already there\n");
    }
    return tool.Finish(whole ? 0 : 1);
}

int Export(Archive& archive, const Options& o) {
    std::string buf;
    buf.reserve(kFlushAt + 64 * 1024);
    const bool influx = o.format == "influx";
    const TelemetryRowWriter writer(o.format == "json" ? ExportFormat::Json : ExportFormat::Csv,
                                    ExportColumns{});
    if (!influx) writer.AppendHeader(buf);
    std::string time;
    const std::string why = archive.Export(o.range, [&](const ArchiveRow& row) {
        time = Timestamp(row.timeMs);
        if (influx)
            AppendInfluxLine(buf, row.source, time, *row.values);
        else
            writer.AppendRow(AsExportRow(row, time), buf);
        return buf.size() < kFlushAt || tool.Write(buf);
    });
    tool.Write(buf);
    if (!why.empty()) return Fail(o.archive + ": " + why);
    return tool.Finish(0);
}

int Check(Archive& archive) {
    const std::string found = archive.Check(true);
    if (!found.empty()) return Fail(archive.Path() + " is damaged: " + found);
    ArchiveExtent extent;
    archive.Extent({}, extent);
    tool.Write(archive.Path() + ": whole (integrity_check ok), " + std::to_string(extent.count) +
               " frames\n");
    return tool.Finish(0);
}

// A passes or series table: CSV with a header, or one JSON object a line.
class Table {
  public:
    Table(bool json, std::vector<std::string> names) : json_(json), names_(std::move(names)) {}
    void Header(std::string& out) const {
        if (json_) return;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (i) out += ',';
            AppendCsvField(out, names_[i]);
        }
        out += "\r\n";
    }
    // Cells: texts (times) and numbers, in the order of the names.
    void Begin(std::string& out) { column_ = 0, out_ = &out; }
    void Text(const std::string& text) {
        Key();
        if (json_)
            AppendJsonString(*out_, text);
        else
            AppendCsvField(*out_, text);
    }
    void Number(double v) {
        Key();
        AppendNumber(*out_, v);
    }
    void End() { *out_ += json_ ? "}\n" : "\r\n"; }

  private:
    void Key() {
        if (json_) {
            *out_ += column_ == 0 ? '{' : ',';
            AppendJsonString(*out_, names_[column_]);
            *out_ += ':';
        } else if (column_ > 0) {
            *out_ += ',';
        }
        ++column_;
    }
    bool json_;
    std::vector<std::string> names_;
    std::size_t column_ = 0;
    std::string* out_ = nullptr;
};

std::string WithUnit(std::string name, const FieldSpec& f) {
    return f.unit.empty() ? name : name + " [" + std::string(f.unit) + "]";
}

int Passes(Archive& archive, const Options& o) {
    std::vector<std::string> names{"Start [UTC]", "End [UTC]", "Frames"};
    for (const FieldSpec& f : FieldTable())
        for (const char* what : {" min", " avg", " max"})
            names.push_back(WithUnit(std::string(f.caption) + what, f));
    names.push_back("Worst"); // the worst limit level of any field in the pass
    Table table(o.format == "json", names);
    std::string buf;
    table.Header(buf);
    const std::string why = archive.QueryPasses(o.range, [&](const Summary& p) {
        table.Begin(buf);
        table.Text(Timestamp(p.startMs));
        table.Text(Timestamp(p.endMs));
        table.Number(static_cast<double>(p.count));
        for (int i = 0; i < kFieldCount; ++i) {
            table.Number(p.fields[static_cast<std::size_t>(i)].min);
            table.Number(p.Average(i));
            table.Number(p.fields[static_cast<std::size_t>(i)].max);
        }
        table.Text(std::string(LimitLevelWord(p.Worst())));
        table.End();
        return buf.size() < kFlushAt || tool.Write(buf);
    });
    tool.Write(buf);
    if (!why.empty()) return Fail(o.archive + ": " + why);
    return tool.Finish(0);
}

int SeriesCommand(Archive& archive, const Options& o) {
    const auto field = FieldByName(o.args[0]);
    if (!field) {
        std::string known;
        for (const FieldSpec& f : FieldTable())
            known += "  " + std::string(f.caption) + "\n";
        return tool.Usage("unknown field \"" + o.args[0] + "\"; the fields are:", known);
    }
    Series series;
    if (std::string why = archive.QuerySeries(*field, o.range, o.points, series); !why.empty())
        return Fail(o.archive + ": " + why);
    const FieldSpec& f = Field(*field);
    Table table(o.format == "json", {"Bucket start [UTC]", "Count", WithUnit("Min", f),
                                     WithUnit("Avg", f), WithUnit("Max", f), "Worst"});
    std::string buf;
    table.Header(buf);
    for (const SeriesBucket& b : series.buckets) {
        table.Begin(buf);
        table.Text(Timestamp(b.startMs));
        table.Number(static_cast<double>(b.count));
        table.Number(b.min);
        table.Number(b.avg);
        table.Number(b.max);
        table.Text(std::string(LimitLevelWord(b.worst)));
        table.End();
    }
    tool.Write(buf);
    return tool.Finish(0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "retag") return RetagCommand(argc, argv);
    Options o;
    if (const int status = Parse(argc, argv, o); status >= 0) return status;
    if (o.command == "import") return Import(o);
    Archive archive;
    if (std::string why = archive.Open(o.archive, Archive::Access::Read); !why.empty())
        return Fail(why);
    if (o.command == "check") return Check(archive);
    if (o.command == "export")
        if (std::string why = Damage(archive); !why.empty()) return Fail(why);
    if (o.command == "export") return Export(archive, o);
    if (o.command == "passes") return Passes(archive, o);
    return SeriesCommand(archive, o);
}
