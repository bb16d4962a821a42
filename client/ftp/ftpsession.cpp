#include "client/ftp/ftpsession.h"

#include "client/ftp/ftperrors.h"
#include "client/ftp/ftpreply.h"
#include "client/ftp/ftpstatus.h"
#include "common/textfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(lcFtp, "kestro.ftp", QtInfoMsg)

namespace kestro::transfer {

namespace {

// WinINet numbered the handles it created; the status box shows that number.
std::atomic<quint32> nextHandleNumber{1};

// Progress goes to the window by queued signal; ten per second keep the bar fluid
// without flooding the UI thread.
constexpr auto reportInterval = std::chrono::milliseconds(100);

constexpr long uploadBufferBytes = 512 * 1024;

QString hostPart(const QString& server) {
    if (server.startsWith(QLatin1Char('[')))
        return server.section(QLatin1Char(']'), 0, 0).mid(1);
    return server.section(QLatin1Char(':'), 0, 0);
}

bool usableServer(const QString& server) {
    if (server.isEmpty())
        return false;
    for (const QChar c : server)
        if (c.unicode() <= 0x20 || QStringLiteral("/\\@?#%").contains(c))
            return false;
    return true;
}

bool usableRemoteName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('\r')) &&
           !name.contains(QLatin1Char('\n')) && !name.contains(QChar(0));
}

// The server with its host as certificates name it: "Shop.Example.:21" is
// "shop.example:21" (a resolver that reads /etc/hosts knows no name with the dot).
QString canonicalServer(const QString& server) {
    if (server.startsWith(QLatin1Char('[')))
        return server;
    const qsizetype colon = server.indexOf(QLatin1Char(':'));
    return canonicalHost(server.left(colon < 0 ? server.size() : colon)) +
           (colon < 0 ? QString() : server.mid(colon));
}

// ftp://server/%2Fdir/name: curl changes into "/" first (then into each folder of the
// directory) and stores the file under its bare name there.
QByteArray uploadUrl(const QString& server, QString directory, const QString& name) {
    if (!directory.startsWith(QLatin1Char('/')))
        directory.prepend(QLatin1Char('/'));
    if (!directory.endsWith(QLatin1Char('/')))
        directory.append(QLatin1Char('/'));
    QByteArray path = "/%2F";
    const QStringList folders = directory.mid(1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& folder : folders)
        path += QUrl::toPercentEncoding(folder) + '/';
    path += QUrl::toPercentEncoding(name);
    return "ftp://" + canonicalServer(server).toUtf8() + path;
}

QByteArray proxyUrl(const FtpProxySettings& proxy) {
    QString address = proxy.host.trimmed();
    const bool hasPort = address.startsWith(QLatin1Char('['))
                             ? address.contains(QStringLiteral("]:"))
                             : address.contains(QLatin1Char(':'));
    bool numeric = false;
    proxy.port.trimmed().toUShort(&numeric);
    if (!hasPort && numeric)
        address += QLatin1Char(':') + proxy.port.trimmed();
    else if (!hasPort && !proxy.port.trimmed().isEmpty())
        qCWarning(lcFtp) << "FTP proxy port is not a number, using the default:" << proxy.port;
    return "http://" + address.toUtf8();
}

// libcurl's level for the target's encryption choice. With TLS on, libcurl protects the
// data connections as well (PBSZ 0, PROT P), so the job's files never cross in clear.
long useSslFor(startup::FtpEncryption encryption) {
    switch (encryption) {
    case startup::FtpEncryption::WhenOffered:
        return CURLUSESSL_TRY;
    case startup::FtpEncryption::Required:
        return CURLUSESSL_ALL;
    case startup::FtpEncryption::Plain:
        break;
    }
    return CURLUSESSL_NONE;
}

// Servers take names of at most 255 bytes.
constexpr qsizetype kMaxRemoteNameBytes = 255;

// A name of this upload's own for the file while it travels: the shop's software takes
// no ".part" file for a job, and no other upload uses the same one. The archive's name in
// it is shortened when needed, so that an archive whose own name fits the server never
// fails for the name it travels under; the unique part keeps it distinct.
QString partNameFor(const QString& remoteName) {
    const quint64 unique = QRandomGenerator::system()->generate64() & 0xFFFFFFFFFFFFull;
    const QString tail = QLatin1Char('.') + QString::number(unique, 16).rightJustified(12, '0') +
                         QStringLiteral(".part");
    QString base = remoteName;
    while (!base.isEmpty() && (base + tail).toUtf8().size() > kMaxRemoteNameBytes) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    return base + tail;
}

// "Muster-071226-100503.zip", 2 -> "Muster-071226-100503-2.zip".
QString numberedRemoteName(const QString& name, int n) {
    const QString suffix = QStringLiteral("-%1").arg(n);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

// The folder an upload creates to hold a name while it renames its file to it.
const QString kClaimSuffix = QStringLiteral(".lock");

// Every later name an upload may take when the first is held by another file.
constexpr int kMaxNumberedNames = 999;

// The removal of a partial file must not hold the user long after a failure.
constexpr long kCleanupTimeoutSeconds = 15;

// How much of the part file's end is read back before an upload continues it: a server
// that names more than it holds, or holds other bytes, shows it in the last few.
constexpr qint64 kTailCheckBytes = 64 * 1024;

// The size in a line of a directory listing that ends with `name`: the fifth field of a
// Unix listing ("-rw-r--r-- 1 ftp ftp 12345 Dec 07 10:05 name"), the third of an MS-DOS
// one ("12-07-26  10:05AM  12345 name"); -1 when the line names no size.
qint64 listedSize(const QString& line, const QString& name) {
    const QStringList fields =
        line.left(line.size() - name.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool numeric = false;
    qint64 size = -1;
    if (fields.size() >= 5 && fields.at(0).startsWith(QLatin1Char('-')))
        size = fields.at(4).toLongLong(&numeric);
    else if (fields.size() >= 3)
        size = fields.at(2).toLongLong(&numeric);
    return numeric ? size : -1;
}

// The accounts ("user@server/folder") whose server refused a rename in this run.
std::mutex renameRefusedMutex;
QSet<QString> renameRefusedAccounts;

bool renameRefusedOn(const QString& account) {
    const std::lock_guard lock(renameRefusedMutex);
    return renameRefusedAccounts.contains(account);
}

void rememberRenameRefused(const QString& account) {
    const std::lock_guard lock(renameRefusedMutex);
    renameRefusedAccounts.insert(account);
}

// Runs `step` with every connection of `curl` opened anew: after a connection broke,
// libcurl may take the dead one for alive and fail at its first write.
bool whenReconnected(CURL* curl, const std::function<bool()>& step) {
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    const bool ok = step();
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 0L);
    return ok;
}

QString peerAddress(const curl_sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address->family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address->addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return QString::fromLatin1(text);
}

} // namespace

