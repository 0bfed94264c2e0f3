#pragma once
// Hamlib's network line protocol as rigctld and rotctld speak it: one command
// a line; a "get" answers with its values one a line, everything else with
// "RPRT n" (0 done, negative an error). A "get" that fails answers "RPRT n"
// instead of its values.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

struct HamlibCommand {
    std::string line;   // with its '\n'
    int valueLines = 0; // lines a successful answer holds; -1: lines up to "RPRT n"
};

HamlibCommand SetFrequencyCommand(std::int64_t hz);                       // F 435000000
HamlibCommand GetFrequencyCommand();                                      // f
HamlibCommand SetPositionCommand(double azimuthDeg, double elevationDeg); // P 123.40 12.50
HamlibCommand GetPositionCommand();                                       // p
HamlibCommand StopCommand();                                              // S
HamlibCommand DumpCapsCommand();                                          // \dump_caps

// An answer read line by line.
class HamlibReply {
  public:
    explicit HamlibReply(int valueLines = 0) : valueLines_(valueLines) {}
    // Takes one line (without its '\n'); true once the answer is complete.
    bool Feed(std::string_view line);
    bool Complete() const { return complete_; }
    // 0 when the daemon did it; negative: its error number.
    int Status() const { return status_; }
    const std::vector<std::string>& Values() const { return values_; }

  private:
    int valueLines_;
    bool complete_ = false;
    int status_ = 0;
    std::vector<std::string> values_;
};

// "RPRT -11 (feature not available)"
std::string HamlibErrorText(int status);

// A number the daemon sent ("435000000", "123.40"); none when it is not one.
std::optional<double> HamlibNumber(std::string_view text);

struct RotatorLimits;
// The azimuth and elevation range in a \dump_caps answer ("Min Azimuth:\t\t-180.00");
// false when it names none.
bool ReadRotatorLimits(const std::vector<std::string>& capsLines, RotatorLimits& limits);

} // namespace tavrik
