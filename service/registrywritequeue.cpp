#include "service/registrywritequeue.h"

#include "service/servicelog.h"

namespace kestro::service {

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
    if (it != waiting_.end()) {
        it->value = value;
        return true;
    }
    if (waiting_.size() >= kMaxPending) {
        qCWarning(lcService).noquote()
            << "registry write refused: too many waiting" << keyPath << valueName;
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
            order_.pop_front();
        }
        writer_.write(next.hive, next.keyPath, next.valueName, next.value);
    }
}

void RegistryWriteQueue::waitForDone() {
    thread_.waitForDone();
}

} // namespace kestro::service