QByteArray partNote(const FtpUploadRequest& request, const QString& partName) {
    return QStringList{request.server, request.user, request.directory, partName}
        .join(QLatin1Char('\n'))
        .toUtf8();
}

QString stalePartFrom(const QByteArray& note, const FtpUploadRequest& request) {
    // Only a name of the form this program gives its part files, never a path: the note
    // lies in a folder on disk and must not make a send delete anything else.
    static const QRegularExpression partFile(QStringLiteral("^[^/\\\\]+\\.[0-9a-f]{12}\\.part$"));
    const QStringList fields = QString::fromUtf8(note).split(QLatin1Char('\n'));
    if (fields.size() != 4 || fields.at(0) != request.server || fields.at(1) != request.user ||
        fields.at(2) != request.directory || !partFile.match(fields.at(3)).hasMatch() ||
        !usableRemoteName(fields.at(3)))
        return {};
    return fields.at(3);
}

QString fileNamePart(const QString& localPath) {
    const qsizetype cut =
        qMax(localPath.lastIndexOf(QLatin1Char('/')), localPath.lastIndexOf(QLatin1Char('\\')));
    return localPath.mid(cut + 1);
}

QString uploadBarMessage(const QString& localPath) {
    QString name = fileNamePart(localPath);
    return QStringLiteral("Uploading ") + name.replace(QLatin1Char('_'), QLatin1Char(' '));
}

QString uploadCaption(const QString& localPath) {
    return QStringLiteral("Uploading ") + fileNamePart(localPath);
}

// The C entry points libcurl calls; each forwards to the session it was given.
struct SessionCallbacks {
    static size_t read(char* buffer, size_t size, size_t count, void* session) {
        return static_cast<FtpPutSession*>(session)->readFile(buffer, size * count);
    }
    static size_t write(char* data, size_t size, size_t count, void* session) {
        return static_cast<FtpPutSession*>(session)->listed(data, size * count);
    }
    static int progress(void* session, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
        return static_cast<FtpPutSession*>(session)->progressed(ulnow) ? 0 : 1;
    }
    static int trace(CURL*, curl_infotype type, char* data, size_t size, void* session) {
        static_cast<FtpPutSession*>(session)->traced(type, data, size);
        return 0;
    }
    static int resolverStart(void*, void*, void* session) {
        auto* self = static_cast<FtpPutSession*>(session);
        // The data connection goes to the address the server named; only the server's
        // own name is looked up in the user's eyes.
        if (self->socketsOpened_ > 0 || self->resolving_)
            return 0;
        self->resolving_ = true;
        self->status(int(FtpStatus::ResolvingName), hostPart(self->request_.server));
        return 0;
    }
    static curl_socket_t open(void* session, curlsocktype, curl_sockaddr* address) {
        return static_cast<FtpPutSession*>(session)->openSocket(address);
    }
    static int close(void* session, curl_socket_t fd) {
        static_cast<FtpPutSession*>(session)->closeSocket(fd);
        return 0;
    }
};

FtpPutSession::FtpPutSession(FtpUploadRequest request, FtpSessionObserver& observer)
    : request_(std::move(request)), observer_(observer),
      certificates_(hostPart(request_.server), request_.trustedFingerprint) {}

void FtpPutSession::abandon() {
    abandoned_ = true;
    abort();
}

void FtpPutSession::abort() {
    aborted_ = true;
    if (shielded_ && !abandoned_)
        return;
    // Closing the connections ends a transfer that waits in the kernel at once, not
    // only at libcurl's next progress call.
    const std::lock_guard lock(socketsMutex_);
    for (const auto& [fd, peer] : sockets_)
        ::shutdown(fd, SHUT_RDWR);
}

void FtpPutSession::status(int code, const QString& info) {
    if (const auto text = ftpStatusText(code, info))
        observer_.onStatus(*text);
}

FtpUploadResult FtpPutSession::uploadFile() {
    FtpUploadResult result;
    const QString name =
        request_.remoteName.isEmpty() ? fileNamePart(request_.localPath) : request_.remoteName;
    if (!usableServer(request_.server) || !usableRemoteName(name)) {
        qCWarning(lcFtp) << "unusable FTP target" << request_.server << name;
        fail(result, wininet::InvalidUrl);
        return result;
    }
    std::FILE* file = std::fopen(QFile::encodeName(request_.localPath).constData(), "rb");
    if (!file) {
        qCWarning(lcFtp) << "cannot open the file to upload" << request_.localPath
                         << std::strerror(errno);
        fail(result, wininet::FileNotFound);
        return result;
    }
    posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
    struct stat info {};
    localSize_ = ::fstat(fileno(file), &info) == 0 ? qint64(info.st_size) : 0;
    result.localSize = localSize_;
    CURL* curl = curl_easy_init();
    if (curl && configure(curl)) {
        deliver(curl, file, name, result);
        // What killed uploads left goes once this one is settled; a failure to remove
        // it only leaves it for a later send.
        if (result.connected && !abandoned_)
            for (const QString& stale : request_.staleParts)
                removeRemote(curl, stale);
    } else
        fail(result, wininet::InternalError);
    // Closing the control connection reports its last status texts after the outcome,
    // as closing the connection handle did.
    if (curl)
        curl_easy_cleanup(curl);
    std::fclose(file);
    return result;
}

