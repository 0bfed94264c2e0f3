#pragma once
// Certificates for TLS tests, made at test time with the openssl command line
// in a temporary folder: a certificate authority and a server certificate for
// 127.0.0.1 signed by it.
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tavrik::test {

class TestPki {
  public:
    // name distinguishes several authorities in one test.
    explicit TestPki(const QString& name) {
        if (!dir_.isValid()) {
            error_ = "no temporary folder";
            return;
        }
        const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes"};
        if (!Run(QStringList{"req", "-x509", "-new"} + ec +
                 QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj",
                             "/CN=" + name + " Test CA", "-addext",
                             "basicConstraints=critical,CA:TRUE", "-addext",
                             "keyUsage=critical,keyCertSign,cRLSign"}))
            return;
        if (!Run(QStringList{"req", "-new"} + ec +
                 QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                             "/CN=127.0.0.1"}))
            return;
        QFile ext(dir_.filePath("server.ext"));
        if (!ext.open(QIODevice::WriteOnly)) {
            error_ = "cannot write server.ext";
            return;
        }
        ext.write("subjectAltName=IP:127.0.0.1\n"
                  "basicConstraints=critical,CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectKeyIdentifier=hash\n"
                  "authorityKeyIdentifier=keyid,issuer\n");
        ext.close();
        if (!Run({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext"}))
            return;
        ca_ = Load("ca.crt");
        serverCert_ = Load("server.crt");
        QFile keyFile(dir_.filePath("server.key"));
        if (keyFile.open(QIODevice::ReadOnly))
            serverKey_ = QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
        if (ca_.isNull() || serverCert_.isNull() || serverKey_.isNull())
            error_ = "could not load the generated certificates";
    }

    bool Ok() const { return error_.isEmpty(); }
    const QString& Error() const { return error_; }
    const QSslCertificate& Ca() const { return ca_; }

    // What a TLS server presenting the server certificate needs.
    QSslConfiguration ServerConfiguration() const {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(serverCert_);
        config.setPrivateKey(serverKey_);
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        return config;
    }

  private:
    bool Run(const QStringList& args) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir_.path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start("openssl", args);
        if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0) {
            error_ = "openssl " + args.join(' ') + ": " +
                     QString::fromLocal8Bit(openssl.readAll()) + openssl.errorString();
            return false;
        }
        return true;
    }

    QSslCertificate Load(const QString& file) const {
        QFile f(dir_.filePath(file));
        if (!f.open(QIODevice::ReadOnly)) return QSslCertificate();
        return QSslCertificate(f.readAll(), QSsl::Pem);
    }

    QTemporaryDir dir_;
    QString error_;
    QSslCertificate ca_;
    QSslCertificate serverCert_;
    QSslKey serverKey_;
};

} // namespace tavrik::test
