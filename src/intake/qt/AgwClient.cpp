#include "intake/qt/AgwClient.h"

namespace tavrik {

QByteArray AgwClient::Handshake() const {
    QByteArray bytes;
    for (char kind : {'G', 'k'}) {
        const AgwHeader h = MakeAgwHeader(kind);
        bytes.append(reinterpret_cast<const char*>(h.data()), static_cast<qsizetype>(h.size()));
    }
    return bytes;
}

void AgwClient::Deframe(std::span<const std::uint8_t> bytes, std::vector<AgwFrame>& out,
                        std::vector<std::string>&) {
    for (AgwFrame& f : splitter_.Feed(bytes))
        out.push_back(std::move(f));
}

} // namespace tavrik
