#include "sky/Tle.h"

namespace tavrik {

std::string Tle::Label() const {
    return name.empty() ? std::to_string(catalogue) : name;
}

TleFile ParseTles(std::string_view) {
    return {{}, {"element sets: not read yet"}};
}

std::vector<Tle> SetsFor(const std::vector<Tle>&, std::string_view) {
    return {};
}

double JulianDate(std::int64_t unixMs) {
    return 2440587.5 + static_cast<double>(unixMs) / 86400000.0;
}

std::int64_t UnixMsFromJulian(double jd) {
    return static_cast<std::int64_t>((jd - 2440587.5) * 86400000.0);
}

} // namespace tavrik
