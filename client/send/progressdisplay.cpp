#include "client/send/progressdisplay.h"

#include "client/ftp/ftpuploader.h"
#include "common/transferlog.h"

#include <cmath>

namespace kestro::transfer {

int barPercent(double value, double maximum) {
    // An empty file has nothing left to send once it is through.
    if (maximum <= 0)
        return 100;
    value = qBound(0.0, value, maximum);
    // nearbyint rounds in the default mode, to nearest with ties to even.
    return int(std::nearbyint(value / maximum * 100.0));
}

qint64 unconfirmedCeiling(qint64 total) {
    if (total <= 0)
        return 0;
    // Largest value v with v / total * 100 < 99.5, the first percentage shown as 100.
    qint64 ceiling = qint64(std::ceil(double(total) * 0.995)) - 1;
    while (ceiling > 0 && barPercent(double(ceiling), double(total)) >= 100)
        --ceiling;
    return qMax<qint64>(0, ceiling);
}

qint64 shownBytes(const TransferProgress& progress) {
    return progress.confirmed ? progress.done
                              : qMin(progress.done, unconfirmedCeiling(progress.total));
}

TransferDisplay::TransferDisplay(QString clientDataFolder, QObject* parent)
    : QObject(parent), clientDataFolder_(std::move(clientDataFolder)) {}

void TransferDisplay::floodFillInit(double maximum, const QString& message) {
    barMaximum_ = maximum;
    barValue_ = 0;
    barMessage_ = message;
    Q_EMIT barInitialised(maximum);
}

void TransferDisplay::floodFillUpdate(double value) {
    if (value > barMaximum_)
        value = barMaximum_;
    barValue_ = value;
    progressText_ = QString::number(barPercent(value, barMaximum_)) + QStringLiteral(" %");
    Q_EMIT barChanged(barValue_, barMaximum_, progressText_);
    setInfoPanel(barMessage_ + QLatin1Char(' ') + progressText_);
}

void TransferDisplay::floodShowStatus(const QString& message) {
    const QString previous = barMessage_;
    barMessage_ = message;
    showFtpStatus(message);
    barMessage_ = previous;
}

void TransferDisplay::showFtpStatus(const QString& message) {
    QString text = message;
    if (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    setInfoPanel(QStringLiteral("FTP-Status: ") + text);
    // A log that cannot be written must not stop the send; appendTransferLog warns.
    appendTransferLog(clientDataFolder_, text);
    const bool outer = showingStatus_;
    showingStatus_ = true;
    Q_EMIT statusLineAdded(text);
    showingStatus_ = outer;
}

void TransferDisplay::showSendFailure(const QString& description) {
    setInfoPanel(QStringLiteral("FTP-Status: ") + description);
    appendFtpErrorLogEnd(clientDataFolder_);
}

void TransferDisplay::showTransferProgress(const TransferProgress& progress) {
    floodFillUpdate(double(shownBytes(progress)));
    Q_EMIT progressDetailChanged(progressDetailText(progress));
}

void TransferDisplay::setInfoPanel(const QString& text) {
    infoPanel_ = text;
    Q_EMIT infoPanelChanged(text);
}

void showUploadOn(const FtpUploader& uploader, TransferDisplay& display) {
    QObject::connect(&uploader, &FtpUploader::statusText, &display,
                     &TransferDisplay::floodShowStatus);
    QObject::connect(&uploader, &FtpUploader::transferStarted, &display,
                     [&display](qint64 total, const QString& message) {
                         display.floodFillInit(double(total), message);
                     });
    QObject::connect(&uploader, &FtpUploader::progress, &display,
                     &TransferDisplay::showTransferProgress);
}

} // namespace kestro::transfer
