#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestro::ui {

// "progress..": shown while the send packs the job. It only shows what the packer
// reports (setProgress) and passes the worker's abort on (abortRequested); the packing
// runs elsewhere. Its timer raises the zip-window-ready flag once the window is up, and
// closing it lowers the flag again.
class FrmProgressZip : public QDialog {
    Q_OBJECT
public:
    explicit FrmProgressZip(QWidget* parent = nullptr);

    // The zip-window-ready flag.
    bool isReady() const { return ready_; }

public Q_SLOTS:
    // File bytes packed so far and in total.
    void setProgress(qint64 done, qint64 total);

Q_SIGNALS:
    void readyChanged(bool ready);
    void abortRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setReady(bool ready);

    QLabel* headline_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* abortButton_ = nullptr;
    QTimer* readyDelay_ = nullptr;
    bool ready_ = false;
};

} // namespace kestro::ui
