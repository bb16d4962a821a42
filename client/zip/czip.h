#pragma once

#include "client/zip/ziplibrary.h"
#include "client/zip/zipoptions.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QVariant>

namespace kestro::zip {

// The client's zip packer: one option record and a list of file specifications, run
// through our zip library. The main window owns one for the whole run of the program;
// the send pipeline configures it for each archive operation.
//
// Zip() runs in the calling thread. StartZip() runs the same thing on a worker thread and
// reports Finished(result) when done; the events of a run are signals, so a receiver in
// the window's thread gets them through queued connections and the window never waits on
// the disk. Abort() stops a running run from any thread; such a run writes no archive.
//
// Pack a job in one run, whatever the number of files: AddFileSpec for every file and
// the job sheet, then Zip() or StartZip(); Entries() tells per file whether it was packed and under
// which name. One run per file works as well (each run adds to the archive), but every run writes
// the archive anew, so a job of many files takes much longer that way.
//
// Events that in the zip32 interface wanted an answer by reference (password, comment,
// cancel) cannot be answered across threads: the answers are set beforehand (Password,
// Comment), and a Cancel handler cancels by calling Abort().
class cZip : public QObject {
    Q_OBJECT
public:
    explicit cZip(QObject* parent = nullptr);
    ~cZip() override;

    QString ZipFile() const { return zipFile_; }
    void setZipFile(const QString& path) { zipFile_ = path; }
    QString BasePath() const { return QFile::decodeName(options_.rootDir); }
    void setBasePath(const QString& path) { options_.rootDir = QFile::encodeName(path); }
    bool Encrypt() const { return options_.encrypt == 1; }
    void setEncrypt(bool on) { options_.encrypt = on ? 1 : 0; }
    bool AddComment() const { return options_.comment == 1; }
    void setAddComment(bool on) { options_.comment = on ? 1 : 0; }
    bool IncludeSystemAndHiddenFiles() const { return options_.includeSystemAndHidden == 1; }
    void setIncludeSystemAndHiddenFiles(bool on) { options_.includeSystemAndHidden = on ? 1 : 0; }
    bool StoreVolumeLabel() const { return options_.volumeLabel == 1; }
    void setStoreVolumeLabel(bool on) { options_.volumeLabel = on ? 1 : 0; }
    bool StoreDirectories() const { return options_.noDirectoryEntries == 0; }
    void setStoreDirectories(bool on) { options_.noDirectoryEntries = on ? 0 : 1; }
    bool StoreFolderNames() const { return options_.junkDirectoryNames == 0; }
    void setStoreFolderNames(bool on) { options_.junkDirectoryNames = on ? 0 : 1; }
    bool RecurseSubDirs() const { return options_.recurse != 0; }
    void setRecurseSubDirs(bool on) { options_.recurse = on ? 2 : 0; }
    bool UpdateOnlyIfNewer() const { return options_.update == 1; }
    void setUpdateOnlyIfNewer(bool on) { options_.update = on ? 1 : 0; }
    bool FreshenFiles() const { return options_.freshen == 1; }
    void setFreshenFiles(bool on) { options_.freshen = on ? 1 : 0; }
    // 0 verbose, 1 quiet, 2 neither; other values change nothing.
    qint32 MessageLevel() const;
    void setMessageLevel(qint32 level);
    bool ConvertCRLFToLF() const { return options_.crlfToLf == 1; }
    void setConvertCRLFToLF(bool on) { options_.crlfToLf = on ? 1 : 0; }
    bool ConvertLFToCRLF() const { return options_.lfToCrlf == 1; }
    void setConvertLFToCRLF(bool on) { options_.lfToCrlf = on ? 1 : 0; }
    bool AllowAppend() const { return options_.grow == 1; }
    void setAllowAppend(bool on) { options_.grow = on ? 1 : 0; }

    // Our additions: the compression level (0 store .. 9; the record's 0 means the
    // library's default), and the answers to the password and comment requests.
    char CompressionLevel() const { return options_.level; }
    void setCompressionLevel(char level) { options_.level = level; }
    void setPassword(const QByteArray& password) { password_ = password; }
    void setComment(const QByteArray& comment) { comment_ = comment; }
    // True (the default) reads "*", "?" and "[" in a specification as a pattern; false
    // takes every specification as the path of one file, whatever its name holds.
    bool MatchWildcards() const { return options_.literalNames == 0; }
    void setMatchWildcards(bool on) { options_.literalNames = on ? 0 : 1; }

    void ClearFileSpecs() { specs_.clear(); }
    void AddFileSpec(const QString& spec) { specs_ << spec; }
    qint32 FileSpecCount() const { return qint32(specs_.size()); }
    // The file spec at 1-based `index`; an invalid QVariant (and a log line) when the
    // index is outside 1..FileSpecCount().
    QVariant FileSpec(qint32 index) const;

    // Runs the library in this thread; true on success.
    bool Zip();
    // Removes the entries named by the specifications from the archive.
    bool Delete();
    bool Success() const { return lastResult_ == 0; }
    qint32 LastResult() const { return lastResult_; }

    // Runs Zip() on a worker thread; false (and nothing started) while a run is going.
    bool StartZip();
    bool IsRunning() const { return worker_ != nullptr; }
    // Stops the running run; safe from any thread.
    void Abort() { library_.requestAbort(); }

    // What became of each file of the last run, and the names the packed files have in
    // the archive (a duplicate file name gets a numbered name).
    QList<ZpEntryReport> Entries() const { return report_; }
    QStringList PackedEntryNames() const;
    qint32 PackedCount() const;
    qint32 NotPackedCount() const;

    // The option record as it is handed to the library.
    const ZpOptions& OptionRecord() const { return options_; }

Q_SIGNALS:
    void Cancel(const QString& message);
    void PasswordRequest();
    void CommentRequest();
    void Progress(qint32 count, const QString& message);
    // Our addition: file bytes packed so far and in total, for a progress bar.
    void BytesPacked(qint64 done, qint64 total);
    // A StartZip() run ended; LastResult() and Entries() describe it.
    void Finished(qint32 result);

private:
    struct Run {
        ZpOptions options;
        QString zipFile;
        QStringList specs;
        QByteArray password;
        QByteArray comment;
    };
    Run snapshot() const;
    // Runs the library once; callbacks emit this object's signals from the running thread.
    qint32 runLibrary(const Run& run);
    void onWorkerFinished(qint32 result);

    ZpOptions options_;
    QString zipFile_;
    QStringList specs_;
    QByteArray password_;
    QByteArray comment_;
    qint32 lastResult_ = 0;
    QList<ZpEntryReport> report_;
    ZipLibrary library_;
    QThread* worker_ = nullptr;
};

} // namespace kestro::zip
