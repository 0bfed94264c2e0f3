#include "app/StationView.h"

#include "app/Form1.h"
#include "support/qt/QtText.h"
#include "telemetry/FrameText.h"

namespace tavrik {

void StationView::FrameHeard(const HeardFrame& heard) {
    if (!heard.imported) form_.Label4->setText(Utf8Text(CallSignText(heard.data)));
}

void StationView::TelemetryDecoded(const DecodedFrame& decoded) {
    if (!decoded.heard.imported) ShowLatest(decoded.number);
}

void StationView::TelemetryRefused(const HeardFrame& heard) {
    if (!heard.imported) ShowLatest(form_.History().RxPacketCount());
}

void StationView::ShowLatest(std::int32_t number) {
    form_.RefreshChart(form_.ChartField());
    form_.ShowTelemetryRecord(number);
    form_.ShowCounters();
}

} // namespace tavrik
