#pragma once
// Text from outside (file names, record texts, server replies) made safe for a
// line of its own: control characters shown as escapes, so that no name can
// end a log line early or forge the next one.
#include <string>
#include <string_view>

namespace tavrik {

// "\n", "\r", "\t" and "\xHH" for the other control characters (DEL included);
// every other byte unchanged.
std::string EscapeControls(std::string_view text);
bool HasControls(std::string_view text);

} // namespace tavrik
