#include "files/KissExport.h"

#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

KissExport::KissExport(DecodeOutput output, bool all) : output_(output), all_(all) {
    if (output != DecodeOutput::Hex)
        writer_.emplace(output == DecodeOutput::Csv ? ExportFormat::Csv : ExportFormat::Json,
                        ExportColumns{.record = false, .frame = all});
}

void KissExport::Begin(std::string& out) const {
    if (writer_) writer_->AppendHeader(out);
}

void KissExport::StartFile(std::string_view name) {
    file_ = name;
    hasTime_ = false;
}

void KissExport::Add(const KissRecord& record, std::string& out) {
    if (record.kind == KissRecord::Kind::Timestamp) {
        receptionTime_.assign(ReceptionTime(record.bytes)); // keeps its capacity
        hasTime_ = true;
        return;
    }
    const std::string_view time = hasTime_ ? std::string_view(receptionTime_) : std::string_view();
    hasTime_ = false;
    if (record.kind != KissRecord::Kind::Frame) return;
    if (!writer_) {
        out += TelemetryFrameText(record.bytes);
        out += "\r\n"; // as the import lists it
        return;
    }
    frame_.Load(record.bytes);
    const bool decoded = HasTelemetryHeader(record.bytes) && IsDecodable(frame_);
    if (!decoded && !all_) return;
    std::string source = SourceCallSign(record.bytes);
    while (!source.empty() && source.back() == ' ')
        source.pop_back();
    if (decoded) values_ = DecodeValues(frame_);
    std::string text;
    if (all_) {
        text = TelemetryFrameText(record.bytes);
        if (!text.empty()) text.pop_back(); // the blank after the last pair
    }
    writer_->AppendRow({.record = 0,
                        .receptionTime = time,
                        .file = file_,
                        .source = source,
                        .values = decoded ? &values_ : nullptr,
                        .frame = text},
                       out);
}

} // namespace tavrik
