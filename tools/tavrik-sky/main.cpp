// tavrik-sky: passes over the station and the satellite's place in its sky,
// from a file of element sets (TLEs).
//   tavrik-sky passes --tle FILE --lat DEG --lon DEG [--alt M] [--from TIME] [--days N]
//                     [--horizon DEG] [--satellite N|NAME] [--format text|csv|json]
//   tavrik-sky at --tle FILE --lat DEG --lon DEG [--alt M] --time TIME [--downlink-hz HZ]
//                 [--satellite N|NAME] [--format text|csv|json]
// Exit status as tavrik-decode: 0 all done, 1 something skipped (bad element
// lines, an orbit that decays; a line on standard error says what), 2 usage
// or nothing to compute with.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "files/ToolIo.h"
#include "sky/SkyPredictor.h"
#include "time/TimeArgument.h"

namespace {

using namespace tavrik;

constexpr std::string_view kUsage =
    "usage: tavrik-sky passes --tle FILE --lat DEG --lon DEG [--alt M] [--from TIME] [--days N]\n"
    "                         [--horizon DEG] [--satellite N|NAME] [--format text|csv|json]\n"
    "       tavrik-sky at --tle FILE --lat DEG --lon DEG [--alt M] --time TIME\n"
    "                     [--downlink-hz HZ] [--satellite N|NAME] [--format text|csv|json]\n"
    "  passes  one row per pass: AOS, its azimuth, TCA, maximum elevation, LOS, its azimuth,\n"
    "          duration (from --from, default now, for --days days, default 1)\n"
    "  at      azimuth, elevation, range, range rate and the sub-satellite point at TIME,\n"
    "          with --downlink-hz the Doppler shift (positive while approaching)\n"
    "  --tle FILE       two- or three-line element sets (\"-\" reads standard input)\n"
    "  --lat/--lon DEG  the station, WGS-84 degrees (north, east positive); --alt M metres\n"
    "  --horizon DEG    the elevation mask for passes (default 0)\n"
    "  --satellite      catalogue number or name, needed when the file holds several\n"
    "TIME: 2026-12-09, 2026-12-09T15:46, 2026-12-09T15:46:05.250Z (UTC), now, -24h, -7d\n"
    "  --help           this text;  --version  the version\n"
    "More in man tavrik-sky.\n";

constexpr double kMaxDays = 366;

enum class Format { Text, Csv, Json };

struct Options {
    std::string command, tle, satellite;
    bool hasLat = false, hasLon = false, hasTime = false;
    Observer observer;
    double horizon = 0, days = 1, downlinkHz = 0;
    bool hasDownlink = false;
    std::int64_t fromMs = 0, timeMs = 0;
    Format format = Format::Text;
};

ToolIo tool("tavrik-sky", kUsage);

int Usage(const std::string& why) {
    return tool.Usage(why);
}

bool Number(std::string_view text, double& out) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size() &&
           std::isfinite(out);
}

