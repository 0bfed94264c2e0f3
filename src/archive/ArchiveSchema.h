#pragma once
// The archive file's layout: its identity, its version, the SQL names of the
// telemetry fields, and the steps that bring an older file up to date. The
// frame layout's field table drives every column list, so a field is named in
// one place only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/FrameLayout.h"

struct sqlite3;

namespace tavrik {

// The archive's file name, in the folder that holds the KISS logs.
inline constexpr std::string_view kArchiveFileName = "tavrik-archive.sqlite";
// PRAGMA application_id of an archive: "TAVR". Anything else is not ours.
inline constexpr std::int32_t kArchiveApplicationId = 0x54415652;
// PRAGMA user_version this build writes; it opens every version up to this one.
// 2: the sky (where each frame was heard, predicted passes).
// 3: the limits' levels of each frame, and each hour's and pass's worst.
inline constexpr int kArchiveSchemaVersion = 3;
// The first version whose frames carry the sky columns.
inline constexpr int kArchiveSkyVersion = 2;

// The column that holds a frame's (or a summary's) limit levels: one digit
// per field in field order, '0' unchecked, '1' in range, '2' yellow, '3' red;
// NULL when no field was checked.
inline constexpr std::string_view kLevelsColumn = "limit_levels";

// A pass: frames with no gap longer than this between neighbours.
inline constexpr std::int64_t kPassGapMs = 20 * 60 * 1000;
inline constexpr std::int64_t kHourMs = 60 * 60 * 1000;

// The SQL column of field i: the caption in lower case with runs of other
// characters made one '_' ("Batt volts" -> batt_volts, "temp BC #1" ->
// temp_bc_1); a caption that begins with a digit gets "rail_" in front
// ("3v3 #1 curr" -> rail_3v3_1_curr), so no name needs quoting.
const std::string& FieldColumn(int index);
// The frame table's column of field i: the field's column for the values the
// frame carries as they are, <column>_raw for those the decoder calibrates
// (the frame's count; the telemetry view gives the calibrated value).
const std::string& StoredColumn(int index);
// Field i's value in SQL over the frame table: the decoder's calibration of
// its stored column.
std::string CalibratedSql(int index);
// The field whose caption (as in the CSV header, without the unit) this is;
// case and blanks around it do not matter. Its column name is accepted too.
std::optional<int> FieldByName(std::string_view name);

// The outcome of checking a database before it is used as an archive.
enum class SchemaCheck {
    Empty,   // a new file: no tables, no identity; the schema may be created
    Current, // an archive of this version
    Older,   // an archive of an older version: Migrate() brings it up to date
    Newer,   // made by a newer version of the program: left alone
    Foreign, // some other SQLite database: left alone
};
// Reads application_id, user_version and the table count. Returns an empty
// text on success, else the SQLite error (not a database, corrupt, ...).
std::string CheckSchema(sqlite3* db, SchemaCheck& check, int& version);
// Creates the schema in an empty database, or runs the migration steps from
// `from` to `to` (the current version; an older one makes a file as that
// version did, for the tests of migration), in one transaction either way.
std::string CreateOrMigrate(sqlite3* db, int from, int to = kArchiveSchemaVersion);

// The statements of schema version 1, as docs/archive.md documents them; the
// migration steps bring it to the current version.
std::vector<std::string> SchemaStatements();

} // namespace tavrik
