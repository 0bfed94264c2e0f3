#pragma once
// The program's texts are 8-bit (Latin-1); file names are the file system's
// bytes. These convert between them and Qt's strings.
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace tavrik {

inline QString Latin1Text(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string Latin1Bytes(const QString& s) {
    return s.toLatin1().toStdString();
}

// A folder named in UTF-8 must be opened under the very bytes it has.
inline std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString PathFromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

} // namespace tavrik
