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
    label1_ = new QLabel(QStringLiteral("Dateien werden komprimiert !"), this);
    label1_->setObjectName(QStringLiteral("Label1"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    label1_->setFont(font);
    layout->addWidget(label1_, 0, Qt::AlignHCenter);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("ProgressBar1"));
    bar_->setRange(0, kBarSteps);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    layout->addWidget(bar_);

    abort_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    abort_->setObjectName(QStringLiteral("cmdAbort"));
    abort_->setAutoDefault(false);
    layout->addWidget(abort_, 0, Qt::AlignHCenter);
    connect(abort_, &QPushButton::clicked, this, [this] {
        abort_->setEnabled(false); // one abort is enough
        Q_EMIT abortRequested();
    });

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kReadyTimerMs);
    connect(timer1_, &QTimer::timeout, this, [this] { setReady(true); });
    setMinimumWidth(320);
}

void FrmProgressZip::setProgress(qint64 done, qint64 total) {
    const qint64 value = total > 0 ? std::clamp<qint64>(done * kBarSteps / total, 0, kBarSteps) : 0;
    bar_->setValue(int(value));
}

void FrmProgressZip::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centerOnScreen(this);
    abort_->setEnabled(true);
    timer1_->start();
}

void FrmProgressZip::hideEvent(QHideEvent* event) {
    timer1_->stop();
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
