#include "common/inifile.h"

#include "common/ansi.h"
#include "common/logging.h"

#include <QFile>
#include <QFileInfo>

namespace kestro {

namespace {
constexpr qsizetype kProfileBufferChars = 131;
constexpr qint64 kMaxIniBytes = 4 * 1024 * 1024;
} // namespace

QString IniFile::slot(const QString& section, const QString& key) {
    return section.trimmed().toCaseFolded() + QChar(0) + key.trimmed().toCaseFolded();
}

IniFile IniFile::load(const QString& path, Comments comments, bool logMissing) {
    const QFileInfo info(path);
    if (!info.exists()) {
        if (logMissing)
            qCInfo(lcCommon) << "INI file not found:" << path;
        return {};
    }
    if (!info.isFile()) {
        qCWarning(lcCommon) << "INI path is not a file, read as empty:" << path;
        return {};
    }
    if (info.size() > kMaxIniBytes) {
        qCWarning(lcCommon) << "INI file too large, read as empty:" << path << info.size();
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcCommon) << "INI file unreadable, read as empty:" << path << file.errorString();
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (bytes.contains('\0')) {
        qCWarning(lcCommon) << "INI file holds binary data, read as empty:" << path;
        return {};
    }
    return parse(bytes, comments);
}

IniFile IniFile::parse(const QByteArray& bytes, Comments comments) {
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    const QString text = isValidUtf8(body) ? QString::fromUtf8(body) : fromAnsi(body);

    IniFile ini;
    QString section;
    bool inSection = false;
    const auto lines = QStringView(text).split(QLatin1Char('\n'));
    for (QStringView raw : lines) {
        QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            section = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).toString();
            inSection = true;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed().toString();
        QStringView value = line.mid(eq + 1);
        if (comments == Comments::AlsoTrailing) {
            // A comment after a value must stand behind white space, so that a ';'
            // inside a URL or password survives.
            for (qsizetype i = 1; i < value.size(); ++i) {
                if (value[i] == QLatin1Char(';') && value[i - 1].isSpace()) {
                    value = value.left(i);
                    break;
                }
            }
        }
        value = value.trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        const QString k = slot(section, key);
        if (!ini.values_.contains(k))
            ini.values_.insert(k, value.toString());
    }
    return ini;
}

QString IniFile::value(const QString& section, const QString& key) const {
    return values_.value(slot(section, key));
}

bool IniFile::contains(const QString& section, const QString& key) const {
    return values_.contains(slot(section, key));
}

QString profileValue(const IniFile& ini, const QString& section, const QString& key) {
    return ini.value(section, key).left(kProfileBufferChars);
}

QString readProfileString(const QString& file, const QString& section, const QString& key) {
    return profileValue(IniFile::load(file), section, key);
}

} // namespace kestro
