#include "app/StationView.h"

#include "app/Form1.h"

namespace tavrik {

void StationView::FrameHeard(const HeardFrame& heard) {
    if (!heard.imported) form_.Winsock1_DataArrival(heard);
}

void StationView::TelemetryDecoded(const DecodedFrame& decoded) {
    if (!decoded.heard.imported) ShowLatest(decoded.number);
}

void StationView::TelemetryRefused(const HeardFrame& heard) {
    if (!heard.imported) ShowLatest(form_.History().RxPacketCount());
}

void StationView::ShowLatest(std::int32_t number) {
    form_.FollowChart();
    form_.ShowTelemetryRecord(number);
    form_.ShowCounters();
}

} // namespace tavrik
