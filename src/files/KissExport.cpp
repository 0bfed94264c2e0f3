#include "files/KissExport.h"

#include "intake/FrameText.h"
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
    receptionTime_.clear();
}

void KissExport::Add(const KissRecord& record, std::string& out) {
    if (record.kind == KissRecord::Kind::Timestamp) {
        receptionTime_ = ReceptionTime(record.bytes);
        return;
    }
    std::string time;
    time.swap(receptionTime_);
    if (record.kind != KissRecord::Kind::Frame) return;
    ++frames_;
    const std::string text = TelemetryFrameText(record.bytes);
    if (!writer_) {
        out += text;
        out += "\r\n"; // as the import lists it
        ++rows_;
        return;
    }
    frame_.Load(record.bytes);
    const bool decoded = MatchesTelemetryHeader(text) && IsDecodable(frame_);
    if (!decoded && !all_) return;
    std::string source = SourceCallSign(record.bytes);
    while (!source.empty() && source.back() == ' ')
        source.pop_back();
    std::array<double, kFieldCount> values{};
    if (decoded) values = DecodeValues(frame_);
    std::string_view frameText = text;
    if (frameText.ends_with(' ')) frameText.remove_suffix(1);
    writer_->AppendRow({.record = 0,
                        .receptionTime = time,
                        .file = file_,
                        .source = source,
                        .values = decoded ? &values : nullptr,
                        .frame = frameText},
                       out);
    ++rows_;
}

} // namespace tavrik