// Returns -1 when the options are good, else the exit status.
int Parse(int argc, char** argv, Options& o) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    o.fromMs = now;
    std::vector<std::string> positional;
    bool hasFrom = false, hasDays = false, hasHorizon = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (const int status = tool.Standard(a); status >= 0) return status;
        if (!a.starts_with("--")) {
            positional.emplace_back(a);
            continue;
        }
        static constexpr std::string_view kValued[] = {
            "--tle",  "--satellite", "--lat",  "--lon",    "--alt",        "--horizon",
            "--days", "--from",      "--time", "--format", "--downlink-hz"};
        const std::string_view bare = a.substr(0, a.find('='));
        if (std::find(std::begin(kValued), std::end(kValued), bare) == std::end(kValued))
            return Usage("unknown option " + std::string(bare));
        std::string_view value;
        const std::size_t eq = a.find('=');
        if (eq != std::string_view::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        } else {
            if (i + 1 == argc) return Usage(std::string(a) + " needs a value");
            value = argv[++i];
        }
        const std::string name(a);
        double number = 0;
        auto needNumber = [&](const char* what) {
            if (Number(value, number)) return true;
            Usage(name + " needs " + what + ", not \"" + std::string(value) + "\"");
            return false;
        };
        if (a == "--tle") {
            o.tle = value;
        } else if (a == "--satellite") {
            o.satellite = value;
        } else if (a == "--lat" || a == "--lon") {
            if (!needNumber("degrees")) return 2;
            if (std::fabs(number) > (a == "--lat" ? 90 : 180))
                return Usage(name + " " + std::string(value) + " is beyond ±" +
                             (a == "--lat" ? "90" : "180") + " degrees");
            (a == "--lat" ? o.observer.latitudeDeg : o.observer.longitudeDeg) = number;
            (a == "--lat" ? o.hasLat : o.hasLon) = true;
        } else if (a == "--alt") {
            if (!needNumber("metres")) return 2;
            if (std::fabs(number) > 100000)
                return Usage("--alt " + std::string(value) + " m is not on the Earth");
            o.observer.altitudeM = number;
        } else if (a == "--horizon") {
            if (!needNumber("degrees")) return 2;
            if (number <= -10 || number >= 90)
                return Usage("--horizon must lie between -10 and 90 degrees");
            o.horizon = number;
            hasHorizon = true;
        } else if (a == "--days") {
            if (!needNumber("a number of days")) return 2;
            if (number <= 0 || number > kMaxDays)
                return Usage("--days must lie above 0 and up to 366");
            o.days = number;
            hasDays = true;
        } else if (a == "--downlink-hz") {
            if (!needNumber("a frequency in hertz")) return 2;
            if (number <= 0) return Usage("--downlink-hz must be above 0");
            o.downlinkHz = number;
            o.hasDownlink = true;
        } else if (a == "--from" || a == "--time") {
            const TimeArgument t = ParseTimeArgument(value, now);
            if (!t.error.empty()) return Usage(name + ": " + t.error);
            (a == "--from" ? o.fromMs : o.timeMs) = t.unixMs;
            (a == "--from" ? hasFrom : o.hasTime) = true;
        } else if (a == "--format") {
            if (value == "text")
                o.format = Format::Text;
            else if (value == "csv")
                o.format = Format::Csv;
            else if (value == "json")
                o.format = Format::Json;
            else
                return Usage("unknown format \"" + std::string(value) + "\"");
        }
    }
    if (positional.empty()) return Usage("no command given");
    o.command = positional[0];
    if (o.command != "passes" && o.command != "at")
        return Usage("unknown command \"" + o.command + "\"");
    if (positional.size() > 1) return Usage("unexpected argument \"" + positional[1] + "\"");
    if (o.tle.empty()) return Usage("--tle FILE is needed");
    if (!o.hasLat || !o.hasLon) return Usage("--lat and --lon are needed");
    if (o.command == "passes") {
        if (o.hasTime || o.hasDownlink) return Usage("--time and --downlink-hz belong to at");
    } else {
        if (!o.hasTime) return Usage("at needs --time");
        if (hasFrom || hasDays || hasHorizon)
            return Usage("--from, --days and --horizon belong to passes");
    }
    return -1;
}

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v == 0 ? 0.0 : v); // no "-0.000"
    return buf;
}

struct Column {
    const char* name;
    std::string value;
    bool text; // quoted in JSON
};

// Rows of named columns in the three forms.
void Print(Format format, const std::vector<std::vector<Column>>& rows, const std::string& header) {
    std::string out;
    if (format == Format::Json) {
        out += "[";
        for (std::size_t r = 0; r < rows.size(); ++r) {
            out += r ? ",\n {" : "\n {";
            for (std::size_t c = 0; c < rows[r].size(); ++c) {
                const Column& col = rows[r][c];
                out += (c ? ", \"" : "\"") + std::string(col.name) + "\": ";
                out += col.text ? "\"" + col.value + "\"" : col.value;
            }
            out += "}";
        }
        out += rows.empty() ? "]\n" : "\n]\n";
    } else if (format == Format::Csv) {
        if (!rows.empty()) {
            for (std::size_t c = 0; c < rows.front().size(); ++c)
                out += (c ? "," : "") + std::string(rows.front()[c].name);
            out += "\n";
        }
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                out += (c ? "," : "") + row[c].value;
            out += "\n";
        }
    } else {
        out += header;
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                out += (c ? "  " : "") + row[c].value;
            out += "\n";
        }
    }
    tool.Write(out);
}

std::vector<Column> PassRow(const Pass& p) {
    return {{"aos", FormatIsoUtc(p.aosMs), true},
            {"aos_azimuth", Fixed(p.aosAzimuthDeg, 3), false},
            {"tca", FormatIsoUtc(p.tcaMs), true},
            {"max_elevation", Fixed(p.maxElevationDeg, 3), false},
            {"los", FormatIsoUtc(p.losMs), true},
            {"los_azimuth", Fixed(p.losAzimuthDeg, 3), false},
            {"duration_s", Fixed(static_cast<double>(p.losMs - p.aosMs) / 1000.0, 3), false}};
}

