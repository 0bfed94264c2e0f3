#include "web/WebGate.h"

#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

#include "web/WebSecrets.h"

namespace tavrik {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

void WebGate::SetHosts(std::vector<std::string> hosts) {
    hosts_.clear();
    for (const std::string& h : hosts)
        if (std::string name = HostName(QByteArray::fromStdString(h)); !name.empty())
            hosts_.push_back(std::move(name));
}

std::string WebGate::HostName(const QByteArray& host) {
    QByteArray h = host.trimmed();
    if (h.startsWith('[')) {
        const qsizetype close = h.indexOf(']');
        h = close < 0 ? QByteArray() : h.mid(1, close - 1);
    } else if (const qsizetype colon = h.lastIndexOf(':'); colon >= 0 && h.count(':') == 1) {
        h.truncate(colon);
    }
    while (h.endsWith('.'))
        h.chop(1);
    return Lower(h.toStdString());
}

bool WebGate::Carries(const QByteArray& authorization, const QByteArray& target) const {
    if (token_.empty()) return true;
    if (authorization.startsWith("Bearer ") &&
        ConstantTimeEqual(authorization.mid(7).trimmed().toStdString(), token_))
        return true;
    const QUrlQuery query(QUrl::fromEncoded(target));
    return query.hasQueryItem(QStringLiteral("token")) &&
           ConstantTimeEqual(
               query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toStdString(),
               token_);
}

int WebGate::Check(const QByteArray& head) const {
    const QList<QByteArray> lines = head.trimmed().split('\n');
    if (lines.isEmpty()) return 400;
    const QList<QByteArray> request = lines[0].trimmed().split(' ');
    const QByteArray method = request.value(0);
    const QByteArray target = request.value(1);
    QByteArray host, authorization;
    bool hasHost = false, body = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "host") {
            hasHost = true;
            host = value;
        } else if (name == "authorization") {
            authorization = value;
        } else if (name == "transfer-encoding") {
            body = true;
        } else if (name == "content-length") {
            // Anything but a plain 0 may announce a body.
            body = body || value.isEmpty() || value.count('0') != value.size();
        }
    }
    if (hasHost && std::find(hosts_.begin(), hosts_.end(), HostName(host)) == hosts_.end())
        return 421;
    if (!Carries(authorization, target)) return 401;
    if (body) return method == "GET" || method == "HEAD" ? 413 : 405;
    return 0;
}

QByteArray WebGate::Answer(int status) {
    QByteArray line, extra, text;
    switch (status) {
    case 401:
        line = "401 Unauthorized";
        extra = "WWW-Authenticate: Bearer\r\n";
        text = "a token is needed\n";
        break;
    case 405:
        line = "405 Method Not Allowed";
        extra = "Allow: GET, HEAD\r\n";
        text = "only GET and HEAD\n";
        break;
    case 413:
        line = "413 Content Too Large";
        text = "a request here carries no body\n";
        break;
    case 421:
        line = "421 Misdirected Request";
        text = "not a name of this station (see WEB_HOSTS)\n";
        break;
    case 431:
        line = "431 Request Header Fields Too Large";
        text = "request line and headers over 16 KiB\n";
        break;
    default:
        line = "400 Bad Request";
        text = "bad request\n";
    }
    return "HTTP/1.1 " + line + "\r\n" + extra +
           "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
}

} // namespace tavrik
