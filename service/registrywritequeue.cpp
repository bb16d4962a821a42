#include "service/registrywritequeue.h"

#include "common/logging.h"
#include "service/servicelog.h"

namespace kestro::service {

namespace {

qint64 bytesOf(const QString& id, const QString& value) {
    return qint64(id.size() * 2 + value.size()) * qint64(sizeof(QChar));
}

} // namespace

RegistryWriteQueue::RegistryWriteQueue(RegistryWriter& writer) : writer_(writer) {
    thread_.setMaxThreadCount(1);
}

RegistryWriteQueue::~RegistryWriteQueue() {
    waitForDone();
}

bool RegistryWriteQueue::enqueue(Hive hive, const QString& keyPath, const QString& valueName,
                                 const QString& value) {
    const QString id = RegistryStore::hiveName(hive) + QLatin1Char('\n') + keyPath.toLower() +
                       QLatin1Char('\n') + valueName;
    QMutexLocker lock(&mutex_);
    auto it = waiting_.find(id);
    const qint64 oldBytes = it != waiting_.end() ? bytesOf(id, it->value) : 0;
    const qint64 newBytes = bytesOf(id, value);
    if (pendingBytes_ - oldBytes + newBytes > kMaxPendingBytes) {
        qCWarning(lcService).noquote() << "registry write refused: too much waiting"
                                       << logSafe(keyPath) << logSafe(valueName.left(255));
        return false;
    }
    pendingBytes_ += newBytes - oldBytes;
    if (it != waiting_.end()) {
        it->value = value;
        return true;
    }
    if (waiting_.size() >= kMaxPending) {
        pendingBytes_ -= newBytes;
        qCWarning(lcService).noquote() << "registry write refused: too many waiting"
                                       << logSafe(keyPath) << logSafe(valueName.left(255));
        return false;
    }
    waiting_.insert(id, Write{hive, keyPath, valueName, value});
    order_.push_back(id);
    if (!draining_) {
        draining_ = true;
        thread_.start([this] { drain(); });
    }
    return true;
}

void RegistryWriteQueue::drain() {
    for (;;) {
        Write next;
        {
            QMutexLocker lock(&mutex_);
            if (order_.empty()) {
                draining_ = false;
                return;
            }
            next = waiting_.take(order_.front());
            pendingBytes_ -= bytesOf(order_.front(), next.value);
            order_.pop_front();
        }
        writer_.write(next.hive, next.keyPath, next.valueName, next.value);
    }
}

bool RegistryWriteQueue::hasRoom() {
    QMutexLocker lock(&mutex_);
    return waiting_.size() < kMaxPending && pendingBytes_ < kMaxPendingBytes;
}

void RegistryWriteQueue::waitForDone() {
    thread_.waitForDone();
}

} // namespace kestro::service
