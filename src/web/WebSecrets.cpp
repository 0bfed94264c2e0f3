#include "web/WebSecrets.h"

#include <algorithm>
#include <cctype>

namespace tavrik {

namespace {

bool IsSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Where a URL that starts at `from` ends in running text.
std::size_t UrlEnd(std::string_view text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\'' || c == '<' ||
            c == '>' || c == '`')
            break;
        ++i;
    }
    return i;
}

} // namespace

void Redactor::AddSecret(std::string_view text) {
    if (text.size() < 4) return;
    if (std::find(secrets_.begin(), secrets_.end(), text) == secrets_.end())
        secrets_.emplace_back(text);
    // Longest first, so a secret holding another is blotted out whole.
    std::sort(secrets_.begin(), secrets_.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

void Redactor::AddUrl(std::string_view url) {
    if (const std::size_t q = url.find_first_of("?#"); q != std::string_view::npos) {
        AddSecret(url.substr(q + 1));
        url = url.substr(0, q);
    }
    const std::size_t sep = url.find("://");
    if (sep == std::string_view::npos) return;
    const std::size_t authEnd = std::min(url.find('/', sep + 3), url.size());
    const std::string_view authority = url.substr(sep + 3, authEnd - sep - 3);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        AddSecret(userInfo);
        if (const std::size_t colon = userInfo.find(':'); colon != std::string_view::npos)
            AddSecret(userInfo.substr(colon + 1));
    }
}

std::string Redactor::Clean(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t sep = text.find("://", pos);
        if (sep == std::string_view::npos) break;
        std::size_t start = sep;
        while (start > pos && IsSchemeChar(text[start - 1]))
            --start;
        std::size_t end = UrlEnd(text, sep + 3);
        // A password or a query may hold a quote, which ends a URL in running
        // text: the user information runs to the authority's last '@', and a
        // query to the next blank, so that neither shows past the quote.
        std::size_t authEnd = sep + 3;
        while (authEnd < text.size() && !std::isspace(static_cast<unsigned char>(text[authEnd])) &&
               std::string_view("/?#").find(text[authEnd]) == std::string_view::npos)
            ++authEnd;
        if (const std::size_t at = text.substr(sep + 3, authEnd - sep - 3).rfind('@');
            at != std::string_view::npos)
            end = std::max(end, UrlEnd(text, sep + 3 + at + 1));
        if (text.substr(sep, end - sep).find_first_of("?#") != std::string_view::npos)
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
                ++end;
        out.append(text.substr(pos, start - pos));
        out += ShownUrl(text.substr(start, end - start));
        pos = end;
    }
    out.append(text.substr(pos));
    for (const std::string& secret : secrets_)
        for (std::size_t at = out.find(secret); at != std::string::npos;
             at = out.find(secret, at + 3))
            out.replace(at, secret.size(), "***");
    return out;
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    // Every byte of the given text is looked at whatever the lengths, and
    // differences are gathered with OR, never answered early.
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char other = b.empty() ? '\0' : b[i % b.size()];
        diff |= static_cast<unsigned char>(a[i] ^ other);
    }
    return diff == 0;
}

} // namespace tavrik
