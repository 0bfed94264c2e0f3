#include "radio/qt/HamlibLink.h"

#include <algorithm>

#include "support/qt/QtText.h"
#include "time/Duration.h"

namespace tavrik {

namespace {

// A \dump_caps answer is some hundred lines; a stream of lines without an end is no answer.
constexpr std::size_t kMaxAnswerLines = 1000;

std::string Shown(const QByteArray& bytes) {
    std::string s = bytes.left(40).toStdString();
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return "\"" + s + (bytes.size() > 40 ? "...\"" : "\"");
}

std::string Trimmed(const std::string& line) {
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

} // namespace

HamlibLink::HamlibLink(std::string who, std::string daemon, LogLine log, QObject* parent)
    : QObject(parent), who_(std::move(who)), daemon_(std::move(daemon)), log_(std::move(log)) {
    monotonic_.start();
    replyTimer_.setSingleShot(true);
    retryTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, &HamlibLink::OnTimeout);
    connect(&retryTimer_, &QTimer::timeout, this, [this] {
        if (open_) socket_.connectToHost(host_, static_cast<quint16>(port_));
    });
    connect(&socket_, &QTcpSocket::connected, this, &HamlibLink::OnConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &HamlibLink::OnReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &HamlibLink::OnSocketError);
}

HamlibLink::~HamlibLink() {
    open_ = false;
    socket_.disconnect(this);
    socket_.abort();
}

std::string HamlibLink::Where() const {
    return daemon_ + " at " + Utf8Bytes(host_) + ":" + std::to_string(port_);
}

void HamlibLink::Open(const QString& host, int port) {
    host_ = host;
    port_ = port;
    open_ = true;
    socket_.abort();
    socket_.connectToHost(host_, static_cast<quint16>(port_));
}

void HamlibLink::Close() {
    open_ = false;
    connected_ = inFlight_ = false;
    done_ = {};
    replyTimer_.stop();
    retryTimer_.stop();
    socket_.abort();
    policy_ = ReconnectPolicy{};
}

void HamlibLink::Log(const std::string& cause, const std::string& line) {
    std::uint64_t held = 0;
    if (!limiter_.Pass(cause, RepeatLimiter::Ms(monotonic_.elapsed()), held)) return;
    log_(line +
         (held > 0 ? " (" + std::to_string(held) + " more like it in the last minute)" : ""));
}

void HamlibLink::OnConnected() {
    const bool wasWaiting = policy_.Waiting();
    const std::int64_t down = policy_.Connected(monotonic_.elapsed());
    connected_ = true;
    inFlight_ = false;
    buffer_.clear();
    lastError_.clear();
    if (!wasWaiting)
        Log("connected", who_ + ": connected to " + Where());
    else
        Log("reconnected", who_ + ": connected to " + Where() + (everConnected_ ? " again" : "") +
                               " after " + DurationText(down) + " (" +
                               std::to_string(policy_.Attempts()) +
                               (policy_.Attempts() == 1 ? " attempt)" : " attempts)"));
    everConnected_ = true;
    emit connected();
}

bool HamlibLink::Send(const HamlibCommand& command, Done done) {
    if (!Ready()) return false;
    command_ = command;
    reply_ = HamlibReply(command.valueLines);
    done_ = std::move(done);
    inFlight_ = true;
    socket_.write(command.line.data(), static_cast<qint64>(command.line.size()));
    replyTimer_.start(replyTimeoutMs_);
    return true;
}

void HamlibLink::Refused(const std::string& what, int status) {
    lastError_ = daemon_ + " refused " + what + ": " + HamlibErrorText(status);
    Log("refused " + std::to_string(status), who_ + ": " + lastError_);
}

void HamlibLink::OnReadyRead() {
    buffer_ += socket_.readAll();
    while (connected_) {
        const qsizetype eol = buffer_.indexOf('\n');
        if (eol < 0) {
            if (buffer_.size() > kMaxLineBytes)
                Drop("an answer line longer than " + std::to_string(kMaxLineBytes) +
                     " bytes: not a Hamlib daemon?");
            return;
        }
        const QByteArray line = buffer_.left(eol);
        buffer_.remove(0, eol + 1);
        if (!inFlight_) {
            Drop("an answer nobody asked for (" + Shown(line) + "): not a Hamlib daemon?");
            return;
        }
        if (!reply_.Feed(
                std::string_view(line.constData(), static_cast<std::size_t>(line.size())))) {
            if (reply_.Values().size() > kMaxAnswerLines)
                Drop("an answer of more than " + std::to_string(kMaxAnswerLines) + " lines to \"" +
                     Trimmed(command_.line) + "\"");
            continue;
        }
        replyTimer_.stop();
        inFlight_ = false;
        Done done = std::move(done_);
        done_ = {};
        const HamlibReply reply = reply_;
        if (done) done(reply);
        if (connected_ && !inFlight_) emit ready();
    }
}

void HamlibLink::OnTimeout() {
    if (!inFlight_) return;
    std::string why = "no answer within " + DurationText(replyTimeoutMs_) + " to \"" +
                      Trimmed(command_.line) + "\"";
    if (!buffer_.isEmpty()) why += " (it stopped after " + Shown(buffer_) + ")";
    Drop(why);
}

void HamlibLink::OnSocketError(QAbstractSocket::SocketError e) {
    if (!open_) return;
    std::string why;
    if (e == QAbstractSocket::RemoteHostClosedError && connected_) {
        buffer_ += socket_.readAll();
        why = inFlight_ ? "closed the connection in the middle of an answer to \"" +
                              Trimmed(command_.line) + "\"" +
                              (buffer_.isEmpty() ? "" : " (after " + Shown(buffer_) + ")")
                        : "closed the connection";
    } else {
        why = (connected_ ? "connection lost: " : "cannot connect: ") +
              Utf8Bytes(socket_.errorString());
    }
    Drop(why);
}

void HamlibLink::Drop(const std::string& why) {
    const bool wasConnected = connected_;
    connected_ = inFlight_ = false;
    done_ = {};
    buffer_.clear();
    replyTimer_.stop();
    socket_.abort();
    lastError_ = why;
    if (!open_) return;
    const std::int64_t now = monotonic_.elapsed();
    if (policy_.Waiting()) {
        const std::int64_t next = policy_.Failed(now);
        if (policy_.MayLog(now))
            log_(who_ + ": still no connection to " + Where() + " after " +
                 DurationText(policy_.DownMs(now)) + " (" + std::to_string(policy_.Attempts()) +
                 " attempts): " + why);
        retryTimer_.start(static_cast<int>(std::max<std::int64_t>(0, next - now)));
    } else {
        const std::int64_t next = policy_.Lost(now);
        Log("lost", who_ + ": " + Where() + ": " + why + "; trying again in " +
                        DurationText(next - now) + ", then every " +
                        DurationText(ReconnectPolicy::kFastDelayMs));
        retryTimer_.start(static_cast<int>(std::max<std::int64_t>(0, next - now)));
    }
    if (wasConnected) emit disconnected();
}

} // namespace tavrik
