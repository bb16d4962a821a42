#pragma once

#include "client/history/historystore.h"

#include <QList>
#include <QString>
#include <optional>

namespace kestro::history {

// What a step asks the window to show. A box value set means the seventeen boxes change;
// `files` set means the file list is emptied and refilled. A step that does nothing leaves
// both unset. `error` (the engine's text) tells the worker that the database failed.
struct BrowserView {
    std::optional<StoredJob> job;
    std::optional<QList<compose::FileRow>> files;
    QString error;
};

// The job history browser's state and its walk through the job numbers: one job at a time,
// jumping over the gaps that deleted jobs leave, in the direction of the last step.
//
// A number without a job is walked over: after a step back down to job number -1 at the
// lowest, after a step forward (or a first show) up to one above the highest number seen
// at opening. Where the walk finds no job it stops there: the boxes keep the job shown
// last, the file list shows the files of the number it stopped at (normally none), and the
// next step starts from that number. The highest number is read once, when the browser
// opens; jobs sent later lie beyond the forward step.
class HistoryBrowser {
public:
    enum class Direction { None, Back, Forward };

    explicit HistoryBrowser(const HistoryStore& store) : store_(store) {}

    // Opens on the newest job; with no job at all, the current number is 1 and nothing is
    // shown.
    BrowserView open();
    // One job back; nothing when the current number is 1 or below.
    BrowserView stepBack();
    // One job forward; nothing when the current number is the highest or above.
    BrowserView stepForward();
    // Makes `number` the current one and shows it (or walks on from it over a gap).
    BrowserView show(qint32 number);

    // What the delete of the shown job came to.
    enum class DeleteStep {
        Failed,      // the database refused: nothing was deleted, `error` says why
        CloseWindow, // no such job row, or the job had no files: the window closes
        ShowNext,    // deleted: the next higher job is shown (nothing moves at the highest)
    };
    struct DeleteResult {
        DeleteStep step = DeleteStep::Failed;
        BrowserView view;
        QString error;
    };
    // Deletes the job whose number the boxes show (the text of the number box) with all
    // its file rows, in one transaction.
    DeleteResult deleteShown(const QString& shownJobNumber);

    qint32 current() const { return current_; }
    // True when the number the browser stands at holds a job, so that its boxes and file
    // list belong together; false with an empty history and where a walk found no job.
    bool showsJob() const { return showsJob_; }
    qint32 highest() const { return highest_; }
    Direction direction() const { return direction_; }

private:
    BrowserView walkFrom(qint32 number);

    const HistoryStore& store_;
    qint32 current_ = 1;
    qint32 highest_ = 0;
    Direction direction_ = Direction::None;
    bool showsJob_ = false;
};

} // namespace kestro::history
