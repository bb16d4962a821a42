#include "service/errorlog.h"

#include "common/logging.h"
#include "common/paths.h"
#include "common/textfile.h"

#include <QDir>
#include <QFileInfo>

namespace kestro::service {

ErrorLog::ErrorLog(QString folder) : folder_(std::move(folder)) {}

QString ErrorLog::path() const {
    return paths::join(folder_, QStringLiteral("ErrUpDm.log"));
}

QString ErrorLog::formatLine(int number, int level, const QString& text) {
    return QStringLiteral("Test:-LevelInt:%1 Level:%2: ").arg(number).arg(level) +
           logSafe(text).left(100).leftJustified(100, QLatin1Char(' '));
}

void ErrorLog::write(int level, const QString& text) {
    QMutexLocker lock(&mutex_);
    ++count_;
    const QString target = QFileInfo(folder_).isDir()
                               ? path()
                               : paths::join(QDir::currentPath(), QStringLiteral("TestKey.log"));
    appendLogLine(target, formatLine(count_, level, text));
}

} // namespace kestro::service
