#include "files/SafeText.h"

namespace tavrik {

namespace {

bool IsControl(char ch) {
    const auto u = static_cast<unsigned char>(ch);
    return u < 0x20 || u == 0x7F;
}

} // namespace

bool HasControls(std::string_view text) {
    for (char ch : text)
        if (IsControl(ch)) return true;
    return false;
}

std::string EscapeControls(std::string_view text) {
    if (!HasControls(text)) return std::string(text);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (char ch : text) {
        if (!IsControl(ch)) {
            out += ch;
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\r') {
            out += "\\r";
        } else if (ch == '\t') {
            out += "\\t";
        } else {
            const auto u = static_cast<unsigned char>(ch);
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

} // namespace tavrik
