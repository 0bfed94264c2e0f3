#include "files/StationConfig.h"

#include "time/Clock.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tavrik {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string DecimalPoint(std::string_view v) {
    std::string s(v);
    std::replace(s.begin(), s.end(), ',', '.');
    return s;
}

bool ReadLineLimit(std::string_view text, std::size_t& out) {
    std::size_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || value < 1 ||
        value > kMaxEventLogLines)
        return false;
    out = value;
    return true;
}

ConfigError LineError(int lineNumber, std::string_view line) {
    std::string shown(line.substr(0, 60));
    return {5, "line " + std::to_string(lineNumber) + " has no \"=\": \"" + shown + "\""};
}

// "a.example, b.example c" as its names.
std::vector<std::string> HostList(std::string_view value) {
    std::vector<std::string> names;
    std::string name;
    for (const char ch : std::string(value) + ' ') {
        if (ch == ',' || ch == ' ' || ch == '\t') {
            if (!name.empty()) names.push_back(std::move(name));
            name.clear();
        } else {
            name += ch;
        }
    }
    return names;
}

} // namespace

std::optional<HostPort> SplitHostPort(std::string_view port) {
    std::string_view host;
    std::string_view num;
    if (port.starts_with('[')) {
        // An IPv6 address holds colons of its own: "[::1]:8000".
        const auto close = port.find(']');
        if (close == std::string_view::npos || close < 2 || port.substr(close + 1, 1) != ":")
            return std::nullopt;
        host = port.substr(1, close - 1);
        num = port.substr(close + 2);
    } else {
        const auto colon = port.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = port.substr(0, colon);
        num = port.substr(colon + 1);
    }
    num = TrimBlanks(num);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
    // Port 0 is no port to connect to: it would be tried again for ever.
    if (num.empty() || ec != std::errc{} || ptr != num.data() + num.size() || value < 1 ||
        value > 65535)
        return std::nullopt;
    return HostPort{std::string(host), value};
}

std::optional<ModemEndpoint> ParseModemPort(std::string_view port) {
    ModemEndpoint e;
    if (port.starts_with(kKissScheme)) {
        port.remove_prefix(kKissScheme.size());
        e.protocol = ModemEndpoint::Protocol::Kiss;
    }
    const std::optional<HostPort> hp = SplitHostPort(port);
    // A KISS URL names its host; a bare "host:port" keeps its old, lenient reading.
    if (!hp || (e.protocol == ModemEndpoint::Protocol::Kiss && hp->host.empty()))
        return std::nullopt;
    e.address = *hp;
    return e;
}

ConfigReadResult ParseStationConfig(std::string_view content, StationConfig defaults) {
    ConfigReadResult r{std::move(defaults), std::nullopt};
    if (content.empty()) {
        r.error = ConfigError{kOpenErrorEmptyFile, "the file is empty (input past end of file)"};
        return r;
    }
    // Some editors put a UTF-8 byte-order mark before the first key.
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    int lineNumber = 0;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t eol = content.find('\n', pos);
        std::string_view line =
            content.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
        pos = eol == std::string_view::npos ? content.size() : eol + 1;
        ++lineNumber;
        // A file that went through more than one editor can end its lines in
        // CR CR LF; no CR may reach a value.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            r.error = LineError(lineNumber, line);
            return r;
        }
        const std::string_view key = TrimBlanks(line.substr(0, eq));
        std::string_view value = TrimBlanks(line.substr(eq + 1));
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.remove_suffix(1);
        StationConfig& c = r.config;
        if (key == "SERVER")
            c.server = value;
        else if (key == "SERVER_BACKUP")
            c.serverBackup = value;
        else if (key == "PORT")
            c.port = value;
        else if (key == "MYCALL")
            c.mycall = value;
        else if (key == "QTH_LAT")
            c.qthLat = DecimalPoint(value);
        else if (key == "QTH_LONG")
            c.qthLong = DecimalPoint(value);
        else if (key == "IMAGE_PATH")
            c.imagePath = value;
        else if (key == "SCREENSHOT")
            c.screenshot = value == "YES";
        else if (key == "AGW_RECONNECT")
            c.agwReconnect = value == "YES";
        else if (key == "UPLOAD_RETRY")
            c.uploadRetry = value == "YES";
        else if (key == "LIMITS")
            c.limits = value;
        else if (key == "ALARM_COMMAND")
            c.alarmCommand = value;
        else if (key == "ALARM_LEVEL")
            c.alarmYellow = value == "YELLOW";
        else if (key == "ARCHIVE")
            c.archive = value == "YES";
        else if (key == "EVENT_LOG_LINES" && !ReadLineLimit(value, c.eventLogLines)) {
            r.error = ConfigError{kOpenErrorOther, "EVENT_LOG_LINES \"" + std::string(value) +
                                                       "\" is not a whole number from 1 to " +
                                                       std::to_string(kMaxEventLogLines)};
            return r;
        } else if (key == "WEB")
            c.web = value;
        else if (key == "WEB_TOKEN")
            c.webToken = value;
        else if (key == "WEB_OPEN")
            c.webOpen = value == "YES";
        else if (key == "WEB_HOSTS")
            c.webHosts = HostList(value);
        else if (key == "INFLUX")
            c.influx = value;
        else if (key == "INFLUX_TOKEN")
            c.influxToken = value;
        else if (key == "TLE")
            c.tle = value;
        else if (key == "TLE_REFRESH")
            c.tleRefresh = value;
        else if (key == "SATELLITE")
            c.satellite = value;
        else if (key == "HORIZON")
            c.horizon = DecimalPoint(value);
        else if (key == "QTH_ALT")
            c.qthAlt = DecimalPoint(value);
        else if (key == "MISSED_PASS_EL")
            c.missedPassEl = DecimalPoint(value);
        else if (key == "PASS_COMMAND")
            c.passCommand = value;
        else if (key == "RIG")
            c.rig = value;
        else if (key == "DOWNLINK_HZ")
            c.downlinkHz = value;
        else if (key == "RIG_OFFSET_HZ")
            c.rigOffsetHz = value;
        else if (key == "ROTATOR")
            c.rotator = value;
        else if (key == "ROTATOR_STEP")
            c.rotatorStep = DecimalPoint(value);
        else if (key == "ROTATOR_PARK")
            c.rotatorPark = DecimalPoint(value);
        else if (key == "ROTATOR_MAX_EL")
            c.rotatorMaxEl = DecimalPoint(value);
    }
    if (!r.config.port.empty()) r.config.modem = ParseModemPort(r.config.port);
    if (r.config.port.empty())
        r.error = ConfigError{kOpenErrorBadPort,
                              "PORT is not set (it must read host:port, e.g. 127.0.0.1:8000)"};
    else if (!r.config.modem)
        r.error = ConfigError{kOpenErrorBadPort,
                              "PORT \"" + r.config.port + "\" is not " +
                                  (r.config.port.starts_with(kKissScheme) ? "kiss://" : "") +
                                  "host:port with a port number from 1 to 65535"};
    return r;
}

