#pragma once

#include "client/compose/jobsnapshot.h"
#include "client/ftp/ftpsession.h"
#include "client/ftp/progressinfo.h"
#include "client/jobdb/jobrecords.h"
#include "client/send/sendworkfolder.h"
#include "client/startup/cataloguefetch.h"
#include "client/startup/clientstate.h"
#include "common/deployconfig.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

namespace kestro {
class Prompter;
}

namespace kestro::jobdb {
class Database;
}

namespace kestro::zip {
class cZip;
}

namespace kestro::transfer {

class FtpUploader;
class MailSender;
class NumberReservation;
class TransferDisplay;

// The texts the send shows the user.
namespace sendtext {
QString defaultTargetWarning();
inline const QString kMayNowSend = QStringLiteral("Sie können jetzt Ihren Auftrag versenden.");
inline const QString kNoFiles = QStringLiteral("keine Daten zum versenden vorhanden !");
inline const QString kIncomplete = QStringLiteral("Auftrag noch nicht vollständig ausgefüllt !");
inline const QString kCompressing = QStringLiteral("Info: compressed ...");
inline const QString kNotTransmitted =
    QStringLiteral("Der Auftrag konnte nicht übermittelt werden.");
inline const QString kAborted = QStringLiteral("Übertragung durch Anwender abgebrochen. ");
inline const QString kCatalogueMissing =
    QStringLiteral("Der Katalog des Ziel-Servers konnte nicht geladen werden.");
// "3 Zipped files and 1 not"
QString packCounts(int packed, int notPacked);
// "Uploading Muster-071226-100503.zip completed."
QString uploadCompleted(const QString& archiveName);
} // namespace sendtext

// How a send ended.
enum class SendOutcome {
    Delivered,            // the server confirmed the archive; job recorded, shop told
    ConfigureTarget,      // the user chose to enter a target instead of sending to the maker
    CatalogueNotObtained, // the shop's catalogue could not be fetched: nothing said, job kept
    NoFiles,              // the job has no file rows
    Incomplete,           // a file row lacks a setting
    Refused,              // the choice check refused a value, or the database takes no write
    NothingPacked,        // not one file could be packed; nothing uploaded
    Aborted,              // the user stopped the send while packing or uploading
    NotDelivered,         // the upload failed or the server never confirmed the file
    Failed,               // the send broke off with an error (the error handler's case)
};

// What a send does when the FTP target is still the maker's default, that is nobody
// entered the shop's own target.
enum class DefaultTargetChoice {
    Ask,    // the worker is asked whether to stop and enter a target (the window)
    Send,   // the send goes on to the maker (a script that asked for it)
    Refuse, // the send ends with ConfigureTarget and the warning as its message
};

// How the end of a send is to be brought to the worker: the pipeline decides, the window
// (a box) or a script (a line on stderr) shows `message`.
enum class SendNotice {
    None,    // nothing beyond the status lines already shown
    Warning, // a box the worker must see: the job was not sent as asked, or is not recorded
    Error,   // the same for a fault of the workstation (a database that takes no write)
};

struct SendResult {
    SendOutcome outcome = SendOutcome::Failed;
    QString message; // German, for the user
    SendNotice notice = SendNotice::None;
    QString archiveName; // as it finally stands on the server once delivered
    qint32 jobNumber = 0;
    int packed = 0;
    int notPacked = 0;
    FtpUploadResult upload;
    bool recorded = false;      // the job's rows were stored; when a delivered job was not,
    QString pendingFile;        // it waits here to be recorded by a later send or start
    bool mailAttempted = false; // the notification was handed to the mail sender
    bool mailSent = false;
};

// The program-wide things a send reads and changes. The pipeline holds references: they
// must outlive it. The database is the program-wide connection and is used on the
// pipeline's thread only for the short prepare and record steps; the job number, which may
// wait for another workstation's write lock, is reserved on a connection of its own on a
// worker thread.
struct SendEnvironment {
    startup::ClientState& state;
    const DeployConfig& config;
    const jobdb::Database& database;
    Prompter& prompter;
};

// Sends one job: target warning, catalogue refresh, checks, job sheet, packing, upload,
// and after a confirmed upload the job record, the notification mail and the request to
// clear the job. Runs as a chain of asynchronous steps on the object's thread: the
// catalogue fetch, the packing, the upload and the mail run on worker threads and come
// back through queued signals, so the window's event loop never waits on them.
// It owns what it drives (the packer, the uploader, the mail sender and the progress
// display), so that a program holds the pipeline and nothing else of a send.
class SendPipeline : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        RefreshingCatalogue,
        Reserving, // taking the job number, off the window's thread
        Packing,
        Uploading,
        Notifying, // recording the job and sending the mail
    };
    Q_ENUM(State)

    SendPipeline(SendEnvironment env, QObject* parent = nullptr);
    ~SendPipeline() override;

    // Starts sending `job`; false (and nothing done) while a send runs. The questions
    // asked on the way (the default target, an unconfirmed certificate) and the note of
    // files that could not be packed go through the prompter; how the send ended, and
    // whether the worker must be told, comes with finished().
    bool start(const compose::JobSnapshot& job);
    // The abort button: stops packing or the upload; harmless when idle.
    void abort();

    State state() const { return state_; }
    // The bar, "Info" panel and status box of the send, for a window to draw.
    const TransferDisplay& display() const { return *display_; }
    bool isRunning() const { return state_ != State::Idle; }
    QString archivePath() const;

    // The moment used for the archive name and the job record; by default the clock.
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }
    // Checks a complete job against the catalogue just fetched, before anything is
    // prepared; a non-empty answer refuses the job with that message. The window needs
    // none: its lists offer nothing else. A script's job may name anything.
    using ChoiceCheck =
        std::function<QString(const compose::JobSnapshot&, const startup::CatalogueLists&)>;
    void setChoiceCheck(ChoiceCheck check) { choiceCheck_ = std::move(check); }
    // Ask unless set: a program without a worker to answer decides beforehand.
    void setDefaultTargetChoice(DefaultTargetChoice choice) { defaultTarget_ = choice; }

