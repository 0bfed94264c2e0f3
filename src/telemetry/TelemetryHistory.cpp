#include "telemetry/TelemetryHistory.h"

#include <algorithm>
#include <limits>
#include <span>
#include <stdexcept>

#include "telemetry/Conversions.h"

namespace tavrik {

namespace {

// The last frame position any field reads.
std::size_t LastByteRead() {
    std::size_t last = 0;
    for (const FieldSpec& f : FieldTable())
        last = std::max(last,
                        static_cast<std::size_t>(f.position) + (f.type == FieldType::U8 ? 0 : 1));
    return last;
}

} // namespace

std::array<double, kFieldCount> DecodeValues(const FrameBuffer& frame) {
    static const std::size_t lastByte = LastByteRead();
    // A frame that holds every field is read without a check per field.
    const std::span<const std::uint8_t> b = frame.Bytes();
    const bool whole = b.size() >= lastByte;
    std::array<double, kFieldCount> values{};
    for (const FieldSpec& f : FieldTable()) {
        const auto p = static_cast<std::size_t>(f.position);
        double raw = 0;
        if (whole) {
            const auto u16 =
                static_cast<std::uint16_t>(b[p - 1] | (f.type == FieldType::U8 ? 0 : b[p] << 8));
            raw = f.type == FieldType::U8    ? b[p - 1]
                  : f.type == FieldType::U16 ? u16
                                             : static_cast<std::int16_t>(u16);
        } else {
            try {
                switch (f.type) {
                case FieldType::U8:
                    raw = frame.At(p);
                    break;
                case FieldType::U16:
                    raw = ReadU16(frame, f.position);
                    break;
                case FieldType::S16:
                    raw = ReadS16(frame, f.position);
                    break;
                }
            } catch (const std::exception&) {
                continue; // a field that cannot be read stays 0; the others go on
            }
        }
        double v = raw;
        switch (f.calibration) {
        case Calibration::Raw:
            break;
        case Calibration::Scale:
            v = f.factor * raw;
            break;
        case Calibration::Square:
            v = f.factor * (raw * raw);
            break;
        case Calibration::NegLinear:
            v = -f.factor * raw + f.offset;
            break;
        }
        values[static_cast<std::size_t>(f.index)] = v;
    }
    return values;
}

bool IsDecodable(const FrameBuffer& frame) {
    // A frame that ends before the last field is not decoded: its values would
    // otherwise come from whatever an earlier frame left behind.
    if (frame.Length() < static_cast<std::size_t>(kLastFieldPosition)) return false;
    return frame.At(kCheckPositionB) == 1 && frame.At(kCheckPositionA) == 1;
}

bool TelemetryHistory::DecodeTelemetryFrame(const FrameBuffer& frame,
                                            const std::string& timestamp) {
    if (!IsDecodable(frame)) return false;
    if (rxPacketCount_ == std::numeric_limits<std::int32_t>::max()) return false;
    ++rxPacketCount_;
    if (StoredCount() == kCapacity) {
        if (!rolling_) return true;
        records_.pop_front();
        ++firstStored_;
    }
    records_.push_back({timestamp, DecodeValues(frame)});
    return true;
}

const TelemetryRecord& TelemetryHistory::Record(std::int32_t n) const {
    if (!IsStored(n)) throw std::out_of_range("no such telemetry record");
    return records_[static_cast<std::size_t>(n - firstStored_)];
}

} // namespace tavrik
