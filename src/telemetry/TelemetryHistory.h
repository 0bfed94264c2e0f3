#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>

#include "telemetry/FrameBuffer.h"
#include "telemetry/FrameLayout.h"

namespace tavrik {

struct TelemetryRecord {
    std::string timestamp; // UtcTimestamp of decoding; empty in a record never written
    std::array<double, kFieldCount> values{};
};

// All records decoded since start-up, numbered from 1, live and imported
// frames alike. Holds 10000; frames past that are counted, not stored. In
// rolling mode (a station that keeps its history elsewhere) the newest 10000
// are held instead: the oldest record gives way to each new one.
class TelemetryHistory {
public:
    static constexpr std::int32_t kCapacity = 10000;

    void SetRolling(bool rolling) { rolling_ = rolling; }
    bool Rolling() const { return rolling_; }

    // Decodes the frame when it is long enough and its two fixed bytes hold 1.
    // Returns whether the frame was counted (a record is stored while there is room).
    bool DecodeTelemetryFrame(const FrameBuffer& frame, const std::string& timestamp);

    std::int32_t RxPacketCount() const { return rxPacketCount_; }
    std::int32_t StoredCount() const { return static_cast<std::int32_t>(records_.size()); }
    // The number of the oldest stored record: 1 unless rolling mode let records go.
    std::int32_t FirstStored() const { return firstStored_; }
    bool IsStored(std::int32_t n) const {
        return n >= firstStored_ && n < firstStored_ + StoredCount();
    }
    // Record n, FirstStored() to FirstStored() + StoredCount() - 1; throws
    // std::out_of_range otherwise.
    const TelemetryRecord& Record(std::int32_t n) const;
    // The stored records, oldest first.
    const std::deque<TelemetryRecord>& Records() const { return records_; }

private:
    std::deque<TelemetryRecord> records_;
    std::int32_t rxPacketCount_ = 0;
    std::int32_t firstStored_ = 1;
    bool rolling_ = false;
};

// Whether the decoder takes the frame: it reaches the last field and its two
// fixed bytes (positions 19 and 20) hold 1.
bool IsDecodable(const FrameBuffer& frame);

// The 46 values of a frame, without the checks (the frame must reach position 111).
std::array<double, kFieldCount> DecodeValues(const FrameBuffer& frame);

} // namespace tavrik