std::string OpenErrorText(const ConfigError& failure) {
    return "The following error occured: \r\nError # " + std::to_string(failure.number) +
           "\r\nonline_conf.ini " + failure.description;
}

ConfigReadResult ReadStationConfigFile(const std::string& path, StationConfig defaults) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ConfigReadResult r{std::move(defaults),
                           ConfigError{kOpenErrorFileNotFound, "file not found: " + path}};
        return r;
    }
    // Read no more than a settings file can sensibly hold (a wrong file, a
    // device or a pipe would otherwise be read whole).
    std::string content(kMaxConfigBytes + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad())
        return {std::move(defaults), ConfigError{kOpenErrorReadFailed, "read error: " + path}};
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxConfigBytes)
        return {
            std::move(defaults),
            ConfigError{kOpenErrorTooLarge, "is larger than 1 MiB, not a settings file: " + path}};
    return ParseStationConfig(content, std::move(defaults));
}

std::string HideSecretSettings(std::string_view content) {
    std::string out;
    while (!content.empty()) {
        const std::size_t eol = content.find('\n');
        const std::string_view whole =
            content.substr(0, eol == std::string_view::npos ? eol : eol + 1);
        content.remove_prefix(whole.size());
        std::string_view line = whole;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        const std::size_t eq = line.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, eq));
        if (line.starts_with('#') || (key != "INFLUX_TOKEN" && key != "WEB_TOKEN")) {
            out += whole;
            continue;
        }
        out += line.substr(0, eq + 1);
        out += "(not copied)";
        out += whole.substr(line.size()); // the line's own ending
    }
    return out;
}

std::string SettingsLine(const StationConfig& c) {
    return c.port + " | " + c.server + " | " + c.mycall + " | " + c.qthLat + " | " + c.qthLong;
}

std::string ExtensionsLine(const StationConfig& c) {
    std::string keys;
    if (c.agwReconnect) keys += "AGW_RECONNECT=YES";
    if (c.uploadRetry) keys += std::string(keys.empty() ? "" : ", ") + "UPLOAD_RETRY=YES";
    if (c.archive) keys += std::string(keys.empty() ? "" : ", ") + "ARCHIVE=YES";
    if (c.eventLogLines > 0)
        keys += std::string(keys.empty() ? "" : ", ") +
                "EVENT_LOG_LINES=" + std::to_string(c.eventLogLines);
    return keys.empty() ? std::string() : "unattended station settings: " + keys;
}

std::string FileNameSafe(std::string_view text) {
    std::string s(text);
    for (char& ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                        (u >= '0' && u <= '9') || u == '-' || u == '_';
        if (!ok) ch = '-';
    }
    return s;
}

std::string StationFileName(const std::string& folder, std::string_view mycall, const DateTime& utc,
                            std::string_view extension) {
    return folder + "/" + FileNameSafe(mycall) + "_" + FormatFileStamp(utc) +
           std::string(extension);
}

} // namespace tavrik
