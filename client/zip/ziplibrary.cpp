#include "client/zip/ziplibrary.h"

#include "client/zip/zipentrynames.h"
#include "client/zip/zipentrysource.h"
#include "client/zip/zipspecs.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <deque>
#include <optional>
#include <zip.h>

Q_LOGGING_CATEGORY(lcZip, "kestro.zip")

namespace kestro::zip {

namespace {

// Level 5 keeps archives within a percent of level 6 (zip's default) at about half the
// time on drawings, scans and plot files.
constexpr int kDefaultLevel = 5;

struct ExistingEntry {
    QString name;
    time_t mtime = 0;
    zip_int64_t index = -1;
};

QString libzipError(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// Reads the names of the entries already in the archive; an archive that does not exist
// yet has none. False when the file exists but is no readable archive.
bool readExisting(const QString& zipPath, QList<ExistingEntry>& out) {
    if (!QFile::exists(zipPath))
        return true;
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &code);
    if (!za) {
        qCWarning(lcZip) << "cannot read the existing archive" << zipPath << libzipError(code);
        return false;
    }
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) == 0)
            out.push_back({QString::fromUtf8(st.name), st.mtime, i});
    }
    zip_discard(za);
    return true;
}

const ExistingEntry* findExisting(const QList<ExistingEntry>& entries, const QString& name) {
    const QString folded = name.toCaseFolded();
    for (const ExistingEntry& e : entries)
        if (e.name.toCaseFolded() == folded)
            return &e;
    return nullptr;
}

int levelFromField(char field) {
    if (field >= '0' && field <= '9')
        return field - '0';
    if (field >= 1 && field <= 9)
        return field;
    return kDefaultLevel;
}

QString percentText(quint64 compressed, quint64 size) {
    if (size == 0)
        return QStringLiteral("0%");
    const qint64 saved = qint64(100) - qint64(compressed * 100 / size);
    return QStringLiteral("%1%").arg(std::max<qint64>(saved, 0));
}

// The files of one run and what the attempts to write them made of them.
struct RunPlan {
    std::deque<PlannedFile> files; // deque: sources keep pointers into it
    QStringList directories;
    std::optional<QByteArray> password;
    std::optional<QByteArray> comment;

    qsizetype pending() const {
        return std::count_if(files.begin(), files.end(), [](const PlannedFile& f) {
            return f.state == PlannedFile::State::Pending;
        });
    }
    bool cancelled() const {
        return std::any_of(files.begin(), files.end(), [](const PlannedFile& f) {
            return f.state == PlannedFile::State::Cancelled;
        });
    }
    void settlePending(PlannedFile::State state, const QString& problem) {
        for (PlannedFile& f : files)
            if (f.state == PlannedFile::State::Pending) {
                f.state = state;
                f.problem = problem;
            }
    }
};

bool addEntries(zip_t* za, RunPlan& plan, SourceContext& context, QString* error) {
    for (const QString& dir : plan.directories)
        if (zip_name_locate(za, dir.toUtf8().constData(), 0) < 0 &&
            zip_dir_add(za, dir.toUtf8().constData(), ZIP_FL_ENC_UTF_8) < 0) {
            *error = QString::fromUtf8(zip_strerror(za));
            return false;
        }
    for (PlannedFile& f : plan.files) {
        if (f.state != PlannedFile::State::Pending)
            continue;
        zip_source_t* source = createEntrySource(za, f, context);
        zip_int64_t index = -1;
        if (source && f.replaceIndex >= 0)
            index = zip_file_replace(za, zip_uint64_t(f.replaceIndex), source, 0) == 0
                        ? f.replaceIndex
                        : -1;
        else if (source)
            index = zip_file_add(za, f.entryName.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            *error = QString::fromUtf8(zip_strerror(za));
            if (source)
                zip_source_free(source);
            return false;
        }
        // Without this libzip would deflate a stored file itself.
        if (!f.deflate && zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0) {
            *error = QString::fromUtf8(zip_strerror(za));
            return false;
        }
        const zip_uint32_t unixMode = zip_uint32_t(f.mode & 0xFFFFu) << 16;
        zip_file_set_external_attributes(za, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, unixMode);
        if (plan.password && zip_file_set_encryption(za, zip_uint64_t(index), ZIP_EM_AES_256,
                                                     plan.password->constData()) < 0) {
            *error = QString::fromUtf8(zip_strerror(za));
            return false;
        }
    }
    if (plan.comment && zip_set_archive_comment(za, plan.comment->constData(),
                                                zip_uint16_t(plan.comment->size())) < 0) {
        *error = QString::fromUtf8(zip_strerror(za));
        return false;
    }
    return true;
}

