#include "client/send/numberreservation.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"

namespace kestro::transfer {

NumberReservation::NumberReservation(QObject* parent) : QObject(parent) {}

NumberReservation::~NumberReservation() {
    if (worker_)
        worker_->wait();
}

bool NumberReservation::start(const QString& databasePath) {
    if (running_)
        return false;
    // The previous thread has reported already; it only has its last instructions left.
    if (worker_)
        worker_->wait();
    running_ = true;
    worker_.reset(QThread::create([this, databasePath] {
        qint32 number = 0;
        QString error;
        {
            const jobdb::Database db(databasePath);
            if (!db.isOpen())
                error = db.errorText();
            else
                number = jobdb::JobStore(db).reserveJobNumber(&error).value_or(0);
        }
        QMetaObject::invokeMethod(
            this,
            [this, number, error] {
                running_ = false;
                Q_EMIT finished(number, error);
            },
            Qt::QueuedConnection);
    }));
    worker_->start();
    return true;
}

} // namespace kestro::transfer
