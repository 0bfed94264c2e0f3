#include "web/WebRadio.h"

#include <charconv>
#include <cmath>

#include "web/JsonWriter.h"

namespace tavrik {

namespace {

void WritePointing(JsonWriter& j, const std::optional<Pointing>& p) {
    if (!p) {
        j.Null();
        return;
    }
    j.Object().Key("azimuth").Number(std::round(p->azimuthDeg * 100) / 100);
    j.Key("elevation").Number(std::round(p->elevationDeg * 100) / 100).End();
}

void WriteOptional(JsonWriter& j, const std::optional<std::int64_t>& v) {
    v ? j.Integer(*v) : j.Null();
}

void Gauge(std::string& out, const char* name, const char* help, const std::string& v) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" gauge\n");
    out.append(name).append(" ").append(v).append("\n");
}

std::string Number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace

void AddRadioToSky(std::string& skyAnswer, const RadioStatus& radio) {
    JsonWriter j;
    j.Object().Key("rig");
    if (const auto& r = radio.rig) {
        j.Object().Key("connected").Bool(r->connected).Key("tracking").Bool(r->tracking);
        j.Key("frequency_set_hz");
        WriteOptional(j, r->frequencySetHz);
        j.Key("frequency_read_hz");
        WriteOptional(j, r->frequencyReadHz);
        j.Key("last_error");
        r->lastError.empty() ? j.Null() : j.String(r->lastError);
        j.End();
    } else {
        j.Null();
    }
    j.Key("rotator");
    if (const auto& r = radio.rotator) {
        j.Object().Key("connected").Bool(r->connected).Key("tracking").Bool(r->tracking);
        j.Key("commanded");
        WritePointing(j, r->commanded);
        j.Key("reported");
        WritePointing(j, r->reported);
        j.Key("last_error");
        r->lastError.empty() ? j.Null() : j.String(r->lastError);
        j.End();
    } else {
        j.Null();
    }
    j.End();
    // Both are objects: the members of this one go at the end of the sky's.
    std::string members = j.Take();
    if (skyAnswer.size() < 2 || skyAnswer.back() != '}') return;
    skyAnswer.pop_back();
    skyAnswer += skyAnswer.back() == '{' ? "" : ",";
    skyAnswer.append(members, 1, std::string::npos);
}

void AppendRadioMetrics(std::string& out, const RadioStatus& radio) {
    if (radio.rig && radio.rig->frequencySetHz)
        Gauge(out, "tavrik_rig_frequency_hz", "The frequency the receiver was last set to.",
              std::to_string(*radio.rig->frequencySetHz)); // whole Hz, never 4.35e+08
    if (radio.rotator && radio.rotator->commanded) {
        Gauge(out, "tavrik_rotator_azimuth_degrees", "The azimuth the rotator was last sent to.",
              Number(radio.rotator->commanded->azimuthDeg));
        Gauge(out, "tavrik_rotator_elevation_degrees",
              "The elevation the rotator was last sent to.",
              Number(radio.rotator->commanded->elevationDeg));
    }
}

} // namespace tavrik