// One attempt to write the archive with every file still pending.
bool writeOnce(const QString& zipPath, RunPlan& plan, SourceContext& context, QString* error) {
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE, &code);
    if (!za) {
        *error = libzipError(code);
        return false;
    }
    if (!addEntries(za, plan, context, error)) {
        zip_discard(za);
        return false;
    }
    if (zip_close(za) == 0)
        return true;
    *error = QString::fromUtf8(zip_strerror(za));
    zip_discard(za);
    return false;
}

// The code of a run: the first failure in packing order, an abort above all.
qint32 codeFor(const QList<ZpEntryReport>& report, const QList<qint32>& failures) {
    qint32 code = ZE_OK;
    for (qsizetype i = 0; i < report.size(); ++i) {
        if (failures[i] == ZE_ABORT)
            return ZE_ABORT;
        if (code == ZE_OK)
            code = failures[i];
    }
    return code;
}

qint32 failureFor(PlannedFile::State state) {
    switch (state) {
    case PlannedFile::State::Packed:
        return ZE_OK;
    case PlannedFile::State::Changed:
        return ZE_READ;
    case PlannedFile::State::Cancelled:
        return ZE_ABORT;
    case PlannedFile::State::Pending:
    case PlannedFile::State::Unreadable:
        break;
    }
    return ZE_OPEN;
}

// An entry-name pattern as zip takes it: "*" and "?" match any characters, "/" included.
QRegularExpression entryPattern(const QString& wildcard) {
    QString re;
    for (const QChar c : wildcard) {
        if (c == QLatin1Char('*'))
            re += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            re += QLatin1Char('.');
        else
            re += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(re),
                              QRegularExpression::CaseInsensitiveOption);
}

} // namespace

