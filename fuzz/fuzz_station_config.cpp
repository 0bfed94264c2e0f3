// The settings parser over arbitrary file contents.
#include <string>
#include <string_view>

#include "files/StationConfig.h"
#include "fuzz_check.h"

using namespace tavrik;

namespace {

void CheckValue(std::string_view v) {
    FUZZ_CHECK(v.empty() || (v.back() != '\r' && v.back() != ' ' && v.front() != ' '));
    FUZZ_CHECK(v.find('\n') == std::string_view::npos);
}

void CheckConfig(const StationConfig& c) {
    for (const std::string* v :
         {&c.server, &c.serverBackup, &c.port, &c.mycall, &c.qthLat, &c.qthLong, &c.imagePath})
        CheckValue(*v);
    FUZZ_CHECK(c.qthLat.find(',') == std::string::npos);
    FUZZ_CHECK(c.qthLong.find(',') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const ConfigReadResult r = ParseStationConfig(content);
    CheckConfig(r.config);
    if (r.error) FUZZ_CHECK(r.error->number != 0 && !r.error->description.empty());

    const auto modem = ParseModemPort(r.config.port);
    if (!r.error) {
        // A file read without complaint has a usable PORT (host:port or kiss://host:port).
        FUZZ_CHECK(modem.has_value());
    }
    if (modem) FUZZ_CHECK(modem->address.port >= 0 && modem->address.port <= 65535);
    // And the splitting of any text at all.
    const auto any = SplitHostPort(content);
    if (any) FUZZ_CHECK(any->port >= 0 && any->port <= 65535 && any->host.size() < size);

    (void)SettingsLine(r.config);
    const std::string safe = FileNameSafe(r.config.mycall);
    FUZZ_CHECK(safe.size() == r.config.mycall.size());
    FUZZ_CHECK(safe.find_first_of("/\\.:\0 ", 0, 6) == std::string::npos);

    // Read over defaults, the defaults stay where the file says nothing.
    StationConfig defaults;
    defaults.server = "http://default.invalid/";
    defaults.mycall = "DEFAULT";
    const ConfigReadResult over = ParseStationConfig(content, defaults);
    CheckConfig(over.config);
    if (content.find("SERVER") == std::string_view::npos)
        FUZZ_CHECK(over.config.server == defaults.server);
    return 0;
}
