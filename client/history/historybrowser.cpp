#include "client/history/historybrowser.h"

#include <limits>

namespace kestro::history {

BrowserView HistoryBrowser::open() {
    current_ = 1;
    highest_ = 0;
    direction_ = Direction::None;
    showsJob_ = false;
    const auto highest = store_.highestJobNumber();
    if (!highest.ok())
        return {std::nullopt, std::nullopt, highest.error};
    if (!highest.value)
        return {};
    highest_ = *highest.value;
    return show(highest_);
}

BrowserView HistoryBrowser::stepBack() {
    if (current_ <= 1)
        return {};
    direction_ = Direction::Back;
    return show(current_ - 1);
}

BrowserView HistoryBrowser::stepForward() {
    if (current_ >= highest_)
        return {};
    direction_ = Direction::Forward;
    return show(current_ + 1);
}

BrowserView HistoryBrowser::show(qint32 number) {
    current_ = number;
    return walkFrom(number);
}

// Walks from `number` one by one towards -1 (after a step back) or towards one above the
// highest number (otherwise), each number looked at once, to the first that has a job. The
// range is asked for in one query, so a gap of thousands costs no more than one of one.
BrowserView HistoryBrowser::walkFrom(qint32 number) {
    const bool back = direction_ == Direction::Back;
    qint32 end = -1;
    if (!back)
        end = highest_ < std::numeric_limits<qint32>::max() ? highest_ + 1 : highest_;
    showsJob_ = false;
    BrowserView view;
    // The number itself is always looked at, even beyond the end of the walk.
    const auto at = store_.job(number);
    if (!at.ok())
        return {std::nullopt, std::nullopt, at.error};
    view.job = at.value;
    if (!view.job && (back ? number > end : number < end)) {
        const auto nearest = store_.nearestJobNumber(back ? number - 1 : number + 1, end);
        if (!nearest.ok())
            return {std::nullopt, std::nullopt, nearest.error};
        // Where no job lies on the way, the walk stops at its end.
        current_ = nearest.value.value_or(end);
        if (nearest.value) {
            const auto job = store_.job(current_);
            if (!job.ok())
                return {std::nullopt, std::nullopt, job.error};
            view.job = job.value;
        }
    }
    const auto files = store_.files(current_);
    if (!files.ok())
        return {view.job, std::nullopt, files.error};
    view.files = files.value;
    showsJob_ = view.job.has_value();
    return view;
}

HistoryBrowser::DeleteResult HistoryBrowser::deleteShown(const QString& shownJobNumber) {
    DeleteResult result;
    bool numeric = false;
    const qint32 number = shownJobNumber.trimmed().toInt(&numeric);
    if (!numeric) {
        result.step = DeleteStep::CloseWindow; // no job is shown: nothing to delete
        return result;
    }
    const DeleteOutcome deleted = store_.deleteJob(number);
    if (!deleted.ok()) {
        result.error = deleted.error;
        return result;
    }
    if (!deleted.jobFound || deleted.filesDeleted == 0) {
        result.step = DeleteStep::CloseWindow;
        return result;
    }
    result.step = DeleteStep::ShowNext;
    result.view = stepForward();
    result.error = result.view.error;
    return result;
}

} // namespace kestro::history
