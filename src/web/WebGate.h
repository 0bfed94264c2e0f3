#pragma once
// What is decided about a request from its line and headers alone, before the
// HTTP server reads any of it: a stranger's Host (421), a missing token (401),
// and a body, which no request here may carry (405 for a method other than
// GET or HEAD, 413 otherwise). Only the few fields needed are looked at; the
// HTTP server parses the requests that pass.
#include <QByteArray>
#include <string>
#include <vector>

namespace tavrik {

class WebGate {
  public:
    // Needed by every request when not empty.
    void SetToken(std::string token) { token_ = std::move(token); }
    const std::string& Token() const { return token_; }
    // The names and addresses a Host header may give (any case, port aside);
    // a request without Host (HTTP/1.0) is let through.
    void SetHosts(std::vector<std::string> hosts);
    const std::vector<std::string>& Hosts() const { return hosts_; }

    // 0 when the request may go on to the HTTP server, else the status of
    // the answer it gets instead; head is the line and headers up to the
    // blank line.
    int Check(const QByteArray& head) const;

    // Whether an "Authorization: Bearer" value or a request target's
    // "?token=" carries the token (true when none is set).
    bool Carries(const QByteArray& authorization, const QByteArray& target) const;
    // The fixed answer for a status Check gives, ending the connection.
    static QByteArray Answer(int status);
    // The name in a Host value: port and brackets off, lower case, no final dot.
    static std::string HostName(const QByteArray& host);

  private:
    std::string token_;
    std::vector<std::string> hosts_;
};

} // namespace tavrik
