#pragma once

#include <QObject>

class QSocketNotifier;

namespace kestro::ui {

// Turns SIGTERM and SIGINT (a session that logs out, a service manager, Ctrl+C) into a
// Qt signal on the UI thread, so the main window closes as if its close box was pressed
// and its unload steps run.
class TerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;

signals:
    void received();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kestro::ui