void FtpPutSession::deliver(CURL* curl, std::FILE* file, const QString& wanted,
                            FtpUploadResult& result) {
    QString finalName;
    const QString account = accountKey();
    if (!renameRefusedOn(account)) {
        const QString partName = partNameFor(wanted);
        if (!request_.partNoteFile.isEmpty() &&
            !writeWholeFile(request_.partNoteFile, partNote(request_, partName)))
            qCWarning(lcFtp) << "cannot note the part file's name in" << request_.partNoteFile;
        const bool stored = putResumable(curl, file, partName, result);
        if (!stored || !confirmStoredSize(curl, partName, result) || aborted_) {
            if (result.errorCode == 0)
                fail(result, wininet::OperationCancelled);
            // The note outlives an abandoned upload (the window closed) only while a part
            // file may be on the server, so that the next send removes it.
            if (!dialogue_.storSent || removeRemote(curl, partName))
                dropPartNote();
            return;
        }
        shielded_ = true;
        const Publish published = publishAcrossDrops(curl, partName, wanted, finalName);
        shielded_ = false;
        if (published == Publish::LineDropped) {
            // The whole archive is on the server under its part name: deleting it would
            // throw away a complete upload. The shop's software takes no ".part" file, and
            // the part note lets the next send remove it.
            fail(result, aborted_ ? wininet::OperationCancelled : wininet::ConnectionAborted);
            qCWarning(lcFtp) << "the line stayed down while" << partName
                             << "was being renamed; the complete part file stays";
            result.partLeft = partName;
            return;
        }
        if (published == Publish::Failed) {
            fail(result, wininet::ConnectionAborted);
            removeRemote(curl, partName);
            return;
        }
        if (published == Publish::RenameRefused) {
            // Remembered for the rest of the program's run: later uploads to this account
            // go out once, under their final name, instead of twice.
            qCInfo(lcFtp) << "the server refuses to rename; uploading under the final name";
            rememberRenameRefused(account);
            removeRemote(curl, partName);
        }
    }
    if (finalName.isEmpty() && !storeUnderFreeName(curl, file, wanted, result, finalName))
        return;
    if (finalName != wanted)
        qCInfo(lcFtp) << wanted << "was taken on the server; the file is named" << finalName;
    result.remoteName = finalName;
    TransferProgress done = meter_.sample(localSize_);
    done.confirmed = true;
    observer_.onProgress(done);
    result.delivered = true;
}

bool FtpPutSession::storeUnderFreeName(CURL* curl, std::FILE* file, const QString& wanted,
                                       FtpUploadResult& result, QString& finalName) {
    // Without a rename the file can only travel under its final name. The name is held
    // by its lock folder while the file goes out, so that a second upload of the same
    // name takes the next one instead of replacing this file; the size check after the
    // store then proves the file under the name is this upload's.
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = n == 1 ? wanted : numberedRemoteName(wanted, n);
        const Claim claim = claimName(curl, candidate);
        if (claim == Claim::Broken) {
            fail(result, wininet::ConnectionAborted);
            return false;
        }
        if (claim == Claim::Taken)
            continue;
        if (probe(curl, candidate, true).kind == RemoteFile::Kind::Present) {
            if (claim == Claim::Held)
                releaseName(curl, candidate);
            continue;
        }
        std::rewind(file);
        const bool ok = putOneFile(curl, file, candidate, result) &&
                        confirmStoredSize(curl, candidate, result) && !aborted_;
        if (!ok) {
            if (result.errorCode == 0)
                fail(result, wininet::OperationCancelled);
            if (dialogue_.storSent)
                removeRemote(curl, candidate);
        }
        if (claim == Claim::Held)
            releaseName(curl, candidate);
        if (ok)
            finalName = candidate;
        return ok;
    }
    qCWarning(lcFtp) << "no free name for" << wanted;
    fail(result, wininet::ExtendedError);
    return false;
}

QString FtpPutSession::accountKey() const {
    return request_.user + QLatin1Char('@') + request_.server + request_.directory;
}

