#pragma once

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QString>

// Diagnostics of a send: its steps, its work folder, what it leaves behind.
Q_DECLARE_LOGGING_CATEGORY(lcSend)

namespace kestro::transfer {

// A folder of one send's own inside the client data folder ("Senden-XXXXXX"), holding
// that send's job sheet and archive. Two sends at once on one workstation (the window and
// kestro-send, or two scripts) each write into their own folder, so neither replaces the
// other's job sheet or archive.
//
// The folder is locked (flock) for as long as this object lives; the kernel drops the
// lock when the process dies, so removeSendLeftovers() can tell a folder left by a killed
// send from one a running send still uses. A mark file written first tells the folder
// from one the worker named alike. The destructor removes the folder.
class SendWorkFolder {
public:
    SendWorkFolder() = default;
    ~SendWorkFolder();
    SendWorkFolder(const SendWorkFolder&) = delete;
    SendWorkFolder& operator=(const SendWorkFolder&) = delete;

    // Makes and locks a new folder below `clientDataFolder`, after removing one held
    // before; false with `error` (German) when it cannot be made.
    bool create(const QString& clientDataFolder, QString* error);
    // Removes the folder and everything in it; harmless when there is none.
    void remove();
    // Lets go of the folder without removing it: unlocked, the next send takes it for a
    // killed send's, removes it, and removes the part file its note names.
    void leaveToNextSend();
    bool isValid() const { return fd_ >= 0; }
    QString path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};

// Removes what sends that were killed while packing or uploading left in the client data
// folder: work folders ("Senden-XXXXXX", real folders of this user holding the mark a send
// writes first) that no living send holds. Links are never followed, and nothing else in
// the folder is touched. Returns how many were removed; every failure is logged.
// The notes (kPartNoteName) the removed folders held are added to `partNotes`.
int removeSendLeftovers(const QString& clientDataFolder, QList<QByteArray>* partNotes = nullptr);

// The file in a work folder that names the part file the send's upload travels under.
inline constexpr const char* kPartNoteName = "Teildatei.txt";

} // namespace kestro::transfer
