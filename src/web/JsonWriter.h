#pragma once
// JSON text written straight into a string: objects, arrays, escaped texts and
// numbers in their shortest exact form (a number that is not finite is null).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

class JsonWriter {
  public:
    JsonWriter& Object();
    JsonWriter& Array();
    JsonWriter& End(); // of the innermost object or array
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view text);
    JsonWriter& Number(double value);
    JsonWriter& Integer(std::int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // An ISO time, or null for 0 (never).
    JsonWriter& Time(std::int64_t ms);

    std::string Take() { return std::move(out_); }

  private:
    void Comma();
    std::string out_;
    std::vector<char> open_; // '{' or '[' per level
    bool first_ = true;      // nothing written yet at this level
    bool afterKey_ = false;
};

// The text as a JSON string body (without quotes): the program's texts are
// UTF-8 and are kept as they are; a byte that is not UTF-8 is taken as Latin-1.
void AppendJsonEscaped(std::string& out, std::string_view text);

} // namespace tavrik