bool FtpPutSession::configure(CURL* curl) {
    const QByteArray user = request_.user.toUtf8();
    const QByteArray password = request_.password.toUtf8();
    const QByteArray agent = request_.agent.toUtf8();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(curl, option, value) == CURLE_OK;
    };
    set(CURLOPT_USERNAME, user.constData());
    set(CURLOPT_PASSWORD, password.constData());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_FTP_USE_EPSV, 1L);
    set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE));
    set(CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    set(CURLOPT_CONNECTTIMEOUT, long(request_.connectTimeoutSeconds));
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, long(request_.responseTimeoutSeconds));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, long(request_.lowSpeedSeconds));
    // The control connection idles while a large archive goes out over a slow line;
    // keepalives stop routers from forgetting it before the server's confirmation.
    set(CURLOPT_TCP_KEEPALIVE, 1L);
    set(CURLOPT_TCP_KEEPIDLE, 60L);
    set(CURLOPT_TCP_KEEPINTVL, 30L);
    // A proxy sees which program tunnels through it.
    set(CURLOPT_USERAGENT, agent.constData());
    set(CURLOPT_READFUNCTION, &SessionCallbacks::read);
    set(CURLOPT_READDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &SessionCallbacks::write);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &SessionCallbacks::progress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    set(CURLOPT_VERBOSE, 1L);
    set(CURLOPT_DEBUGFUNCTION, &SessionCallbacks::trace);
    set(CURLOPT_DEBUGDATA, static_cast<void*>(this));
    set(CURLOPT_RESOLVER_START_FUNCTION, &SessionCallbacks::resolverStart);
    set(CURLOPT_RESOLVER_START_DATA, static_cast<void*>(this));
    set(CURLOPT_OPENSOCKETFUNCTION, &SessionCallbacks::open);
    set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(this));
    set(CURLOPT_CLOSESOCKETFUNCTION, &SessionCallbacks::close);
    set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(this));
    // A server whose certificate the worker trusted has shown it speaks TLS: a refused
    // AUTH TLS now is a downgrade (by the server or by someone between), never a reason to
    // send password and job in clear text.
    const bool pinned = !request_.trustedFingerprint.isEmpty() &&
                        request_.encryption == startup::FtpEncryption::WhenOffered;
    set(CURLOPT_USE_SSL, pinned ? long(CURLUSESSL_ALL) : useSslFor(request_.encryption));
    if (request_.encryption != startup::FtpEncryption::Plain)
        ok = ok && certificates_.applyTo(curl);
    if (request_.proxy.enabled && !request_.proxy.host.trimmed().isEmpty()) {
        const QByteArray proxy = proxyUrl(request_.proxy);
        set(CURLOPT_PROXY, proxy.constData());
        set(CURLOPT_HTTPPROXYTUNNEL, 1L);
        if (!request_.proxy.user.isEmpty()) {
            const QByteArray proxyUser = request_.proxy.user.toUtf8();
            const QByteArray proxyPassword = request_.proxy.password.toUtf8();
            set(CURLOPT_PROXYUSERNAME, proxyUser.constData());
            set(CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        }
    } else {
        if (request_.proxy.enabled)
            qCWarning(lcFtp) << "proxy switched on without an FTP proxy host; connecting directly";
        // An empty proxy also keeps ftp_proxy and all_proxy of the environment out.
        set(CURLOPT_PROXY, "");
    }
    if (!ok)
        qCWarning(lcFtp) << "libcurl refused an FTP option";
    return ok;
}

bool FtpPutSession::putResumable(CURL* curl, std::FILE* file, const QString& partName,
                                 FtpUploadResult& result) {
    // A dropped line costs only the bytes the server did not keep: the part file stays,
    // and the next attempt continues it. Only attempts that get no further count against
    // the pauses, so a line that drops every few minutes still delivers a large archive.
    const UploadRetry retry(request_.retryPauses);
    // One cached control connection: a connection that died with a drop is closed when its
    // successor comes, instead of waiting for a later command to pick it up and fail.
    curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, 1L);
    qint64 offset = 0;
    qint64 reached = 0;
    // How far into the file this upload itself got its bytes out: the server cannot hold
    // more of them, whatever its SIZE says.
    qint64 gotOut = 0;
    // Cleared once a resumed attempt left the file at a wrong size: the server took REST
    // and did not keep to it, so every further attempt of this upload starts at byte 0.
    bool resumes = true;
    bool anew = true; // the next attempt starts at byte 0 on the connection as it is
    bool partStored = false;
    for (int attempt = 1;;) {
        const bool retrying = !anew;
        const std::optional<qint64> from =
            anew ? std::optional<qint64>(0)
                 : resumeOffset(curl, partName, resumes ? std::min(gotOut, localSize_) : 0);
        anew = false;
        if (from) {
            offset = *from;
            if (offset > 0)
                observer_.onStatus(resumeNotice(offset));
            if (offset > reached) {
                reached = offset;
                attempt = 1; // this attempt moved the file on
            }
            // After a drop libcurl may hold more than one dead connection; each step of a
            // new attempt gets one of its own.
            const qint64 sentBefore = totalSent_;
            const bool stored = !retrying
                                    ? putOneFile(curl, file, partName, result, offset)
                                    : whenReconnected(curl, [&] {
                                          return putOneFile(curl, file, partName, result, offset);
                                      });
            gotOut = std::max(gotOut, offset + (totalSent_ - sentBefore));
            partStored = partStored || dialogue_.storSent;
            if (stored && (offset == 0 || resumedToFullSize(curl, partName)))
                return true;
            if (stored) {
                qCWarning(lcFtp) << "resumed at" << offset << "the server holds"
                                 << dialogue_.remoteSize << "of" << localSize_
                                 << "bytes: it does not resume; the file goes out anew";
                observer_.onStatus(QStringLiteral("Der Server hat die Übertragung nicht "
                                                  "fortgesetzt – die Datei wird neu gesendet …"));
                resumes = false;
                anew = true;
                continue;
            }
        }
        // The server refusing the new connection is no line that dropped: the worker
        // hears why at once, as on the first connection, and nothing is tried again.
        if (refusedConnection()) {
            tlsRefused_ = lastCode_ == CURLE_USE_SSL_FAILED;
            if (!from)
                fail(result, wininetCodeFor(FtpFailure{lastCode_, false, dialogue_.lastVerb,
                                                       dialogue_.lastReplyCode}));
            break;
        }
        const bool dropped =
            !from || connectionDropped(lastCode_, dialogue_.lastReplyCode, dialogue_.lastVerb);
        const auto pause = retry.pauseBefore(++attempt);
        if (!pause || aborted_ || readFailed_ || !partStored || !dropped)
            break;
        qCInfo(lcFtp) << "connection dropped; attempt" << attempt << "of" << retry.attempts()
                      << "in" << pause->count() << "ms";
        observer_.onStatus(retryNotice(attempt, retry.attempts(), *pause));
        if (!UploadRetry::wait(*pause, [this] { return interruptible(); })) {
            fail(result, wininet::OperationCancelled);
            break;
        }
    }
    // The caller removes the part file when any attempt began it.
    dialogue_.storSent = partStored;
    return false;
}

bool FtpPutSession::resumedToFullSize(CURL* curl, const QString& partName) {
    // A server that answers REST and then writes from the start (or from anywhere else)
    // leaves a file of the wrong size: caught here, while the upload can still send it
    // anew, not only by the final size check.
    if (dialogue_.remoteSize < 0) {
        const RemoteFile stored = probe(curl, partName, true);
        if (stored.kind == RemoteFile::Kind::Present && stored.size >= 0)
            dialogue_.remoteSize = stored.size;
    }
    return dialogue_.remoteSize < 0 || dialogue_.remoteSize == localSize_;
}

