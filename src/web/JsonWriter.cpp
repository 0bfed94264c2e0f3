#include "web/JsonWriter.h"

#include <charconv>
#include <cmath>

#include "files/TelemetryExport.h"
#include "time/TimeArgument.h"

namespace tavrik {

void AppendJsonEscaped(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    AppendJsonString(out, text); // with its quotes, which are taken off again
    out.erase(start, 1);
    out.pop_back();
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