std::string PassText(const Pass& p) {
    char buf[256];
    const double seconds = static_cast<double>(p.losMs - p.aosMs) / 1000.0;
    std::snprintf(buf, sizeof buf, "%s  %5.1f  %s  %4.1f  %s  %5.1f  %2d:%02d\n",
                  FormatIsoUtc(p.aosMs).c_str(), p.aosAzimuthDeg, FormatIsoUtc(p.tcaMs).c_str(),
                  p.maxElevationDeg, FormatIsoUtc(p.losMs).c_str(), p.losAzimuthDeg,
                  static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return buf;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int status = Parse(argc, argv, o); status >= 0) return status;
    std::stringstream text;
    if (o.tle == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(o.tle, std::ios::binary);
        if (!in) {
            tool.Fail(o.tle + ": cannot be read");
            return 2;
        }
        text << in.rdbuf();
    }
    const std::string& name = o.tle;
    const TleFile file = ParseTles(text.str());
    for (const std::string& e : file.errors)
        tool.Fail(name + ": " + e);
    int status = file.errors.empty() ? 0 : 1;

    std::string satellite = o.satellite;
    if (satellite.empty()) {
        std::set<int> catalogues;
        for (const Tle& t : file.sets)
            catalogues.insert(t.catalogue);
        if (catalogues.size() > 1) {
            tool.Fail(name + " holds " + std::to_string(catalogues.size()) +
                      " satellites; choose one with --satellite");
            return 2;
        }
        if (!catalogues.empty()) satellite = std::to_string(*catalogues.begin());
    }
    std::vector<Tle> sets = SetsFor(file.sets, satellite);
    if (sets.empty()) {
        tool.Fail(name + ": no element set for " +
                  (satellite.empty() ? std::string("any satellite") : satellite));
        return 2;
    }
    std::string why;
    const auto sky = SkyPredictor::Create(std::move(sets), o.observer, o.horizon, why);
    if (!sky) {
        tool.Fail(name + ": " + why);
        return 2;
    }

    if (o.command == "at") {
        const auto p = sky->At(o.timeMs, &why);
        if (!p) {
            tool.Fail(why);
            return 1;
        }
        std::vector<Column> row = {{"time", FormatIsoUtc(p->timeMs), true},
                                   {"azimuth", Fixed(p->azimuthDeg, 4), false},
                                   {"elevation", Fixed(p->elevationDeg, 4), false},
                                   {"range_km", Fixed(p->rangeKm, 4), false},
                                   {"range_rate_km_s", Fixed(p->rangeRateKmS, 6), false},
                                   {"latitude", Fixed(p->latitudeDeg, 5), false},
                                   {"longitude", Fixed(p->longitudeDeg, 5), false},
                                   {"altitude_km", Fixed(p->altitudeKm, 4), false}};
        if (o.hasDownlink)
            row.push_back(
                {"doppler_hz", Fixed(DopplerShiftHz(o.downlinkHz, p->rangeRateKmS), 1), false});
        if (o.format == Format::Text) {
            std::string out = sky->SetAt(o.timeMs).Label() + "\n";
            for (const Column& c : row)
                out += std::string(c.name) + std::string(16 - std::strlen(c.name), ' ') + c.value +
                       "\n";
            tool.Write(out);
        } else {
            Print(o.format, {row}, "");
        }
        return tool.Finish(status);
    }

    const auto untilMs = o.fromMs + static_cast<std::int64_t>(std::llround(o.days * 86400000.0));
    const std::vector<Pass> passes = sky->Passes(o.fromMs, untilMs, &why);
    if (!why.empty()) {
        tool.Fail(why + "; passes after it are not known");
        status = 1;
    }
    if (o.format == Format::Text) {
        std::string out = sky->SetAt(o.fromMs).Label() + ": passes above " + Fixed(o.horizon, 1) +
                          " degrees from " + FormatIsoUtc(o.fromMs) + " to " +
                          FormatIsoUtc(untilMs) + "\n";
        out += "AOS (UTC)                 AOS az  TCA (UTC)                 Max el  "
               "LOS (UTC)                 LOS az  Length\n";
        for (const Pass& p : passes)
            out += PassText(p);
        if (passes.empty()) out += "(no pass)\n";
        tool.Write(out);
        return tool.Finish(status);
    }
    std::vector<std::vector<Column>> rows;
    for (const Pass& p : passes)
        rows.push_back(PassRow(p));
    if (rows.empty() && o.format == Format::Csv)
        tool.Write("aos,aos_azimuth,tca,max_elevation,los,los_azimuth,duration_s\n");
    else
        Print(o.format, rows, "");
    return tool.Finish(status);
}
