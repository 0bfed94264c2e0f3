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

ConfigError LineError(int lineNumber, std::string_view line) {
    std::string shown(line.substr(0, 60));
    return {5, "line " + std::to_string(lineNumber) + " has no \"=\": \"" + shown + "\""};
}

} // namespace

std::optional<HostPort> SplitHostPort(std::string_view port) {
    const auto colon = port.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view num = TrimBlanks(port.substr(colon + 1));
    int value = 0;
    const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
    if (num.empty() || ec != std::errc{} || ptr != num.data() + num.size() || value < 0 ||
        value > 65535)
        return std::nullopt;
    return HostPort{std::string(port.substr(0, colon)), value};
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
        else if (key == "ARCHIVE")
            c.archive = value == "YES";
    }
    if (!r.config.port.empty()) r.config.modem = ParseModemPort(r.config.port);
    if (r.config.port.empty())
        r.error = ConfigError{kOpenErrorBadPort,
                              "PORT is not set (it must read host:port, e.g. 127.0.0.1:8000)"};
    else if (!r.config.modem)
        r.error = ConfigError{kOpenErrorBadPort,
                              "PORT \"" + r.config.port + "\" is not " +
                                  (r.config.port.starts_with(kKissScheme) ? "kiss://" : "") +
                                  "host:port with a whole port number"};
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
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return {std::move(defaults), ConfigError{kOpenErrorReadFailed, "read error: " + path}};
    return ParseStationConfig(content, std::move(defaults));
}

std::string SettingsLine(const StationConfig& c) {
    return c.port + " | " + c.server + " | " + c.mycall + " | " + c.qthLat + " | " + c.qthLong;
}

std::string ExtensionsLine(const StationConfig& c) {
    std::string keys;
    if (c.agwReconnect) keys += "AGW_RECONNECT=YES";
    if (c.uploadRetry) keys += std::string(keys.empty() ? "" : ", ") + "UPLOAD_RETRY=YES";
    if (c.archive) keys += std::string(keys.empty() ? "" : ", ") + "ARCHIVE=YES";
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
