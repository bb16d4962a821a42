#pragma once

#include "client/compose/jobsnapshot.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

namespace kestro::compose {

// The per-file settings the worker picks once and applies to the selected rows.
struct FileSettings {
    QString copies;
    QString color;
    QString step1;
    QString step2;
    QString step3;
};

// A file about to become a row: its name as listed and its full path.
struct NewFile {
    QString fileName;
    QString fullPath;
};

// The job's files, one row each, with the full path kept in the row itself so that the
// shown cells and the path can never drift apart. Cells are plain texts exactly as chosen;
// a row's number is fixed when the row is added and never renumbered afterwards, because
// the job sheet and the stored job refer to files by that number.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, FileName, Copies, Color, Step1, Step2, Step3, ColumnCount };

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends the files in order; each gets the number (rows already there + 1).
    void appendFiles(const QList<NewFile>& files);
    // Sets copies, colour and the three steps of the given rows; other rows keep theirs.
    // Rows outside the list are ignored.
    void apply(const QList<int>& rows, const FileSettings& settings);
    // Removes the lowest of the given rows (the first selected one, counted from the top);
    // false when there is none. The remaining rows keep their numbers.
    bool removeFirstOf(const QList<int>& rows);
    void clear();
    // Replaces all rows, for a job loaded back from the history.
    void setRows(const QList<FileRow>& rows);

    const QList<FileRow>& rows() const { return rows_; }
    QStringList fullPaths() const;

private:
    QList<FileRow> rows_;
};

// True when the job has at least one row and every row has copies, colour and the three
// processing steps filled in.
bool isComplete(const QList<FileRow>& rows);

} // namespace kestro::compose
