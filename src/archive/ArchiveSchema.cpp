#include "archive/ArchiveSchema.h"

#include <array>
#include <cctype>
#include <charconv>
#include <sqlite3.h>

namespace tavrik {

namespace {

std::string MakeColumn(std::string_view caption) {
    std::string out;
    bool gap = false;
    for (const char c : caption) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            if (gap && !out.empty()) out += '_';
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            gap = false;
        } else {
            gap = true;
        }
    }
    if (!out.empty() && std::isdigit(static_cast<unsigned char>(out[0]))) out = "rail_" + out;
    return out;
}

const std::array<std::string, kFieldCount>& Columns() {
    static const std::array<std::string, kFieldCount> columns = [] {
        std::array<std::string, kFieldCount> c;
        for (const FieldSpec& f : FieldTable())
            c[static_cast<std::size_t>(f.index)] = MakeColumn(f.caption);
        return c;
    }();
    return columns;
}

const std::array<std::string, kFieldCount>& StoredColumns() {
    static const std::array<std::string, kFieldCount> columns = [] {
        std::array<std::string, kFieldCount> c;
        for (const FieldSpec& f : FieldTable())
            c[static_cast<std::size_t>(f.index)] =
                MakeColumn(f.caption) + (f.calibration == Calibration::Raw ? "" : "_raw");
        return c;
    }();
    return columns;
}

std::string SqlNumber(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0"; // a real, not an integer
    return s;
}

// The decoder's calibration of a field in SQL, operation for operation, so
// the view gives the same doubles as the program.
std::string Calibrated(const FieldSpec& f) {
    const std::string& raw = StoredColumns()[static_cast<std::size_t>(f.index)];
    switch (f.calibration) {
    case Calibration::Raw:
        break;
    case Calibration::Scale:
        return SqlNumber(f.factor) + " * " + raw;
    case Calibration::Square:
        return SqlNumber(f.factor) + " * (" + raw + " * " + raw + ")";
    case Calibration::NegLinear:
        return SqlNumber(-f.factor) + " * " + raw + " + " + SqlNumber(f.offset);
    }
    return raw;
}

