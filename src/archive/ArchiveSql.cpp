#include "archive/ArchiveSql.h"

#include "archive/ArchiveSchema.h"

namespace tavrik::archive_sql {

std::string SummarySelect(const char* table, const char* first) {
    std::string s = std::string("SELECT ") + first + ", start_ms, end_ms, frames";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        s += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
    }
    return s + " FROM " + table;
}

std::string SummaryInsert(const char* table, const char* first) {
    std::string cols = std::string(first) + ", start_ms, end_ms, frames";
    std::string params = "?, ?, ?, ?";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        cols += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
        params += ", ?, ?, ?, ?, ?";
    }
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
}

} // namespace tavrik::archive_sql