ZipLibrary::ZipLibrary() {
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

qint32 ZipLibrary::ZpInit(const ZpUserFunctions& functions) {
    functions_ = functions;
    return 1;
}

qint32 ZipLibrary::ZpSetOptions(const ZpOptions& options) {
    options_ = options;
    return 1;
}

int ZipLibrary::compressionLevel() const {
    return levelFromField(options_.level);
}

qint32 ZipLibrary::ZpArchive(int count, const QByteArray& zipFile, const ZpNames& names) {
    report_.clear();
    if (count < 0 || count > kMaxSpecsPerRun || zipFile.isEmpty()) {
        qCWarning(lcZip) << "a run takes 1 to" << kMaxSpecsPerRun
                         << "specifications and an archive name; got" << count;
        return ZE_PARMS;
    }
    QStringList specs;
    for (int i = 0; i < count; ++i)
        specs << QFile::decodeName(names[size_t(i)]);
    return ZpArchiveList(specs, QFile::decodeName(zipFile));
}

qint32 ZipLibrary::ZpArchiveList(const QStringList& specs, const QString& zipFile) {
    report_.clear();
    if (zipFile.isEmpty())
        return ZE_PARMS;
    QStringList named;
    for (const QString& spec : specs)
        if (!spec.isEmpty())
            named << spec;
    if (named.isEmpty())
        return ZE_NONE;
    return options_.deleteEntries ? deleteEntries(zipFile, named) : archive(zipFile, named);
}

qint32 ZipLibrary::archive(const QString& zipPath, const QStringList& specs) {
    RunPlan plan;
    if (options_.encrypt) {
        plan.password = functions_.password ? functions_.password() : std::nullopt;
        if (!plan.password || plan.password->isEmpty()) {
            qCWarning(lcZip) << "encryption asked for, but no password was given";
            return ZE_ABORT;
        }
    }
    if (options_.comment) {
        plan.comment = functions_.comment ? functions_.comment() : std::nullopt;
        if (!plan.comment)
            return ZE_ABORT;
    }
    if (options_.crlfToLf || options_.lfToCrlf)
        qCWarning(lcZip) << "line-end conversion is not supported; files are packed unchanged";

    QList<ExistingEntry> existing;
    if (!readExisting(zipPath, existing))
        return ZE_FORM;
    EntryNameAllocator names;
    for (const ExistingEntry& e : existing)
        names.reserve(e.name);

    QList<qint32> failures; // one per report line
    const SpecExpansion found = expandSpecs(specs, options_);
    for (const QString& spec : found.unmatched) {
        qCWarning(lcZip) << "name not matched:" << spec;
        report_.push_back({{}, spec, {}, false, QStringLiteral("name not matched")});
        failures << ZE_NAME;
    }
    const int level = compressionLevel();
    for (const FoundItem& item : found.items) {
        if (item.directory) {
            if (!names.isTaken(item.entryName)) {
                names.reserve(item.entryName);
                plan.directories << item.entryName;
            }
            continue;
        }
        PlannedFile f;
        f.sourcePath = item.path;
        f.spec = item.spec;
        if (!planFile(f)) {
            qCWarning(lcZip) << "cannot pack" << item.path << f.problem;
            report_.push_back({item.path, item.spec, {}, false, f.problem});
            failures << ZE_OPEN;
            continue;
        }
        if (level == 0)
            f.deflate = false;
        const ExistingEntry* old = (options_.update || options_.freshen)
                                       ? findExisting(existing, item.entryName)
                                       : nullptr;
        if (old) {
            if (f.mtimeNs / 1000000000LL <= qint64(old->mtime)) {
                report_.push_back({item.path, item.spec, old->name, true, {}});
                failures << ZE_OK;
                continue; // the entry is up to date
            }
            f.replaceIndex = old->index;
            f.entryName = old->name;
        } else if (options_.freshen) {
            continue; // freshen only replaces what the archive holds
        } else {
            f.entryName = names.allocate(item.entryName);
        }
        plan.files.push_back(f);
    }
    if (plan.files.empty() && plan.directories.isEmpty())
        return report_.isEmpty() ? qint32(ZE_NONE) : codeFor(report_, failures);

    quint64 total = 0;
    quint64 done = 0;
    SourceContext context;
    context.pool = &pool_;
    context.level = level == 0 ? kDefaultLevel : level;
    context.abort = &abort_;
    context.startingEntry = [this](const PlannedFile& f) {
        return functions_.service && functions_.service(f.entryName.toUtf8(), f.size);
    };
    context.finishedEntry = [this](const PlannedFile& f, quint64 compressed) {
        if (!functions_.print || options_.quiet)
            return;
        const QString how = f.deflate ? QStringLiteral("deflated") : QStringLiteral("stored");
        functions_.print(QStringLiteral("  adding: %1 (%2 %3)")
                             .arg(f.entryName, how, percentText(compressed, f.size))
                             .toUtf8());
    };
    context.bytesRead = [this, &done, &total](quint64 bytes) {
        done += bytes;
        if (functions_.bytes)
            functions_.bytes(done, total);
    };

    for (;;) {
        if (abort_.load()) {
            plan.settlePending(PlannedFile::State::Cancelled, QStringLiteral("aborted"));
            break;
        }
        const qsizetype pendingBefore = plan.pending();
        if (pendingBefore == 0 && plan.directories.isEmpty())
            break;
        total = 0;
        done = 0;
        for (const PlannedFile& f : plan.files)
            if (f.state == PlannedFile::State::Pending)
                total += f.size;
        QString error;
        if (writeOnce(zipPath, plan, context, &error)) {
            plan.settlePending(PlannedFile::State::Packed, {});
            break;
        }
        if (plan.cancelled()) {
            plan.settlePending(PlannedFile::State::Cancelled, QStringLiteral("aborted"));
            break;
        }
        if (plan.pending() < pendingBefore)
            continue; // a file dropped out; write the archive again without it
        qCWarning(lcZip) << "cannot write" << zipPath << error;
        plan.settlePending(PlannedFile::State::Unreadable, error);
        break;
    }

    if (plan.cancelled())
        qCWarning(lcZip) << "packing" << zipPath << "was aborted; no archive was written";
    for (const PlannedFile& f : plan.files) {
        const bool packed = f.state == PlannedFile::State::Packed;
        if (!packed && f.state != PlannedFile::State::Cancelled)
            qCWarning(lcZip) << "not packed:" << f.sourcePath << f.problem;
        report_.push_back({f.sourcePath, f.spec, f.entryName, packed, f.problem});
        failures << failureFor(f.state);
        if (packed && options_.move && !QFile::remove(f.sourcePath))
            qCWarning(lcZip) << "packed, but cannot remove" << f.sourcePath;
    }
    return codeFor(report_, failures);
}

qint32 ZipLibrary::deleteEntries(const QString& zipPath, const QStringList& specs) {
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), 0, &code);
    if (!za) {
        qCWarning(lcZip) << "cannot open" << zipPath << libzipError(code);
        return code == ZIP_ER_NOENT ? ZE_NAME : ZE_FORM;
    }
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (const QString& spec : specs) {
        const QRegularExpression anchored = entryPattern(spec);
        for (zip_int64_t i = 0; i < n; ++i) {
            const char* raw = zip_get_name(za, zip_uint64_t(i), 0);
            const QString name = raw ? QString::fromUtf8(raw) : QString();
            if (!name.isEmpty() && anchored.match(name).hasMatch() &&
                zip_delete(za, zip_uint64_t(i)) == 0)
                report_.push_back({{}, spec, name, true, {}});
        }
    }
    if (report_.isEmpty()) {
        zip_discard(za);
        return ZE_NONE;
    }
    if (zip_close(za) != 0) {
        qCWarning(lcZip) << "cannot write" << zipPath << zip_strerror(za);
        zip_discard(za);
        return ZE_WRITE;
    }
    return ZE_OK;
}

} // namespace kestro::zip