bool FtpPutSession::refusedConnection() const {
    return certificates_.refusal() != CertificateRefusal::None || lastCode_ == CURLE_LOGIN_DENIED ||
           lastCode_ == CURLE_USE_SSL_FAILED;
}

std::optional<qint64> FtpPutSession::resumeOffset(CURL* curl, const QString& partName,
                                                  qint64 limit) {
    // REST 0 asks whether the server restarts transfers at all, as FileZilla asks; one that
    // cannot gets the file anew. Both are answered in binary mode only. A size beyond what
    // this upload sent (`limit`), or a negative one, is no part of it: continuing there
    // would leave a gap the server fills with zeros, so the file goes out anew.
    std::optional<qint64> offset;
    dialogue_.greeted = false;
    whenReconnected(curl, [&] {
        if (!runCommands(curl, {QStringLiteral("TYPE I"), QStringLiteral("*SIZE ") + partName,
                                QStringLiteral("*REST 0")}))
            return false;
        const FtpReply size = dialogue_.replies["SIZE"];
        bool numeric = false;
        const qint64 held = size.text.mid(4).trimmed().toLongLong(&numeric);
        offset = 0;
        if (dialogue_.replies["REST"].code != 350 || size.code != 213) {
            qCInfo(lcFtp) << "the server cannot resume; the file goes out anew";
            return true;
        }
        if (!numeric || held < 0 || held > limit) {
            qCWarning(lcFtp) << "the server names" << size.text.mid(4).trimmed()
                             << "bytes of the part file, this upload can continue only up to"
                             << limit << ": the file goes out anew";
            return true;
        }
        if (held == 0)
            return true;
        switch (readBackTail(curl, partName, held)) {
        case Tail::Broken:
            offset.reset(); // one more dropped line
            return false;
        case Tail::Differs:
            qCWarning(lcFtp) << "the part file does not end in this upload's bytes before byte"
                             << held << ": the file goes out anew";
            return true;
        case Tail::Unreadable:
            qCInfo(lcFtp) << "the server does not let the part file be read back; taking its"
                          << "size of" << held << "bytes";
            break;
        case Tail::Same:
            break;
        }
        offset = held;
        return true;
    });
    return offset;
}

FtpPutSession::Tail FtpPutSession::readBackTail(CURL* curl, const QString& partName, qint64 held) {
    // Even a size within what this upload sent may count bytes the server never wrote (a
    // size taken before the data reached the disk): the bytes before the point to continue
    // from must be the archive's own, or the shop would get a file with a gap in it.
    const qint64 length = std::min(held, kTailCheckBytes);
    QByteArray expected(length, Qt::Uninitialized);
    if (!file_ || ::pread(fileno(file_), expected.data(), size_t(length), off_t(held - length)) !=
                      ssize_t(length)) {
        qCWarning(lcFtp) << "cannot read the file to upload" << request_.localPath;
        return Tail::Differs;
    }
    const QByteArray url = uploadUrl(request_.server, request_.directory, partName);
    const QByteArray range = QByteArray::number(held - length) + '-' + QByteArray::number(held - 1);
    listing_.clear();
    dialogue_.replies.clear();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.constData());
    const CURLcode code = curl_easy_perform(curl);
    lastCode_ = code;
    curl_easy_setopt(curl, CURLOPT_RANGE, nullptr);
    const int retr = dialogue_.replies["RETR"].code;
    const QByteArray got = std::exchange(listing_, QByteArray());
    if (code == CURLE_OK)
        return got == expected ? Tail::Same : Tail::Differs;
    // A drop box whose account may not download (550) cannot show its bytes; any other
    // refusal (554: no such position) says the file is not as the server claimed.
    if (retr == 550)
        return Tail::Unreadable;
    if (retr >= 400)
        return Tail::Differs;
    qCInfo(lcFtp) << "reading back the end of" << partName << "failed:" << curl_easy_strerror(code);
    return Tail::Broken;
}

bool FtpPutSession::putOneFile(CURL* curl, std::FILE* file, const QString& remoteName,
                               FtpUploadResult& result, qint64 offset) {
    file_ = file;
    readFailed_ = false;
    resumedAt_ = offset;
    dialogue_.storSent = false;
    dialogue_.storConfirmed = false;
    dialogue_.remoteSize = -1;
    if (std::fseek(file, long(offset), SEEK_SET) != 0) {
        qCWarning(lcFtp) << "cannot seek in the file to upload" << request_.localPath;
        readFailed_ = true;
        fail(result, wininet::FileNotFound);
        return false;
    }
    const QByteArray url = uploadUrl(request_.server, request_.directory, remoteName);
    curl_slist* postQuote =
        curl_slist_append(nullptr, ("*SIZE " + remoteName.toUtf8()).constData());
    // REST right before STOR: the server keeps what it holds and writes on from there.
    curl_slist* preQuote =
        offset > 0 ? curl_slist_append(nullptr, "REST " + QByteArray::number(offset)) : nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, preQuote);
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, postQuote);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(localSize_ - offset));

    const CURLcode code = curl_easy_perform(curl);
    lastCode_ = code;
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, nullptr);
    curl_slist_free_all(preQuote);
    curl_slist_free_all(postQuote);
    curl_off_t sent = 0;
    curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &sent);
    totalSent_ += sent;
    result.bytesSent = totalSent_;
    result.connected = dialogue_.loggedIn;
    result.serverLastReply = dialogue_.lastReply;
    result.remoteSize = dialogue_.remoteSize;
    transferring_ = false;

    if (code != CURLE_OK || readFailed_ || aborted_) {
        qCInfo(lcFtp) << "upload failed:" << curl_easy_strerror(code);
        FtpFailure failure{code, aborted_.load(), dialogue_.lastVerb, dialogue_.lastReplyCode};
        tlsRefused_ = code == CURLE_USE_SSL_FAILED;
        fail(result, readFailed_ && !aborted_ ? wininet::FileNotFound : wininetCodeFor(failure));
        return false;
    }
    return true;
}

