#pragma once
// A modem program's KISS TCP port: no handshake, the stream de-framed by the
// KISS reader, each data frame handed on as the AGW raw frame ('K') it
// corresponds to: the command byte (the KISS port byte) first, then the AX.25 frame.
#include "intake/KissStream.h"
#include "intake/qt/ModemLink.h"

namespace tavrik {

class KissClient : public ModemLink {
    Q_OBJECT
  public:
    using ModemLink::ModemLink;

    std::size_t PendingBytes() const override { return stream_.Pending(); }
    QByteArray Handshake() const override { return {}; }
    std::string Name() const override { return "KISS"; }

  protected:
    void Deframe(std::span<const std::uint8_t> bytes, std::vector<AgwFrame>& out,
                 std::vector<std::string>& notes) override;
    void ResetStream() override { stream_ = KissStream{}; }

  private:
    KissStream stream_;
    std::vector<std::vector<std::uint8_t>> frames_;
};

} // namespace tavrik
