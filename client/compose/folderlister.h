#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

namespace kestro::compose {

// The order of names in a file manager: letters without regard to case or accents ("Ä"
// beside "A"), runs of digits by their value ("Plan 2" before "Plan 10"). The system's
// collation is not used: without a locale library it sorts by code point.
bool fileNameLess(const QString& a, const QString& b);

// One plain file of a folder, as the file window lists it.
struct ListedFile {
    QString name;
    qint64 size = 0;
};

// Lists the plain files of a folder with their sizes on a worker thread and hands them
// over in batches, so that the window stays responsive for folders with tens of thousands
// of files. Files come sorted by name as a file manager lists them; hidden files (names
// beginning with ".") are left out, as a file list box leaves them out. A file whose size
// cannot be read ends the listing there: what came before it stays, as the window always
// did. Starting a new listing drops whatever the previous one had not delivered yet.
class FolderLister : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Complete, FolderMissing, StoppedAtUnreadableFile };
    Q_ENUM(Outcome)

    explicit FolderLister(QObject* parent = nullptr);
    ~FolderLister() override;

    // Starts listing `folder`; batchReady and then finished follow on this object's thread.
    void list(const QString& folder);
    // Stops the running listing; nothing more is delivered for it.
    void cancel();
    bool isRunning() const;

Q_SIGNALS:
    void batchReady(const QList<kestro::compose::ListedFile>& files);
    // `detail` names the file at which the listing stopped, or the missing folder.
    void finished(kestro::compose::FolderLister::Outcome outcome, const QString& detail);

private:
    void stopWorker();

    std::unique_ptr<QThread> worker_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    quint64 generation_ = 0;
};

} // namespace kestro::compose

Q_DECLARE_METATYPE(kestro::compose::ListedFile)