bool FtpPutSession::confirmStoredSize(CURL* curl, const QString& remoteName,
                                      FtpUploadResult& result) {
    // The server's 226 alone does not prove that every byte arrived: a server that lost
    // the end of the data would confirm just the same. The size it names must match, by
    // SIZE, else by MLST, else by a listing; only a server that can tell by none of them
    // is taken at its word.
    if (dialogue_.storConfirmed && dialogue_.remoteSize < 0) {
        shielded_ = true;
        const RemoteFile stored = probe(curl, remoteName, false);
        shielded_ = false;
        if (stored.kind == RemoteFile::Kind::Absent)
            dialogue_.remoteSize = 0;
        else if (stored.kind == RemoteFile::Kind::Present)
            dialogue_.remoteSize = stored.size;
        else
            qCWarning(lcFtp) << "the server cannot tell the size of" << remoteName
                             << "; taking its confirmation";
        result.remoteSize = dialogue_.remoteSize;
    }
    const bool sizeMatches = dialogue_.remoteSize < 0 || dialogue_.remoteSize == localSize_;
    if (dialogue_.storConfirmed && sizeMatches)
        return true;
    qCWarning(lcFtp) << "server holds" << dialogue_.remoteSize << "of" << localSize_ << "bytes";
    observer_.onStatus(QStringLiteral("Remote file size %1 Byte differs from local size "
                                      "%2 Byte")
                           .arg(dialogue_.remoteSize)
                           .arg(localSize_));
    fail(result, wininet::ConnectionAborted);
    return false;
}

FtpPutSession::Publish FtpPutSession::publishAcrossDrops(CURL* curl, const QString& partName,
                                                         const QString& wanted,
                                                         QString& finalName) {
    // The file is complete and confirmed; a line that drops while it gets its name costs
    // a reconnect, with the same pauses as a drop during the upload, not the upload.
    const UploadRetry retry(request_.retryPauses);
    Publish published = publish(curl, partName, wanted, finalName);
    for (int attempt = 1; published == Publish::LineDropped && !refusedConnection();) {
        const auto pause = retry.pauseBefore(++attempt);
        if (!pause || aborted_)
            break;
        qCInfo(lcFtp) << "connection dropped while renaming; attempt" << attempt << "of"
                      << retry.attempts() << "in" << pause->count() << "ms";
        observer_.onStatus(retryNotice(attempt, retry.attempts(), *pause));
        if (!UploadRetry::wait(*pause, [this] { return aborted_.load(); }))
            break;
        // One fresh connection, which the rename's commands then share.
        if (whenReconnected(curl, [&] { return runCommands(curl, {}); }))
            published = publish(curl, partName, wanted, finalName);
    }
    return published;
}

FtpPutSession::Publish FtpPutSession::publish(CURL* curl, const QString& partName,
                                              const QString& wanted, QString& finalName) {
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = n == 1 ? wanted : numberedRemoteName(wanted, n);
        const Claim claim = claimName(curl, candidate);
        if (claim == Claim::Broken)
            return Publish::LineDropped;
        if (claim == Claim::Taken)
            continue;
        bool taken = false;
        const Publish outcome = renameTo(curl, partName, candidate, taken);
        if (claim == Claim::Held)
            releaseName(curl, candidate);
        if (taken)
            continue;
        if (outcome == Publish::Done && claim == Claim::NotHeld) {
            // Unheld, another upload may have renamed onto the name in the same moment and
            // replaced this file: a name that does not hold this file's size is no delivery.
            const RemoteFile stored = probe(curl, candidate, true);
            if (stored.kind == RemoteFile::Kind::Present && stored.size >= 0 &&
                stored.size != localSize_) {
                qCWarning(lcFtp) << candidate << "holds" << stored.size << "bytes, not the"
                                 << localSize_ << "of this upload: another upload replaced it";
                return Publish::Failed;
            }
        }
        if (outcome == Publish::Done)
            finalName = candidate;
        return outcome;
    }
    qCWarning(lcFtp) << "no free name for" << wanted;
    return Publish::Failed;
}

FtpPutSession::Claim FtpPutSession::claimName(CURL* curl, const QString& name) {
    // Looking and renaming are two steps, and a server may replace a file on rename: two
    // uploads that look at once would both take the name. Creating a folder is atomic on
    // every server, so the upload that creates "<name>.lock" holds the name until it
    // removes it again. A server that lets nobody create folders leaves looking alone.
    const QString lock = name + kClaimSuffix;
    if (name == ownStaleClaim_)
        return Claim::Held; // this upload's own, which the server would not let it remove
    // A refused MKD with no lock there may only mean that another upload released it in
    // between: try again before taking the server for one that lets nobody create folders.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (runCommands(curl, {QStringLiteral("MKD ") + lock}))
            return Claim::Held;
        if (dialogue_.replies["MKD"].code == 0)
            return Claim::Broken;
        if (probe(curl, lock, false).kind == RemoteFile::Kind::Present)
            return Claim::Taken;
    }
    return Claim::NotHeld;
}

void FtpPutSession::releaseName(CURL* curl, const QString& name) {
    if (runCommands(curl, {QStringLiteral("RMD ") + name + kClaimSuffix})) {
        if (name == ownStaleClaim_)
            ownStaleClaim_.clear();
        return;
    }
    qCWarning(lcFtp) << "could not remove the claim on" << name << ":" << dialogue_.lastReply;
    ownStaleClaim_ = name;
}

