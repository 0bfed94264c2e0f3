#pragma once
// Decoded telemetry as rows for spreadsheets and scripts: CSV (RFC 4180) and
// JSON Lines, one column per field of the frame layout. The command-line
// decoder and the window's export write the same columns.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/FrameLayout.h"
#include "time/Clock.h"

namespace tavrik {

enum class ExportFormat { Csv, Json };

// Columns beyond the fixed ones (reception time, file, source, the values).
struct ExportColumns {
    bool record = false; // the record number of TelemetryHistory, first
    bool frame = false;  // the frame's hex text, last
    bool limits = false; // the fields out of their limits, after everything else
};

// One row. Absent values (a frame that was not decoded) leave their columns empty.
struct ExportRow {
    std::int64_t record = 0;
    std::string_view receptionTime; // "yyyy-MM-dd HH:nn:ss.mmm", or empty when unknown
    std::string_view file;
    std::string_view source;
    const std::array<double, kFieldCount>* values = nullptr;
    std::string_view frame;
    // "Batt volts red-low", one per field out of its limits: CSV joins them
    // with "; ", JSON gives a list. Null in JSON when the frame was not decoded.
    std::span<const std::string> limits = {};
};

// "Reception time [UTC]", "File", "Source", "Uptime [s]", "OPS mode", "OPS mode name", ...
std::vector<std::string> ExportColumnNames(ExportColumns columns);

class TelemetryRowWriter {
  public:
    TelemetryRowWriter(ExportFormat format, ExportColumns columns);

    // The CSV header line; JSON Lines has none.
    void AppendHeader(std::string& out) const;
    void AppendRow(const ExportRow& row, std::string& out) const;

  private:
    void AppendCsv(const ExportRow& row, std::string& out) const;
    void AppendJson(const ExportRow& row, std::string& out) const;

    ExportFormat format_;
    ExportColumns columns_;
    std::vector<std::string> names_;
    std::vector<std::string> jsonKeys_; // "\"name\":", escaped once
};

// RFC 4180: quoted only when the text holds a comma, a quote, CR or LF.
void AppendCsvField(std::string& out, std::string_view text);
// A text that came with the frames (a call sign, a timestamp record's text):
// quoted like any field, and with an apostrophe in front when it begins like a
// spreadsheet formula (=, +, -, @, tab or CR).
void AppendCsvReceived(std::string& out, std::string_view text);
// A JSON string literal; bytes that are not UTF-8 are taken as Latin-1.
void AppendJsonString(std::string& out, std::string_view text);
// A decoded value as a plain decimal number: whole numbers without a point,
// others with at most six decimals (as many as any calibration factor has, so
// the figure is the calibration's exact result), trailing zeros dropped.
void AppendNumber(std::string& out, double value);

// The text of a timestamp record (its body after the 0x09 byte) without the
// " UTC" behind it: "2024-03-05 14:07:09.250".
std::string_view ReceptionTime(std::span<const std::uint8_t> timestampBody);

// <folder>/<MYCALL made file-name safe>_<ddmmyyyy_hhmm UTC>.csv
std::string TelemetryExportFileName(const std::string& folder, std::string_view mycall,
                                    const DateTime& utc);

} // namespace tavrik
