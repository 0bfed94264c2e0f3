// tavrik-archive retag ARCHIVE --tle FILE --lat DEG --lon DEG [--alt M]
//                      [--horizon DEG] [--satellite N|NAME]
// Fills the sky columns of the frames that lack them (each frame from the
// element set of its time) and records the predicted passes over their span.
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include "Retag.h"
#include "archive/Archive.h"
#include "files/ToolIo.h"
#include "sky/SkyPredictor.h"
#include "sky/Tle.h"
#include "telemetry/FrameLayout.h"

namespace tavrik {

namespace {

constexpr std::string_view kRetagUsage =
    "usage: tavrik-archive retag ARCHIVE --tle FILE --lat DEG --lon DEG [--alt M]\n"
    "                            [--horizon DEG] [--satellite N|NAME]\n"
    "  fills azimuth, elevation, range_km, range_rate_km_s and pass_aos of the frames\n"
    "  that lack them, and the predicted passes of the passes view\n";

bool ReadNumber(std::string_view text, double& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size() &&
           std::isfinite(out);
}

} // namespace

int RetagCommand(int argc, char** argv) {
    ToolIo tool("tavrik-archive", kRetagUsage);
    std::string archivePath, tlePath, satellite;
    Observer station;
    double horizon = 0;
    bool lat = false, lon = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view a = argv[i], value;
        if (const int status = tool.Standard(a); status >= 0) return status;
        if (!a.starts_with("--")) {
            if (!archivePath.empty())
                return tool.Usage("unexpected argument \"" + std::string(a) + "\"");
            archivePath = a;
            continue;
        }
        if (const auto eq = a.find('='); eq != std::string_view::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        } else {
            if (++i == argc) return tool.Usage(std::string(a) + " needs a value");
            value = argv[i];
        }
        double* number = a == "--lat"       ? &station.latitudeDeg
                         : a == "--lon"     ? &station.longitudeDeg
                         : a == "--alt"     ? &station.altitudeM
                         : a == "--horizon" ? &horizon
                                            : nullptr;
        if (number) {
            if (!ReadNumber(value, *number))
                return tool.Usage(std::string(a) + " needs a number, not \"" + std::string(value) +
                                  "\"");
            lat |= a == "--lat";
            lon |= a == "--lon";
        } else if (a == "--tle") {
            tlePath = value;
        } else if (a == "--satellite") {
            satellite = value;
        } else {
            return tool.Usage("unknown option " + std::string(a));
        }
    }
    if (archivePath.empty()) return tool.Usage("no archive given");
    if (tlePath.empty() || !lat || !lon) return tool.Usage("retag needs --tle, --lat and --lon");

    std::ifstream in(tlePath, std::ios::binary);
    if (!in) {
        return tool.Fail(tlePath + ": cannot be read");
    }
    std::stringstream text;
    text << in.rdbuf();
    const TleFile file = ParseTles(text.str());
    for (const std::string& e : file.errors)
        tool.Fail(tlePath + ": " + e);
    // The program's satellite unless named; a file of one satellite names it.
    std::vector<Tle> sets = SetsFor(file.sets, satellite.empty() ? kNoradId : satellite);
    if (sets.empty() && satellite.empty() && !file.sets.empty()) {
        bool one = true;
        for (const Tle& t : file.sets)
            one = one && t.catalogue == file.sets.front().catalogue;
        if (one) sets = file.sets;
    }
    if (sets.empty()) {
        return tool.Fail(tlePath + " has no set for satellite " +
                         (satellite.empty() ? std::string(kNoradId) : satellite));
    }
    std::string why;
    const std::optional<SkyPredictor> sky =
        SkyPredictor::Create(std::move(sets), station, horizon, why);
    if (!sky) {
        return tool.Fail(why);
    }
    Archive archive;
    if (why = archive.Open(archivePath, Archive::Access::Write); !why.empty()) {
        return tool.Fail(why);
    }
    if (archive.MigratedFrom() > 0)
        tool.Fail(archivePath + " brought up from version " +
                  std::to_string(archive.MigratedFrom()) + " in place");
    const auto start = std::chrono::steady_clock::now();
    RetagResult r;
    const bool tty = isatty(fileno(stderr));
    why = archive.Retag(*sky, r, [&](std::int64_t done, double share) {
        if (tty)
            std::fprintf(stderr, "\r%lld frames placed, %d %%", static_cast<long long>(done),
                         static_cast<int>(share * 100));
    });
    if (tty) std::fputs("\r\033[K", stderr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s\n", seconds);
    tool.Write(archivePath + ": " + std::to_string(r.tagged) + " frames placed on the sky, " +
               std::to_string(r.passes) + " predicted passes added, " + took);
    if (!why.empty()) {
        return tool.Fail(why);
    }
    if (r.unplaced > 0) {
        return tool.Fail(std::to_string(r.unplaced) +
                         " frames could not be placed (the orbit has decayed by their time)");
    }
    return tool.Finish(0);
}

} // namespace tavrik
