#include "archive/ArchiveSql.h"

#include "archive/ArchiveSchema.h"

namespace tavrik::archive_sql {

std::string SummarySelect(const char* table, const char* first) {
    std::string s = std::string("SELECT ") + first + ", start_ms, end_ms, frames";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        s += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
    }
    return s + ", limit_levels FROM " + table;
}

std::string SummaryInsert(const char* table, const char* first) {
    std::string cols = std::string(first) + ", start_ms, end_ms, frames";
    std::string params = "?, ?, ?, ?";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        cols += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
        params += ", ?, ?, ?, ?, ?";
    }
    cols += ", limit_levels";
    params += ", ?";
    return std::string("INSERT OR REPLACE INTO ") + table + " (" + cols + ") VALUES (" + params +
           ")";
}

Summary ReadSummary(sqlite3_stmt* st) {
    Summary s;
    s.startMs = sqlite3_column_int64(st, 1);
    s.endMs = sqlite3_column_int64(st, 2);
    s.count = sqlite3_column_int64(st, 3);
    int c = 4;
    for (FieldStats& f : s.fields) {
        f.min = sqlite3_column_double(st, c++);
        f.max = sqlite3_column_double(st, c++);
        f.sum = sqlite3_column_double(st, c++);
        f.minMs = sqlite3_column_int64(st, c++);
        f.maxMs = sqlite3_column_int64(st, c++);
    }
    ReadLevels(st, c, s.levels);
    return s;
}

void BindSummary(sqlite3_stmt* st, std::int64_t key, const Summary& s) {
    int p = 1;
    sqlite3_bind_int64(st, p++, key);
    sqlite3_bind_int64(st, p++, s.startMs);
    sqlite3_bind_int64(st, p++, s.endMs);
    sqlite3_bind_int64(st, p++, s.count);
    for (const FieldStats& f : s.fields) {
        sqlite3_bind_double(st, p++, f.min);
        sqlite3_bind_double(st, p++, f.max);
        sqlite3_bind_double(st, p++, f.sum);
        sqlite3_bind_int64(st, p++, f.minMs);
        sqlite3_bind_int64(st, p++, f.maxMs);
    }
    BindLevels(st, p, s.levels);
}

void BindLevels(sqlite3_stmt* st, int param, const FieldLevels& levels) {
    char text[kFieldCount];
    bool any = false;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        text[i] = static_cast<char>('0' + static_cast<int>(levels[i]));
        any = any || levels[i] != LimitLevel::Unchecked;
    }
    if (any)
        sqlite3_bind_text(st, param, text, kFieldCount, SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(st, param);
}

namespace {

// Anything but the four digits (a hand-edited row) is taken as unchecked.
LimitLevel Digit(const unsigned char* text, std::size_t n, std::size_t at) {
    if (!text || at >= n || text[at] < '0' || text[at] > '3') return LimitLevel::Unchecked;
    return static_cast<LimitLevel>(text[at] - '0');
}

} // namespace

LimitLevel LevelOf(sqlite3_stmt* st, int column, std::size_t at) {
    const unsigned char* text = sqlite3_column_text(st, column);
    return Digit(text, static_cast<std::size_t>(sqlite3_column_bytes(st, column)), at);
}

void ReadLevels(sqlite3_stmt* st, int column, FieldLevels& out) {
    const unsigned char* text = sqlite3_column_text(st, column);
    const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st, column));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = Digit(text, n, i);
}

} // namespace tavrik::archive_sql
