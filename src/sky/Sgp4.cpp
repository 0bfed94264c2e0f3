#include "sky/Sgp4.h"

namespace tavrik {

std::optional<Sgp4> Sgp4::Create(const Tle&, std::string& why) {
    why = "propagator not built yet";
    return std::nullopt;
}

bool Sgp4::Propagate(double, std::array<double, 3>&, std::array<double, 3>&,
                     std::string& why) const {
    why = "propagator not built yet";
    return false;
}

double Sgp4::PeriodMinutes() const {
    return 0;
}

} // namespace tavrik
