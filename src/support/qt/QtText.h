#pragma once
// The program's texts are UTF-8 from end to end (event log, JSON, settings,
// file names in lines); file names are the file system's bytes. These convert
// between them and Qt's strings.
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace tavrik {

inline QString Utf8Text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string Utf8Bytes(const QString& s) {
    return s.toUtf8().toStdString();
}

// A folder named in UTF-8 must be opened under the very bytes it has.
inline std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString PathFromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

} // namespace tavrik
