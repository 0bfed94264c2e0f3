#pragma once
// The program's version, as the About box and the debug file give it.
#include <string_view>

namespace tavrik {

inline constexpr std::string_view kVersionText = "0.3";
inline constexpr std::string_view kReleaseDateText = "24 January 2016";

} // namespace tavrik
