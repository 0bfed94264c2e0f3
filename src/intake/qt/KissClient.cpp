#include "intake/qt/KissClient.h"

namespace tavrik {

void KissClient::Deframe(std::span<const std::uint8_t> bytes, std::vector<AgwFrame>& out,
                         std::vector<std::string>& notes) {
    frames_.clear();
    stream_.Feed(bytes, frames_, notes);
    for (auto& data : frames_) {
        AgwFrame f;
        f.header = MakeAgwHeader('K');
        SetAgwDataLength(f.header, static_cast<std::uint32_t>(data.size()));
        f.data = std::move(data);
        out.push_back(std::move(f));
    }
}

} // namespace tavrik
