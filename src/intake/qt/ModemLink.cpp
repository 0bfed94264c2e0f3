#include "intake/qt/ModemLink.h"

namespace tavrik {

int WinsockErrorNumber(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10053;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10050;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    default:
        return 10000 + static_cast<int>(e);
    }
}

ModemLink::ModemLink(QObject* parent) : QObject(parent) {
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setReadBufferSize(256 * 1024);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        inError_ = false;
        emit connected();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, &ModemLink::OnReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &ModemLink::OnError);
}

int ModemLink::State() const {
    if (inError_) return Error;
    switch (socket_.state()) {
    case QAbstractSocket::UnconnectedState:
        return Closed;
    case QAbstractSocket::HostLookupState:
        return ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return Connected;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    }
    return Closed;
}

void ModemLink::Connect() {
    inError_ = false;
    paused_ = false;
    ResetStream();
    frames_.clear();
    socket_.connectToHost(host_, static_cast<quint16>(port_));
}

void ModemLink::Close() {
    inError_ = false;
    socket_.abort();
}

bool ModemLink::Send(const QByteArray& bytes) {
    if (socket_.state() != QAbstractSocket::ConnectedState) return false;
    return socket_.write(bytes) == bytes.size();
}

std::vector<AgwFrame> ModemLink::TakeFrames() {
    std::vector<AgwFrame> out;
    out.swap(frames_);
    return out;
}

void ModemLink::SetPaused(bool paused) {
    if (paused_ == paused) return;
    paused_ = paused;
    if (!paused_ && socket_.bytesAvailable() > 0) ReadAvailable();
}

void ModemLink::OnReadyRead() {
    if (!paused_) ReadAvailable();
}

void ModemLink::ReadAvailable() {
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty() || StreamError()) return;
    std::vector<std::string> notes;
    Deframe({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
             static_cast<std::size_t>(bytes.size())},
            frames_, notes);
    for (const std::string& note : notes)
        emit notice(QString::fromUtf8(note.data(), static_cast<qsizetype>(note.size())));
    if (!frames_.empty()) emit dataArrived();
    if (const auto why = StreamError()) emit protocolError(QString::fromStdString(*why));
}

void ModemLink::OnError(QAbstractSocket::SocketError e) {
    if (e == QAbstractSocket::RemoteHostClosedError) {
        // Bytes that came with the close are still to be read; when they break
        // the stream, the protocol error has already closed and said so.
        if (socket_.bytesAvailable() > 0) ReadAvailable();
        if (StreamError()) return;
        emit remoteClosed();
        return;
    }
    inError_ = true;
    emit error(WinsockErrorNumber(e), socket_.errorString());
}

} // namespace tavrik
