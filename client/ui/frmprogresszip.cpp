#include "client/ui/frmprogresszip.h"

#include "client/ui/windowplacement.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kestro::ui {

namespace {
constexpr int kReadyTimerMs = 100;
constexpr int kBarSteps = 1000;
} // namespace

FrmProgressZip::FrmProgressZip(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmProgressZip"));
    setWindowTitle(QStringLiteral("progress.."));

    auto* layout = new QVBoxLayout(this);
    headline_ = new QLabel(QStringLiteral("Dateien werden komprimiert !"), this);
    headline_->setObjectName(QStringLiteral("Label1"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    headline_->setFont(font);
    layout->addWidget(headline_, 0, Qt::AlignHCenter);

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setRange(0, kBarSteps);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    layout->addWidget(progressBar_);

    abortButton_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    abortButton_->setObjectName(QStringLiteral("cmdAbort"));
    abortButton_->setAutoDefault(false);
    layout->addWidget(abortButton_, 0, Qt::AlignHCenter);
    connect(abortButton_, &QPushButton::clicked, this, [this] {
        abortButton_->setEnabled(false); // one abort is enough
        Q_EMIT abortRequested();
    });

    readyDelay_ = new QTimer(this);
    readyDelay_->setObjectName(QStringLiteral("Timer1"));
    readyDelay_->setInterval(kReadyTimerMs);
    connect(readyDelay_, &QTimer::timeout, this, [this] { setReady(true); });
    setMinimumWidth(320);
}

void FrmProgressZip::setProgress(qint64 done, qint64 total) {
    const qint64 value = total > 0 ? std::clamp<qint64>(done * kBarSteps / total, 0, kBarSteps) : 0;
    progressBar_->setValue(int(value));
}

void FrmProgressZip::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centerOnScreen(this);
    abortButton_->setEnabled(true);
    readyDelay_->start();
}

void FrmProgressZip::hideEvent(QHideEvent* event) {
    readyDelay_->stop();
    setReady(false);
    QDialog::hideEvent(event);
}

void FrmProgressZip::setReady(bool ready) {
    if (ready_ == ready)
        return;
    ready_ = ready;
    Q_EMIT readyChanged(ready);
}

} // namespace kestro::ui
