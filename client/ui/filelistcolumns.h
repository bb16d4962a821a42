#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>

class QAbstractItemModel;
class QTreeView;
class QWidget;

namespace kestro::ui {

// Keeps the columns of a file list (the job's file rows) fitted to what they show: each
// value column as wide as its heading, its widest visible cell and the widest of the
// choices (what the worker may still pick for it); the file name takes the spare width, so
// that the header reaches the list's right edge. Value columns are capped so the file name
// keeps a readable share of the width; a capped value is elided, its tool tip holds it
// whole.
//
// The list's model changes in bursts (Anwenden changes every selected row, one signal a
// row), so a change only asks for a fit, and one fit answers all the asks of one
// event-loop turn; a resize or show of the list fits at once.
class FileListColumnFitter : public QObject {
    Q_OBJECT
public:
    // The choices per column, asked for at every fit.
    using ChoicesSource = std::function<std::map<int, QStringList>()>;

    explicit FileListColumnFitter(QTreeView* list, ChoicesSource choices = {});

    // Fits once the current event-loop turn is done, however often it is asked meanwhile.
    void scheduleFit();
    void fitNow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeView* list_;
    ChoicesSource choices_;
    bool pending_ = false;
};

// The share of the list's width the file name keeps when the values are long.
inline constexpr double fileNameShare = 0.4;

// The widths that fit `wanted` into `room` by cutting the widest first: every width above
// a common cap is lowered to it. Widths that already fit are returned as they are.
std::map<int, int> capWidths(const std::map<int, int>& wanted, int room);

// A flat list of files in rows, as both file lists show them (the job's files, the file
// window's folder): named "ListView1", whole rows selected, several at once, nothing
// edited in place, no tree decoration, the last column not stretched.
QTreeView* newFileListView(QAbstractItemModel* model, QWidget* parent);

} // namespace kestro::ui
