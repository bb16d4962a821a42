#pragma once

#include "service/registrywriter.h"

#include <QHash>
#include <QMutex>
#include <QThreadPool>
#include <deque>

namespace kestro::service {

// Registry writes wait for the disk (each one replaces the hive file safely), so Vellmon
// makes them on a thread of their own and the pipe keeps answering meanwhile. Writes are
// made in the order they came; a write to a value that is still waiting replaces the
// waiting one, since only the last text would remain anyway. Beyond kMaxPending waiting
// values or kMaxPendingBytes of waiting text a flood is refused and logged.
class RegistryWriteQueue {
public:
    static constexpr int kMaxPending = 10000;
    static constexpr qint64 kMaxPendingBytes = 8 * 1024 * 1024;

    explicit RegistryWriteQueue(RegistryWriter& writer);
    ~RegistryWriteQueue();

    bool enqueue(Hive hive, const QString& keyPath, const QString& valueName, const QString& value);
    void waitForDone();
    // False while a flood fills the queue: further writes would be refused.
    bool hasRoom();

private:
    struct Write {
        Hive hive;
        QString keyPath;
        QString valueName;
        QString value;
    };
    void drain();

    RegistryWriter& writer_;
    QMutex mutex_;
    std::deque<QString> order_;
    QHash<QString, Write> waiting_;
    qint64 pendingBytes_ = 0;
    bool draining_ = false;
    QThreadPool thread_;
};

} // namespace kestro::service
