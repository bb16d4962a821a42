#include "common/textfile.h"

#include "common/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kestro {

bool appendLogLine(const QString& path, const QString& line) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcCommon) << "cannot append to log" << path << file.errorString();
        return false;
    }
    const QByteArray bytes = line.toUtf8() + "\r\n";
    if (file.write(bytes) != bytes.size()) {
        qCWarning(lcCommon) << "cannot append to log" << path << file.errorString();
        return false;
    }
    return true;
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        if (error)
            *error = file.errorString();
        qCWarning(lcCommon) << "cannot write" << path << file.errorString();
        return false;
    }
    return true;
}

bool readWholeFile(const QString& path, QByteArray* out, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > maxBytes)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *out = file.read(maxBytes + 1);
    return out->size() <= maxBytes;
}

QString withoutControlCharacters(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

} // namespace kestro