FtpPutSession::Publish FtpPutSession::renameTo(CURL* curl, const QString& partName,
                                               const QString& name, bool& taken) {
    taken = probe(curl, name, true).kind == RemoteFile::Kind::Present;
    if (taken)
        return Publish::Failed;
    if (runCommands(curl, {QStringLiteral("RNFR ") + partName, QStringLiteral("RNTO ") + name}))
        return Publish::Done;
    const FtpReply rnfr = dialogue_.replies["RNFR"];
    if (rnfr.code == 350 && dialogue_.replies["RNTO"].code == 0) {
        // The connection broke after RNTO went out: the server may well have renamed
        // before it vanished. Whole under the name and no part file left means delivered;
        // reporting a failure would make the worker send the job a second time.
        const bool renamed = whenReconnected(curl, [&] {
            const RemoteFile stored = probe(curl, name, true);
            return stored.kind == RemoteFile::Kind::Present && stored.size == localSize_ &&
                   probe(curl, partName, true).kind == RemoteFile::Kind::Absent;
        });
        if (renamed)
            qCInfo(lcFtp) << "the server renamed" << partName << "to" << name
                          << "before the connection broke";
        // Not renamed: the complete part file is still there to be renamed anew.
        return renamed ? Publish::Done : Publish::LineDropped;
    }
    if (rnfr.code == 0)
        return Publish::LineDropped;
    if (rnfr.code != 350)
        return Publish::RenameRefused;
    // A server that does not replace files refuses a name another upload took since we
    // looked; any other refusal is the rename's.
    taken = probe(curl, name, true).kind == RemoteFile::Kind::Present;
    return Publish::RenameRefused;
}

FtpPutSession::RemoteFile FtpPutSession::probe(CURL* curl, const QString& remoteName,
                                               bool askSize) {
    QStringList commands;
    if (askSize)
        commands << QStringLiteral("*SIZE ") + remoteName;
    commands << QStringLiteral("*MLST ") + remoteName;
    if (!runCommands(curl, commands))
        return {};
    RemoteFile file;
    const FtpReply size = dialogue_.replies["SIZE"];
    const FtpReply mlst = dialogue_.replies["MLST"];
    if (askSize && size.code == 213) {
        file.kind = RemoteFile::Kind::Present;
        file.size = size.text.mid(4).trimmed().toLongLong();
        return file;
    }
    if (mlst.code == 250) {
        static const QRegularExpression sizeFact(QStringLiteral("(?:^|[ ;])size=(\\d+);"),
                                                 QRegularExpression::CaseInsensitiveOption);
        file.kind = RemoteFile::Kind::Present;
        if (const auto m = sizeFact.match(mlst.text); m.hasMatch()) {
            file.size = m.captured(1).toLongLong();
            return file;
        }
        // Facts without a size: a listing may still tell how large the file is.
        if (const RemoteFile listed = fromListing(curl, remoteName);
            listed.kind == RemoteFile::Kind::Present)
            return listed;
        return file;
    }
    if (mlst.code == 550 || mlst.code == 450)
        file.kind = RemoteFile::Kind::Absent;
    if (file.kind == RemoteFile::Kind::Unknown)
        return fromListing(curl, remoteName);
    return file;
}

