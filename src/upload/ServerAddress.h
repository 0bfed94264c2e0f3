#pragma once
// Server addresses as the event log, the page and the metrics show them, and
// the line that tells where a server says it has moved.
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// The URL without its user information, query and fragment: what may be shown
// anywhere ("https://u:p@host/path?key=x" -> "https://host/path").
std::string ShownUrl(std::string_view url);

// A Location header's value made absolute against the URL it answered.
std::string ResolveLocation(std::string_view url, std::string_view location);

// The value of the first header field of that name (case-insensitive) in a
// response header text of "Name: value" lines; nothing when absent.
std::optional<std::string> HeaderField(std::string_view header, std::string_view name);

// For a 3xx answer: "HTTP 301 from URL: the server moved it to LOCATION; set
// KEY to that", both addresses shown as ShownUrl. The redirect itself is never
// followed: a POST sent on to an address nobody configured could go anywhere.
// Nothing for any other status.
std::optional<std::string> MovedLine(int httpStatus, std::string_view header, std::string_view url,
                                     std::string_view key);

} // namespace tavrik
