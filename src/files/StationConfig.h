#pragma once
// online_conf.ini: one "KEY=value" setting a line, read once at start-up.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

struct HostPort {
    std::string host;
    int port = 0;
};
// PORT split at its first ":", or "[IPv6 address]:port"; the port must be a
// whole number 1 to 65535.
std::optional<HostPort> SplitHostPort(std::string_view port);

// How the modem program is reached: PORT as "host:port" is its AGW interface,
// "kiss://host:port" its KISS TCP port.
struct ModemEndpoint {
    enum class Protocol { Agw, Kiss };
    Protocol protocol = Protocol::Agw;
    HostPort address;
};
inline constexpr std::string_view kKissScheme = "kiss://";
std::optional<ModemEndpoint> ParseModemPort(std::string_view port);

struct StationConfig {
    std::string server;
    std::string serverBackup;
    std::string port;
    std::optional<ModemEndpoint> modem; // PORT as parsed; none when it is missing or bad
    std::string mycall;
    std::string qthLat;
    std::string qthLong;
    std::string imagePath;
    // SCREENSHOT as read: true for "YES", false for anything else, empty when absent.
    std::optional<bool> screenshot;
    // Opt-in extensions for an unattended station; both off unless the key reads "YES".
    bool agwReconnect = false; // AGW_RECONNECT: connect again whenever the modem link is lost
    bool uploadRetry = false;  // UPLOAD_RETRY: uploads kept on disk and retried until delivered
    // Limits: LIMITS=FILE (relative to the station folder), ALARM_COMMAND=PROGRAM [ARG...]
    // run when a value turns red, or yellow too with ALARM_LEVEL=YELLOW.
    std::string limits;
    std::string alarmCommand;
    bool alarmYellow = false;
    bool archive = false; // ARCHIVE: every decoded frame kept in tavrik-archive.sqlite
    // EVENT_LOG_LINES: the window's event log keeps this many newest entries; 0 keeps all.
    std::size_t eventLogLines = 0;
    std::string web;      // WEB=HOST:PORT: the web page and API served there
    std::string webToken; // WEB_TOKEN: needed by every web request when set
    // WEB_OPEN=YES: WEB on an address other than loopback served without a token.
    bool webOpen = false;
    // WEB_HOSTS: more names a request's Host may give (commas or blanks between).
    std::vector<std::string> webHosts;
    std::string influx;      // INFLUX: InfluxDB write URL for the decoded values; empty: none
    std::string influxToken; // INFLUX_TOKEN: sent as "Authorization: Token ..."; never shown
    // The sky, all opt-in and kept as written (the station checks them and
    // says what is wrong): TLE=FILE (relative to the station folder) or an
    // http(s) URL, fetched again every TLE_REFRESH hours; SATELLITE= the set's
    // catalogue number or name; HORIZON= elevation mask in degrees; QTH_ALT=
    // metres; MISSED_PASS_EL= degrees; PASS_COMMAND=PROGRAM [ARG...] run at AOS and LOS.
    std::string tle;
    std::string tleRefresh;
    std::string satellite;
    std::string horizon;
    std::string qthAlt;
    std::string missedPassEl;
    std::string passCommand;
    // The radio and antenna following the satellite through Hamlib's daemons, as
    // read (radio/RadioSetup checks them): RIG=host:port (rigctld), DOWNLINK_HZ,
    // RIG_OFFSET_HZ; ROTATOR=host:port [MIN_AZ MAX_AZ] (rotctld), ROTATOR_STEP,
    // ROTATOR_PARK ("AZ EL" or "stay"), ROTATOR_MAX_EL.
    std::string rig, downlinkHz, rigOffsetHz;
    std::string rotator, rotatorStep, rotatorPark, rotatorMaxEl;
};
inline constexpr std::size_t kMaxEventLogLines = 10'000'000;
// A settings file is a few lines; anything larger is refused unread.
inline constexpr std::size_t kMaxConfigBytes = 1u << 20;

// A failure with the number and description that the "Open Error" box shows.
struct ConfigError {
    int number = 0;
    std::string description;
};

// The numbers of the start-up failures, as the "Open Error" box shows them.
enum OpenErrorNumber : int {
    kOpenErrorOther = 5,         // any other failure of the start-up steps
    kOpenErrorTooLarge = 7,      // online_conf.ini larger than kMaxConfigBytes
    kOpenErrorBadPort = 13,      // PORT missing or not host:port
    kOpenErrorFileNotFound = 53, // no online_conf.ini
    kOpenErrorReadFailed = 57,   // online_conf.ini cannot be read
    kOpenErrorEmptyFile = 62,    // online_conf.ini is empty
    kOpenErrorKissLog = 75,      // the KISS log cannot be created
};

// The text of the "Open Error" box for a failure: the same words whatever step failed.
std::string OpenErrorText(const ConfigError& failure);

struct ConfigReadResult {
    StationConfig config; // what was read up to the failing line
    std::optional<ConfigError> error;
};

// The settings in the file's bytes, over the defaults given. LF and CR LF line
// ends are read alike. Includes the check that PORT is "host:port".
ConfigReadResult ParseStationConfig(std::string_view content, StationConfig defaults = {});
// Reads the file at path and parses it.
ConfigReadResult ReadStationConfigFile(const std::string& path, StationConfig defaults = {});

// The file's bytes with the values of the secret keys (INFLUX_TOKEN, WEB_TOKEN)
// replaced by "(not copied)", for copies that leave the station (the debug file).
std::string HideSecretSettings(std::string_view content);

// PORT | SERVER | MYCALL | QTH_LAT | QTH_LONG
std::string SettingsLine(const StationConfig& c);

// The start-up line naming the opt-in keys that are set; empty when none is.
std::string ExtensionsLine(const StationConfig& c);

// A call sign made safe for a file name: every character other than a letter,
// a digit, "-" or "_" becomes "-".
std::string FileNameSafe(std::string_view text);

struct DateTime;
// folder/MYCALL_ddmmyyyy_hhmm + extension: the name of every file a run writes
// (KISS log, debug file, export), the call sign made safe.
std::string StationFileName(const std::string& folder, std::string_view mycall, const DateTime& utc,
                            std::string_view extension);

} // namespace tavrik
