#include "upload/ServerAddress.h"

#include <algorithm>
#include <cctype>

namespace tavrik {

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "scheme://" and the authority's end, or npos when the URL has no scheme.
std::size_t AuthorityStart(std::string_view url) {
    const std::size_t sep = url.find("://");
    if (sep == std::string_view::npos || sep == 0) return std::string_view::npos;
    for (std::size_t i = 0; i < sep; ++i) {
        const char c = url[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return std::string_view::npos;
    }
    return sep + 3;
}

std::size_t AuthorityEnd(std::string_view url, std::size_t start) {
    const std::size_t end = url.find_first_of("/?#", start);
    return end == std::string_view::npos ? url.size() : end;
}

} // namespace

std::string ShownUrl(std::string_view url) {
    url = url.substr(0, std::min(url.find('?'), url.find('#')));
    const std::size_t start = AuthorityStart(url);
    if (start == std::string_view::npos) return std::string(url);
    const std::size_t end = AuthorityEnd(url, start);
    const std::size_t at = url.substr(start, end - start).rfind('@');
    if (at == std::string_view::npos) return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

std::string ResolveLocation(std::string_view url, std::string_view location) {
    if (AuthorityStart(location) != std::string_view::npos) return std::string(location);
    const std::size_t start = AuthorityStart(url);
    if (start == std::string_view::npos) return std::string(location);
    if (location.starts_with("//"))
        return std::string(url.substr(0, start - 2)) + std::string(location);
    const std::size_t end = AuthorityEnd(url, start);
    if (location.starts_with('/')) return std::string(url.substr(0, end)) + std::string(location);
    // Relative to the URL's folder.
    std::string_view path =
        url.substr(end, std::min(url.find_first_of("?#", end), url.size()) - end);
    path = path.substr(0, path.rfind('/') + 1);
    return std::string(url.substr(0, end)) + (path.empty() ? "/" : std::string(path)) +
           std::string(location);
}

std::optional<std::string> HeaderField(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        std::size_t eol = header.find('\n');
        std::string_view line = header.substr(0, eol);
        header = eol == std::string_view::npos ? std::string_view() : header.substr(eol + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !SameLetters(line.substr(0, colon), name)) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        return std::string(value);
    }
    return std::nullopt;
}

std::optional<std::string> MovedLine(int httpStatus, std::string_view header, std::string_view url,
                                     std::string_view key) {
    if (httpStatus < 300 || httpStatus > 399) return std::nullopt;
    const std::optional<std::string> location = HeaderField(header, "Location");
    std::string line = "HTTP " + std::to_string(httpStatus) + " from " + ShownUrl(url) + ": ";
    if (!location || location->empty())
        return line + "the server names no new address; check " + std::string(key);
    return line + "the server moved it to " + ShownUrl(ResolveLocation(url, *location)) + "; set " +
           std::string(key) + " to that";
}

} // namespace tavrik