FtpPutSession::RemoteFile FtpPutSession::fromListing(CURL* curl, const QString& remoteName) {
    const QByteArray folderUrl = uploadUrl(request_.server, request_.directory, QString());
    listing_.clear();
    curl_easy_setopt(curl, CURLOPT_URL, folderUrl.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    const CURLcode code = curl_easy_perform(curl);
    RemoteFile file;
    if (code != CURLE_OK) {
        qCWarning(lcFtp) << "cannot list the upload folder:" << curl_easy_strerror(code);
        return file;
    }
    file.kind = RemoteFile::Kind::Absent;
    for (QByteArray line : listing_.split('\n')) {
        const QString text = QString::fromUtf8(line.trimmed());
        if (text == remoteName || text.endsWith(QLatin1Char(' ') + remoteName)) {
            file.kind = RemoteFile::Kind::Present;
            file.size = listedSize(text, remoteName);
            break;
        }
    }
    listing_.clear();
    return file;
}

bool FtpPutSession::runCommands(CURL* curl, const QStringList& commands) {
    curl_slist* list = nullptr;
    for (const QString& c : commands)
        list = curl_slist_append(list, c.toUtf8().constData());
    dialogue_.replies.clear();
    const QByteArray folderUrl = uploadUrl(request_.server, request_.directory, QString());
    curl_easy_setopt(curl, CURLOPT_URL, folderUrl.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_QUOTE, list);
    const CURLcode code = curl_easy_perform(curl);
    lastCode_ = code;
    curl_easy_setopt(curl, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_slist_free_all(list);
    if (code != CURLE_OK && code != CURLE_QUOTE_ERROR)
        qCWarning(lcFtp) << "commands" << commands << "failed:" << curl_easy_strerror(code);
    return code == CURLE_OK;
}

bool FtpPutSession::removeRemote(CURL* curl, const QString& remoteName) {
    // A partial or damaged file must not wait at the shop for someone to pick it up while
    // the job stays in the window to be sent again. A connection that broke is opened
    // anew; an abort does not stop this, and it is quick or gives up soon.
    shielded_ = true;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                     std::min<long>(request_.connectTimeoutSeconds, kCleanupTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     std::min<long>(request_.responseTimeoutSeconds, kCleanupTimeoutSeconds));
    const QStringList dele{QStringLiteral("DELE ") + remoteName};
    bool removed = runCommands(curl, dele);
    if (!removed && dialogue_.replies["DELE"].code == 0) {
        // No answer at all: the connection died with the upload (both connections dropped
        // at the last byte), and libcurl may not notice before it writes. Try once anew.
        removed = whenReconnected(curl, [&] { return runCommands(curl, dele); });
    }
    shielded_ = false;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(request_.connectTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(request_.responseTimeoutSeconds));
    if (removed)
        qCInfo(lcFtp) << "removed the incomplete copy of" << remoteName << "from the server";
    else
        qCWarning(lcFtp) << "could not remove the incomplete copy of" << remoteName << ":"
                         << dialogue_.lastReply;
    return removed;
}

void FtpPutSession::dropPartNote() {
    if (!request_.partNoteFile.isEmpty() && QFile::exists(request_.partNoteFile) &&
        !QFile::remove(request_.partNoteFile))
        qCWarning(lcFtp) << "cannot remove the part note" << request_.partNoteFile;
}

void FtpPutSession::fail(FtpUploadResult& result, int code) {
    result.delivered = false;
    result.errorCode = code;
    result.errorText = internetErrorText(code, dialogue_.lastReply);
    if (certificates_.refusal() != CertificateRefusal::None) {
        result.certificateRefusal = certificates_.refusal();
        result.certificate = certificates_.lastSeen();
        result.errorText = certificates_.refusalText(hostPart(request_.server));
    } else if (tlsRefused_) {
        result.errorText = QStringLiteral("Der Server %1 bietet keine verschlüsselte Verbindung "
                                          "(TLS) an; eingestellt ist „immer (TLS erforderlich)“. "
                                          "Die Übertragung wurde nicht begonnen.")
                               .arg(hostPart(request_.server));
    }
    observer_.onStatus(result.errorText);
}

size_t FtpPutSession::readFile(char* buffer, size_t length) {
    if (interruptible())
        return CURL_READFUNC_ABORT;
    const size_t got = std::fread(buffer, 1, length, file_);
    if (got < length && std::ferror(file_)) {
        qCWarning(lcFtp) << "reading the file to upload failed" << request_.localPath;
        readFailed_ = true;
        return CURL_READFUNC_ABORT;
    }
    return got;
}

size_t FtpPutSession::listed(const char* data, size_t length) {
    listing_.append(data, qsizetype(length));
    return length;
}

bool FtpPutSession::progressed(curl_off_t uploaded) {
    if (interruptible())
        return false;
    if (!transferring_)
        return true;
    const auto now = RateMeter::Clock::now();
    if (now - lastReport_ >= reportInterval) {
        lastReport_ = now;
        observer_.onProgress(meter_.sample(resumedAt_ + uploaded, now));
    }
    return true;
}

void FtpPutSession::traced(curl_infotype type, const char* data, size_t size) {
    if (type == CURLINFO_HEADER_OUT) {
        // Only the first line: a proxy request carries its credentials further down.
        const QByteArray command = QByteArray(data, qsizetype(size)).split('\r').value(0);
        dialogue_.lastVerb = command.split(' ').value(0).toUpper();
        if (dialogue_.lastVerb != "PASS")
            qCDebug(lcFtp) << ">" << command;
        if ((dialogue_.lastVerb == "EPSV" || dialogue_.lastVerb == "PASV") &&
            !dialogue_.handleCreated) {
            dialogue_.handleCreated = true;
            status(int(FtpStatus::HandleCreated), QString::number(nextHandleNumber++));
        }
        if (dialogue_.lastVerb == "STOR") {
            dialogue_.storSent = true;
            // A resumed attempt continues the bar and the elapsed time where they stood.
            if (resumedAt_ == 0)
                meter_.start(localSize_);
            transferring_ = true;
        }
        return;
    }
    if (type != CURLINFO_HEADER_IN)
        return;
    for (const QByteArray& line : QByteArray(data, qsizetype(size)).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        qCDebug(lcFtp) << "<" << trimmed;
        if (const auto reply = replies_.feed(line.endsWith('\r') ? line.chopped(1) : line))
            replyComplete(reply->code, reply->text);
    }
}

void FtpPutSession::replyComplete(int code, const QString& text) {
    dialogue_.lastReply = text;
    dialogue_.lastReplyCode = code;
    const QByteArray& verb = dialogue_.lastVerb;
    dialogue_.replies[verb] = FtpReply{code, text};
    if (!dialogue_.greeted) {
        dialogue_.greeted = true;
        status(int(FtpStatus::ConnectedToServer), dialogue_.controlPeer);
        return;
    }
    if ((verb == "USER" || verb == "PASS") && (code == 230 || code == 202) && !dialogue_.loggedIn) {
        dialogue_.loggedIn = true;
        observer_.onTransferStarted(localSize_, uploadBarMessage(request_.localPath));
    } else if (verb == "STOR" && (code == 125 || code == 150)) {
        status(int(FtpStatus::ConnectedToServer), dialogue_.dataPeer);
    } else if (verb == "STOR" && (code == 226 || code == 250)) {
        dialogue_.storConfirmed = true;
    } else if (verb == "SIZE" && code == 213) {
        bool numeric = false;
        const qint64 size = text.mid(4).trimmed().toLongLong(&numeric);
        dialogue_.remoteSize = numeric ? size : -1;
    }
}

curl_socket_t FtpPutSession::openSocket(curl_sockaddr* address) {
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0) {
        qCWarning(lcFtp) << "cannot create a socket:" << std::strerror(errno);
        return CURL_SOCKET_BAD;
    }
    const QString peer = peerAddress(address);
    {
        const std::lock_guard lock(socketsMutex_);
        if (interruptible()) {
            ::close(fd);
            return CURL_SOCKET_BAD;
        }
        sockets_.emplace(fd, peer);
    }
    if (socketsOpened_++ == 0) {
        dialogue_.controlPeer = peer;
        if (resolving_)
            status(int(FtpStatus::NameResolved), peer);
    } else {
        dialogue_.dataPeer = peer;
    }
    status(int(FtpStatus::ConnectingToServer), peer);
    return fd;
}

void FtpPutSession::closeSocket(curl_socket_t fd) {
    status(int(FtpStatus::ClosingConnection));
    {
        const std::lock_guard lock(socketsMutex_);
        sockets_.erase(fd);
        ::close(fd);
    }
    status(int(FtpStatus::ConnectionClosed));
}

} // namespace kestro::transfer
