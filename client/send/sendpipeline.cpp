#include "client/send/sendpipeline.h"

#include "client/compose/filelistmodel.h"
#include "client/ftp/ftpuploader.h"
#include "client/ftp/trustedcertificates.h"
#include "client/jobdb/pendingrecords.h"
#include "client/mail/mailnotification.h"
#include "client/mail/mailsender.h"
#include "client/send/numberreservation.h"
#include "client/send/progressdisplay.h"
#include "client/send/sendarchive.h"
#include "client/startup/catalogue.h"
#include "client/startup/ftpdefaults.h"
#include "client/zip/czip.h"
#include "common/paths.h"
#include "common/prompter.h"
#include "common/textfile.h"
#include "common/transferlog.h"

#include <QFile>
#include <algorithm>

namespace kestro::transfer {
namespace {

// How long the replay of waiting jobs at send time waits for another writer.
constexpr int kPendingBusyWaitMs = 250;

} // namespace

namespace sendtext {

QString defaultTargetWarning() {
    return QStringLiteral("Achtung, es wurde unter Optionen, FTP-Konfiguration, Ftp-Server, "
                          "keine spezielle Zieladresse angegeben. ") +
           QLatin1Char('\r') +
           QStringLiteral("Dadurch werden die Daten als Test direkt zum Entwickler geschickt.") +
           QStringLiteral("\r\r") +
           QStringLiteral("Möchten Sie den Vorgang beenden und jetzt eine Zieladresse eingeben ?");
}

QString packCounts(int packed, int notPacked) {
    return QStringLiteral("%1 Zipped files and %2 not").arg(packed).arg(notPacked);
}

QString uploadCompleted(const QString& archiveName) {
    return QStringLiteral("Uploading ") + archiveName + QStringLiteral(" completed.");
}

} // namespace sendtext

SendPipeline::SendPipeline(SendEnvironment env, QObject* parent)
    : QObject(parent), env_(env), clock_([] { return QDateTime::currentDateTime(); }) {
    qRegisterMetaType<SendResult>();
    qRegisterMetaType<TransferProgress>();
    qRegisterMetaType<startup::CatalogueLists>();
    display_ = new TransferDisplay(env_.state.clientDataFolder, this);
    packer_ = new zip::cZip(this);
    catalogue_ = new startup::CatalogueRefresh(this);
    reservation_ = new NumberReservation(this);
    connect(reservation_, &NumberReservation::finished, this, &SendPipeline::onReserved);
    connect(catalogue_, &startup::CatalogueRefresh::finished, this, &SendPipeline::onCatalogue);
    uploader_ = new FtpUploader(this);
    showUploadOn(*uploader_, *display_);
    connect(uploader_, &FtpUploader::progress, this, &SendPipeline::progress);
    connect(uploader_, &FtpUploader::finished, this, &SendPipeline::onUploaded);
    mail_ = new MailSender(this);
    connect(mail_, &MailSender::status, this, &SendPipeline::statusLine);
    connect(mail_, &MailSender::sendSuccessful, this, [this] { result_.mailSent = true; });
    connect(mail_, &MailSender::finished, this, &SendPipeline::onMailDone);
    connect(display_, &TransferDisplay::statusLineAdded, this, &SendPipeline::statusLine);
}

SendPipeline::~SendPipeline() {
    // The packer goes with us: stop a running run, and let no signal of it reach a
    // pipeline being destroyed.
    releasePacker();
    if (state_ == State::Packing)
        packer_->Abort();
    // The window closing mid-upload does not wait for the server to take the removal of
    // the part file: the upload is abandoned, its thread ended here. The local archive
    // goes as after an abort; while the note that names the part file remains (a part file
    // may be on the server), the folder is left to the next send, which removes both.
    if (state_ == State::Uploading) {
        delete uploader_;
        uploader_ = nullptr;
        deleteArchive();
        if (QFile::exists(paths::join(workFolder_.path(), QString::fromLatin1(kPartNoteName))))
            workFolder_.leaveToNextSend();
    }
    releaseJobNumber();
}

QString SendPipeline::archivePath() const {
    return paths::join(workFolder_.path(), localArchiveName_);
}

void SendPipeline::setState(State state) {
    if (state_ == state)
        return;
    state_ = state;
    Q_EMIT stateChanged(state);
}

bool SendPipeline::start(const compose::JobSnapshot& job) {
    if (isRunning())
        return false;
    abort_ = false;
    result_ = SendResult();

    if (startup::isDefaultFtpHost(env_.state.ftp.server, env_.config) && stopsAtDefaultTarget()) {
        // The window opens the FTP configuration and then says the job may be sent.
        Q_EMIT finished(SendResult{SendOutcome::ConfigureTarget, sendtext::defaultTargetWarning()});
        return true;
    }

    recordPendingJobs();
    sendTime_ = clock_();
    sendTimeText_ = sendTime_.time().toString(QStringLiteral("HHmmss"));
    job_ = job;
    setState(State::RefreshingCatalogue);
    if (!catalogue_->start(startup::catalogueRequestFor(env_.state, env_.config)))
        failWithError(QStringLiteral("Der Katalog wird noch geladen."));
    return true;
}

bool SendPipeline::stopsAtDefaultTarget() {
    switch (defaultTarget_) {
    case DefaultTargetChoice::Ask:
        return env_.prompter.askYesNo(sendtext::defaultTargetWarning(), Prompter::Icon::Critical);
    case DefaultTargetChoice::Send:
        return false;
    case DefaultTargetChoice::Refuse:
        break;
    }
    return true;
}

void SendPipeline::abort() {
    abort_ = true;
    switch (state_) {
    case State::RefreshingCatalogue:
        catalogue_->abort();
        break;
    case State::Packing:
        packer_->Abort();
        break;
    case State::Reserving: // ends when the number comes back
        break;
    case State::Uploading:
        uploader_->abort();
        break;
    case State::Idle:
    case State::Notifying:
        break;
    }
}

void SendPipeline::onCatalogue(bool obtained) {
    if (state_ != State::RefreshingCatalogue)
        return;
    if (abort_)
        return end(SendOutcome::Aborted, sendtext::kAborted);
    if (!obtained) {
        // The fetch has emptied the catalogue; the window clears its lists and says
        // nothing, as the client always did.
        qCInfo(lcSend) << "send stopped, catalogue not obtained:" << catalogue_->outcome().failure;
        Q_EMIT catalogueRefreshed(startup::CatalogueLists());
        return end(SendOutcome::CatalogueNotObtained, sendtext::kCatalogueMissing);
    }
    startup::takeFtpAccount(env_.state.ftp, catalogue_->outcome().lists);
    Q_EMIT catalogueRefreshed(catalogue_->outcome().lists);

    if (job_.files.isEmpty()) {
        return end(SendOutcome::NoFiles, sendtext::kNoFiles, SendNotice::Warning);
    }
    if (!compose::isComplete(job_.files)) {
        return end(SendOutcome::Incomplete, sendtext::kIncomplete, SendNotice::Warning);
    }
    if (choiceCheck_) {
        if (const QString refusal = choiceCheck_(job_, catalogue_->outcome().lists);
            !refusal.isEmpty())
            return end(SendOutcome::Refused, refusal, SendNotice::Warning);
    }

    result_.archiveName = archiveName(env_.state.master.name, sendTime_);
    localArchiveName_ = result_.archiveName;
    // Sheet and archive go into a folder of this send's own, so that a second send at the
    // same time on this workstation cannot replace them; what killed sends left goes.
    stalePartNotes_.clear();
    partLeft_ = false;
    removeSendLeftovers(env_.state.clientDataFolder, &stalePartNotes_);
    QString folderError;
    if (!workFolder_.create(env_.state.clientDataFolder, &folderError))
        return failWithError(folderError);
    // The sheet names each file as it will stand in the archive.
    job_ = withArchiveEntryNames(job_);
    setState(State::Reserving);
    if (!reservation_->start(env_.database.path()))
        failWithError(QStringLiteral("Eine Auftragsnummer wird noch vergeben."));
}

void SendPipeline::onReserved(qint32 number, const QString& error) {
    if (state_ != State::Reserving) {
        if (number != 0)
            jobdb::JobStore(env_.database).releaseJobNumber(number);
        return;
    }
    if (number == 0) {
        // Nothing may go out that could not be recorded.
        return end(SendOutcome::Refused, jobdb::notWritableText(env_.database.path(), error),
                   SendNotice::Error);
    }
    // Until the job is recorded or waits to be, the end of the send gives the number back
    // (a second release by prepareJob's own failure path changes nothing).
    prepared_.jobNumber = number;
    numberReserved_ = true;
    if (abort_)
        return end(SendOutcome::Aborted, sendtext::kAborted);
    const jobdb::PrepareResult prepared =
        jobdb::JobStore(env_.database)
            .prepareJob(job_, env_.state.master, sendTimeText_, sendTime_.date(),
                        workFolder_.path(), env_.prompter, number);
    if (!prepared.ok())
        return failWithError(prepared.error);
    prepared_ = *prepared.job;
    result_.jobNumber = prepared_.jobNumber;
    startPacking();
}

void SendPipeline::startPacking() {
    setState(State::Packing);
    display_->showFtpStatus(sendtext::kCompressing);
    zip::cZip& z = *packer_;
    z.setEncrypt(false);
    z.setAddComment(false);
    z.setZipFile(archivePath());
    z.setStoreFolderNames(false);
    z.setRecurseSubDirs(false);
    // The worker chose files, not patterns: "Angebot [final].pdf" is that file alone.
    z.setMatchWildcards(false);
    z.ClearFileSpecs();
    // One run for the whole archive: the packer compresses on all cores and writes the
    // archive once. The sheet goes first so that its name is never taken by a file.
    z.AddFileSpec(prepared_.sheetPath);
    for (const compose::FileRow& row : job_.files)
        z.AddFileSpec(row.fullPath);
    packerConnections_ << connect(&z, &zip::cZip::BytesPacked, this,
                                  [this](qint64 done, qint64 total) {
                                      TransferProgress p;
                                      p.done = done;
                                      p.total = total;
                                      Q_EMIT progress(p);
                                  });
    packerConnections_ << connect(&z, &zip::cZip::Finished, this, &SendPipeline::onPacked);
    if (!z.StartZip()) {
        releasePacker();
        failWithError(QStringLiteral("Der Packer ist noch mit einem anderen Archiv beschäftigt."));
    }
}

void SendPipeline::releasePacker() {
    for (const auto& c : packerConnections_)
        disconnect(c);
    packerConnections_.clear();
}

void SendPipeline::onPacked(qint32 result) {
    releasePacker();
    if (abort_) {
        // An aborted run writes no archive; whatever may be left goes, too.
        deleteArchive();
        return end(SendOutcome::Aborted, sendtext::kAborted);
    }
    const zip::cZip& z = *packer_;
    int packed = 0;
    int notPacked = 0;
    const QList<zip::ZpEntryReport> entries = z.Entries();
    for (const compose::FileRow& row : job_.files) {
        bool found = false;
        for (const zip::ZpEntryReport& e : entries) {
            if (e.spec == row.fullPath) {
                found = e.packed;
                if (e.packed && e.entryName != row.fileName)
                    qCWarning(lcSend)
                        << "entry" << e.entryName << "differs from the sheet's" << row.fileName;
                if (!e.packed)
                    qCWarning(lcSend) << "not packed:" << row.fullPath << e.problem;
                break;
            }
        }
        ++(found ? packed : notPacked);
    }
    // The job sheet is our own readable file: when even it is not in the archive, the
    // archive itself could not be written (a name too long, a full disk), not the
    // worker's files; the counts would blame files that are fine.
    const auto sheet = std::find_if(entries.begin(), entries.end(), [this](const auto& e) {
        return e.spec == prepared_.sheetPath;
    });
    if (result != 0 && sheet != entries.end() && !sheet->packed)
        return failWithError(QStringLiteral("Das Archiv %1 kann nicht geschrieben werden: %2")
                                 .arg(archivePath(), sheet->problem.isEmpty()
                                                         ? QString::number(result)
                                                         : sheet->problem));
    if (result != 0 && packed > 0 && !QFile::exists(archivePath()))
        return failWithError(QStringLiteral("Das Archiv %1 wurde nicht geschrieben (Fehler %2).")
                                 .arg(archivePath())
                                 .arg(result));
    result_.packed = packed;
    result_.notPacked = notPacked;
    if (packed == 0) {
        deleteArchive();
        return end(SendOutcome::NothingPacked, sendtext::packCounts(packed, notPacked),
                   SendNotice::Warning);
    }
    if (notPacked > 0) {
        // The worker sees what is missing before the rest goes out.
        env_.prompter.message(sendtext::packCounts(packed, notPacked), Prompter::Icon::Exclamation);
        // The program may have been ended while the box waited: nothing goes out then.
        if (abort_) {
            deleteArchive();
            return end(SendOutcome::Aborted, sendtext::kAborted);
        }
    }
    startUpload();
}

void SendPipeline::startUpload() {
    setState(State::Uploading);
    // The FTP error log exists from the first upload on, so that support finds it even
    // when it is still empty.
    QFile errorLog(ftpErrorLogPath(env_.state.clientDataFolder));
    if (!errorLog.open(QIODevice::Append))
        qCWarning(lcSend) << "cannot open" << errorLog.fileName() << errorLog.errorString();
    FtpUploadRequest request;
    request.server = env_.state.ftp.server;
    request.directory = QStringLiteral("/");
    request.localPath = archivePath();
    request.remoteName = localArchiveName_;
    request.user = env_.state.ftp.user;
    request.password = env_.state.ftp.password;
    request.encryption = env_.state.ftp.encryption;
    if (!env_.state.ftp.unknownEncryption.isEmpty())
        qCWarning(lcFtp).noquote()
            << "FTPTLS is" << env_.state.ftp.unknownEncryption
            << "- none of 0, 1, 2; sending unencrypted as without the setting";
    if (!env_.state.ftp.retryPauses.empty())
        request.retryPauses = env_.state.ftp.retryPauses;
    request.trustedFingerprint =
        TrustedCertificates(env_.state.clientDataFolder).fingerprintFor(request.server);
    const startup::ProxySettings& proxy = env_.state.proxy;
    request.proxy.enabled = proxy.useProxy;
    request.proxy.host = proxy.ftpProxy;
    request.proxy.port = proxy.ftpProxyPort;
    request.proxy.user = proxy.user;
    request.proxy.password = proxy.password;
    request.agent = startup::kAppName;
    // A killed send's part file is known by the note in its work folder; this upload
    // notes its own, and removes those of killed sends to the same account.
    request.partNoteFile = paths::join(workFolder_.path(), QString::fromLatin1(kPartNoteName));
    for (const QByteArray& note : std::as_const(stalePartNotes_))
        if (const QString stale = stalePartFrom(note, request); !stale.isEmpty())
            request.staleParts << stale;
    if (!uploader_->start(request))
        failWithError(QStringLiteral("Es läuft noch eine Übertragung."));
}

void SendPipeline::onUploaded(const FtpUploadResult& upload) {
    if (state_ != State::Uploading)
        return;
    result_.upload = upload;
    if (!abort_ && upload.certificateRefusal == CertificateRefusal::Untrusted &&
        trustedByTheWorker(upload)) {
        // The same archive goes again, to exactly this certificate. A resume that met the
        // certificate may have left a part file; the new upload notes its own part in the
        // same note, so the old one is handed on to be removed once the new one is settled.
        QByteArray note;
        if (readWholeFile(paths::join(workFolder_.path(), QString::fromLatin1(kPartNoteName)),
                          &note, 4096) &&
            !note.isEmpty())
            stalePartNotes_ << note;
        startUpload();
        return;
    }
    // The local archive goes whatever became of the upload; the next send builds a new one.
    deleteArchive();
    partLeft_ = !upload.partLeft.isEmpty();
    // Delivery is what the uploader established (the server confirmed the full size),
    // never what the bar happens to read.
    if (upload.delivered) {
        if (upload.remoteName != result_.archiveName) {
            // Another job took the name first (a send in the same second); the logs and
            // the mail name the archive as the shop finds it.
            result_.archiveName = upload.remoteName;
            display_->showFtpStatus(
                QStringLiteral("Archiv auf dem Server umbenannt in %1, der Name %2 war "
                               "schon vergeben.")
                    .arg(upload.remoteName, localArchiveName_));
        }
        return notifyShop();
    }
    if (!upload.connected)
        display_->showFtpStatus(sendtext::kNotTransmitted);
    if (abort_)
        return end(SendOutcome::Aborted, sendtext::kAborted);
    end(SendOutcome::NotDelivered,
        !upload.connected ? sendtext::kNotTransmitted : upload.errorText);
}

bool SendPipeline::trustedByTheWorker(const FtpUploadResult& upload) {
    const QString& server = env_.state.ftp.server;
    const QString host = trustKey(server).section(QLatin1Char(':'), 0, -2);
    if (!env_.prompter.askChoice(trustQuestion(host, upload.certificate),
                                 Prompter::Icon::Exclamation, kTrustButton, kCancelButton))
        return false;
    QString error;
    if (!TrustedCertificates(env_.state.clientDataFolder)
             .trust(server, upload.certificate.fingerprint, &error)) {
        env_.prompter.message(error, Prompter::Icon::Critical);
        return false;
    }
    return true;
}

void SendPipeline::notifyShop() {
    setState(State::Notifying);
    // Delivered, the number is the shop's: it stays reserved until the job is recorded,
    // whatever becomes of the record now.
    numberReserved_ = false;
    // The job is kept in a file before the record is tried, so that a send killed before
    // the record committed leaves it to the next send or start, and removed once it did.
    // Whichever records it first, the other finds it recorded and adds nothing.
    const jobdb::JobRows rows = jobdb::jobRows(job_, env_.state.master, prepared_, sendTimeText_,
                                               sendTime_.date(), env_.state.databasePath);
    QString keptError;
    const QString pendingFile = jobdb::keepPendingRecord(env_.state.clientDataFolder,
                                                         env_.state.databasePath, rows, &keptError);
    if (pendingFile.isEmpty())
        qCWarning(lcSend) << "job" << prepared_.jobNumber
                          << "not kept before its record:" << keptError;
    const jobdb::RecordResult record = jobdb::JobStore(env_.database).storeJobRows(rows, true);
    result_.recorded = record.ok;
    if (record.ok) {
        if (!pendingFile.isEmpty())
            jobdb::dropPendingRecord(pendingFile);
    } else {
        // The job waits in its file to be recorded by a later send or start; the user
        // hears of it.
        qCWarning(lcSend) << "job" << prepared_.jobNumber << "not recorded:" << record.error;
        Q_EMIT statusLine(QStringLiteral("Auftrag %1 konnte nicht gespeichert werden: %2")
                              .arg(prepared_.jobNumber)
                              .arg(record.error));
        result_.pendingFile = pendingFile;
        result_.message = jobdb::notRecordedText(prepared_.jobNumber, result_.archiveName,
                                                 record.error, keptError);
    }
    Q_EMIT clearJob();
    display_->showFtpStatus(sendtext::uploadCompleted(result_.archiveName));
    result_.mailAttempted =
        sendJobMail(*mail_, env_.state.mail, env_.config, env_.state.ftp.recipient,
                    result_.archiveName, env_.state.clientDataFolder);
    if (!result_.mailAttempted)
        onMailDone();
}

void SendPipeline::onMailDone() {
    if (state_ != State::Notifying)
        return;
    if (!result_.recorded)
        return end(SendOutcome::Delivered, result_.message, SendNotice::Warning);
    end(SendOutcome::Delivered, sendtext::uploadCompleted(result_.archiveName));
}

void SendPipeline::failWithError(const QString& description) {
    qCWarning(lcSend) << "send failed:" << description;
    display_->showSendFailure(description);
    deleteArchive();
    end(SendOutcome::Failed, description);
}

void SendPipeline::end(SendOutcome outcome, const QString& message, SendNotice notice) {
    releaseJobNumber();
    result_.outcome = outcome;
    result_.message = message;
    result_.notice = notice;
    if (partLeft_)
        workFolder_.leaveToNextSend();
    else
        workFolder_.remove();
    setState(State::Idle);
    Q_EMIT finished(result_);
}

void SendPipeline::deleteArchive() {
    if (!workFolder_.isValid() || localArchiveName_.isEmpty())
        return;
    const QString path = archivePath();
    if (QFile::exists(path) && !QFile::remove(path))
        qCWarning(lcSend) << "cannot delete the local archive" << path;
}

void SendPipeline::recordPendingJobs() {
    // The jobs only wait a moment for another writer here: they are recorded later anyway,
    // and the send must not be held up by them.
    const jobdb::PendingReport report =
        jobdb::recordPendingJobs(env_.database, env_.state.clientDataFolder, kPendingBusyWaitMs);
    for (const qint32 number : report.recorded)
        Q_EMIT statusLine(jobdb::pendingRecordedText(number));
    if (!report.waiting.isEmpty())
        Q_EMIT statusLine(jobdb::stillWaitingText(report.waiting));
}

void SendPipeline::releaseJobNumber() {
    if (!numberReserved_)
        return;
    numberReserved_ = false;
    // A number that cannot be given back is only skipped; no job ever shares it.
    jobdb::JobStore(env_.database).releaseJobNumber(prepared_.jobNumber);
}

} // namespace kestro::transfer
