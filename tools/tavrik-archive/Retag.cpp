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

int RetagUsage(const std::string& why) {
    std::fprintf(stderr, "tavrik-archive: %s\n%.*s", why.c_str(),
                 static_cast<int>(kRetagUsage.size()), kRetagUsage.data());
    return 2;
}

bool ReadNumber(std::string_view text, double& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size() &&
           std::isfinite(out);
}

} // namespace

int RetagCommand(int argc, char** argv) {
    std::string archivePath, tlePath, satellite;
    Observer station;
    double horizon = 0;
    bool lat = false, lon = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view a = argv[i], value;
        if (!a.starts_with("--")) {
            if (!archivePath.empty())
                return RetagUsage("unexpected argument \"" + std::string(a) + "\"");
            archivePath = a;
            continue;
        }
        if (a == "--help") {
            std::fwrite(kRetagUsage.data(), 1, kRetagUsage.size(), stdout);
            return 0;
        }
        if (const auto eq = a.find('='); eq != std::string_view::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        } else {
            if (++i == argc) return RetagUsage(std::string(a) + " needs a value");
            value = argv[i];
        }
        double* number = a == "--lat"       ? &station.latitudeDeg
                         : a == "--lon"     ? &station.longitudeDeg
                         : a == "--alt"     ? &station.altitudeM
                         : a == "--horizon" ? &horizon
                                            : nullptr;
        if (number) {
            if (!ReadNumber(value, *number))
                return RetagUsage(std::string(a) + " needs a number, not \"" + std::string(value) +
                                  "\"");
            lat |= a == "--lat";
            lon |= a == "--lon";
        } else if (a == "--tle") {
            tlePath = value;
        } else if (a == "--satellite") {
            satellite = value;
        } else {
            return RetagUsage("unknown option " + std::string(a));
        }
    }
    if (archivePath.empty()) return RetagUsage("no archive given");
    if (tlePath.empty() || !lat || !lon) return RetagUsage("retag needs --tle, --lat and --lon");

    std::ifstream in(tlePath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tavrik-archive: %s: cannot be read\n", tlePath.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    const TleFile file = ParseTles(text.str());
    for (const std::string& e : file.errors)
        std::fprintf(stderr, "tavrik-archive: %s: %s\n", tlePath.c_str(), e.c_str());
    // The program's satellite unless named; a file of one satellite names it.
    std::vector<Tle> sets = SetsFor(file.sets, satellite.empty() ? kNoradId : satellite);
    if (sets.empty() && satellite.empty() && !file.sets.empty()) {
        bool one = true;
        for (const Tle& t : file.sets)
            one = one && t.catalogue == file.sets.front().catalogue;
        if (one) sets = file.sets;
    }
    if (sets.empty()) {
        std::fprintf(stderr, "tavrik-archive: %s has no set for satellite %s\n", tlePath.c_str(),
                     satellite.empty() ? std::string(kNoradId).c_str() : satellite.c_str());
        return 1;
    }
    std::string why;
    const std::optional<SkyPredictor> sky =
        SkyPredictor::Create(std::move(sets), station, horizon, why);
    if (!sky) {
        std::fprintf(stderr, "tavrik-archive: %s\n", why.c_str());
        return 1;
    }
    Archive archive;
    if (why = archive.Open(archivePath, Archive::Access::Write); !why.empty()) {
        std::fprintf(stderr, "tavrik-archive: %s\n", why.c_str());
        return 1;
    }
    if (archive.MigratedFrom() > 0)
        std::fprintf(stderr, "tavrik-archive: %s brought up from version %d in place\n",
                     archivePath.c_str(), archive.MigratedFrom());
    const auto start = std::chrono::steady_clock::now();
    RetagResult r;
    const bool tty = isatty(fileno(stderr));
    why = archive.Retag(*sky, r, [&](std::int64_t done, std::int64_t total) {
        if (tty)
            std::fprintf(stderr, "\r%lld of %lld frames", static_cast<long long>(done),
                         static_cast<long long>(total));
    });
    if (tty) std::fputs("\r\033[K", stderr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %lld frames placed on the sky, %lld predicted passes added, %.1f s\n",
                archivePath.c_str(), static_cast<long long>(r.tagged),
                static_cast<long long>(r.passes), seconds);
    if (!why.empty()) {
        std::fprintf(stderr, "tavrik-archive: %s\n", why.c_str());
        return 1;
    }
    if (r.unplaced > 0) {
        std::fprintf(stderr, "tavrik-archive: %lld frames could not be placed (%s)\n",
                     static_cast<long long>(r.unplaced), "the orbit has decayed by their time");
        return 1;
    }
    return 0;
}

} // namespace tavrik
