#pragma once
// The modem program's AGW Packet Engine interface: frames cut by the header's
// length field, and the handshake "G" (port information) then "k" (raw frames).
#include "intake/qt/ModemLink.h"

namespace tavrik {

class AgwClient : public ModemLink {
    Q_OBJECT
  public:
    using ModemLink::ModemLink;

    std::size_t PendingBytes() const override { return splitter_.Pending(); }
    QByteArray Handshake() const override;
    std::string Name() const override { return "AGW"; }

  protected:
    void Deframe(std::span<const std::uint8_t> bytes, std::vector<AgwFrame>& out,
                 std::vector<std::string>& notes) override;
    void ResetStream() override { splitter_ = AgwStreamSplitter{}; }
    std::optional<std::string> StreamError() const override { return splitter_.Error(); }

  private:
    AgwStreamSplitter splitter_;
};

} // namespace tavrik
