#pragma once
// What the archive's writing and reading halves share: prepared statements
// kept per connection, and the summary tables' row layout. Not for use
// outside src/archive.
#include <array>
#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveTypes.h"

namespace tavrik::archive_sql {

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

// A prepared statement, finalized with its owner.
class Stmt {
  public:
    Stmt() = default;
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    // Prepares on first use; nullptr when the SQL does not compile.
    sqlite3_stmt* Get(sqlite3* db, const std::string& sql) {
        if (!st_) sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
        if (st_) sqlite3_reset(st_);
        return st_;
    }

  private:
    sqlite3_stmt* st_ = nullptr;
};

// Resets a statement when it goes out of scope, so no read stays open.
struct Reset {
    sqlite3_stmt* st;
    ~Reset() {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

// SELECT <first>, start_ms, end_ms, frames, <every field's five columns>, limit_levels FROM table
std::string SummarySelect(const char* table, const char* first);
// INSERT OR REPLACE of a whole summary row, its key first.
std::string SummaryInsert(const char* table, const char* first);
// Columns 1.. of a SummarySelect row (column 0 is the key).
Summary ReadSummary(sqlite3_stmt* st);
void BindSummary(sqlite3_stmt* st, std::int64_t key, const Summary& s);
// The levels column (see kLevelsColumn): bound as 46 digits, or NULL when
// no field was checked; read back, a NULL or short text as unchecked.
void BindLevels(sqlite3_stmt* st, int param, const FieldLevels& levels);
void ReadLevels(sqlite3_stmt* st, int column, FieldLevels& out);
// The level of field `at` in a levels column (or in a one-digit text, at 0).
LimitLevel LevelOf(sqlite3_stmt* st, int column, std::size_t at);
// Records a predicted pass once (INSERT OR IGNORE); false when the write failed.
bool PutSkyPass(sqlite3* db, Stmt& stmt, const Pass& pass);

} // namespace tavrik::archive_sql

namespace tavrik {

class ArchiveStatements {
  public:
    using Stmt = archive_sql::Stmt;
    Stmt begin, commit, rollback;
    Stmt insertFrame, fileId, addFile, setMark, getMark, marks;
    Stmt hourGet, hourPut, passNear, passDelete, passPut, skyPass;
    Stmt first, last, count, countAll, exportRows, passes, newestPasses, lastPass, hours;
    std::array<Stmt, kFieldCount> rawSeries, hourSeries;
    std::unordered_map<std::string, std::int64_t> fileIds; // committed ids only
    std::vector<std::size_t> inserted;                     // reused per Insert
    std::vector<std::array<double, kFieldCount>> values;   // of the frames of an Insert
    std::vector<FieldLevels> levels;                       // the same
};

} // namespace tavrik
