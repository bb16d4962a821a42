#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

namespace kestro::transfer {

// Reserves the next job number on a worker thread with a database connection of its own, so
// that a send waiting for another workstation's write lock (up to the engine's wait) never
// holds up the window. The result comes back on the object's thread.
class NumberReservation : public QObject {
    Q_OBJECT
public:
    explicit NumberReservation(QObject* parent = nullptr);
    // Waits for a reservation still running; its number is then merely skipped.
    ~NumberReservation() override;

    // Starts reserving a number in the database at `databasePath`; false while one runs.
    bool start(const QString& databasePath);
    bool isRunning() const { return running_; }

Q_SIGNALS:
    // `number` is 0 when the database took no reservation; `error` then says why.
    void finished(qint32 number, const QString& error);

private:
    std::unique_ptr<QThread> worker_;
    bool running_ = false;
};

} // namespace kestro::transfer