std::string Lower(std::string_view s) {
    std::string out;
    for (const char c : s)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string SqlText(std::string_view s) {
    std::string out = "'";
    for (const char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

// The per-field columns of a summary table.
std::string SummaryColumns() {
    std::string s;
    for (const std::string& c : Columns())
        s += ",\n  " + c + "_min REAL, " + c + "_max REAL, " + c + "_sum REAL, " + c +
             "_min_ms INTEGER, " + c + "_max_ms INTEGER";
    return s;
}

// A summary view's columns: min, average and max of every field.
std::string SummaryViewColumns() {
    std::string s;
    for (const std::string& c : Columns())
        s += ",\n  " + c + "_min, " + c + "_sum / frames AS " + c + "_avg, " + c + "_max, " + c +
             "_min_ms / 1000.0 AS " + c + "_min_time, " + c + "_max_ms / 1000.0 AS " + c +
             "_max_time";
    return s;
}

std::string Exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return {};
    std::string why = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return why;
}

const std::vector<std::vector<std::string>>& MigrationSteps();

std::string HoursView(bool levels) {
    return "CREATE VIEW hours AS SELECT\n"
           "  hour_ms / 1000.0 AS time,\n"
           "  strftime('%Y-%m-%dT%H:%M:%fZ', hour_ms / 1000.0, 'unixepoch') AS utc,\n"
           "  frames" +
           SummaryViewColumns() + (levels ? ",\n  limit_levels" : "") + "\nFROM hour_summary";
}

// For Grafana and the sqlite3 shell: time in Unix seconds, utc as ISO text;
// with the sky, where the satellite stood when the frame was heard.
std::string TelemetryView(bool sky, bool levels) {
    std::string viewColumns;
    for (const FieldSpec& f : FieldTable())
        viewColumns += f.calibration == Calibration::Raw
                           ? ", " + FieldColumn(f.index)
                           : ",\n  " + Calibrated(f) + " AS " + FieldColumn(f.index);
    return "CREATE VIEW telemetry AS SELECT\n"
           "  time_ms / 1000.0 AS time,\n"
           "  strftime('%Y-%m-%dT%H:%M:%fZ', time_ms / 1000.0, 'unixepoch') AS utc,\n"
           "  source" +
           viewColumns + ",\n  kiss_file.name AS kiss_file, kiss_offset, hex(raw) AS frame" +
           (sky ? ",\n  azimuth, elevation, range_km, range_rate_km_s, pass_aos / 1000.0 AS "
                  "pass_aos"
                : "") +
           (levels ? ",\n  limit_levels" : "") +
           "\nFROM frame LEFT JOIN kiss_file ON kiss_file.id = frame.file_id";
}

// The passes as heard (frames without a long gap); with the sky, each joined
// to the predicted pass it overlaps, and the predicted passes nobody heard
// listed too (no frames, no summary).
std::string PassesView(bool sky, bool levels) {
    const std::string heard =
        "SELECT\n"
        "  start_ms / 1000.0 AS time,\n"
        "  end_ms / 1000.0 AS time_end,\n"
        "  strftime('%Y-%m-%dT%H:%M:%fZ', start_ms / 1000.0, 'unixepoch') AS utc,\n"
        "  (end_ms - start_ms) / 1000.0 AS duration_s,\n"
        "  frames" +
        SummaryViewColumns() + (levels ? ",\n  limit_levels" : "");
    if (!sky) return "CREATE VIEW passes AS " + heard + "\nFROM pass_summary";
    const std::string predicted =
        ",\n  s.aos_ms / 1000.0 AS aos, s.tca_ms / 1000.0 AS tca, s.los_ms / 1000.0 AS los,\n"
        "  s.max_elevation, s.aos_azimuth, s.los_azimuth,\n"
        "  (SELECT count(*) FROM frame WHERE pass_aos = s.aos_ms) AS frames_heard,\n"
        "  (SELECT min(elevation) FROM frame WHERE pass_aos = s.aos_ms AND time_ms <= s.tca_ms)"
        " AS lowest_elevation_up,\n"
        "  (SELECT min(elevation) FROM frame WHERE pass_aos = s.aos_ms AND time_ms > s.tca_ms)"
        " AS lowest_elevation_down";
    std::string unheard = "SELECT\n"
                          "  s.aos_ms / 1000.0, s.los_ms / 1000.0,\n"
                          "  strftime('%Y-%m-%dT%H:%M:%fZ', s.aos_ms / 1000.0, 'unixepoch'),\n"
                          "  (s.los_ms - s.aos_ms) / 1000.0, 0";
    for (std::size_t i = 0; i < Columns().size(); ++i)
        unheard += ", NULL, NULL, NULL, NULL, NULL";
    if (levels) unheard += ", NULL";
    return "CREATE VIEW passes AS " + heard + predicted +
           "\nFROM pass_summary p LEFT JOIN sky_pass s ON s.aos_ms <= p.end_ms AND s.los_ms >= "
           "p.start_ms\nUNION ALL " +
           unheard + predicted +
           "\nFROM sky_pass s WHERE NOT EXISTS (SELECT 1 FROM pass_summary p WHERE s.aos_ms <= "
           "p.end_ms AND s.los_ms >= p.start_ms)\nORDER BY 1";
}

// The steps from version n to n + 1, for n = 1 up; version 1 is the schema as
// SchemaStatements() creates it. A new schema version appends its step here.
const std::vector<std::vector<std::string>>& MigrationSteps() {
    static const std::vector<std::vector<std::string>> steps = {
        // The sky: where each frame was heard, and the predicted passes.
        {
            "ALTER TABLE frame ADD COLUMN azimuth REAL",
            "ALTER TABLE frame ADD COLUMN elevation REAL",
            "ALTER TABLE frame ADD COLUMN range_km REAL",
            "ALTER TABLE frame ADD COLUMN range_rate_km_s REAL",
            "ALTER TABLE frame ADD COLUMN pass_aos INTEGER",
            "CREATE INDEX frame_pass ON frame (pass_aos) WHERE pass_aos IS NOT NULL",
            "CREATE TABLE sky_pass (\n"
            "  aos_ms INTEGER PRIMARY KEY,\n"
            "  tca_ms INTEGER NOT NULL,\n"
            "  los_ms INTEGER NOT NULL,\n"
            "  max_elevation REAL NOT NULL,\n"
            "  aos_azimuth REAL NOT NULL,\n"
            "  los_azimuth REAL NOT NULL\n"
            ")",
            "DROP VIEW telemetry",
            TelemetryView(true, false),
            "DROP VIEW passes",
            PassesView(true, false),
        },
        // The limits' levels: per frame as judged when it was written, per
        // hour and pass the worst of each field. Older rows stay NULL: unchecked.
        {
            "ALTER TABLE frame ADD COLUMN limit_levels TEXT",
            "ALTER TABLE hour_summary ADD COLUMN limit_levels TEXT",
            "ALTER TABLE pass_summary ADD COLUMN limit_levels TEXT",
            "DROP VIEW telemetry",
            TelemetryView(true, true),
            "DROP VIEW hours",
            HoursView(true),
            "DROP VIEW passes",
            PassesView(true, true),
        },
    };
    return steps;
}

} // namespace

const std::string& FieldColumn(int index) {
    return Columns().at(static_cast<std::size_t>(index));
}

std::string CalibratedSql(int index) {
    return Calibrated(Field(index));
}

const std::string& StoredColumn(int index) {
    return StoredColumns().at(static_cast<std::size_t>(index));
}

std::optional<int> FieldByName(std::string_view name) {
    while (!name.empty() && name.front() == ' ')
        name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    const std::string wanted = Lower(name);
    for (const FieldSpec& f : FieldTable())
        if (Lower(f.caption) == wanted || FieldColumn(f.index) == wanted) return f.index;
    return std::nullopt;
}

std::vector<std::string> SchemaStatements() {
    std::string frameColumns;
    for (const FieldSpec& f : FieldTable())
        frameColumns += ",\n  " + StoredColumn(f.index) + " INTEGER";
    std::string fieldRows;
    for (const FieldSpec& f : FieldTable())
        fieldRows += std::string(fieldRows.empty() ? "" : ",\n  ") + "(" + std::to_string(f.index) +
                     ", " + SqlText(FieldColumn(f.index)) + ", " + SqlText(f.caption) + ", " +
                     SqlText(f.unit) + ")";
    return {
        // How far each KISS file has been archived, and the frames' file names.
        "CREATE TABLE kiss_file (\n"
        "  id INTEGER PRIMARY KEY,\n"
        "  name TEXT NOT NULL UNIQUE,\n"
        "  archived_to INTEGER NOT NULL DEFAULT 0\n"
        ")",
        // One row per frame; time_ms is the reception time in ms since 1970 UTC.
        "CREATE TABLE frame (\n"
        "  id INTEGER PRIMARY KEY,\n"
        "  time_ms INTEGER NOT NULL,\n"
        "  frame_hash INTEGER NOT NULL,\n"
        "  source TEXT NOT NULL,\n"
        "  file_id INTEGER REFERENCES kiss_file(id),\n"
        "  kiss_offset INTEGER,\n"
        "  raw BLOB NOT NULL" +
            frameColumns + "\n)",
        // The same frame at the same time once; also the time order.
        "CREATE UNIQUE INDEX frame_time ON frame (time_ms, frame_hash)",
        "CREATE TABLE hour_summary (\n"
        "  hour_ms INTEGER PRIMARY KEY,\n"
        "  start_ms INTEGER NOT NULL,\n"
        "  end_ms INTEGER NOT NULL,\n"
        "  frames INTEGER NOT NULL" +
            SummaryColumns() + "\n)",
        "CREATE TABLE pass_summary (\n"
        "  start_ms INTEGER PRIMARY KEY,\n"
        "  end_ms INTEGER NOT NULL,\n"
        "  frames INTEGER NOT NULL" +
            SummaryColumns() + "\n)",
        "CREATE TABLE field (\n"
        "  field_index INTEGER PRIMARY KEY,\n"
        "  name TEXT NOT NULL,\n"
        "  caption TEXT NOT NULL,\n"
        "  unit TEXT NOT NULL\n"
        ")",
        "INSERT INTO field VALUES\n  " + fieldRows,
        // For Grafana and the sqlite3 shell: time in Unix seconds, utc as ISO text.
        TelemetryView(false, false),
        HoursView(false),
        PassesView(false, false),
    };
}

std::string CheckSchema(sqlite3* db, SchemaCheck& check, int& version) {
    int applicationId = 0;
    int tables = 0;
    version = 0;
    const char* sql = "SELECT (SELECT application_id FROM pragma_application_id), "
                      "(SELECT user_version FROM pragma_user_version), "
                      "(SELECT count(*) FROM sqlite_schema)";
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        applicationId = sqlite3_column_int(st, 0);
        version = sqlite3_column_int(st, 1);
        tables = sqlite3_column_int(st, 2);
    }
    std::string why = rc == SQLITE_ROW ? std::string() : std::string(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    if (!why.empty()) return why;
    if (applicationId == 0 && version == 0 && tables == 0)
        check = SchemaCheck::Empty;
    else if (applicationId != kArchiveApplicationId || version < 1)
        check = SchemaCheck::Foreign;
    else if (version > kArchiveSchemaVersion)
        check = SchemaCheck::Newer;
    else if (version < kArchiveSchemaVersion)
        check = SchemaCheck::Older;
    else
        check = SchemaCheck::Current;
    return {};
}

std::string CreateOrMigrate(sqlite3* db, int from, int to) {
    if (std::string why = Exec(db, "BEGIN IMMEDIATE"); !why.empty()) return why;
    std::string why;
    // A new archive is made as version 1 and brought up by the same steps as
    // an old one, so both end in the same schema.
    if (from == 0) {
        for (const std::string& sql : SchemaStatements())
            if (why.empty()) why = Exec(db, sql);
        if (why.empty())
            why = Exec(db, "PRAGMA application_id = " + std::to_string(kArchiveApplicationId));
        from = 1;
    }
    const auto& steps = MigrationSteps();
    for (int v = from; v < to && why.empty(); ++v)
        for (const std::string& sql : steps.at(static_cast<std::size_t>(v - 1)))
            if (why.empty()) why = Exec(db, sql);
    if (why.empty()) why = Exec(db, "PRAGMA user_version = " + std::to_string(to));
    if (why.empty()) why = Exec(db, "COMMIT");
    if (!why.empty()) Exec(db, "ROLLBACK");
    return why;
}

} // namespace tavrik
