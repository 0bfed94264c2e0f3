#include "sky/SkyPredictor.h"

namespace tavrik {

std::optional<SkyPredictor> SkyPredictor::Create(std::vector<Tle>, Observer, double,
                                                 std::string& why) {
    why = "sky predictions not built yet";
    return std::nullopt;
}
const Tle& SkyPredictor::SetAt(std::int64_t) const {
    return sets_.front();
}
std::optional<SkyPoint> SkyPredictor::At(std::int64_t, std::string*) const {
    return std::nullopt;
}
std::vector<Pass> SkyPredictor::Passes(std::int64_t, std::int64_t) const {
    return {};
}
std::optional<Pass> SkyPredictor::PassAt(std::int64_t) const {
    return std::nullopt;
}
std::size_t SkyPredictor::IndexAt(std::int64_t) const {
    return 0;
}
std::optional<double> SkyPredictor::Height(std::int64_t) const {
    return std::nullopt;
}
double DopplerShiftHz(double, double) {
    return 0;
}
double GreenwichSiderealTime(double) {
    return 0;
}

} // namespace tavrik
