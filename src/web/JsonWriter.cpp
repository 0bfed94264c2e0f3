#include "web/JsonWriter.h"

#include <charconv>
#include <cmath>

#include "time/TimeArgument.h"

namespace tavrik {

void AppendJsonEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else if (c >= 0x80) { // Latin-1 to UTF-8
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += ch;
            }
        }
    }
}

void JsonWriter::Comma() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_) out_ += ',';
    first_ = false;
}

JsonWriter& JsonWriter::Object() {
    Comma();
    out_ += '{';
    open_.push_back('{');
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::Array() {
    Comma();
    out_ += '[';
    open_.push_back('[');
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::End() {
    out_ += open_.back() == '{' ? '}' : ']';
    open_.pop_back();
    first_ = false;
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    Comma();
    out_ += '"';
    AppendJsonEscaped(out_, key);
    out_ += "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    Comma();
    out_ += '"';
    AppendJsonEscaped(out_, text);
    out_ += '"';
    return *this;
}

JsonWriter& JsonWriter::Number(double value) {
    if (!std::isfinite(value)) return Null();
    Comma();
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, r.ptr);
    return *this;
}

JsonWriter& JsonWriter::Integer(std::int64_t value) {
    Comma();
    out_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    Comma();
    out_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    Comma();
    out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::Time(std::int64_t ms) {
    return ms == 0 ? Null() : String(FormatIsoUtc(ms));
}

} // namespace tavrik
