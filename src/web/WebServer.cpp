#include "web/WebServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <memory>

#include "web/WebSecrets.h"

static void InitWebAssets() {
    Q_INIT_RESOURCE(web_assets);
}

namespace tavrik {

namespace {

using Status = QHttpServerResponder::StatusCode;

QByteArray Asset(const char* name) {
    QFile f(QStringLiteral(":/web/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Sha256Source(const QByteArray& text) {
    return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() + "'";
}

QByteArray Between(const QByteArray& doc, const QByteArray& open, const QByteArray& close) {
    const qsizetype a = doc.indexOf(open);
    const qsizetype b = doc.indexOf(close, a);
    return a < 0 || b < 0 ? QByteArray() : doc.mid(a + open.size(), b - a - open.size());
}

// An address as a Host header gives it: without an IPv6 zone.
std::string Unscoped(QHostAddress a) {
    a.setScopeId({});
    return a.toString().toStdString();
}

} // namespace

QByteArray WebServer::PageDocument() {
    InitWebAssets();
    QByteArray page = Asset("index.html");
    // One document, so a page opened with ?token= needs no second request
    // that would have to carry the token.
    page.replace("/*STYLE*/", Asset("vendor/uPlot.min.css") + "\n" + Asset("style.css"));
    page.replace("/*SCRIPT*/", Asset("vendor/uPlot.iife.min.js") + "\n" + Asset("app.js"));
    page.replace("/*ICON*/", Asset("icon.svg").toBase64());
    return page;
}

WebServer::WebServer(WebApi& api, WebLimits limits, QObject* parent)
    : QAbstractHttpServer(parent), api_(api), listener_(new WebListener(limits, this)),
      page_(PageDocument()) {
    pagePolicy_ = "default-src 'none'; connect-src 'self'; img-src 'self' data:; "
                  "style-src 'self' 'unsafe-inline'; script-src " +
                  Sha256Source(Between(page_, "<script>", "</script>")) +
                  "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
    clock_.start();
}

bool WebServer::QueryAllowed() {
    const qint64 now = clock_.elapsed();
    queryTokens_ =
        std::min(kQueryBurst, queryTokens_ + (now - queryRefilledMs_) * kQueriesPerSecond / 1000.0);
    queryRefilledMs_ = now;
    if (queryTokens_ < 1) return false;
    queryTokens_ -= 1;
    return true;
}

std::string WebServer::ExposureRefusal(const std::string& host, bool tokenSet, bool open) {
    QHostAddress address;
    if (tokenSet || open || host == "localhost" ||
        (address.setAddress(QString::fromStdString(host)) && address.isLoopback()))
        return {};
    return "web page not served on " + host +
           ": an address other than loopback lets anyone who reaches it read the station; "
           "set WEB_TOKEN=<a long random text> (every request must then carry it), or "
           "WEB_OPEN=YES to serve it without a token knowingly";
}

std::string WebServer::Listen(const std::string& host, int port,
                              const std::vector<std::string>& extraHosts) {
    QHostAddress address;
    if (host == "localhost")
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(QString::fromStdString(host)))
        return "\"" + host + "\" is not an IP address (give one, e.g. 127.0.0.1 or 0.0.0.0)";
    if (port < 0 || port > 65535) return "the port must be 0 to 65535";
    if (!listener_->listen(address, static_cast<quint16>(port)))
        return listener_->errorString().toStdString();
    // The names a browser may have been sent here by: the address itself,
    // every address of the machine when listening on all, and its own names.
    // A page on any other name (DNS rebinding) is refused.
    std::vector<std::string> hosts = extraHosts;
    hosts.push_back(host);
    hosts.push_back("localhost");
    hosts.push_back(Unscoped(address));
    const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
                     address == QHostAddress::AnyIPv6;
    if (any || address.isLoopback())
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (any || a.isLoopback()) hosts.push_back(Unscoped(a));
    if (!address.isLoopback()) {
        const std::string name = QHostInfo::localHostName().toStdString();
        const std::string domain = QHostInfo::localDomainName().toStdString();
        hosts.push_back(name);
        hosts.push_back(name + ".local");
        if (!domain.empty()) hosts.push_back(name + "." + domain);
    }
    listener_->Gate().SetHosts(std::move(hosts));
    bind(listener_);
    return {};
}

quint16 WebServer::Port() const {
    return listener_->serverPort();
}

namespace {
void WriteAnswer(QHttpServerResponder& responder, bool head, Status status, const QByteArray& type,
                 const QByteArray& body, const QByteArray& extraName = {},
                 const QByteArray& extraValue = {}) {
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    if (!extraName.isEmpty()) responder.writeHeader(extraName, extraValue);
    if (head)
        responder.writeBody("", 0);
    else
        responder.writeBody(body);
}
} // namespace

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    // A client that lets its answers pile up unread gets no more of them.
    if (listener_->Overloaded(*socket)) {
        socket->abort();
        return true;
    }
    const bool head = request.method() == QHttpServerRequest::Method::Head;
    const auto reply = [&](Status status, const QByteArray& type, const QByteArray& body,
                           const QByteArray& extraName = {}, const QByteArray& extraValue = {}) {
        WriteAnswer(responder, head, status, type, body, extraName, extraValue);
    };
    const QByteArray text = "text/plain; charset=utf-8";

