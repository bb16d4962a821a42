#pragma once

#include "client/ftp/progressinfo.h"

#include <QObject>
#include <QString>

namespace kestro::transfer {

class FtpUploader;

// Percentage of `value` on a bar whose full width is `maximum`, rounded to the nearest
// whole number with a half going to the even neighbour; a value above the maximum counts
// as the maximum.
int barPercent(double value, double maximum);

// The largest byte count whose percentage still shows below 100, so that a transfer the
// peer has not yet confirmed can never read "100 %".
qint64 unconfirmedCeiling(qint64 total);

// The bytes a progress report may show: all of them once the peer confirmed the file,
// before that at most unconfirmedCeiling().
qint64 shownBytes(const TransferProgress& progress);

// What the main window shows while a job is sent: the progress bar with its percentage,
// the status bar's "Info" panel, the status box, and the transfer log behind them. This
// holds the state and writes the log; the window only draws what the signals say.
class TransferDisplay : public QObject {
    Q_OBJECT
public:
    explicit TransferDisplay(QString clientDataFolder, QObject* parent = nullptr);

    // Prepares the bar for a transfer of `maximum` units under `message`.
    void floodFillInit(double maximum, const QString& message);
    // Draws the bar at `value`; sets the progress text and the "Info" panel.
    void floodFillUpdate(double value);
    // Shows one status text under the bar message of the moment.
    void floodShowStatus(const QString& message);
    // The status writer: "Info" panel, transfer log line, status box line.
    void showFtpStatus(const QString& message);
    // A send that broke off with a run-time error: the "Info" panel names it and the
    // FTP error log gets its two closing lines. The status box and transfer log stay
    // as they were.
    void showSendFailure(const QString& description);
    // A progress value of the upload: draws the bar (below 100 % until the peer
    // confirmed the file) and the rate and time left.
    void showTransferProgress(const kestro::transfer::TransferProgress& progress);

    // The percentage the bar reads, for showing only: whether a job was delivered is the
    // upload result's to say.
    QString progressText() const { return progressText_; }
    QString infoPanel() const { return infoPanel_; }
    QString barMessage() const { return barMessage_; }
    double barValue() const { return barValue_; }
    double barMaximum() const { return barMaximum_; }
    // True while statusLineAdded is being delivered: a receiver that also hears the same
    // line passed on by someone else (the send pipeline) can tell it was shown already.
    bool isShowingStatus() const { return showingStatus_; }

Q_SIGNALS:
    void barInitialised(double maximum);
    void barChanged(double value, double maximum, const QString& progressText);
    void infoPanelChanged(const QString& text);
    void statusLineAdded(const QString& line);
    void progressDetailChanged(const QString& detail);

private:
    void setInfoPanel(const QString& text);

    QString clientDataFolder_;
    double barMaximum_ = 0;
    double barValue_ = 0;
    QString barMessage_;
    QString progressText_;
    QString infoPanel_;
    bool showingStatus_ = false;
};

// Shows an upload on the display: its status texts through floodShowStatus, its start
// through floodFillInit, its progress on the bar.
void showUploadOn(const FtpUploader& uploader, TransferDisplay& display);

} // namespace kestro::transfer
