#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// The option record, the user-functions record and the result codes of our zip32-style
// library (ZipLibrary). The record keeps the field order of the zip32 interface that the
// client was written against, so the client's property mapping reads the same; texts are
// bytes in the system code page, which on Linux is UTF-8 (file names on disk are UTF-8
// bytes, and a Windows-1252 detour would lose every name outside that code page).
namespace kestro::zip {

struct ZpOptions {
    QByteArray dateText; // mmddyyyy, used by the two date filters
    QByteArray rootDir;  // folder that relative specifications and entry names start from
    QByteArray tempDir;
    qint32 useTempDir = 0;
    qint32 suffixes = 0;
    qint32 encrypt = 0;
    qint32 includeSystemAndHidden = 0;
    qint32 volumeLabel = 0;
    qint32 excludeExtraAttributes = 0;
    qint32 noDirectoryEntries = 0;
    qint32 excludeByDate = 0; // only files older than dateText
    qint32 includeByDate = 0; // only files from dateText on
    qint32 verbose = 0;
    qint32 quiet = 0;
    qint32 crlfToLf = 0;
    qint32 lfToCrlf = 0;
    qint32 junkDirectoryNames = 0;
    qint32 grow = 0;
    qint32 forceDosNames = 0;
    qint32 move = 0;
    qint32 deleteEntries = 0;
    qint32 update = 0;
    qint32 freshen = 0;
    qint32 junkSfxPrefix = 0;
    qint32 latestTime = 0;
    qint32 comment = 0;
    qint32 offsets = 0;
    qint32 privileges = 0;
    qint32 encryptionSupported = 0;
    qint32 recurse = 0; // 1 or 2: descend into folders
    qint32 repair = 0;
    char level = 0; // 0 = the library default (5); 1..9 or the digits '0'..'9'
    // Our addition: 1 takes every specification as the name of one file or folder, so
    // that "[", "?" and "*" in a file name are never read as a pattern.
    qint32 literalNames = 0;

    bool operator==(const ZpOptions&) const = default;
};

// The names record of one ZpArchive run: slots 0..count-1 hold the specifications.
// ZipLibrary::ZpArchiveList takes a run without that limit.
inline constexpr int kNameSlots = 1024;
inline constexpr int kMaxSpecsPerRun = kNameSlots - 2;

// Callbacks the caller gives the library. They run on the thread that called ZpArchive.
struct ZpUserFunctions {
    // A progress message ("  adding: plan.pdf (deflated 42%)").
    std::function<void(const QByteArray& message)> print;
    // Asked once per run when the comment field is set; nullopt cancels the run.
    std::function<std::optional<QByteArray>()> comment;
    // Asked once per run when the encrypt field is set; nullopt cancels the run.
    std::function<std::optional<QByteArray>()> password;
    // Told the name and size of each entry as its packing starts; true cancels the run.
    std::function<bool(const QByteArray& entryName, quint64 size)> service;
    // Our addition: bytes of file data packed so far and in total, for a progress bar.
    std::function<void(quint64 done, quint64 total)> bytes;
};

// Result codes, with the values Info-ZIP's zip documents for its exit codes.
enum ZpResult : qint32 {
    ZE_OK = 0,
    ZE_FORM = 3, // the existing archive is damaged
    ZE_MEM = 4,
    ZE_LOGIC = 5,
    ZE_ABORT = 9, // cancelled or aborted; no archive was written
    ZE_TEMP = 10,
    ZE_READ = 11, // a file could not be read completely or changed while it was packed
    ZE_NONE = 12, // nothing to do
    ZE_NAME = 13, // a specification matched no file
    ZE_WRITE = 14,
    ZE_CREAT = 15,
    ZE_PARMS = 16, // bad parameters (too many specifications, unsupported option)
    ZE_OPEN = 18,  // a file could not be opened
};

// What became of one file of a run.
struct ZpEntryReport {
    QString sourcePath; // file on disk (empty for a file spec that matched nothing)
    QString spec;       // the file spec it came from
    QString entryName;  // name in the archive
    bool packed = false;
    QString problem; // why not, in words (empty when packed)
};

} // namespace kestro::zip