    if (request.method() != QHttpServerRequest::Method::Get && !head) {
        reply(Status::MethodNotAllowed, text, "only GET and HEAD\n", "Allow", "GET, HEAD");
        return true;
    }
    // The listener's gate has let only requests with the token through;
    // asked again here, as the request the server parsed is what is answered.
    if (!listener_->Gate().Carries(request.value("Authorization"), request.url().toEncoded())) {
        reply(Status::Unauthorized, text, "a token is needed\n", "WWW-Authenticate", "Bearer");
        return true;
    }
    // Decoded, so an encoded "..", "/" or "%00" is compared as what it stands for:
    // only the exact names below are served.
    const QString path = request.url().path(QUrl::FullyDecoded);
    if (path == QLatin1String("/")) {
        reply(Status::Ok, "text/html; charset=utf-8", page_, "Content-Security-Policy",
              pagePolicy_);
        return true;
    }
    if ((path == QLatin1String("/api/series") || path == QLatin1String("/api/passes")) &&
        !QueryAllowed()) {
        reply(Status::TooManyRequests, text, "too many queries, try again\n", "Retry-After", "1");
        return true;
    }
    QueryItems items;
    for (const auto& [k, v] : request.query().queryItems(QUrl::FullyDecoded))
        if (k != QLatin1String("token")) items.emplace_back(k.toStdString(), v.toStdString());
    if (WebApi::ReadsArchive(path.toStdString())) {
        // Read on the archive's thread: the loop goes on serving meanwhile,
        // and a client gone before its answer is simply not answered.
        auto later = std::make_shared<QHttpServerResponder>(std::move(responder));
        api_.AnswerLater(path.toStdString(), items,
                         [later, head, socket = QPointer<QTcpSocket>(socket)](WebAnswer a) {
                             if (!socket || socket->state() != QAbstractSocket::ConnectedState)
                                 return;
                             WriteAnswer(*later, head, static_cast<Status>(a.status),
                                         QByteArray::fromStdString(a.contentType),
                                         QByteArray::fromStdString(a.body));
                         });
        return true;
    }
    if (std::optional<WebAnswer> answer = api_.Answer(path.toStdString(), items)) {
        reply(static_cast<Status>(answer->status), QByteArray::fromStdString(answer->contentType),
              QByteArray::fromStdString(answer->body));
        return true;
    }
    reply(Status::NotFound, text, "not found\n");
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(Status::NotFound);
}

} // namespace tavrik