Q_SIGNALS:
    void stateChanged(kestro::transfer::SendPipeline::State state);
    // One line for the status box (transfer status, mail status).
    void statusLine(const QString& text);
    // Bytes packed or uploaded so far; during packing rate and time left are unknown.
    void progress(const kestro::transfer::TransferProgress& progress);
    // The catalogue was fetched again: the window reloads its choice lists.
    void catalogueRefreshed(const kestro::startup::CatalogueLists& lists);
    // The job was delivered: the window empties its file list and remarks.
    void clearJob();
    void finished(const kestro::transfer::SendResult& result);

private:
    void setState(State state);
    // True when a send to the maker's default target is to stop here.
    bool stopsAtDefaultTarget();
    void onCatalogue(bool obtained);
    void onReserved(qint32 number, const QString& error);
    void startPacking();
    void onPacked(qint32 result);
    // Our connections to the packer last one run: a later run connects anew.
    void releasePacker();
    void startUpload();
    void onUploaded(const FtpUploadResult& upload);
    bool trustedByTheWorker(const FtpUploadResult& upload);
    void notifyShop();
    void onMailDone();
    // The error handler: a step that broke down ends the send here.
    void failWithError(const QString& description);
    void end(SendOutcome outcome, const QString& message, SendNotice notice = SendNotice::None);
    void deleteArchive();
    // Records the jobs that earlier sends delivered but could not record.
    void recordPendingJobs();
    // Gives the job number back unless the job was recorded or waits to be.
    void releaseJobNumber();
    QString localArchiveName_; // the archive's name as it was built

    SendEnvironment env_;
    std::function<QDateTime()> clock_;
    ChoiceCheck choiceCheck_;
    DefaultTargetChoice defaultTarget_ = DefaultTargetChoice::Ask;
    State state_ = State::Idle;
    bool abort_ = false;
    compose::JobSnapshot job_;         // with the archive's entry names
    SendWorkFolder workFolder_;        // this send's job sheet and archive
    QList<QByteArray> stalePartNotes_; // part-file notes of killed sends' work folders
    bool partLeft_ = false; // the upload left a part file: its note goes to the next send
    QDateTime sendTime_;
    QString sendTimeText_;
    jobdb::PreparedJob prepared_;
    bool numberReserved_ = false; // prepared_.jobNumber is reserved for this send
    SendResult result_;
    TransferDisplay* display_ = nullptr;
    zip::cZip* packer_ = nullptr;
    startup::CatalogueRefresh* catalogue_ = nullptr;
    NumberReservation* reservation_ = nullptr;
    FtpUploader* uploader_ = nullptr;
    MailSender* mail_ = nullptr;
    QList<QMetaObject::Connection> packerConnections_;
};

} // namespace kestro::transfer

Q_DECLARE_METATYPE(kestro::transfer::SendResult)
