#pragma once

#include <QMutex>
#include <QString>

namespace kestro::service {

// The update manager's error log: "ErrUpDm.log" in the Windows folder, or "TestKey.log"
// in the current folder when the Windows folder does not exist. Each entry is one line
// "Test:-LevelInt:" + running number + " Level:" + level + ": " + text (cut or padded with
// blanks to 100 characters, control characters written as escapes). The running number counts
// entries since the start; the queue worker and the update search (on its own thread) share it.
class ErrorLog {
public:
    explicit ErrorLog(QString folder);
    void write(int level, const QString& text);
    QString path() const;
    static QString formatLine(int number, int level, const QString& text);

private:
    QString folder_;
    QMutex mutex_;
    int count_ = 0;
};

} // namespace kestro::service
