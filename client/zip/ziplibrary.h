#pragma once

#include "client/zip/zipoptions.h"

#include <QList>
#include <QLoggingCategory>
#include <QThreadPool>
#include <array>
#include <atomic>

Q_DECLARE_LOGGING_CATEGORY(lcZip)

// Our zip library behind the zip32-style calls the client was written against: ZpInit
// takes the callbacks, ZpSetOptions the option record, ZpArchive runs once over the
// specifications. libzip writes the archive; deflating runs on a pool of threads.
//
// A run adds its files to the archive in one write: libzip builds the new archive in a
// temporary file and renames it over the old one only when every entry was written, so
// an archive is never left half written. A file that vanishes or changes while it is read
// is left out (it counts as not packed) and the archive is written again without it.
// Existing entries of the archive are kept; a new file whose name is taken gets a
// numbered name ("plan (2).pdf"), except under update or freshen, which replace an older
// entry of the same name.
namespace kestro::zip {

using ZpNames = std::array<QByteArray, kNameSlots>;

class ZipLibrary {
public:
    ZipLibrary();
    ZipLibrary(const ZipLibrary&) = delete;
    ZipLibrary& operator=(const ZipLibrary&) = delete;

    qint32 ZpInit(const ZpUserFunctions& functions);
    qint32 ZpSetOptions(const ZpOptions& options);
    ZpOptions ZpGetOptions() const { return options_; }
    // Packs (or, with the delete-entries field, removes) the `count` specifications of
    // `names` into `zipFile`; 0 for success, otherwise a ZpResult.
    qint32 ZpArchive(int count, const QByteArray& zipFile, const ZpNames& names);
    // Our addition: the same run over any number of specifications. A job of thousands
    // of files is still packed in one run and written once.
    qint32 ZpArchiveList(const QStringList& specs, const QString& zipFile);

    // What became of each file of the last run, in packing order.
    const QList<ZpEntryReport>& lastReport() const { return report_; }

    // Stops a running ZpArchive from any thread: nothing more is packed and no archive
    // is written by that run. The request holds until resetAbort().
    void requestAbort() { abort_.store(true); }
    void resetAbort() { abort_.store(false); }
    bool abortRequested() const { return abort_.load(); }

private:
    qint32 archive(const QString& zipPath, const QStringList& specs);
    qint32 deleteEntries(const QString& zipPath, const QStringList& specs);
    int compressionLevel() const;

    ZpUserFunctions functions_;
    ZpOptions options_;
    QList<ZpEntryReport> report_;
    std::atomic<bool> abort_{false};
    QThreadPool pool_;
};

} // namespace kestro::zip
